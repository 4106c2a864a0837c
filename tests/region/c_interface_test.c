/* The public header compiled as C11: it must be valid C, its layouts the
 * same as C++ sees them (asserted at compile time by the header, checked
 * here again at run time), and the shared library usable from C. */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestihistadmin.h"

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

static int failures = 0;

#define CHECK_EQ(actual, expected)                                                          \
  do {                                                                                      \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                         \
    if (a_ != e_) {                                                                         \
      fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #actual, a_, \
              e_);                                                                          \
      ++failures;                                                                           \
    }                                                                                       \
  } while (0)

#define CHECK_FIELD(type, field, offset, size)     \
  CHECK_EQ(offsetof(type, field), offset);         \
  CHECK_EQ(sizeof(((type*)0)->field), size)

static void CheckLayouts(void) {
  CHECK_EQ(sizeof(KestiHistAdminRegionHeader), 12);
  CHECK_FIELD(KestiHistAdminRegionHeader, RegionSize, 0, 4);
  CHECK_FIELD(KestiHistAdminRegionHeader, ReposHighWater, 4, 2);
  CHECK_FIELD(KestiHistAdminRegionHeader, NumberRepos, 6, 2);
  CHECK_FIELD(KestiHistAdminRegionHeader, FSHighWater, 8, 2);
  CHECK_FIELD(KestiHistAdminRegionHeader, NumberFileSets, 10, 2);

  CHECK_EQ(sizeof(KestiHistAdminTuningData), 680);
  CHECK_FIELD(KestiHistAdminTuningData, ConfigFileTimestamp, 256, 8);
  CHECK_FIELD(KestiHistAdminTuningData, TuneFilePath, 264, 256);
  CHECK_FIELD(KestiHistAdminTuningData, TuneFileTimestamp, 520, 8);
  CHECK_FIELD(KestiHistAdminTuningData, TuningValue1, 528, 2);
  CHECK_FIELD(KestiHistAdminTuningData, TuningValues3To11, 532, 36);
  CHECK_FIELD(KestiHistAdminTuningData, TuningValue12, 568, 2);
  CHECK_FIELD(KestiHistAdminTuningData, TuningValue13, 570, 2);
  CHECK_FIELD(KestiHistAdminTuningData, TuningValues14To40, 572, 108);

  CHECK_EQ(sizeof(KestiHistAdminFileSet), 600);
  CHECK_FIELD(KestiHistAdminFileSet, FilePath, 4, 256);
  CHECK_FIELD(KestiHistAdminFileSet, PendingFilePath, 260, 256);
  CHECK_FIELD(KestiHistAdminFileSet, StartTime, 516, 8);
  CHECK_FIELD(KestiHistAdminFileSet, EndTime, 524, 8);
  CHECK_FIELD(KestiHistAdminFileSet, ParamSource, 532, 4);
  CHECK_FIELD(KestiHistAdminFileSet, Threshold, 544, 4);
  CHECK_FIELD(KestiHistAdminFileSet, Percentage, 560, 4);
  CHECK_FIELD(KestiHistAdminFileSet, Spare3, 572, 8);
  CHECK_FIELD(KestiHistAdminFileSet, Spare4, 580, 8);
  CHECK_FIELD(KestiHistAdminFileSet, SlotUsage, 588, 4);
  CHECK_FIELD(KestiHistAdminFileSet, HistoryStatus, 592, 2);
  CHECK_FIELD(KestiHistAdminFileSet, Index, 594, 2);
  CHECK_FIELD(KestiHistAdminFileSet, ReposIndex, 596, 2);
  CHECK_FIELD(KestiHistAdminFileSet, NextIndex, 598, 2);

  CHECK_EQ(sizeof(KestiHistAdminRepository), 1144);
  CHECK_FIELD(KestiHistAdminRepository, Status, 32, 4);
  CHECK_FIELD(KestiHistAdminRepository, FilePath, 36, 256);
  CHECK_FIELD(KestiHistAdminRepository, PendingBackupFilePath, 804, 256);
  CHECK_FIELD(KestiHistAdminRepository, NumberPoints, 1060, 4);
  CHECK_FIELD(KestiHistAdminRepository, GlobalFileSetSize, 1076, 4);
  CHECK_FIELD(KestiHistAdminRepository, FutureTime, 1096, 4);
  CHECK_FIELD(KestiHistAdminRepository, PendingEmptyFilesets, 1124, 4);
  CHECK_FIELD(KestiHistAdminRepository, SlotUsage, 1128, 4);
  CHECK_FIELD(KestiHistAdminRepository, Index, 1132, 2);
  CHECK_FIELD(KestiHistAdminRepository, NumberFS, 1134, 2);
  CHECK_FIELD(KestiHistAdminRepository, FirstFS, 1136, 2);
  CHECK_FIELD(KestiHistAdminRepository, LastFS, 1138, 2);
  CHECK_FIELD(KestiHistAdminRepository, ReposNumber, 1140, 2);
  CHECK_FIELD(KestiHistAdminRepository, Padding, 1142, 2);
}

static void CheckMessages(void) {
  char text[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof text;
  GetKestiHistAdminErrorMessage(KHA_UNMAP_VIEW_FAILED, text, &length);
  CHECK_EQ(strcmp(text, "UFailed to UnMapViewOfFile for the KESTIHISTADMIN shared memory."), 0);
  CHECK_EQ(length, strlen(text) + 1);
}

static void CheckRegionRoundTrip(void) {
  KestiHistAdminTuningData tuning;
  KestiHistAdminTuningData back;
  uint32_t size = 0;
  memset(&tuning, 0, sizeof tuning);
  tuning.TuningValue13 = -7;
  tuning.TuningValues14To40[26] = 123456;
  CHECK_EQ(SetupAndAttachToKestiHistAdminSharedMemory(50000), KHA_OK);
  CHECK_EQ(PutKestiHistAdminTuningData(&tuning), KHA_OK);
  CHECK_EQ(GetKestiHistAdminTuningData(&back), KHA_OK);
  CHECK_EQ(memcmp(&tuning, &back, sizeof tuning), 0);
  CHECK_EQ(GetKestiHistAdminHeader(&size, NULL, NULL, NULL, NULL), KHA_OK);
  CHECK_EQ(size, 50000);
  CHECK_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  CHECK_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
}

int main(void) {
  /* Kernel objects of this test only. */
  char prefix[64];
  snprintf(prefix, sizeof prefix, "khactest%d_", (int)getpid());
#if defined(_WIN32)
  _putenv_s("KESTIHISTADMIN_NAME_PREFIX", prefix);
#else
  setenv("KESTIHISTADMIN_NAME_PREFIX", prefix, 1);
#endif
  CheckLayouts();
  CheckMessages();
  CheckRegionRoundTrip();
  if (failures != 0) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}

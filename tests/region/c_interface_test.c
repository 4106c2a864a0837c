/* The public header compiled as C11 against the shared library: the header
 * must be valid C (its layouts are asserted at compile time by the header
 * itself, so this file does not compile if C sees them otherwise), and
 * every export must be callable from C with the arguments it documents. */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif

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

#define CHECK_EQ(actual, expected)                                                                \
  do {                                                                                            \
    long long a_ = (long long)(actual), e_ = (long long)(expected);                               \
    if (a_ != e_) {                                                                               \
      fprintf(stderr, "%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #actual, a_, e_); \
      ++failures;                                                                                 \
    }                                                                                             \
  } while (0)

static void CheckMessages(void) {
  char text[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof text;
  GetKestiHistAdminErrorMessage(KHA_UNMAP_VIEW_FAILED, text, &length);
  CHECK_EQ(strcmp(text, "UFailed to UnMapViewOfFile for the KESTIHISTADMIN shared memory."), 0);
  CHECK_EQ(length, strlen(text) + 1);
}

static void CheckRegionFromC(void) {
  KestiHistAdminTuningData tuning;
  KestiHistAdminTuningData back;
  KestiHistAdminRepository repository;
  KestiHistAdminFileSet file_set;
  KestiHistAdminFileSet file_sets[2];
  KestiHistAdminRepository repositories[2];
  const int16_t capacity = 2;
  uint32_t size = 0;
  uint16_t slot = 0, number = 0, fs_slot = 0, fs_number = 0, found = 0, count = 0;
  memset(&tuning, 0, sizeof tuning);
  tuning.TuningValue13 = -7;
  tuning.TuningValues14To40[26] = 123456;
  CHECK_EQ(SetupAndAttachToKestiHistAdminSharedMemory(50000), KHA_OK);
  CHECK_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OK);
  CHECK_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  CHECK_EQ(PutKestiHistAdminTuningData(&tuning), KHA_OK);
  CHECK_EQ(GetKestiHistAdminTuningData(&back), KHA_OK);
  CHECK_EQ(memcmp(&tuning, &back, sizeof tuning), 0);
  CHECK_EQ(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1, -1, -1), KHA_OK);
  CHECK_EQ(GetKestiHistAdminHeader(&size, NULL, NULL, NULL, NULL), KHA_OK);
  CHECK_EQ(size, 50000);

  LockHistAdminMutex();
  CHECK_EQ(AddKestiHistAdminOneRepository("FromC", 1, &slot, &number), KHA_OK);
  CHECK_EQ(slot, 1);
  CHECK_EQ(SearchKestiHistAdminRepositoryByName("fromc", &found, &number), KHA_OK);
  CHECK_EQ(found, slot);
  CHECK_EQ(SearchKestiHistAdminRepositoryByNumber(number, &found), KHA_OK);
  CHECK_EQ(found, slot);
  CHECK_EQ(GetKestiHistAdminOneRepository(slot, &repository), KHA_OK);
  repository.PendingQueueSize = 321;
  CHECK_EQ(UpdateKestiHistAdminOneRepositoryHeader(0, slot, &repository), KHA_OK);
  CHECK_EQ(GetKestiHistAdminNumberOfRepositoriesToSave(), 1);
  CHECK_EQ(GetKestiHistAdminAllRepositories(&capacity, repositories, &count), KHA_OK);
  CHECK_EQ(count, 1);
  CHECK_EQ(repositories[0].PendingQueueSize, 321);

  CHECK_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, "/hist/c", &fs_slot, &fs_number),
           KHA_OK);
  CHECK_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  CHECK_EQ(fs_number, 1);
  CHECK_EQ(GetKestiHistAdminOneFileSet(fs_slot, &file_set), KHA_OK);
  strcpy(file_set.FilePath, "/hist/c");
  file_set.RecordStatus = 1;
  file_set.StartTime.Seconds = 5;
  CHECK_EQ(UpdateKestiHistAdminOneFileSet(0, slot, fs_slot, &file_set), KHA_OK);
  CHECK_EQ(SearchKestiHistAdminFileSetByNumber(number, fs_number, &found), KHA_OK);
  CHECK_EQ(found, fs_slot);
  CHECK_EQ(CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, "/hist/c", &found, &count),
           KHA_FILE_PATH_IN_USE);
  CHECK_EQ(GetKestiHistAdminAllFileSetsForOneRepository(slot, &capacity, file_sets, &count),
           KHA_OK);
  CHECK_EQ(count, 1);
  CHECK_EQ(RepositoryHasOneActiveFileSet(slot), 1);
  CHECK_EQ(GetKestiHistAdminCurrentFileSetForOneRepository(slot), 1);
  PrintKestiHistAdminAllRepository();
  CHECK_EQ(DeleteKestiHistAdminOneFileSetForOneRepository(slot, fs_number), KHA_OK);
  CHECK_EQ(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot), KHA_OK);
  CHECK_EQ(DeleteKestiHistAdminAllFileSetForOneRepository(slot), KHA_OK);
  CHECK_EQ(DeleteKestiHistAdminOneRepository(slot), KHA_OK);
  UnlockHistAdminMutex();

  CHECK_EQ(DetachFromKestiHistAdminSharedMemory(), KHA_OK);
  CHECK_EQ(AttachToKestiHistAdminSharedMemory(), KHA_OPEN_MUTEX_FAILED);
  /* The transfers read and write the historian's files: here it is enough
   * that C sees them with their prototypes. */
  {
    int32_t(KHA_CALL * transfers[3])(void) = {LoadFromMarnIntoKestiHistAdmin,
                                              LoadFromConfigIntoKestiHistAdmin,
                                              SaveKestiHistAdminToConfig};
    (void)transfers;
  }
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
  CheckMessages();
  CheckRegionFromC();
  if (failures != 0) fprintf(stderr, "%d check(s) failed\n", failures);
  return failures == 0 ? 0 : 1;
}

/*
 * A Windows caller built with the MSVC ABI (clang-cl, lld-link) against the
 * kit's kestihistadmin.lib: the header and kernel32 only, no C runtime.
 * Calls every one of the 32 functions through the import library and reads
 * back records from a region it sets up and fills, field by field at the
 * byte offsets the interface documents. Prints "ok N" per check, "FAIL"
 * and exit code 1 on the first wrong one.
 */
#include <kestihistadmin.h>

typedef void* HANDLE;
__declspec(dllimport) HANDLE __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(HANDLE file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

int _fltused = 0;

static int checks = 0;
static KestiHistAdminRepository repository;
static KestiHistAdminRepository repositories[4];
static KestiHistAdminFileSet file_set;
static KestiHistAdminFileSet file_sets[4];
static KestiHistAdminTuningData tuning;

static void put(const char* text) {
  unsigned long length = 0, written = 0;
  while (text[length] != 0) ++length;
  WriteFile(GetStdHandle((unsigned long)-11), text, length, &written, 0);
}

static void put_number(long value) {
  char text[16];
  int at = 15;
  int negative = value < 0;
  unsigned long rest = negative ? (unsigned long)-value : (unsigned long)value;
  text[at] = 0;
  do {
    text[--at] = (char)('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (negative) text[--at] = '-';
  put(text + at);
}

static void check(int condition, const char* what) {
  ++checks;
  if (!condition) {
    put("FAIL ");
    put(what);
    put("\n");
    ExitProcess(1);
  }
}

static void fill(void* target, unsigned size, unsigned char value) {
  volatile unsigned char* bytes = (volatile unsigned char*)target;
  unsigned i;
  for (i = 0; i < size; ++i) bytes[i] = value;
}

static void copy_text(char* target, const char* text) {
  while ((*target++ = *text++) != 0) {
  }
}

static int same_text(const char* a, const char* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return *a == *b;
}

/* A field read at its documented offset, not through the struct. */
static long at32(const void* record, unsigned offset) {
  const unsigned char* b = (const unsigned char*)record + offset;
  return (long)((unsigned long)b[0] | (unsigned long)b[1] << 8 | (unsigned long)b[2] << 16 |
                (unsigned long)b[3] << 24);
}
static int at16(const void* record, unsigned offset) {
  const unsigned char* b = (const unsigned char*)record + offset;
  return (short)(b[0] | b[1] << 8);
}

void __cdecl entry(void) {
  char message[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof message;
  uint32_t size = 0;
  uint16_t high = 0, count = 0, fs_high = 0, fs_count = 0, slot = 0, number = 0;
  uint16_t fs_number = 0, fs_slot = 0, found = 0, clash_slot = 0, clash_number = 0;
  int16_t capacity = 4;
  int32_t code;

  GetKestiHistAdminErrorMessage(KHA_NOT_MAPPED, message, &length);
  check(same_text(message, "The HISTADMIN shared memory has not been mapped."), "message");
  check(AttachToKestiHistAdminSharedMemory() == KHA_OPEN_MUTEX_FAILED, "attach, no region");

  check(SetupAndAttachToKestiHistAdminSharedMemory(65536) == 0, "set-up");
  check(AttachToKestiHistAdminSharedMemory() == 0, "attach");
  LockHistAdminMutex();
  check(GetKestiHistAdminHeader(&size, &high, &count, &fs_high, &fs_count) == 0, "header");
  check(size == 65536 && high == 0 && count == 0, "empty header");
  check(PutKestiHistAdminHeader(0xFFFFFFFFu, -1, -1, -1, -1) == 0, "put header");
  UnlockHistAdminMutex();

  fill(&tuning, sizeof tuning, 0);
  check(GetKestiHistAdminTuningData(&tuning) == 0, "get tuning");
  tuning.TuningValue12 = 12;
  tuning.TuningValues14To40[26] = 40;
  check(PutKestiHistAdminTuningData(&tuning) == 0, "put tuning");
  fill(&tuning, sizeof tuning, 0);
  check(GetKestiHistAdminTuningData(&tuning) == 0, "tuning back");
  check(at16(&tuning, 568) == 12 && at32(&tuning, 676) == 40, "tuning offsets");

  check(AddKestiHistAdminOneRepository("MSVC_REPO", KHA_STATUS_ACTIVE, &slot, &number) == 0, "add");
  check(slot == 1 && number == 1, "slot and number");
  fill(&repository, sizeof repository, 0);
  repository.Status = KHA_STATUS_ACTIVE;
  copy_text(repository.FilePath, "C:\\history\\msvc");
  copy_text(repository.PendingFilePath, "C:\\history\\msvc");
  repository.NumberPoints = 1111;
  repository.PendingEmptyFilesets = 2;
  repository.GlobalThreshold = 0.5f;
  check(UpdateKestiHistAdminOneRepositoryHeader(0, slot, &repository) == 0, "update");
  fill(&repository, sizeof repository, 0xEE);
  check(GetKestiHistAdminOneRepository(slot, &repository) == 0, "get");
  check(same_text((const char*)&repository, "MSVC_REPO"), "name at 0");
  check(at32(&repository, 32) == KHA_STATUS_ACTIVE, "Status at 32");
  check(same_text((const char*)&repository + 36, "C:\\history\\msvc"), "FilePath at 36");
  check(at32(&repository, 1060) == 1111, "NumberPoints at 1060");
  check(at32(&repository, 1080) == 0x3F000000, "GlobalThreshold at 1080");
  check(at32(&repository, 1124) == 2, "PendingEmptyFilesets at 1124");
  check(at16(&repository, 1132) == 1 && at16(&repository, 1140) == 1, "Index, ReposNumber");

  check(SearchKestiHistAdminRepositoryByName("msvc_repo", &found, &number) == 0 && found == 1,
        "search by name");
  check(SearchKestiHistAdminRepositoryByNumber(1, &found) == 0 && found == 1, "search by number");
  check(GetKestiHistAdminNumberOfRepositoriesToSave() == 1, "to save");

  check(CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, "C:\\history\\msvc\\fs1", &clash_slot,
                                                   &clash_number) == 0,
        "path check");
  check(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot) == 0 && fs_number == 1, "add fs");
  fill(&file_set, sizeof file_set, 0);
  file_set.RecordStatus = KHA_STATUS_ACTIVE;
  copy_text(file_set.FilePath, "C:\\history\\msvc\\fs1");
  copy_text(file_set.PendingFilePath, "C:\\history\\msvc\\fs1");
  file_set.StartTime.Seconds = 1700000000;
  file_set.StartTime.Microseconds = 5;
  file_set.Size = 4096;
  file_set.HistoryStatus = -2;
  check(UpdateKestiHistAdminOneFileSet(0, slot, fs_slot, &file_set) == 0, "update fs");
  fill(&file_set, sizeof file_set, 0xEE);
  check(GetKestiHistAdminOneFileSet(fs_slot, &file_set) == 0, "get fs");
  check(at32(&file_set, 0) == KHA_STATUS_ACTIVE, "RecordStatus at 0");
  check(same_text((const char*)&file_set + 4, "C:\\history\\msvc\\fs1"), "FilePath at 4");
  check(at32(&file_set, 516) == 1700000000 && at32(&file_set, 520) == 5, "StartTime at 516");
  check(at32(&file_set, 536) == 4096, "Size at 536");
  check(at16(&file_set, 592) == -2, "HistoryStatus at 592");
  check(at16(&file_set, 594) == fs_slot && at16(&file_set, 596) == slot, "Index, ReposIndex");
  check(at16(&file_set, 598) == 0, "NextIndex at 598");
  check(CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, "c:\\HISTORY\\msvc\\FS1", &clash_slot,
                                                   &clash_number) == KHA_FILE_PATH_IN_USE,
        "path in use");
  check(SearchKestiHistAdminFileSetByNumber(1, 1, &found) == 0 && found == fs_slot, "fs by number");
  check(RepositoryHasOneActiveFileSet(slot) == 1, "active");
  check(GetKestiHistAdminCurrentFileSetForOneRepository(slot) == 1, "current");
  check(GetKestiHistAdminAllRepositories(&capacity, repositories, &count) == 0 && count == 1,
        "all repositories");
  check(at32(&repositories[0], 1060) == 1111, "listed record");
  check(GetKestiHistAdminAllFileSetsForOneRepository(slot, &capacity, file_sets, &count) == 0 &&
            count == 1 && at32(&file_sets[0], 536) == 4096,
        "all file sets");

  PrintKestiHistAdminAllRepository();
  code = SaveKestiHistAdminToConfig();
  check(code <= 0 && code >= -2055, "save reached");
  code = LoadFromConfigIntoKestiHistAdmin();
  check(code <= 0 && code >= -2055, "load config reached");
  code = LoadFromMarnIntoKestiHistAdmin();
  check(code <= 0 && code >= -2055, "load running reached");

  check(AddKestiHistAdminOneRepository("SECOND", KHA_STATUS_ACTIVE, &slot, &number) == 0, "add 2");
  check(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot) == 0, "add fs 2");
  check(AddKestiHistAdminOneFileSet(slot, &fs_number, &fs_slot) == 0, "add fs 3");
  check(DeleteKestiHistAdminOneFileSetForOneRepository(slot, 1) == 0, "delete fs");
  check(DeleteKestiHistAdminAllFileSetForOneRepository(slot) == 0, "delete all fs");
  check(DeleteKestiHistAdminOneRepository(slot) == 0, "delete repository");

  check(DetachFromKestiHistAdminSharedMemory() == 0, "detach");
  check(DetachFromKestiHistAdminSharedMemory() == 0, "last detach");
  check(DetachFromKestiHistAdminSharedMemory() == KHA_NOT_MAPPED, "not attached");
  put("msvc-client: ");
  put_number(checks);
  put(" checks passed\n");
  ExitProcess(0);
}

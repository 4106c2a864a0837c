/*
 * c-client: a small program over the installed kestihistadmin.
 *
 * With no argument it sets up a region of its own, adds a repository with
 * two file sets, lists them and prints the dump; with `attach` it attaches
 * to the region that `histadmin serve` keeps and lists what is there.
 * Exit status 0 on success, 1 on the first failure (its message printed).
 */
#include <kestihistadmin.h>
#include <stdio.h>
#include <string.h>

static int report(const char* what, int32_t code) {
  char message[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof message;
  GetKestiHistAdminErrorMessage(code, message, &length);
  fprintf(stderr, "c-client: %s: %s (code %d)\n", what, message, (int)code);
  return 1;
}

static int add_file_set(uint16_t repository_slot, const char* path, int32_t start) {
  uint16_t number = 0, slot = 0, clash_slot = 0, clash_number = 0;
  KestiHistAdminFileSet record;
  int32_t code = CheckKestiHistAdminAllFileSetsForAFilePath(repository_slot, 0, path, &clash_slot,
                                                            &clash_number);
  if (code != KHA_OK) return report("check the path", code);
  code = AddKestiHistAdminOneFileSet(repository_slot, &number, &slot);
  if (code != KHA_OK) return report("add a file set", code);
  memset(&record, 0, sizeof record);
  record.RecordStatus = KHA_STATUS_ACTIVE;
  strncpy(record.FilePath, path, sizeof record.FilePath - 1);
  strncpy(record.PendingFilePath, path, sizeof record.PendingFilePath - 1);
  record.StartTime.Seconds = start;
  record.ParamSource = 1;
  record.Size = record.PendingSize = 4096;
  record.Threshold = record.PendingThreshold = 0.5f;
  record.Timespan = record.PendingTimespan = 3600;
  code = UpdateKestiHistAdminOneFileSet(KHA_UPDATE_EVERY_FIELD, repository_slot, slot, &record);
  if (code != KHA_OK) return report("write the file set", code);
  printf("file set %u in slot %u: %s\n", (unsigned)number, (unsigned)slot, path);
  return 0;
}

static int list_repositories(void) {
  KestiHistAdminRepository records[16];
  const int16_t capacity = 16;
  uint16_t count = 0, i;
  int32_t code = GetKestiHistAdminAllRepositories(&capacity, records, &count);
  if (code != KHA_OK && code != KHA_BUFFER_TOO_SMALL) return report("list", code);
  printf("%u repositories\n", (unsigned)count);
  for (i = 0; i < count && i < 16; ++i) {
    printf("  %s: number %u, %d file sets\n", records[i].RepositoryName,
           (unsigned)records[i].ReposNumber, (int)records[i].NumberFS);
  }
  return 0;
}

static int own_region(void) {
  uint16_t slot = 0, number = 0;
  KestiHistAdminRepository repository;
  int32_t code = SetupAndAttachToKestiHistAdminSharedMemory(256 * 1024);
  if (code != KHA_OK) return report("set up a region", code);

  code = AddKestiHistAdminOneRepository("example", KHA_STATUS_ACTIVE, &slot, &number);
  if (code != KHA_OK) return report("add a repository", code);
  memset(&repository, 0, sizeof repository);
  repository.Status = KHA_STATUS_ACTIVE;
  strcpy(repository.FilePath, "/var/lib/history/example");
  strcpy(repository.PendingFilePath, repository.FilePath);
  repository.NumberPoints = repository.PendingNumberPoints = 500;
  code = UpdateKestiHistAdminOneRepositoryHeader(KHA_UPDATE_EVERY_FIELD, slot, &repository);
  if (code != KHA_OK) return report("write the repository", code);
  printf("repository 'example' in slot %u, number %u\n", (unsigned)slot, (unsigned)number);

  if (add_file_set(slot, "/var/lib/history/example/fs1", 1700000000) != 0) return 1;
  if (add_file_set(slot, "/var/lib/history/example/fs2", 0) != 0) return 1;
  code = CheckKestiHistAdminAllFileSetsForAFilePath(slot, 0, "/VAR/lib/history/example/FS1", &slot,
                                                    &number);
  printf("the same path again: %s\n", code == KHA_FILE_PATH_IN_USE ? "refused" : "accepted");
  if (code != KHA_FILE_PATH_IN_USE) return 1;

  if (list_repositories() != 0) return 1;
  PrintKestiHistAdminAllRepository();
  return DetachFromKestiHistAdminSharedMemory() == KHA_OK ? 0 : 1;
}

static int attached(void) {
  int32_t code = AttachToKestiHistAdminSharedMemory();
  int result;
  if (code != KHA_OK) return report("attach (is `histadmin serve` running?)", code);
  result = list_repositories();
  DetachFromKestiHistAdminSharedMemory();
  return result;
}

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "attach") == 0) return attached();
  return own_region();
}

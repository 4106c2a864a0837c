/*
 * Breaks the running region on purpose, through the exported interface,
 * so that the end-to-end test can see `histadmin verify` catch it:
 *   kha_break_region repository-count   NumberRepos one too high
 *   kha_break_region file-set-count     NumberFileSets one too high
 *   kha_break_region control-name       a repository whose name holds an
 *                                       escape sequence, a newline and a tab
 */
#include <kestihistadmin.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  uint32_t size = 0;
  uint16_t repos_high_water = 0, number_repos = 0, fs_high_water = 0, number_file_sets = 0;
  int16_t repos = -1, file_sets = -1; /* -1: left as it is */
  int32_t code;
  if (argc != 2) {
    fprintf(stderr, "usage: kha_break_region repository-count|file-set-count|control-name\n");
    return 2;
  }
  code = AttachToKestiHistAdminSharedMemory();
  if (code != KHA_OK) {
    fprintf(stderr, "kha_break_region: attach failed (%d)\n", (int)code);
    return 1;
  }
  code = GetKestiHistAdminHeader(&size, &repos_high_water, &number_repos, &fs_high_water,
                                 &number_file_sets);
  if (code == KHA_OK) {
    if (strcmp(argv[1], "repository-count") == 0) {
      repos = (int16_t)(number_repos + 1);
    } else if (strcmp(argv[1], "file-set-count") == 0) {
      file_sets = (int16_t)(number_file_sets + 1);
    } else if (strcmp(argv[1], "control-name") == 0) {
      uint16_t slot = 0, number = 0;
      code = AddKestiHistAdminOneRepository("EVIL\x1b[2J\n9  9  FAKE\tX", 1, &slot, &number);
      DetachFromKestiHistAdminSharedMemory();
      return code == KHA_OK ? 0 : 1;
    } else {
      fprintf(stderr, "kha_break_region: unknown breakage %s\n", argv[1]);
      DetachFromKestiHistAdminSharedMemory();
      return 2;
    }
    code = PutKestiHistAdminHeader(0xFFFFFFFFu, -1, repos, -1, file_sets);
  }
  DetachFromKestiHistAdminSharedMemory();
  if (code != KHA_OK) {
    fprintf(stderr, "kha_break_region: header access failed (%d)\n", (int)code);
    return 1;
  }
  return 0;
}

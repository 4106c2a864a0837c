/* A client that holds the HistAdmin region: it attaches, says so, and
 * detaches when its standard input ends (or SIGTERM ends it). The systemd
 * test keeps one attached across stops, restarts and a crash of the
 * service. */
#include <stdio.h>

#include "kestihistadmin.h"

int main(void) {
  const int32_t code = AttachToKestiHistAdminSharedMemory();
  if (code != 0) {
    fprintf(stderr, "hold_region: cannot attach: %d\n", (int)code);
    return 1;
  }
  printf("attached\n");
  fflush(stdout);
  while (getchar() != EOF) {
  }
  return DetachFromKestiHistAdminSharedMemory() == 0 ? 0 : 1;
}

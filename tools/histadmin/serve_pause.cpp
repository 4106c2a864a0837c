#include "serve_pause.h"

#if defined(KHA_TEST_OBJECT_NAMES) && !defined(_WIN32)
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#endif

namespace kha::histadmin {

void PauseBetweenSetUpAndLoad() {
#if defined(KHA_TEST_OBJECT_NAMES) && !defined(_WIN32)
  const char* path = std::getenv("KESTIHISTADMIN_TEST_SERVE_PAUSE");
  if (path == nullptr || *path == '\0') return;
  std::cerr << "histadmin: paused between the set-up and the load" << std::endl;
  struct stat status {};
  while (::stat(path, &status) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
#endif
}

}  // namespace kha::histadmin

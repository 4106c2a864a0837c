#include "standard_streams.h"

#include <cstdio>
#include <iostream>
#include <stdexcept>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#define KHA_ISATTY IsConsole
#define KHA_DUP _dup
#define KHA_DUP2 _dup2
#define KHA_CLOSE _close
#define KHA_FILENO _fileno
#else
#include <unistd.h>
#define KHA_ISATTY isatty
#define KHA_DUP dup
#define KHA_DUP2 dup2
#define KHA_CLOSE close
#define KHA_FILENO fileno
#endif

namespace kha::histadmin {

#if defined(_WIN32)
namespace {
// A console, not merely a character device: _isatty says yes to NUL (and
// to a printer), which no one answers questions on.
int IsConsole(int fd) {
  DWORD mode = 0;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) ? 1 : 0;
}
}  // namespace
#endif

bool InputIsTerminal() { return KHA_ISATTY(KHA_FILENO(stdin)) != 0; }

bool OutputIsTerminal() { return KHA_ISATTY(KHA_FILENO(stdout)) != 0; }

std::string CaptureStandardOutput(const std::function<void()>& print) {
  std::cout.flush();
  std::fflush(stdout);
  std::FILE* file = std::tmpfile();
  const int saved = KHA_DUP(KHA_FILENO(stdout));
  if (file == nullptr || saved < 0 || KHA_DUP2(KHA_FILENO(file), KHA_FILENO(stdout)) < 0) {
    if (saved >= 0) KHA_CLOSE(saved);
    if (file != nullptr) std::fclose(file);
    throw std::runtime_error("cannot capture the library's output in a temporary file");
  }
  print();
  std::fflush(stdout);
  KHA_DUP2(saved, KHA_FILENO(stdout));
  KHA_CLOSE(saved);
  std::string text;
  std::rewind(file);
  char buffer[4096];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, read);
  }
  std::fclose(file);
  return text;
}

}  // namespace kha::histadmin

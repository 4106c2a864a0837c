#include "transfer/historian_paths.h"

#include <cstring>

#include "historian/drell.h"
#include "kestihistadmin.h"

namespace kha {
namespace {

constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

void TerminatePath(char* path) { path[kPathFieldSize - 1] = '\0'; }

void CopyPathField(char* destination, const char* field) {
  std::memcpy(destination, field, kPathFieldSize);
  TerminatePath(destination);
}

void FixHistoryPath(char* path) {
  TerminatePath(path);
  (void)fixHistoryFilePath(path, static_cast<int>(std::strlen(path)), 1);
  TerminatePath(path);
}

void ConvertPathForComparison(const char* path, char* local) {
  std::memset(local, 0, kPathFieldSize);
  (void)ConvertUNC2LocalPath(path, local);
  TerminatePath(local);
}

bool PathsEqualIgnoringAsciiCase(const char* a, const char* b) {
  for (std::size_t i = 0; i < kPathFieldSize; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

int32_t ReadRepositoryName(int source, int repository_index, char* name, int32_t library_failure) {
  std::memset(name, 0, kNameFieldSize);
  if (get_repos_name(source, repository_index, name) != 0) return library_failure;
  if (std::memchr(name, '\0', kNameFieldSize) == nullptr) return KHA_NAME_TOO_LONG;
  return KHA_OK;
}

}  // namespace kha

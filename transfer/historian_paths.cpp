#include "transfer/historian_paths.h"

#include <cstring>

#include "historian/drell.h"
#include "kestihistadmin.h"
#include "tables/bounded_string.h"

namespace kha {
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

int32_t ReadRepositoryName(int source, int repository_index, char* name, int32_t library_failure) {
  std::memset(name, 0, kNameFieldSize);
  if (get_repos_name(source, repository_index, name) != 0) return library_failure;
  if (BoundedLength(name, kNameFieldSize) == kNameFieldSize) return KHA_NAME_TOO_LONG;
  return KHA_OK;
}

}  // namespace kha

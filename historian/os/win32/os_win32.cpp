#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>
#include <system_error>

#include "os/os.h"

namespace kha::historian::os {

namespace {

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

bool CreateNewFile(const std::filesystem::path& path, FileHandle* file) {
  const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  *file = reinterpret_cast<FileHandle>(handle);
  return true;
}

std::ptrdiff_t WriteToFile(FileHandle file, const char* data, std::size_t size) {
  const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD written = 0;
  if (!::WriteFile(AsHandle(file), data, chunk, &written, nullptr)) return -1;
  return static_cast<std::ptrdiff_t>(written);
}

bool SyncFile(FileHandle file) { return ::FlushFileBuffers(AsHandle(file)) != 0; }

bool CloseFile(FileHandle file) { return ::CloseHandle(AsHandle(file)) != 0; }

// Windows refuses to replace a file that some process has open: a load
// reading the configuration at that moment, a virus scanner. They hold it
// only for a moment, so the replace is tried again for about a second
// before it counts as failed.
bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to) {
  constexpr int kAttempts = 100;
  constexpr DWORD kPauseMs = 10;
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return true;
    }
    const DWORD error = ::GetLastError();
    const bool held_open = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
    if (!held_open || attempt == kAttempts) return false;
    ::Sleep(kPauseMs);
  }
}

bool SyncDirectory(const std::filesystem::path&) { return true; }

bool RemoveFile(const std::filesystem::path& path) { return ::DeleteFileW(path.c_str()) != 0; }

void KeepAttributesOf(const std::filesystem::path&, FileHandle) {}

std::string HostName() {
  char name[256] = {};
  DWORD size = sizeof name;
  if (::GetComputerNameExA(ComputerNameDnsHostname, name, &size)) return std::string(name, size);
  size = sizeof name;
  if (::GetComputerNameA(name, &size)) return std::string(name, size);
  return {};
}

std::filesystem::path DefaultConfigDirectory() {
  const char* program_data = std::getenv("ProgramData");
  const std::filesystem::path base =
      program_data != nullptr && *program_data != '\0' ? program_data : "C:\\ProgramData";
  return base / "Kesti" / "History";
}

std::string LastErrorText() {
  const DWORD error = ::GetLastError();
  if (error == 0) return "the system gave no reason";
  std::string text = std::system_category().message(static_cast<int>(error));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

}  // namespace kha::historian::os

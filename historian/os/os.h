// The few operating-system calls of the configuration libraries: writing a
// new file and flushing it to disk, replacing one file by another, flushing
// a directory, and the machine's host name and default configuration
// directory. One variant per OS (os/posix, os/win32), picked by CMake;
// everything else is standard C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace kha::historian::os {

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;

// Creates `path` for writing; fails when it exists already.
bool CreateNewFile(const std::filesystem::path& path, FileHandle* file);
// Writes up to `size` bytes; the number written, or -1 on failure.
std::ptrdiff_t WriteToFile(FileHandle file, const char* data, std::size_t size);
// Flushes the file's data and metadata to the disk.
bool SyncFile(FileHandle file);
bool CloseFile(FileHandle file);
// Puts `from` in the place of `to` in one step, replacing `to` if it exists.
bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes the directory's entries (a rename in it) durable. Windows has no
// such call: a replace there is written through instead.
bool SyncDirectory(const std::filesystem::path& directory);
bool RemoveFile(const std::filesystem::path& path);
// Gives the new file `file` the permissions, owner and group of the file
// at `model`, as far as this process may: the owner and the group change
// only when permitted, and a group that cannot be kept gets no more access
// than everyone else. Best effort, as a replaced file keeps working either
// way. Nothing on Windows, where a file takes its directory's permissions.
void KeepAttributesOf(const std::filesystem::path& model, FileHandle file);

// This machine's host name as the network knows it; empty when unknown.
std::string HostName();
// The configuration directory when no environment variable names one.
std::filesystem::path DefaultConfigDirectory();

// The system's text for why the last failed call of this thread failed
// (errno, or the thread's last error on Windows); read it straight after
// the call.
std::string LastErrorText();

}  // namespace kha::historian::os

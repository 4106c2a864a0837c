#include "config/file_system.h"

namespace kha::historian {

namespace {

constexpr FileSystemCalls kOsCalls = {
    &os::CreateNewFile, &os::WriteToFile,   &os::SyncFile,   &os::CloseFile,
    &os::RenameOver,    &os::SyncDirectory, &os::RemoveFile, &os::KeepAttributesOf,
};

FileSystemCalls active_calls = kOsCalls;

}  // namespace

const FileSystemCalls& OsFileSystem() { return kOsCalls; }

FileSystemCalls& ActiveFileSystem() { return active_calls; }

}  // namespace kha::historian

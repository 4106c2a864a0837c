// Replacing files so that a reader never finds a half-written one: each
// file is written to a temporary file in the same directory, flushed to
// disk, renamed over the old one, and the directory is flushed.
#pragma once

#include <filesystem>
#include <span>
#include <string>

namespace kha::historian {

struct FileReplacement {
  std::filesystem::path path;
  std::string contents;
};

// Replaces every file of `files` (all in one directory) with its new
// contents. On failure at any step every file keeps, byte for byte, what
// it held before (a file that did not exist does not exist afterwards) and
// no temporary file is left behind. The files are replaced one after the
// other: a reader that looks at two of them while they are being replaced
// may find one new and one old, never a partial one. Temporary files of
// these files that a dead saver left behind over an hour ago are removed.
// A file that is a symbolic link is written where the link leads, and the
// link stays; a new file takes the permissions, owner and group of the
// one it replaces where this process may give them. On failure `failure`,
// when given, says which file and step failed and the system's reason.
bool ReplaceFilesAtomically(std::span<const FileReplacement> files, std::string* failure = nullptr);

}  // namespace kha::historian

// Paths and names as the historian's libraries exchange them: 256-byte
// path buffers and 32-byte name buffers that the libraries fill. Nothing
// that comes back from a library is trusted to end where it should, and
// nothing read from the region is handed to a library unless it ends
// within its field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "region/layout.h"

namespace kha {

// Cuts a 256-byte path buffer at 255 bytes at the latest.
void TerminatePath(char* path);

// Copies a 256-byte path field (of a record, or from a library) into a
// 256-byte buffer, cut at 255 bytes.
void CopyPathField(char* destination, const char* field);

// Normalises a terminated 256-byte path in place with the path library
// (mode 1). Its result is not looked at; the path stays terminated.
void FixHistoryPath(char* path);

// The form of a terminated path that serves only to compare two paths:
// network paths naming this machine become local paths. `local` is a
// 256-byte buffer; it is left terminated whatever the library does.
void ConvertPathForComparison(const char* path, char* local);

// Reads the name of repository `repository_index` of `source` into a
// 32-byte buffer. 0 when a name came back; `library_failure` when the
// library failed; -2020 when it filled all 32 bytes without a terminator
// (such a name is longer than any repository may have).
int32_t ReadRepositoryName(int source, int repository_index, char* name, int32_t library_failure);

}  // namespace kha

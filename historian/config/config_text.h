// The text form of the history configuration files (documented in
// docs/configuration-files.md): TOML, read and written with toml++.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "config/config_file_kind.h"
#include "config/history_config.h"

namespace kha::historian {

// The format version that this code writes and the only one it reads.
inline constexpr int kConfigFormatVersion = 1;

// The largest file the reader takes and the writer writes: a region full
// of file sets with paths of a hundred bytes fits with room to spare.
// Parsing costs about twenty times the text in memory, so a bigger file
// is refused before it is parsed (or read, when its size shows it).
inline constexpr std::size_t kMaxConfigTextSize = 16u << 20;

// Reads one file's text. Anything that does not follow the format exactly
// (a syntax error, a missing or unknown key, a value of the wrong type or
// out of range, a name or path too long for the callers' buffers, a text
// larger than kMaxConfigTextSize or nesting deeper than kMaxNestingDepth)
// gives nothing, and a one-line reason in `error` when it is not null.
std::optional<HistoryConfig> ParseConfigText(std::string_view text, ConfigFileKind kind,
                                             std::string* error = nullptr);

// The text of one file: the parts of `config` that `kind` holds. A kind
// that holds the tuning block needs config.tuning.
std::string FormatConfigText(const HistoryConfig& config, ConfigFileKind kind);

}  // namespace kha::historian

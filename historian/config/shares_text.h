// shares.dat: the local directory of each of this machine's network
// shares, for turning network paths into local ones.
//
//   format_version = 1
//   [shares]
//   history = "/srv/history"
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kha::historian {

// Share names in lower case (they match without regard to ASCII case) to
// directories. Nothing when the text is malformed, or names one share
// twice.
std::optional<std::map<std::string, std::string>> ParseSharesText(std::string_view text,
                                                                  std::string* error = nullptr);

}  // namespace kha::historian

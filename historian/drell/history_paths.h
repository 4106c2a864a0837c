// How drell normalises a history path and maps a network path that names
// this machine to its local path (see docs/configuration-files.md).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kha::historian {

// The separator that normalised paths use: '\' on Windows, '/' elsewhere.
char NativeSeparator();

// Every '/' and '\' becomes the native separator; a run of separators
// becomes one, except that a path starting with two or more keeps two (the
// start of a network path); a trailing separator goes, unless it is all
// that is left of a root ("/", "C:\", "\\"). Nothing else changes.
std::string NormaliseHistoryPath(std::string_view path);

// A network path \\host\share\rest (either separator, any mix).
struct NetworkPath {
  std::string_view host;
  std::string_view share;
  std::string_view rest;  // may be empty
};
std::optional<NetworkPath> SplitNetworkPath(std::string_view path);

// True when `host` names the machine called `this_host`: its full name or
// its first label, or "localhost", ignoring the case of ASCII letters.
bool NamesThisMachine(std::string_view host, std::string_view this_host);

// Local directories of the machine's shares, keyed by the share name in
// lower case.
using ShareDirectories = std::map<std::string, std::string>;

// The local path of a network path that names this machine and a share
// that it knows (listed in `shares`, or a drive share like D$), normalised;
// nothing for any other path.
std::optional<std::string> LocalPathOf(std::string_view path, std::string_view this_host,
                                       const ShareDirectories& shares);

}  // namespace kha::historian

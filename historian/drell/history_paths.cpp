#include "drell/history_paths.h"

#include <filesystem>

namespace kha::historian {

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

}  // namespace

char NativeSeparator() { return std::filesystem::path::preferred_separator == '\\' ? '\\' : '/'; }

std::string NormaliseHistoryPath(std::string_view path) {
  const char separator = NativeSeparator();
  std::string result;
  result.reserve(path.size());
  std::size_t i = 0;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    result.append(2, separator);
    while (i < path.size() && IsSeparator(path[i])) ++i;
  }
  for (; i < path.size(); ++i) {
    if (!IsSeparator(path[i])) {
      result.push_back(path[i]);
    } else if (result.empty() || result.back() != separator) {
      result.push_back(separator);
    }
  }
  const bool is_root = result.size() == 1 || (result.size() == 2 && result[0] == separator) ||
                       (result.size() == 3 && IsAsciiLetter(result[0]) && result[1] == ':');
  if (!result.empty() && result.back() == separator && !is_root) result.pop_back();
  return result;
}

std::optional<NetworkPath> SplitNetworkPath(std::string_view path) {
  if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return std::nullopt;
  std::size_t start = 2;
  while (start < path.size() && IsSeparator(path[start])) ++start;
  const auto host_end = path.find_first_of("/\\", start);
  if (host_end == std::string_view::npos || host_end == start) return std::nullopt;
  std::size_t share_start = host_end;
  while (share_start < path.size() && IsSeparator(path[share_start])) ++share_start;
  auto share_end = path.find_first_of("/\\", share_start);
  if (share_end == std::string_view::npos) share_end = path.size();
  if (share_end == share_start) return std::nullopt;
  std::size_t rest_start = share_end;
  while (rest_start < path.size() && IsSeparator(path[rest_start])) ++rest_start;
  return NetworkPath{path.substr(start, host_end - start),
                     path.substr(share_start, share_end - share_start), path.substr(rest_start)};
}

bool NamesThisMachine(std::string_view host, std::string_view this_host) {
  if (EqualIgnoringCase(host, "localhost")) return true;
  if (this_host.empty()) return false;
  if (EqualIgnoringCase(host, this_host)) return true;
  const auto dot = this_host.find('.');
  return dot != std::string_view::npos && EqualIgnoringCase(host, this_host.substr(0, dot));
}

std::optional<std::string> LocalPathOf(std::string_view path, std::string_view this_host,
                                       const ShareDirectories& shares) {
  const auto network = SplitNetworkPath(path);
  if (!network || !NamesThisMachine(network->host, this_host)) return std::nullopt;
  std::string share_key;
  for (const char c : network->share) share_key.push_back(LowerAscii(c));
  std::string local;
  if (const auto found = shares.find(share_key); found != shares.end()) {
    local = found->second;
  } else if (network->share.size() == 2 && IsAsciiLetter(network->share[0]) &&
             network->share[1] == '$') {
    local = std::string{network->share[0], ':', '\\'};
  } else {
    return std::nullopt;
  }
  if (!network->rest.empty()) {
    local.push_back('/');
    local.append(network->rest);
  }
  return NormaliseHistoryPath(local);
}

}  // namespace kha::historian

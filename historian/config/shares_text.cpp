#include "config/shares_text.h"

#include "config/config_text.h"
#include "config/history_config.h"
#include "config/parse_guard.h"
#include "config/toml_library.h"

namespace kha::historian {

namespace {

std::nullopt_t Fail(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
  return std::nullopt;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ParseSharesText(std::string_view text,
                                                                  std::string* error) {
  if (std::string reason = ReasonToRefuseBeforeParsing(text); !reason.empty()) {
    return Fail(error, std::move(reason));
  }
  toml::parse_result parsed = toml::parse(text);
  if (!parsed) return Fail(error, std::string(parsed.error().description()));
  const toml::table& document = parsed.table();
  for (const auto& [key, node] : document) {
    if (key.str() != "format_version" && key.str() != "shares") {
      return Fail(error, std::string(key.str()) + ": unknown key");
    }
  }
  const auto* version = document.get_as<int64_t>("format_version");
  if (version == nullptr || version->get() != kConfigFormatVersion) {
    return Fail(error, "format_version: missing or not 1");
  }
  std::map<std::string, std::string> shares;
  const auto* table = document.get_as<toml::table>("shares");
  if (table == nullptr) return shares;
  for (const auto& [key, node] : *table) {
    std::string name;
    for (const char c : key.str()) {
      name.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    const auto* directory = node.as_string();
    if (directory == nullptr) return Fail(error, "shares." + name + ": not a string");
    const std::string& path = directory->get();
    if (path.empty() || path.size() > kMaxPathLength || path.find('\0') != std::string::npos) {
      return Fail(error, "shares." + name + ": not a usable path");
    }
    if (!shares.emplace(std::move(name), path).second) {
      return Fail(error, "shares: a share is named twice");
    }
  }
  return shares;
}

}  // namespace kha::historian

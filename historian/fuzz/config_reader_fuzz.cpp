// Feeds arbitrary bytes to the configuration file reader as each kind of
// file. Besides crashes and sanitizer findings it checks the promise of
// the format: whatever the reader accepts, the writer writes so that the
// reader gives back the very same values, and writing that again gives
// the very same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/config_text.h"
#include "config/shares_text.h"

namespace {

using kha::historian::ConfigFileKind;

[[noreturn]] void Broken(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s\n--- text ---\n%s\n", what, text.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const auto kind :
       {ConfigFileKind::kConfig, ConfigFileKind::kTuning, ConfigFileKind::kRunning}) {
    const auto config = kha::historian::ParseConfigText(input, kind);
    if (!config) continue;
    const std::string written = kha::historian::FormatConfigText(*config, kind);
    std::string error;
    const auto again = kha::historian::ParseConfigText(written, kind, &error);
    if (!again) Broken(("written text does not read back: " + error).c_str(), written);
    if (!kha::historian::IdenticalConfig(*config, *again)) Broken("values changed", written);
    if (kha::historian::FormatConfigText(*again, kind) != written) Broken("text changed", written);
  }
  (void)kha::historian::ParseSharesText(input);
  return 0;
}

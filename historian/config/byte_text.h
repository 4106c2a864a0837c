// Names and paths are 8-bit strings of whatever code page the historian
// uses; the text files hold UTF-8. A string that is valid UTF-8 is written
// as it is, any other by its bytes in hexadecimal.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kha::historian {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

// Two upper-case hexadecimal digits per byte.
std::string HexFromBytes(std::string_view bytes);
// Nothing when `hex` has an odd length or a character that is not a
// hexadecimal digit (either case).
std::optional<std::string> BytesFromHex(std::string_view hex);

}  // namespace kha::historian

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kha {

// Writes the message of a result code, as GetKestiHistAdminErrorMessage
// gives it, into `text` (at most `size` bytes, always terminated when
// `size` > 0). Returns the length of the whole message. Never allocates.
std::size_t FormatErrorMessage(int32_t code, char* text, std::size_t size);

// GetKestiHistAdminErrorMessage: the message into the caller's `buffer` of
// `*length` bytes, cut to fit and always terminated; `*length` becomes the
// bytes written with the terminator when the whole message fits. Writes
// nothing when there is no buffer or no room.
void CopyErrorMessage(int32_t code, char* buffer, uint32_t* length) noexcept;

// The same message as a string.
std::string ErrorMessageText(int32_t code);

}  // namespace kha

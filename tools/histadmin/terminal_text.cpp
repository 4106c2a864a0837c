#include "terminal_text.h"

#include <cstdint>

namespace kha::histadmin {
namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
  static const char digits[] = "0123456789abcdef";
  out += "\\x";
  out += digits[byte >> 4];
  out += digits[byte & 0xF];
}

// The length of the well-formed UTF-8 sequence at `at` (2 to 4), or 0.
std::size_t SequenceLength(std::string_view text, std::size_t at, uint32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  return length;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte == '\n' || byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
      out += static_cast<char>(byte);
      ++at;
      continue;
    }
    uint32_t code_point = 0;
    const std::size_t length = byte >= 0x80 ? SequenceLength(text, at, code_point) : 0;
    if (length == 0) {
      AppendEscaped(out, byte);
      ++at;
      continue;
    }
    for (std::size_t i = 0; i < length; ++i) {
      const auto part = static_cast<unsigned char>(text[at + i]);
      if (code_point <= 0x9F) {
        AppendEscaped(out, part);  // a C1 control
      } else {
        out += static_cast<char>(part);
      }
    }
    at += length;
  }
  return out;
}

EscapingBuffer::~EscapingBuffer() { WriteOut(pending_.size()); }

EscapingBuffer::int_type EscapingBuffer::overflow(int_type byte) {
  if (traits_type::eq_int_type(byte, traits_type::eof())) return traits_type::not_eof(byte);
  pending_ += traits_type::to_char_type(byte);
  if (pending_.back() == '\n') WriteOut(pending_.size());
  return byte;
}

std::streamsize EscapingBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  // Whole lines only: a character's bytes may come in two writes.
  const std::size_t end = pending_.rfind('\n');
  if (end != std::string::npos) WriteOut(end + 1);
  return count;
}

int EscapingBuffer::sync() {
  WriteOut(pending_.size());
  return target_->pubsync();
}

void EscapingBuffer::WriteOut(std::size_t count) {
  if (count == 0) return;
  const std::string escaped = EscapeControls(std::string_view(pending_).substr(0, count));
  target_->sputn(escaped.data(), static_cast<std::streamsize>(escaped.size()));
  pending_.erase(0, count);
}

EscapedStream::EscapedStream(std::ostream& stream)
    : stream_(stream), original_(stream.rdbuf()), buffer_(original_) {
  stream_.rdbuf(&buffer_);
}

EscapedStream::~EscapedStream() {
  stream_.flush();
  stream_.rdbuf(original_);
}

}  // namespace kha::histadmin

// What histadmin prints reaches a terminal: names and paths come from the
// region and the configuration files, which anyone may have written, and
// an escape byte in them would reach the terminal as a command. Every
// line the tool writes to standard output and standard error goes through
// EscapeControls first.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace kha::histadmin {

// `text` with control bytes (below 0x20 but tab and newline, 0x7F, the C1
// controls U+0080..U+009F) and bytes that are not well-formed UTF-8 written
// as \xHH; everything else is kept as it is.
std::string EscapeControls(std::string_view text);

// Escapes what passes through it into `target`, a line at a time (and on
// every flush).
class EscapingBuffer : public std::streambuf {
 public:
  explicit EscapingBuffer(std::streambuf* target) : target_(target) {}
  ~EscapingBuffer() override;

 protected:
  int_type overflow(int_type byte) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  // Escapes and writes the first `count` bytes of what is pending.
  void WriteOut(std::size_t count);

  std::streambuf* target_;
  std::string pending_;
};

// Puts an EscapingBuffer in front of `stream` for the object's life.
class EscapedStream {
 public:
  explicit EscapedStream(std::ostream& stream);
  ~EscapedStream();
  EscapedStream(const EscapedStream&) = delete;
  EscapedStream& operator=(const EscapedStream&) = delete;

 private:
  std::ostream& stream_;
  std::streambuf* original_;
  EscapingBuffer buffer_;
};

}  // namespace kha::histadmin

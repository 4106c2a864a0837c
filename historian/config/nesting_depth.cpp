#include "config/nesting_depth.h"

#include <vector>

namespace kha::historian {

namespace {

enum class Context { kStructure, kComment, kBasic, kLiteral, kMultiLineBasic, kMultiLineLiteral };

// The length of the run of `quote` characters that starts at `at`.
std::size_t QuoteRun(std::string_view text, std::size_t at, char quote) {
  std::size_t end = at;
  while (end < text.size() && text[end] == quote) ++end;
  return end - at;
}

class DepthScan {
 public:
  explicit DepthScan(std::string_view text) : text_(text) {}

  std::size_t FirstLineTooDeep() {
    std::size_t at = text_.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (; at < text_.size(); ++at) {
      const char c = text_[at];
      if (c == '\n') {
        NewLine();
        continue;
      }
      switch (context_) {
        case Context::kStructure:
          at = Structure(at);
          break;
        case Context::kComment:
          break;
        case Context::kBasic:
          if (c == '\\' && at + 1 < text_.size() && text_[at + 1] != '\n') ++at;
          if (c == '"') context_ = Context::kStructure;
          break;
        case Context::kLiteral:
          if (c == '\'') context_ = Context::kStructure;
          break;
        case Context::kMultiLineBasic:
          if (c == '\\' && at + 1 < text_.size() && text_[at + 1] != '\n') ++at;
          if (c == '"') at = CloseOnThreeQuotes(at, '"');
          break;
        case Context::kMultiLineLiteral:
          if (c == '\'') at = CloseOnThreeQuotes(at, '\'');
          break;
      }
      if (too_deep_) return line_;
    }
    return 0;
  }

 private:
  // A newline ends comments, single-line strings (which may not hold one),
  // headers and keys; multi-line strings go on.
  void NewLine() {
    ++line_;
    if (context_ != Context::kMultiLineBasic && context_ != Context::kMultiLineLiteral) {
      context_ = Context::kStructure;
      line_start_ = true;
      in_header_ = false;
      key_dots_ = 0;
      pending_key_ = 0;
    }
  }

  // A run of three to five quotes ends a multi-line string (one or two of
  // them may belong to it); fewer are part of it.
  std::size_t CloseOnThreeQuotes(std::size_t at, char quote) {
    const std::size_t run = QuoteRun(text_, at, quote);
    if (run >= 3) context_ = Context::kStructure;
    return at + run - 1;
  }

  std::size_t Structure(std::size_t at) {
    const char c = text_[at];
    if (c == ' ' || c == '\t' || c == '\r') return at;
    const bool line_start = line_start_;
    line_start_ = false;
    switch (c) {
      case '#':
        context_ = Context::kComment;
        break;
      case '"':
      case '\'':
        if (QuoteRun(text_, at, c) >= 3) {
          context_ = c == '"' ? Context::kMultiLineBasic : Context::kMultiLineLiteral;
          return at + 2;
        }
        context_ = c == '"' ? Context::kBasic : Context::kLiteral;
        break;
      case '[':
        if (line_start && open_.empty()) {
          // A table header: its segments replace the depth of the table before.
          in_header_ = true;
          header_depth_ = 1;
          if (at + 1 < text_.size() && text_[at + 1] == '[') {
            ++header_depth_;  // an array of tables: the array and its element
            ++at;
          }
          Check(0);
        } else {
          Open();
        }
        break;
      case '{':
        Open();
        break;
      case ']':
      case '}':
        if (in_header_) {
          in_header_ = false;
        } else if (!open_.empty()) {
          open_depth_ -= open_.back();
          open_.pop_back();
        }
        key_dots_ = 0;
        pending_key_ = 0;
        break;
      case ',':
        key_dots_ = 0;
        pending_key_ = 0;
        break;
      case '=':
        pending_key_ = key_dots_ + 1;
        key_dots_ = 0;
        Check(pending_key_);
        break;
      case '.':
        if (in_header_) {
          ++header_depth_;
          Check(0);
        } else {
          ++key_dots_;
          Check(key_dots_ + 1);
        }
        break;
      default:
        break;
    }
    return at;
  }

  // An array or inline table: one level, below the key it is the value of.
  void Open() {
    const std::size_t levels = pending_key_ + 1;
    open_.push_back(levels);
    open_depth_ += levels;
    pending_key_ = 0;
    key_dots_ = 0;
    Check(0);
  }

  void Check(std::size_t key_levels) {
    if (header_depth_ + open_depth_ + key_levels > kMaxNestingDepth) too_deep_ = true;
  }

  std::string_view text_;
  Context context_ = Context::kStructure;
  std::size_t line_ = 1;
  bool line_start_ = true;
  bool in_header_ = false;
  bool too_deep_ = false;
  std::size_t header_depth_ = 0;   // the current table's, from its header
  std::vector<std::size_t> open_;  // the levels each open array or inline table adds
  std::size_t open_depth_ = 0;     // their sum
  std::size_t key_dots_ = 0;       // dots since the current key began
  std::size_t pending_key_ = 0;    // levels of the key whose value comes next
};

}  // namespace

std::size_t FirstLineNestedTooDeep(std::string_view text) {
  return DepthScan(text).FirstLineTooDeep();
}

}  // namespace kha::historian

// Writes the kestihistadmin(3) manual page from include/kestihistadmin.h:
// the header's comments are the page's text, its declarations the
// synopsis of each function, and the library itself gives the message of
// every result code. So the page says what the header says, and a build
// cannot ship one without the other.
//   kha_header_manpage HEADER VERSION OUTPUT
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kestihistadmin.h"

namespace {

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// Text for troff: backslashes escaped, no line taken for a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

// The text of a comment's lines, without "/*", " * " and "*/".
std::vector<std::string> CommentText(const std::vector<std::string>& lines) {
  std::vector<std::string> text;
  for (std::string line : lines) {
    line = Trim(line);
    if (line.rfind("/*", 0) == 0) line = line.substr(2);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "*/") == 0) {
      line.resize(line.size() - 2);
    }
    line = Trim(line);
    if (line.rfind("* ", 0) == 0 || line == "*") line = line.substr(1);
    line = Trim(line);
    if (line.find_first_not_of("-") == std::string::npos && !line.empty()) continue;  // a rule
    text.push_back(line);
  }
  while (!text.empty() && text.front().empty()) text.erase(text.begin());
  while (!text.empty() && text.back().empty()) text.pop_back();
  return text;
}

// Running text: paragraphs, "- " bullets, a one-word line as a heading.
void Paragraphs(std::ostream& out, const std::vector<std::string>& text) {
  bool open = false;
  for (const std::string& line : text) {
    if (line.empty()) {
      open = false;
    } else if (line.rfind("- ", 0) == 0) {
      out << ".IP \\(bu 2\n" << Roff(line.substr(2)) << '\n';
      open = true;
    } else if (!open && line.find(' ') == std::string::npos) {
      out << ".SS " << Roff(line) << '\n';
    } else {
      if (!open) out << ".PP\n";
      out << Roff(line) << '\n';
      open = true;
    }
  }
}

void Preformatted(std::ostream& out, const std::vector<std::string>& text) {
  out << ".PP\n.nf\n";
  for (const std::string& line : text) out << Roff(line) << '\n';
  out << ".fi\n";
}

// A banner: a comment whose first or second line is a rule of dashes.
// It heads a group of functions, the result codes or the region layout.
bool IsBanner(const std::vector<std::string>& comment) {
  for (std::size_t line = 0; line < comment.size() && line < 2; ++line) {
    if (comment[line].find("----") != std::string::npos) return true;
  }
  return false;
}

// A constant of the header's enums: a result code, a status value or an
// update mode, with the note beside it.
struct Constant {
  std::string name;
  int value;
  std::string note;
};

std::string Message(int32_t code) {
  char buffer[KHA_MESSAGE_BUFFER_SIZE];
  uint32_t length = sizeof buffer;
  GetKestiHistAdminErrorMessage(code, buffer, &length);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: kha_header_manpage HEADER VERSION OUTPUT\n";
    return 2;
  }
  std::ifstream header(argv[1]);
  std::vector<std::string> lines;
  for (std::string line; std::getline(header, line);) lines.push_back(line);
  if (lines.empty()) {
    std::cerr << "kha_header_manpage: cannot read " << argv[1] << '\n';
    return 1;
  }

  std::ostringstream description, functions, records, codes, statuses, modes;
  const std::regex code_line(
      R"(^\s*(KHA_[A-Z0-9_]+)\s*=\s*(-?[0-9]+),?\s*(/\*\s*(.*?)\s*\*/)?\s*$)");
  // A note that goes on from the line above: only a comment.
  const std::regex note_line(R"(^\s+/\*\s*(.*?)\s*\*/\s*$)");
  std::vector<Constant> constants;
  int functions_found = 0;
  std::size_t i = 0;
  bool first_comment = true;
  while (i < lines.size()) {
    const std::string line = lines[i];
    std::smatch match;
    if (std::regex_match(line, match, code_line)) {
      constants.push_back({match[1], std::stoi(match[2]), match[4]});
      ++i;
      continue;
    }
    if (i > 0 && std::regex_match(lines[i - 1], code_line) &&
        std::regex_match(line, match, note_line)) {
      constants.back().note += " " + match[1].str();
      ++i;
      continue;
    }
    if (line.rfind("/*", 0) != 0) {
      ++i;
      continue;
    }
    std::vector<std::string> comment;
    while (i < lines.size()) {
      comment.push_back(lines[i]);
      if (lines[i++].find("*/") != std::string::npos) break;
    }
    const std::vector<std::string> text = CommentText(comment);
    if (first_comment) {
      first_comment = false;
      Paragraphs(description, std::vector<std::string>(text.begin() + 1, text.end()));
      continue;
    }
    if (IsBanner(comment)) {
      // A banner: a group of functions, or the region layout.
      if (text.empty()) continue;
      std::vector<std::string> rest(text.begin() + 1, text.end());
      if (text[0].rfind("Region layout", 0) == 0) {
        records << ".SS Region layout\n";
        Preformatted(records, text);
      } else if (text[0].rfind("Result codes", 0) != 0) {
        // The group's name is the banner's first sentence; what follows
        // it describes the group.
        const std::string& first = text[0];
        const auto stop = first.find(". ");
        std::string name = first.substr(0, stop == std::string::npos ? first.size() : stop);
        if (!name.empty() && name.back() == '.') name.pop_back();
        functions << ".SS " << Roff(name) << '\n';
        if (stop != std::string::npos) rest.insert(rest.begin(), first.substr(stop + 2));
        Paragraphs(functions, rest);
      }
      continue;
    }
    // An enum's constants are taken one by one, above.
    if (i < lines.size() && lines[i].rfind("enum", 0) == 0) continue;
    // What the comment describes: declarations up to a blank line.
    std::string declarations;
    while (i < lines.size() && !Trim(lines[i]).empty()) declarations += lines[i++] + '\n';
    if (declarations.rfind("KESTIHISTADMIN_API ", 0) == 0) {
      functions << ".PP\n";
      std::istringstream each(std::regex_replace(declarations, std::regex(R"(\s+)"), " "));
      for (std::string one; std::getline(each, one, ';');) {
        one = Trim(std::regex_replace(one, std::regex(R"(KESTIHISTADMIN_API |KHA_CALL )"), ""));
        one = std::regex_replace(one, std::regex(R"(\( )"), "(");
        if (one.empty()) continue;
        functions << ".B \"" << Roff(one) << ";\"\n.br\n";
        ++functions_found;
      }
      Paragraphs(functions, text);
    } else if (declarations.rfind("typedef struct", 0) == 0) {
      const std::smatch name = [&] {
        std::smatch m;
        std::regex_search(declarations, m, std::regex(R"(typedef struct (\w+))"));
        return m;
      }();
      records << ".SS " << name[1] << '\n';
      Preformatted(records, text);
    }
  }
  for (const Constant& constant : constants) {
    std::ostream& out = constant.name.rfind("KHA_STATUS_", 0) == 0   ? statuses
                        : constant.name.rfind("KHA_UPDATE_", 0) == 0 ? modes
                                                                     : codes;
    out << ".TP\n.B " << Roff(std::to_string(constant.value)) << " " << constant.name << '\n';
    if (&out == &codes) {
      out << Roff(Message(constant.value)) << '\n';
      if (!constant.note.empty()) out << ".br\n(" << Roff(constant.note) << ")\n";
    } else if (!constant.note.empty()) {
      out << Roff(constant.note) << '\n';
    }
  }
  if (functions_found != 32) {
    std::cerr << "kha_header_manpage: found " << functions_found << " functions, expected 32\n";
    return 1;
  }

  std::ofstream page(argv[3]);
  page << ".\\\" Generated from kestihistadmin.h by kha_header_manpage; do not edit.\n"
       << ".TH KESTIHISTADMIN 3 \"\" \"kestihistadmin " << argv[2]
       << "\" \"kestihistadmin manual\"\n"
       << ".SH NAME\nkestihistadmin \\- the history administration library\n"
       << ".SH SYNOPSIS\n.nf\n.B #include <kestihistadmin.h>\n.PP\nLink with\n"
       << ".IR \\-lkestihistadmin \" (pkg\\-config: kestihistadmin).\"\n.fi\n"
       << ".SH DESCRIPTION\n"
       << description.str() << ".SH FUNCTIONS\n"
       << functions.str() << ".SH RECORDS\n"
       << records.str() << ".SH STATUS VALUES\n"
       << "Of a repository's\n.B Status\nand a file set's\n.BR RecordStatus .\n"
       << statuses.str() << ".SH UPDATE MODES\n"
       << "The first argument of the two updates.\n"
       << modes.str() << ".SH RESULT CODES\n"
       << "Every code with the message that\n.B GetKestiHistAdminErrorMessage\ngives for it.\n"
       << codes.str() << ".SH SEE ALSO\n.BR histadmin (1)\n";
  return page ? 0 : 1;
}

// Text written into comments: documentation lines and one-line echoes.

#include <unicode/uchar.h>

#include <string>
#include <string_view>

#include "text/text.hpp"
#include "text/utf8.hpp"

namespace qm {
namespace {

bool is_white_space(char32_t c) {
  if (c < 0x80) return c == U' ' || (c >= U'\t' && c <= U'\r');  // the ASCII White_Space characters
  return c != utf8::kInvalid && u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_WHITE_SPACE) != 0;
}

}  // namespace

std::string escape_doc(std::string_view text) {
  // Carriage returns and line feeds are White_Space themselves, so turning
  // them into spaces first and then collapsing every run is one pass. What is
  // left that a comment cannot hold (bidirectional controls, other control
  // characters) is escaped at the end.
  std::string out;
  out.reserve(text.size());
  bool pending_space = false;
  bool ascii_only = true;  // only printable ASCII so far, which the escaping keeps as it is
  std::size_t i = 0;
  while (i < text.size()) {
    // A run of printable ASCII other than the space: the common case.
    std::size_t run = i;
    while (run < text.size() && text[run] > ' ' && text[run] < 0x7F) ++run;
    if (run != i) {
      if (pending_space && !out.empty()) out.push_back(' ');
      pending_space = false;
      out.append(text.substr(i, run - i));
      i = run;
      continue;
    }
    const auto d = utf8::decode(text, i);
    if (is_white_space(d.cp)) {
      pending_space = true;
    } else {
      if (pending_space && !out.empty()) out.push_back(' ');
      pending_space = false;
      out.append(text.substr(i, d.size));
      ascii_only = false;
    }
    i += d.size;
  }
  if (ascii_only) return out;
  return one_line_comment_text(out);
}

std::string escape_xml_attr_for_doc(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out.push_back(c);
    }
  }
  // The value is echoed inside a comment: a line break in it would end the
  // comment and turn the rest into code.
  return one_line_comment_text(out);
}

std::string_view trim_unicode_ws(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const auto d = utf8::decode(text, begin);
    if (!is_white_space(d.cp)) break;
    begin += d.size;
  }
  std::size_t end = text.size();
  while (end > begin) {
    const auto d = utf8::decode_before(text, end);
    if (!is_white_space(d.cp)) break;
    end -= d.size;
  }
  return text.substr(begin, end - begin);
}

}  // namespace qm

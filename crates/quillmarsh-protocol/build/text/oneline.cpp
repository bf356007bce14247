// Keeping echoed text on one comment line.

#include <cstdint>
#include <string>
#include <string_view>

#include "text/text.hpp"
#include "text/utf8.hpp"

namespace qm {
namespace {

// Characters that end a line for some reader of the output (Rust, editors,
// line-splitting tools) or that rustc refuses inside comments (the
// bidirectional embedding, override and isolate controls).
bool breaks_comment_line(char32_t c) {
  if (c < 0x20) return c != U'\t';
  if (c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;
  if (c == 0x2028 || c == 0x2029) return true;
  if (c >= 0x202A && c <= 0x202E) return true;
  return c >= 0x2066 && c <= 0x2069;
}

}  // namespace

std::string one_line_comment_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    // A run of printable ASCII (and tabs) is kept as it is.
    std::size_t plain = i;
    while (plain < text.size() && ((text[plain] >= ' ' && text[plain] < 0x7F) || text[plain] == '\t')) ++plain;
    if (plain != i) {
      out.append(text.substr(i, plain - i));
      i = plain;
      continue;
    }
    const auto d = utf8::decode(text, i);
    if (d.cp == utf8::kInvalid) {
      // The output must stay valid UTF-8.
      utf8::append(out, U'\uFFFD');
    } else if (d.cp == U'\n') {
      out += "\\n";
    } else if (d.cp == U'\r') {
      out += "\\r";
    } else if (breaks_comment_line(d.cp)) {
      utf8::append_unicode_escape(out, d.cp);
    } else {
      out.append(text.substr(i, d.size));
    }
    i += d.size;
  }
  return out;
}

}  // namespace qm

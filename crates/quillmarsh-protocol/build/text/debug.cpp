// Rust debug forms of texts and characters, and integer formatting.

#include <unicode/uchar.h>

#include <string>
#include <string_view>

#include "text/text.hpp"
#include "text/utf8.hpp"

namespace qm {
namespace {

// Whether Rust's debug form writes `c` as a `\u{...}` escape: characters that
// are not printable (controls, format characters, surrogates, private use,
// unassigned, separators other than the plain space) and grapheme extenders.
bool needs_unicode_escape(char32_t c) {
  if (c > 0x10FFFF) return true;
  const auto cp = static_cast<UChar32>(c);
  switch (u_charType(cp)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != U' ';
    default:
      return u_hasBinaryProperty(cp, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

// Appends `c` as it appears inside a debug-quoted text (`quote` is the
// delimiter, the only quote character that is escaped).
void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case U'\0':
      out += "\\0";
      return;
    case U'\t':
      out += "\\t";
      return;
    case U'\r':
      out += "\\r";
      return;
    case U'\n':
      out += "\\n";
      return;
    case U'\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out.push_back('\\');
    out.push_back(quote);
  } else if (c >= 0x20 && c < 0x7F) {
    out.push_back(static_cast<char>(c));
  } else if (needs_unicode_escape(c)) {
    utf8::append_unicode_escape(out, c);
  } else {
    utf8::append(out, c);
  }
}

}  // namespace

std::string debug_str(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (std::size_t i = 0; i < text.size();) {
    // A run of printable ASCII other than the quote and the backslash is
    // written as it is.
    std::size_t run = i;
    while (run < text.size() && text[run] >= 0x20 && text[run] < 0x7F && text[run] != '"' && text[run] != '\\') ++run;
    if (run != i) {
      out.append(text.substr(i, run - i));
      i = run;
      continue;
    }
    const auto d = utf8::decode(text, i);
    i += d.size;
    // A byte that is not valid UTF-8 shows as the replacement character, as a
    // lossy conversion to a Rust string would give.
    append_escaped(out, d.cp == utf8::kInvalid ? U'\uFFFD' : d.cp, '"');
  }
  out.push_back('"');
  return out;
}

std::string debug_char(char32_t c) {
  std::string out;
  out.push_back('\'');
  append_escaped(out, c, '\'');
  out.push_back('\'');
  return out;
}

std::string debug_opt_str(const std::optional<std::string_view>& text) {
  if (!text) return "None";
  std::string out = "Some(";
  out += debug_str(*text);
  out.push_back(')');
  return out;
}

namespace {

// Writes the decimal digits of `value`, after a minus sign when `negative`.
std::string format_decimal(u128 value, bool negative) {
  char buf[40];  // 2^128 - 1 has 39 digits, plus the sign
  std::size_t n = sizeof buf;
  do {
    buf[--n] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  if (negative) buf[--n] = '-';
  return std::string(buf + n, sizeof buf - n);
}

}  // namespace

std::string to_decimal(u128 value) { return format_decimal(value, false); }

std::string to_decimal(i128 value) {
  // The magnitude is taken in unsigned arithmetic so that the most negative
  // value works.
  if (value < 0) return format_decimal(u128{0} - static_cast<u128>(value), true);
  return format_decimal(static_cast<u128>(value), false);
}

std::string to_hex_upper(u128 value, std::size_t min_digits) {
  char buf[32];
  std::size_t n = 0;
  do {
    buf[n++] = "0123456789ABCDEF"[static_cast<unsigned>(value & 0xF)];
    value >>= 4;
  } while (value != 0);
  std::string out;
  out.reserve(n > min_digits ? n : min_digits);
  if (min_digits > n) out.append(min_digits - n, '0');
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

}  // namespace qm

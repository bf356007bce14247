// Identifier case conversion and keyword escaping.

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "text/text.hpp"
#include "text/utf8.hpp"

namespace qm {
namespace {

bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_ascii_lower(char c) { return c >= 'a' && c <= 'z'; }

// Appends the full uppercase mapping of `c` in the root locale; it may be
// several characters (`ß` -> `SS`).
void append_upper(std::string& out, char32_t c) {
  UChar src[2];
  int32_t src_len = 0;
  UBool unused = false;
  U16_APPEND(src, src_len, 2, static_cast<UChar32>(c), unused);
  (void)unused;
  UChar dst[16];
  UErrorCode err = U_ZERO_ERROR;
  const int32_t dst_len = u_strToUpper(dst, 16, src, src_len, "", &err);
  if (U_FAILURE(err) || dst_len > 16) {
    utf8::append(out, c);
    return;
  }
  for (int32_t i = 0; i < dst_len;) {
    UChar32 u;
    U16_NEXT(dst, i, dst_len, u);
    utf8::append(out, static_cast<char32_t>(u));
  }
}

constexpr std::array<std::string_view, 4> kPathKeywords = {"Self", "self", "super", "crate"};
constexpr std::array<std::string_view, 2> kDecoderParams = {"data", "offset"};
constexpr std::array<std::string_view, 43> kReservedWords = {
    "type", "ref",      "mod",   "let",      "fn",     "use",    "as",       "in",     "where",  "match", "if",
    "else", "loop",     "while", "for",      "return", "break",  "continue", "move",   "static", "const", "struct",
    "enum", "trait",    "impl",  "pub",      "extern", "unsafe", "box",      "yield",  "do",     "async", "await",
    "dyn",  "abstract", "final", "override", "priv",   "typeof", "virtual",  "become", "true",   "false"};

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& words, std::string_view w) {
  return std::find(words.begin(), words.end(), w) != words.end();
}

}  // namespace

std::string to_snake_case(std::string_view name) {
  // An underscore goes before a capital only after a lower-case letter, or
  // between a capital and a lower-case letter (a digit, an underscore or any
  // other character before it opens no word). Only ASCII bytes are examined; the bytes of a multi-byte character are
  // never ASCII, so working byte by byte treats each such character as a
  // single non-alphanumeric, non-capital unit.
  std::string out;
  out.reserve(name.size() + 4);
  const std::size_t n = name.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = name[i];
    if (!is_ascii_upper(c)) {
      out.push_back(c);
      continue;
    }
    bool underscore = false;
    if (i > 0) {
      const char p = name[i - 1];
      if (is_ascii_lower(p)) {
        underscore = true;
      } else if (is_ascii_upper(p) && i + 1 < n) {
        underscore = is_ascii_lower(name[i + 1]);
      }
    }
    if (underscore) out.push_back('_');
    out.push_back(static_cast<char>(c - 'A' + 'a'));
  }
  return out;
}

std::string pascalize_xml_name(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  bool capitalize_next = true;
  for (std::size_t i = 0; i < name.size();) {
    const auto d = utf8::decode(name, i);
    if (d.cp == U'_') {
      capitalize_next = true;
    } else if (capitalize_next && d.cp != utf8::kInvalid) {
      append_upper(out, d.cp);
      capitalize_next = false;
    } else {
      out.append(name.substr(i, d.size));
      capitalize_next = false;
    }
    i += d.size;
  }
  return out;
}

std::string sanitize_rust_keyword(std::string_view ident) {
  if (contains(kPathKeywords, ident)) return std::string(ident) + "_v";
  if (contains(kDecoderParams, ident)) return std::string(ident) + "_field";
  if (contains(kReservedWords, ident)) return "r#" + std::string(ident);
  return std::string(ident);
}

std::string sanitize_const_name(std::string_view name) {
  if (contains(kPathKeywords, name) || contains(kReservedWords, name)) return std::string(name) + "_alias";
  return std::string(name);
}

}  // namespace qm

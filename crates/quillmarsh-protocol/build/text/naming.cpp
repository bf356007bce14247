// Identifier case conversion and keyword escaping.

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.hpp"
#include "text/utf8.hpp"

namespace qm {
namespace {

constexpr bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_ascii_lower(char c) { return c >= 'a' && c <= 'z'; }

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

// Keywords that are raw identifiers in member and variant names but leave
// alias constant names alone (a constant name always has the enum name in
// front, so it is never a keyword).
constexpr std::array<std::string_view, 4> kRawOnlyWords = {"mut", "macro", "try", "unsized"};

// The words above are searched for every identifier the generator writes, so
// each list is also kept as integers: a word of at most eight ASCII letters
// packed byte by byte. A text of anything else is in no list.
constexpr std::size_t kMaxPackedWord = 8;

constexpr std::uint64_t pack_letter(char c, std::size_t i) {
  return static_cast<std::uint64_t>(static_cast<unsigned char>(c)) << (8 * i);
}

// The packed form of `w`, or 0 when it is empty, longer than eight bytes or
// holds a byte other than an ASCII letter.
constexpr std::uint64_t pack_word(std::string_view w) {
  if (w.empty() || w.size() > kMaxPackedWord) return 0;
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < w.size(); ++i) {
    if (!is_ascii_upper(w[i]) && !is_ascii_lower(w[i])) return 0;
    packed |= pack_letter(w[i], i);
  }
  return packed;
}

// The packed forms of `words`, sorted, so that a search halves them.
template <std::size_t N>
constexpr std::array<std::uint64_t, N> pack_words(const std::array<std::string_view, N>& words) {
  std::array<std::uint64_t, N> packed{};
  for (std::size_t i = 0; i < N; ++i) packed[i] = pack_word(words[i]);
  std::sort(packed.begin(), packed.end());
  return packed;
}

template <std::size_t N>
bool contains(const std::array<std::uint64_t, N>& words, std::uint64_t packed) {
  return packed != 0 && std::binary_search(words.begin(), words.end(), packed);
}

constexpr auto kPathKeywordsPacked = pack_words(kPathKeywords);
constexpr auto kDecoderParamsPacked = pack_words(kDecoderParams);
constexpr auto kReservedWordsPacked = pack_words(kReservedWords);
constexpr auto kRawOnlyWordsPacked = pack_words(kRawOnlyWords);

template <std::size_t N>
constexpr bool all_packed(const std::array<std::uint64_t, N>& words) {
  return std::find(words.begin(), words.end(), std::uint64_t{0}) == words.end();
}
static_assert(all_packed(kPathKeywordsPacked) && all_packed(kDecoderParamsPacked) && all_packed(kReservedWordsPacked) &&
                  all_packed(kRawOnlyWordsPacked),
              "every listed word is at most eight ASCII letters");

// Whether `word` is an identifier or keyword by its characters alone: an
// XID_Start character or `_`, then XID_Continue characters.
bool is_identifier_or_keyword(std::string_view word) {
  if (word.empty()) return false;
  bool first = true;
  for (std::size_t i = 0; i < word.size();) {
    const char c = word[i];
    if (static_cast<unsigned char>(c) < 0x80) {
      // In ASCII, XID_Start is the letters and XID_Continue adds digits and `_`.
      const bool ok = is_ascii_upper(c) || is_ascii_lower(c) || c == '_' || (!first && c >= '0' && c <= '9');
      if (!ok) return false;
      first = false;
      ++i;
      continue;
    }
    const auto d = utf8::decode(word, i);
    if (d.cp == utf8::kInvalid) return false;
    const auto cp = static_cast<UChar32>(d.cp);
    const bool ok = first ? (d.cp == U'_' || u_hasBinaryProperty(cp, UCHAR_XID_START))
                          : u_hasBinaryProperty(cp, UCHAR_XID_CONTINUE) != 0;
    if (!ok) return false;
    first = false;
    i += d.size;
  }
  return true;
}

bool is_keyword(std::string_view word) {
  const std::uint64_t packed = pack_word(word);
  return word == "_" || contains(kPathKeywordsPacked, packed) || contains(kReservedWordsPacked, packed) ||
         contains(kRawOnlyWordsPacked, packed);
}

}  // namespace

bool is_ascii(std::string_view text) {
  // Eight bytes at a time: one of them is not ASCII when its top bit is set.
  constexpr std::uint64_t kTopBits = 0x8080808080808080;
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= text.size(); i += sizeof(std::uint64_t)) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, sizeof word);
    if ((word & kTopBits) != 0) return false;
  }
  return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool is_rust_identifier(std::string_view text) {
  if (text.starts_with("r#")) {
    const std::string_view word = text.substr(2);
    return is_identifier_or_keyword(word) && word != "_" && !contains(kPathKeywordsPacked, pack_word(word));
  }
  return is_identifier_or_keyword(text) && !is_keyword(text);
}

std::string_view without_raw_prefix(std::string_view ident) {
  return ident.starts_with("r#") ? ident.substr(2) : ident;
}

std::string identifier_key(std::string_view ident) {
  ident = without_raw_prefix(ident);
  // Rust compares identifiers in Normalization Form C, which leaves ASCII
  // text as it is.
  if (is_ascii(ident)) return std::string(ident);
  std::vector<UChar> utf16;
  utf16.reserve(ident.size());
  for (std::size_t i = 0; i < ident.size();) {
    const auto d = utf8::decode(ident, i);
    if (d.cp == utf8::kInvalid) return std::string(ident);
    if (d.cp > 0xFFFF) {
      utf16.push_back(static_cast<UChar>(U16_LEAD(d.cp)));
      utf16.push_back(static_cast<UChar>(U16_TRAIL(d.cp)));
    } else {
      utf16.push_back(static_cast<UChar>(d.cp));
    }
    i += d.size;
  }
  UErrorCode err = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&err);
  if (U_FAILURE(err)) return std::string(ident);
  std::vector<UChar> normal(utf16.size() + 8);
  int32_t len = unorm2_normalize(nfc, utf16.data(), static_cast<int32_t>(utf16.size()), normal.data(),
                                 static_cast<int32_t>(normal.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    err = U_ZERO_ERROR;
    normal.resize(static_cast<std::size_t>(len));
    len = unorm2_normalize(nfc, utf16.data(), static_cast<int32_t>(utf16.size()), normal.data(), len, &err);
  }
  if (U_FAILURE(err)) return std::string(ident);
  std::string out;
  out.reserve(ident.size());
  for (int32_t i = 0; i < len;) {
    UChar32 u;
    U16_NEXT(normal.data(), i, len, u);
    utf8::append(out, static_cast<char32_t>(u));
  }
  return out;
}

std::string_view identifier_key_view(std::string_view ident, std::string& storage) {
  const std::string_view plain = without_raw_prefix(ident);
  if (is_ascii(plain)) return plain;
  storage = identifier_key(ident);
  return storage;
}

std::string_view identifier_key_kept(std::string_view ident, TextPool& pool) {
  std::string normalized;
  const std::string_view key = identifier_key_view(ident, normalized);
  return normalized.empty() ? key : pool.keep(normalized);
}

std::string to_snake_case(std::string_view name) {
  // An underscore goes before a capital only after a lower-case letter, or
  // between a capital and a lower-case letter (a digit, an underscore or any
  // other character before it opens no word). Only ASCII bytes are examined; the bytes of a multi-byte character are
  // never ASCII, so working byte by byte treats each such character as a
  // single non-alphanumeric, non-capital unit.
  // Written in place: at most one underscore goes before each character.
  const std::size_t n = name.size();
  std::string out(2 * n, '\0');
  char* w = out.data();
  for (std::size_t i = 0; i < n; ++i) {
    const char c = name[i];
    if (!is_ascii_upper(c)) {
      *w++ = c;
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
    if (underscore) *w++ = '_';
    *w++ = static_cast<char>(c - 'A' + 'a');
  }
  out.resize(static_cast<std::size_t>(w - out.data()));
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
  std::string out(ident);
  sanitize_rust_keyword_in(out);
  return out;
}

void sanitize_rust_keyword_in(std::string& ident) {
  const std::uint64_t packed = pack_word(ident);
  if (packed == 0) return;
  if (contains(kPathKeywordsPacked, packed)) {
    ident += "_v";
  } else if (contains(kDecoderParamsPacked, packed)) {
    ident += "_field";
  } else if (contains(kReservedWordsPacked, packed) || contains(kRawOnlyWordsPacked, packed)) {
    ident.insert(0, "r#");
  }
}

std::string sanitize_const_name(std::string_view name) {
  const std::uint64_t packed = pack_word(name);
  if (contains(kPathKeywordsPacked, packed) || contains(kReservedWordsPacked, packed)) {
    return std::string(name) + "_alias";
  }
  return std::string(name);
}

}  // namespace qm

#pragma once
// UTF-8 decoding and encoding shared by the text functions. Private to this
// folder. Inputs are expected to be valid UTF-8, but every byte sequence is
// handled: an ill-formed sequence decodes as one invalid unit of one byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::utf8 {

inline constexpr char32_t kInvalid = 0xFFFFFFFF;

struct Decoded {
  char32_t cp;       // the scalar value, or kInvalid
  std::size_t size;  // bytes consumed, at least 1
};

// Decodes the character that starts at byte `i` (which must be < text.size()).
inline Decoded decode(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t len;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {kInvalid, 1};
  }
  if (text.size() - i < len) return {kInvalid, 1};
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return {kInvalid, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kInvalid, 1};
  return {cp, len};
}

// Decodes the character that ends at byte `end` (which must be > 0).
inline Decoded decode_before(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  // Step back over at most three continuation bytes to the lead byte.
  for (int k = 0; k < 3 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80; ++k) --start;
  Decoded d = decode(text, start);
  if (d.cp != kInvalid && start + d.size == end) return d;
  return {kInvalid, 1};
}

// Appends the UTF-8 encoding of scalar value `cp`.
inline void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Appends `\u{...}`: the value in lower-case hexadecimal without padding, as
// Rust writes an escaped character.
inline void append_unicode_escape(std::string& out, char32_t cp) {
  char buf[8];
  int n = 0;
  auto v = static_cast<std::uint32_t>(cp);
  do {
    buf[n++] = "0123456789abcdef"[v & 0xF];
    v >>= 4;
  } while (v != 0);
  out += "\\u{";
  while (n > 0) out.push_back(buf[--n]);
  out.push_back('}');
}

}  // namespace qm::utf8

#include "schema/literals.hpp"

namespace qm {
namespace {

constexpr u128 kI128Max = ~u128{0} >> 1;

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One optional sign, then digits of `base`: the signed 128-bit value or none.
std::optional<i128> parse_signed_radix(std::string_view text, unsigned base) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // The magnitude may reach 2^127 only when it is negated afterwards.
  u128 magnitude = 0;
  if (parse_digits(text, base, negative ? kI128Max + 1 : kI128Max, magnitude) != DigitsError::None) {
    return std::nullopt;
  }
  if (negative) return static_cast<i128>(u128{0} - magnitude);  // two's complement, 2^127 -> min
  return static_cast<i128>(magnitude);
}

}  // namespace

DigitsError parse_digits(std::string_view digits, unsigned base, u128 limit, u128& magnitude) {
  if (digits.empty()) return DigitsError::Malformed;
  magnitude = 0;
  for (const char c : digits) {
    const int d = digit_value(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) return DigitsError::Malformed;
    // magnitude * base + d <= limit, checked without overflowing.
    const auto digit = static_cast<u128>(d);
    if (digit > limit || magnitude > (limit - digit) / base) return DigitsError::TooLarge;
    magnitude = magnitude * base + digit;
  }
  return DigitsError::None;
}

std::optional<i128> parse_int_literal(std::string_view text) {
  std::string_view rest = trim_unicode_ws(text);
  const bool negative = !rest.empty() && rest.front() == '-';
  if (negative) rest.remove_prefix(1);
  const bool hex = rest.starts_with("0x") || rest.starts_with("0X");
  const std::optional<i128> parsed = hex ? parse_signed_radix(rest.substr(2), 16) : parse_signed_radix(rest, 10);
  if (!parsed || !negative) return parsed;
  const auto min = static_cast<i128>(kI128Max + 1);
  if (*parsed == min) return std::nullopt;  // its negation does not fit
  return -*parsed;
}

i128 cut_to_width(i128 value, EnumRepr repr) { return wrap_to(value, *scalar_type(enum_repr_rust_ty(repr))); }

}  // namespace qm

#include "expr/literals.hpp"

#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

#include "schema/literals.hpp"

namespace qm::literals {

namespace {

std::string does_not_fit(std::string_view raw, std::string_view ty) {
  return "literal " + debug_str(raw) + " does not fit " + std::string(ty);
}

}  // namespace

std::string rust_int_spelling(std::string_view raw) {
  std::string out(raw);
  const std::size_t digits = (!out.empty() && out[0] == '-') ? 1 : 0;
  if (out.size() >= digits + 2 && out[digits] == '0' && out[digits + 1] == 'X') out[digits + 1] = 'x';
  return out;
}

Result<i128> int_value_in(std::string_view raw, std::string_view ty) {
  std::string_view rest = raw;
  const bool negative = !rest.empty() && rest[0] == '-';
  if (negative) rest.remove_prefix(1);
  unsigned base = 10;
  if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    base = 16;
    rest.remove_prefix(2);
  }
  if (rest.empty()) return fail("literal " + debug_str(raw) + " has no digits");

  // The largest magnitude of the type for a positive and for a negative value.
  const ScalarType* scalar = scalar_type(ty);
  if (scalar == nullptr || scalar->is_float) return fail(does_not_fit(raw, ty));
  const u128 half = u128{1} << (scalar->bits - 1);
  u128 limit = 0;
  if (scalar->is_signed) {
    limit = negative ? half : half - 1;
  } else {
    limit = negative ? 0 : half - 1 + half;
  }
  u128 magnitude = 0;
  switch (parse_digits(rest, base, limit, magnitude)) {
    case DigitsError::None:
      break;
    case DigitsError::Malformed:
      return fail("literal " + debug_str(raw) + " is malformed");
    case DigitsError::TooLarge:
      return fail(does_not_fit(raw, ty));
  }
  if (!negative) return static_cast<i128>(magnitude);
  if (magnitude == 0) return i128{0};
  return -static_cast<i128>(magnitude - 1) - 1;
}

Result<std::string> rust_float_spelling(std::string_view raw, std::string_view ty) {
  std::string text(raw);
  if (!text.empty() && text.back() == '.') text += '0';

  // Rust refuses a literal whose value rounds to infinity. A result out of
  // range with a non-zero digit before the point is such an overflow; without
  // one it is an underflow toward zero, which Rust accepts.
  const char* first = text.data();
  const char* last = text.data() + text.size();
  std::errc ec{};
  const char* end = nullptr;
  if (ty == "f32") {
    float value = 0;
    const auto r = std::from_chars(first, last, value);
    ec = r.ec;
    end = r.ptr;
  } else {
    double value = 0;
    const auto r = std::from_chars(first, last, value);
    ec = r.ec;
    end = r.ptr;
  }
  if (ec == std::errc::invalid_argument || (ec == std::errc{} && end != last)) {
    return fail("literal " + debug_str(raw) + " is malformed");
  }
  if (ec == std::errc::result_out_of_range) {
    const std::string_view whole(text.data(), text.find('.') == std::string::npos ? text.size() : text.find('.'));
    if (whole.find_first_of("123456789") != std::string_view::npos) return fail(does_not_fit(raw, ty));
  }
  return text + std::string(ty);
}

}  // namespace qm::literals

// C#'s value types, conversions and operator overload resolution, and its
// constant folding, for the extended expression translator.

#include "expr/csharp_types.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "schema/literals.hpp"

namespace qm::csharp {

namespace {

constexpr std::array<TypeInfo, 12> kTypes{{
    {"sbyte", "i8", 8, true, true},
    {"byte", "u8", 8, false, true},
    {"short", "i16", 16, true, true},
    {"ushort", "u16", 16, false, true},
    {"int", "i32", 32, true, true},
    {"uint", "u32", 32, false, true},
    {"long", "i64", 64, true, true},
    {"ulong", "u64", 64, false, true},
    {"float", "f32", 32, true, false},
    {"double", "f64", 64, true, false},
    {"bool", "bool", 1, false, false},
    {"decimal", "", 128, true, false},
}};

using enum Type;

// C#'s implicit numeric conversions, by source type (identity aside).
bool widens(Type from, Type to) {
  switch (from) {
    case SByte:
      return to == Short || to == Int || to == Long || to == Float || to == Double || to == Decimal;
    case Byte:
      return to == Short || to == UShort || to == Int || to == UInt || to == Long || to == ULong || to == Float ||
             to == Double || to == Decimal;
    case Short:
      return to == Int || to == Long || to == Float || to == Double || to == Decimal;
    case UShort:
      return to == Int || to == UInt || to == Long || to == ULong || to == Float || to == Double || to == Decimal;
    case Int:
      return to == Long || to == Float || to == Double || to == Decimal;
    case UInt:
      return to == Long || to == ULong || to == Float || to == Double || to == Decimal;
    case Long:
    case ULong:
      return to == Float || to == Double || to == Decimal;
    case Float:
      return to == Double;
    case Double:
    case Bool:
    case Decimal:
      return false;
  }
  return false;
}

bool fits_type(i128 value, Type type) { return wrap(value, type) == value; }

// T1 is a better conversion target than T2: T1 converts to T2 but not back,
// or T1 is signed and T2 unsigned among the integers.
bool better_target(Type t1, Type t2) {
  if (implicitly_converts(t1, t2) && !implicitly_converts(t2, t1)) return true;
  switch (t1) {
    case SByte:
      return t2 == Byte || t2 == UShort || t2 == UInt || t2 == ULong;
    case Short:
      return t2 == UShort || t2 == UInt || t2 == ULong;
    case Int:
      return t2 == UInt || t2 == ULong;
    case Long:
      return t2 == ULong;
    default:
      return false;
  }
}

// 1 when converting `arg` to `t1` is better than to `t2`, -1 when worse,
// 0 when neither: an exact match wins, then the better target.
int compare_conversions(const Typed& arg, Type t1, Type t2) {
  if (t1 == t2) return 0;
  const bool exact1 = arg.type == t1;
  const bool exact2 = arg.type == t2;
  if (exact1 != exact2) return exact1 ? 1 : -1;
  if (better_target(t1, t2)) return 1;
  if (better_target(t2, t1)) return -1;
  return 0;
}

// The one applicable candidate better than every other, by the arguments in
// `args` (a candidate takes each argument as its own type); none when no
// candidate applies or no single one is best (`ambiguous` tells which).
std::optional<Type> best_candidate(std::span<const Type> candidates, std::span<const Typed> args, bool& ambiguous) {
  std::array<Type, 8> applicable{};
  std::size_t count = 0;
  for (const Type c : candidates) {
    bool all = true;
    for (const Typed& arg : args) all = all && converts(arg, c);
    if (all) applicable[count++] = c;
  }
  ambiguous = count != 0;
  for (std::size_t i = 0; i < count; ++i) {
    bool best = true;
    for (std::size_t j = 0; j < count && best; ++j) {
      if (i == j) continue;
      bool better_once = false;
      for (const Typed& arg : args) {
        const int cmp = compare_conversions(arg, applicable[i], applicable[j]);
        if (cmp < 0) best = false;
        if (cmp > 0) better_once = true;
      }
      best = best && better_once;
    }
    if (best) {
      ambiguous = false;
      return applicable[i];
    }
  }
  return std::nullopt;
}

constexpr Type kNumeric[] = {Int, UInt, Long, ULong, Float, Double, Decimal};
constexpr Type kEquality[] = {Int, UInt, Long, ULong, Float, Double, Decimal, Bool};
constexpr Type kBitwise[] = {Int, UInt, Long, ULong, Bool};
constexpr Type kIntegers[] = {Int, UInt, Long, ULong};
constexpr Type kNegatable[] = {Int, Long, Float, Double, Decimal};

std::string type_names(const Typed& left, const Typed& right) {
  std::string out(info(left.type).csharp);
  out += " and ";
  out += info(right.type).csharp;
  return out;
}

}  // namespace

const TypeInfo& info(Type type) { return kTypes[static_cast<std::size_t>(type)]; }

std::optional<Type> type_of_rust(std::string_view rust_ty) {
  for (std::size_t i = 0; i < kTypes.size(); ++i) {
    if (!kTypes[i].rust.empty() && kTypes[i].rust == rust_ty) return static_cast<Type>(i);
  }
  return std::nullopt;
}

std::optional<Type> type_of_keyword(std::string_view keyword) {
  for (std::size_t i = 0; i + 1 < kTypes.size(); ++i) {
    if (kTypes[i].csharp == keyword) return static_cast<Type>(i);
  }
  return std::nullopt;
}

bool implicitly_converts(Type from, Type to) { return from == to || widens(from, to); }

bool converts(const Typed& from, Type to) {
  if (implicitly_converts(from.type, to)) return true;
  if (!from.constant) return false;
  if (from.type == Int) {
    return (to == SByte || to == Byte || to == Short || to == UShort || to == UInt || to == ULong) &&
           fits_type(*from.constant, to);
  }
  return from.type == Long && to == ULong && *from.constant >= 0;
}

Result<Overload> resolve_binary(std::string_view op, OpClass op_class, const Typed& left, const Typed& right) {
  bool ambiguous = false;
  std::optional<Type> best;
  if (op_class == OpClass::Shift) {
    // The count is an int; the left operand chooses among the integer types.
    if (!converts(right, Int)) {
      return fail("shift count of type " + std::string(info(right.type).csharp) + " does not convert to int");
    }
    const Typed args[] = {left};
    best = best_candidate(kIntegers, args, ambiguous);
    if (best) return Overload{*best, Int, *best};
  } else {
    std::span<const Type> candidates = kNumeric;
    if (op_class == OpClass::Equality) candidates = kEquality;
    if (op_class == OpClass::Bitwise) candidates = kBitwise;
    const Typed args[] = {left, right};
    best = best_candidate(candidates, args, ambiguous);
    if (best && *best != Decimal) {
      const bool compares = op_class == OpClass::Relational || op_class == OpClass::Equality;
      return Overload{*best, *best, compares ? Bool : *best};
    }
  }
  std::string out = "operator `";
  out += op;
  out += ambiguous ? "` is ambiguous on operands of type " : "` cannot be applied to operands of type ";
  out += type_names(left, right);
  return fail(std::move(out));
}

Result<Type> resolve_unary(std::string_view op, const Typed& operand) {
  std::span<const Type> candidates = kNumeric;
  if (op == "-") candidates = kNegatable;
  if (op == "~") candidates = kIntegers;
  bool ambiguous = false;
  const Typed args[] = {operand};
  const std::optional<Type> best = best_candidate(candidates, args, ambiguous);
  if (best && *best != Decimal) return *best;
  std::string out = "operator `";
  out += op;
  out += "` cannot be applied to an operand of type ";
  out += info(operand.type).csharp;
  return fail(std::move(out));
}

Result<Type> conditional_type(const Typed& a, const Typed& b) {
  if (a.type == b.type) return a.type;
  // A branch's type is a candidate when the other branch converts to it;
  // of two, the one the other converts to.
  const bool to_a = converts(b, a.type);
  const bool to_b = converts(a, b.type);
  if (to_a && to_b) {
    if (implicitly_converts(a.type, b.type) && !implicitly_converts(b.type, a.type)) return b.type;
    if (implicitly_converts(b.type, a.type) && !implicitly_converts(a.type, b.type)) return a.type;
  } else if (to_a) {
    return a.type;
  } else if (to_b) {
    return b.type;
  }
  return fail("no type for a conditional of " + type_names(a, b));
}

i128 wrap(i128 value, Type type) {
  const TypeInfo& t = info(type);
  if (!t.is_integer) return value;
  const u128 low = static_cast<u128>(value) & ((u128{1} << t.bits) - 1);
  if (t.is_signed && low >= (u128{1} << (t.bits - 1))) return static_cast<i128>(low) - (i128{1} << t.bits);
  return static_cast<i128>(low);
}

std::optional<i128> fold_binary(std::string_view op, Type type, i128 a, i128 b) {
  // Sums and products in unsigned 128-bit arithmetic, where overflow is
  // defined; only the low bits are kept.
  const auto ua = static_cast<u128>(a);
  const auto ub = static_cast<u128>(b);
  const char c = op[0];
  if (op == "<<" || op == ">>") {
    const int count = static_cast<int>(b & (info(type).bits - 1));
    return c == '<' ? wrap(static_cast<i128>(ua << count), type) : a >> count;
  }
  if (op.size() == 2) {  // == != <= >=
    if (c == '=') return a == b ? 1 : 0;
    if (c == '!') return a != b ? 1 : 0;
    return (c == '<' ? a <= b : a >= b) ? 1 : 0;
  }
  switch (c) {
    case '+':
      return wrap(static_cast<i128>(ua + ub), type);
    case '-':
      return wrap(static_cast<i128>(ua - ub), type);
    case '*':
      return wrap(static_cast<i128>(ua * ub), type);
    case '/':
    case '%':
      if (b == 0) return std::nullopt;
      return wrap(c == '/' ? a / b : a % b, type);
    case '&':
      return a & b;
    case '|':
      return a | b;
    case '^':
      return a ^ b;
    case '<':
      return a < b ? 1 : 0;
    case '>':
      return a > b ? 1 : 0;
    default:
      return std::nullopt;
  }
}

Result<IntLiteral> parse_int_literal_token(std::string_view raw) {
  IntLiteral out{Int, 0, {}, {}};
  std::string_view body = raw;
  while (!body.empty() && (body.back() == 'u' || body.back() == 'U' || body.back() == 'l' || body.back() == 'L')) {
    out.suffix.insert(out.suffix.begin(), static_cast<char>(body.back() | 0x20));
    body.remove_suffix(1);
  }
  if (out.suffix == "lu") out.suffix = "ul";
  unsigned base = 10;
  std::string_view digits = body;
  if (body.size() >= 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  const bool suffix_ok = out.suffix.empty() || out.suffix == "u" || out.suffix == "l" || out.suffix == "ul";
  u128 magnitude = 0;
  const DigitsError error =
      suffix_ok ? parse_digits(digits, base, ~std::uint64_t{0}, magnitude) : DigitsError::Malformed;
  if (error == DigitsError::Malformed) return fail("integer literal " + debug_str(raw) + " is malformed");
  if (error == DigitsError::TooLarge) return fail("integer literal " + debug_str(raw) + " is too large");
  out.value = static_cast<i128>(magnitude);
  out.digits = base == 16 ? "0x" + std::string(digits) : std::string(digits);
  // The first type of the suffix's list that holds the value.
  const bool unsigned_ok = out.suffix != "l";
  const bool signed_ok = out.suffix.empty() || out.suffix == "l";
  const bool narrow_ok = out.suffix.empty() || out.suffix == "u";
  if (narrow_ok && signed_ok && fits_type(out.value, Int)) {
    out.type = Int;
  } else if (narrow_ok && unsigned_ok && fits_type(out.value, UInt)) {
    out.type = UInt;
  } else if (signed_ok && fits_type(out.value, Long)) {
    out.type = Long;
  } else {
    out.type = ULong;
  }
  return out;
}

std::string int_literal_text(std::string_view digits, bool negative, Type type) {
  std::string out;
  emit(out, negative ? "(-$digits$$ty$)" : "$digits$$ty$", {{"digits", digits}, {"ty", info(type).rust}});
  return out;
}

Result<RealLiteral> parse_real_literal_token(std::string_view raw) {
  std::string_view body = raw;
  Type type = Double;
  if (!body.empty()) {
    const char last = static_cast<char>(body.back() | 0x20);
    if (last == 'm') return fail("decimal literal " + debug_str(raw) + " is not supported");
    if (last == 'f' || last == 'd') {
      type = last == 'f' ? Float : Double;
      body.remove_suffix(1);
    }
  }
  // Rust wants a digit on both sides of the point.
  std::string text;
  if (!body.empty() && body[0] == '.') text = "0";
  for (std::size_t i = 0; i < body.size(); ++i) {
    text += body[i];
    if (body[i] == '.' && (i + 1 == body.size() || body[i + 1] < '0' || body[i + 1] > '9')) text += '0';
  }
  // A value beyond the type's range is refused (C# and Rust both do); one
  // too small for it rounds toward zero. Which of the two an out-of-range
  // result is follows from the decimal exponent of its first non-zero digit.
  const char* first = text.data();
  const char* last = first + text.size();
  std::from_chars_result r{};
  if (type == Float) {
    float value = 0;
    r = std::from_chars(first, last, value);
  } else {
    double value = 0;
    r = std::from_chars(first, last, value);
  }
  if (r.ec == std::errc::invalid_argument || r.ptr != last) {
    return fail("real literal " + debug_str(raw) + " is malformed");
  }
  if (r.ec == std::errc::result_out_of_range) {
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = std::string_view(text).substr(0, e);
    long exponent = 0;
    if (e != std::string::npos) {
      const char* exp_first = text.data() + e + 1;
      if (*exp_first == '+') ++exp_first;
      if (std::from_chars(exp_first, last, exponent).ec != std::errc{}) exponent = *exp_first == '-' ? -100000 : 100000;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t lead = mantissa.find_first_of("123456789");
    const long position = lead < point ? static_cast<long>(point - lead - 1) : -static_cast<long>(lead - point);
    if (position + exponent >= 0) {
      return fail("real literal " + debug_str(raw) + " is outside the range of " + std::string(info(type).csharp));
    }
  }
  text += info(type).rust;
  return RealLiteral{type, std::move(text)};
}

}  // namespace qm::csharp

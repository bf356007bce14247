#pragma once
// The value types of the extended C# expression translator: C#'s numeric
// types and bool with their Rust counterparts, C#'s implicit conversions,
// overload resolution over the predefined operators, and constant arithmetic
// as C# folds it in an unchecked context. Private to expr/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/result.hpp"
#include "text/text.hpp"

namespace qm::csharp {

// `Decimal` is never the type of a value here: it takes part in overload
// resolution only, where, as in C#, its operators make `ulong + int` and
// `ulong == -1` ambiguous instead of choosing float.
enum class Type : std::uint8_t { SByte, Byte, Short, UShort, Int, UInt, Long, ULong, Float, Double, Bool, Decimal };

struct TypeInfo {
  std::string_view csharp;  // "sbyte" ...
  std::string_view rust;    // "i8" ...
  int bits;                 // integers: the width
  bool is_signed;
  bool is_integer;
};
const TypeInfo& info(Type type);
inline bool is_integer(Type type) { return info(type).is_integer; }
inline bool is_float(Type type) { return type == Type::Float || type == Type::Double; }

// "i8" ... "u64", "f32", "f64", "bool" (a field's Rust scalar type).
std::optional<Type> type_of_rust(std::string_view rust_ty);
// The C# keywords of the value types: "sbyte" ... "double", "bool".
std::optional<Type> type_of_keyword(std::string_view keyword);

// A value's type and, for a constant, its value: an integer wrapped into the
// type, 0 or 1 for a bool. Float values are never folded.
struct Typed {
  Type type = Type::Int;
  std::optional<i128> constant;
};

// An implicit conversion between the types: identity or a widening numeric one.
bool implicitly_converts(Type from, Type to);
// An implicit conversion of a value: also an int constant to a narrower or
// unsigned type that holds it, and a non-negative long constant to ulong.
bool converts(const Typed& from, Type to);

// The operator overload chosen for two operands: the types they convert to
// and the type of the result.
struct Overload {
  Type left;
  Type right;
  Type result;
};
enum class OpClass { Arithmetic, Relational, Equality, Bitwise, Shift };
Result<Overload> resolve_binary(std::string_view op, OpClass op_class, const Typed& left, const Typed& right);
// The operand type of unary `+`, `-` or `~`.
Result<Type> resolve_unary(std::string_view op, const Typed& operand);
// The type of `c ? a : b`.
Result<Type> conditional_type(const Typed& a, const Typed& b);

// `value` as an `unchecked` conversion to the integer type gives it.
i128 wrap(i128 value, Type type);
// `a op b` for constants of the integer (or bool) type `type`, as C# folds
// it unchecked: wrapping, shift counts masked, `MIN / -1` giving MIN. None
// for a division by zero.
std::optional<i128> fold_binary(std::string_view op, Type type, i128 a, i128 b);

// An integer literal: its C# type, value and the digits as Rust writes them.
struct IntLiteral {
  Type type;
  i128 value;
  std::string digits;  // as written, `0X` as `0x`, without the suffix
  std::string suffix;  // lower case, `lu` as `ul`: "", "u", "l" or "ul"
};
Result<IntLiteral> parse_int_literal_token(std::string_view raw);
// An integer literal of `type` as Rust writes it: `5u32`, `0x10i64`, `(-1i64)`.
std::string int_literal_text(std::string_view digits, bool negative, Type type);
// A real literal's type and its Rust spelling (`5.` -> `5.0f64`, `.5f` -> `0.5f32`).
struct RealLiteral {
  Type type;
  std::string rust;
};
Result<RealLiteral> parse_real_literal_token(std::string_view raw);

}  // namespace qm::csharp

#pragma once
// Integer literals of the description (opcodes, enum values, mask values,
// case values, skip counts) and of its expressions, and the cut of a value to
// an enum representation's width.

#include <optional>
#include <string_view>

#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {

// Why a run of digits has no value below a limit.
enum class DigitsError { None, Malformed, TooLarge };

// Reads `digits` (one or more digits of `base`, nothing else) into
// `magnitude`, refusing a value above `limit`. Stops at the first digit that
// would overflow, so the cost stays linear however long the text is. A text
// with a digit outside `base` before that point is Malformed.
DigitsError parse_digits(std::string_view digits, unsigned base, u128 limit, u128& magnitude);

// Optional sign, then decimal or "0x"/"0X" hexadecimal (whose digits may carry
// one more sign); signed 128-bit or none. Unicode white space around the
// literal is ignored.
std::optional<i128> parse_int_literal(std::string_view text);

// The value as a discriminant of `repr` keeps it: cut to the width,
// sign-extended for the signed representations.
i128 cut_to_width(i128 value, EnumRepr repr);

}  // namespace qm

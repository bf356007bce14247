#pragma once
// Integer and decimal literals of expressions and tests, checked against the
// Rust type they end up in and respelled where Rust writes them differently.
// Private to expr/.

#include <string>
#include <string_view>

#include "text/result.hpp"
#include "text/text.hpp"

namespace qm::literals {

// A literal as Rust spells it: an upper-case `0X` prefix becomes `0x`, the
// rest is kept as written (sign and leading zeros included).
std::string rust_int_spelling(std::string_view raw);

// The signed value of a decimal or `0x`/`0X` literal with an optional leading
// `-`. Fails for a prefix without digits and for a magnitude beyond what the
// Rust type `ty` ("u8" ... "i128") holds, the minus sign counted.
Result<i128> int_value_in(std::string_view raw, std::string_view ty);

// A decimal literal with one `.` (digits on either side optional, but at
// least one before it) as Rust spells it with the suffix `ty` ("f32" or
// "f64"): `5.` becomes `5.0f64`. Fails when the value rounds to infinity.
Result<std::string> rust_float_spelling(std::string_view raw, std::string_view ty);

}  // namespace qm::literals

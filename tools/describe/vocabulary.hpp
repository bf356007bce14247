#pragma once
// The vocabulary of random descriptions: words for names and texts, the
// awkward names and texts of the edge profile, the type names the code
// generator knows with the numeric kind of each, and the generator's naming
// where descriptions depend on it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::describe {

// ---- Words -------------------------------------------------------------------

// Ordinary words of names (`Health`, `Cooldown`).
extern const std::vector<std::string> kWords;
// Words of documentation sentences.
extern const std::vector<std::string> kTextWords;
// Rust keywords and reserved words, and names that differ from one only in case.
extern const std::vector<std::string> kKeywords;
// The generated decoders' parameters and locals.
extern const std::vector<std::string> kDecoderLocals;
// Names of the Rust prelude, primitive types and the generated code's own items.
extern const std::vector<std::string> kPreludeNames;
// Odd names: empty, digits first, non-ASCII, spaces, control and bidirectional
// characters, runs of underscores, a raw identifier.
extern const std::vector<std::string> kOddNames;
// Documentation texts that a comment cannot hold as they are.
extern const std::vector<std::string> kOddTexts;

// ---- Types -------------------------------------------------------------------

// The C# names the code generator knows, with the numeric kind each gives.
enum class Num { None, U8, U16, U32, U64, I16, I32, I64, F32, F64, Bool };

int bit_width(Num n);
inline bool is_integer(Num n) { return n >= Num::U8 && n <= Num::I64; }
inline bool is_signed(Num n) { return n == Num::I16 || n == Num::I32 || n == Num::I64; }
inline bool is_float(Num n) { return n == Num::F32 || n == Num::F64; }

struct Builtin {
  const char* name;
  Num num;
};
// The built-in types and the kind each gives.
extern const std::vector<Builtin> kBuiltins;

struct EnumParent {
  const char* name;
  Num num;
};
// The integer types an enum may have as its parent.
extern const std::vector<EnumParent> kEnumParents;

// The types an <align> may name.
extern const std::vector<std::string> kAlignTypes;

// ---- Names and literals ------------------------------------------------------

// What the code generator declares for a member named `name`, in the form
// in which Rust compares identifiers: `Data` and `DataField` both give
// `data_field`, `Type` gives `type` (declared as `r#type`).
std::string member_key(std::string_view name);

// `0x` and upper-case hexadecimal digits without padding (`0x0`, `0x1F`).
std::string hex(std::uint64_t v);

}  // namespace qm::describe

// Writes a Rust program that checks what the extended C# translations
// compute: for every case of the table below, a function binds the fields to
// their values (opaque to the compiler, so that nothing is folded away),
// evaluates the translated expression and compares it with the value C#
// gives, worked out by hand from C#'s rules. run.sh compiles the program with
// rustc (overflow checks on, so a panic fails too) and runs it.
//
// The cases are those where C# and a naive Rust reading differ: arithmetic
// wrapping at the promoted width, uint + int as long, minus on uint, shift
// counts masked, sign extension in casts, int.MinValue / -1, comparisons of
// mixed signedness, float arithmetic in float.
//
// Usage: csharp_semantics OUTPUT.rs

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "expr/expr.hpp"

namespace {

struct Field {
  std::string name;
  std::string rust_ty;
  std::string value;  // without its type suffix
};

struct Case {
  std::string expr;
  std::vector<Field> fields;
  std::string result;  // a Rust type, or "test" for a condition
  std::string want;    // without its type suffix
};

// clang-format off
const std::vector<Case> kCases = {
    // uint + int constant stays uint and wraps at 2^32: 4294967295 + 1 = 0.
    {"u + 1", {{"u", "u32", "4294967295"}}, "i64", "0"},
    // uint + int variable is long: no wrap.
    {"u + i", {{"u", "u32", "4294967295"}, {"i", "i32", "1"}}, "i64", "4294967296"},
    // A negative constant does not convert to uint: long, 0 - 1 = -1.
    {"u + -1", {{"u", "u32", "0"}}, "i64", "-1"},
    // uint - 1 is uint: 0 - 1 wraps to 4294967295, which is > 0.
    {"u - 1 > u", {{"u", "u32", "0"}}, "test", "true"},
    // Minus on uint gives long: -1, not 4294967295.
    {"-u", {{"u", "u32", "1"}}, "i64", "-1"},
    // uint == -1 compares as long: 4294967295 != -1.
    {"u == -1", {{"u", "u32", "4294967295"}}, "test", "false"},
    // uint > int compares as long: 1 > -1.
    {"u > i", {{"u", "u32", "1"}, {"i", "i32", "-1"}}, "test", "true"},
    // sbyte < byte compares as int: -1 < 255.
    {"sb < b", {{"sb", "i8", "-1"}, {"b", "u8", "255"}}, "test", "true"},
    // ulong compares unsigned: 2^63 > 1.
    {"ul > 1", {{"ul", "u64", "9223372036854775808"}}, "test", "true"},
    // ulong + 1 wraps at 2^64.
    {"ul + 1", {{"ul", "u64", "18446744073709551615"}}, "u64", "0"},
    // long + uint is long: -1 + 4294967295.
    {"l + u", {{"l", "i64", "-1"}, {"u", "u32", "4294967295"}}, "i64", "4294967294"},
    // byte + byte is int: 200 + 200 = 400, no wrap at 256.
    {"b + b", {{"b", "u8", "200"}}, "i32", "400"},
    // ... and the cast back keeps the low byte: 400 - 256.
    {"(byte)(b + b)", {{"b", "u8", "200"}}, "i32", "144"},
    // byte - 1 is int: -1, not 255.
    {"b - 1", {{"b", "u8", "0"}}, "i64", "-1"},
    {"(uint)(b - 1)", {{"b", "u8", "0"}}, "i64", "4294967295"},
    // ushort + 1 is int: 65536.
    {"us + 1 == 65536", {{"us", "u16", "65535"}}, "test", "true"},
    // short * short is int: 32768^2 = 2^30, whose low 16 bits are 0.
    {"s * s", {{"s", "i16", "-32768"}}, "i32", "1073741824"},
    {"(short)(s * s)", {{"s", "i16", "-32768"}}, "i32", "0"},
    // int * int wraps at 2^32: 65536^2 = 2^32 -> 0; with a long literal, long.
    {"i * 65536", {{"i", "i32", "65536"}}, "i64", "0"},
    {"i * 65536L", {{"i", "i32", "65536"}}, "i64", "4294967296"},
    {"u * u", {{"u", "u32", "65536"}}, "i64", "0"},
    // Constants wrap as well (unchecked): int.MaxValue + 1, uint.MaxValue + 1.
    {"2147483647 + 1", {}, "i64", "-2147483648"},
    {"0xFFFFFFFF + 1", {}, "i64", "0"},
    {"1 << 31", {}, "i64", "-2147483648"},
    // int.MinValue / -1 is int.MinValue, % -1 is 0; int.MinValue negated too.
    {"i / -1", {{"i", "i32", "-2147483648"}}, "i64", "-2147483648"},
    {"i % -1", {{"i", "i32", "-2147483648"}}, "i64", "0"},
    {"-2147483648 / -1", {}, "i64", "-2147483648"},
    {"-i", {{"i", "i32", "-2147483648"}}, "i64", "-2147483648"},
    // Division truncates toward zero; the remainder has the dividend's sign.
    {"i / 2", {{"i", "i32", "-7"}}, "i32", "-3"},
    {"i % 3", {{"i", "i32", "-7"}}, "i32", "-1"},
    // Shift counts are masked: 33 & 31 = 1, 65 & 63 = 1, -1 & 31 = 31.
    {"i << 33", {{"i", "i32", "1"}}, "i64", "2"},
    {"l << 65", {{"l", "i64", "1"}}, "i64", "2"},
    {"i >> c", {{"i", "i32", "-2147483648"}, {"c", "i32", "-1"}}, "i64", "-1"},
    // byte << 9 is an int shift: 512, not a byte's 0.
    {"b << 9", {{"b", "u8", "1"}}, "i64", "512"},
    // >> is arithmetic on int (40 & 31 = 8: -256 >> 8), logical on uint and ulong.
    {"i >> 40", {{"i", "i32", "-256"}}, "i64", "-1"},
    {"u >> 31", {{"u", "u32", "2147483648"}}, "i64", "1"},
    {"(ulong)l >> 1", {{"l", "i64", "-2"}}, "i64", "9223372036854775807"},
    {"l >> 1", {{"l", "i64", "-2"}}, "i64", "-1"},
    // ~ on byte is an int: -1; on uint a uint: 4294967295.
    {"~b", {{"b", "u8", "0"}}, "i64", "-1"},
    {"~u", {{"u", "u32", "0"}}, "i64", "4294967295"},
    // Casts sign-extend or cut: (sbyte)200 = -56, (short)65535 = -1,
    // (ulong)-1 = 2^64 - 1, (uint)-1 widened = 4294967295.
    {"(sbyte)u", {{"u", "u32", "200"}}, "i64", "-56"},
    {"(int)(short)us", {{"us", "u16", "65535"}}, "i64", "-1"},
    {"(ulong)i", {{"i", "i32", "-1"}}, "u64", "18446744073709551615"},
    {"(long)(uint)i", {{"i", "i32", "-1"}}, "i64", "4294967295"},
    // The result converts as an explicit cast: (byte)-1 = 255, (int)-1.9 = -1.
    {"i", {{"i", "i32", "-1"}}, "u8", "255"},
    {"d", {{"d", "f64", "-1.9"}}, "i32", "-1"},
    // int == float compares as float: 16777217 becomes 16777216f.
    {"i == f", {{"i", "i32", "16777217"}, {"f", "f32", "16777216.0"}}, "test", "true"},
    // long == double compares as double: 2^53 + 1 becomes 2^53.
    {"l == d", {{"l", "i64", "9007199254740993"}, {"d", "f64", "9007199254740992.0"}}, "test", "true"},
    // float * int is float arithmetic: 0.1f * 2 = 0.20000000298023223876953125 exactly.
    {"f * 2", {{"f", "f32", "0.1"}}, "f64", "0.20000000298023223876953125"},
    // int / float is float division: 3 / 2f = 1.5.
    {"i / 2f", {{"i", "i32", "3"}}, "f64", "1.5"},
    // A bare integer test means non-zero; & of bools evaluates both sides.
    {"i & 4", {{"i", "i32", "5"}}, "test", "true"},
    {"i & 4", {{"i", "i32", "3"}}, "test", "false"},
    {"!flag & i > 0 || u", {{"flag", "bool", "true"}, {"i", "i32", "1"}, {"u", "u32", "0"}}, "test", "false"},
    // ?: with a uint and an int constant is uint: 0 - 1 would wrap; 0 is chosen.
    {"u != 0 ? u - 1 : 0", {{"u", "u32", "0"}}, "i64", "0"},
    {"u != 0 ? u - 1 : 0", {{"u", "u32", "5"}}, "i64", "4"},
    // An enum member is a constant of its representation (byte): byte + byte is int.
    {"Color.Big + Color.Big", {}, "i64", "400"},
    {"Color.Big == b", {{"b", "u8", "200"}}, "test", "true"},
};
// clang-format on

std::string suffixed(const std::string& value, const std::string& rust_ty) {
  return rust_ty == "bool" ? value : value + rust_ty;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: csharp_semantics OUTPUT.rs\n";
    return 2;
  }
  std::string out =
      "#![allow(unused_parens)]\n"
      "// Written by csharp_semantics: each case checks one translated C# expression.\n"
      "fn opaque<T: Copy>(x: T) -> T { unsafe { std::ptr::read_volatile(&x) } }\n\n";
  bool translated = true;
  for (std::size_t n = 0; n < kCases.size(); ++n) {
    const Case& c = kCases[n];
    const qm::NameResolver resolve = [&c](std::string_view name) -> qm::Result<qm::ResolvedName> {
      if (name == "Color.Big") return qm::ResolvedName{"200u8", "u8", {}, 200};
      for (const Field& f : c.fields) {
        if (f.name == name) return qm::ResolvedName{f.name, f.rust_ty, {}, {}};
      }
      return qm::fail("no field " + qm::debug_str(name));
    };
    const bool test = c.result == "test";
    const std::string ty = test ? "bool" : c.result;
    const qm::Result<std::string> rust =
        test ? qm::translate_extended_test(c.expr, resolve) : qm::translate_extended_value(c.expr, resolve, ty);
    if (!rust) {
      std::cerr << "case " << n << " `" << c.expr << "`: not translated: " << rust.reason() << "\n";
      translated = false;
      continue;
    }
    out += "fn case_" + std::to_string(n) + "() -> bool {\n";
    for (const Field& f : c.fields) {
      out += "    let " + f.name + ": " + f.rust_ty + " = opaque(" + suffixed(f.value, f.rust_ty) + ");\n";
    }
    out += "    let got: " + ty + " = " + *rust + ";\n";
    out += "    let want: " + ty + " = " + suffixed(c.want, ty) + ";\n";
    out += "    if got == want { return true; }\n";
    out += "    println!(\"FAILED case " + std::to_string(n) + " {}: got {:?}, want {:?}\", " + qm::debug_str(c.expr) +
           ", got, want);\n";
    out += "    false\n}\n\n";
  }
  out += "fn main() {\n    let results = [\n";
  for (std::size_t n = 0; n < kCases.size(); ++n) out += "        case_" + std::to_string(n) + "(),\n";
  out +=
      "    ];\n"
      "    let passed = results.iter().filter(|ok| **ok).count();\n"
      "    println!(\"{} passed, {} failed\", passed, results.len() - passed);\n"
      "    std::process::exit(if passed == results.len() { 0 } else { 1 });\n"
      "}\n";
  std::ofstream file(argv[1], std::ios::binary);
  file << out;
  if (!file.flush()) {
    std::cerr << "cannot write " << argv[1] << "\n";
    return 2;
  }
  return translated ? 0 : 1;
}

// The generation context, the line-number service and the checks of
// module-level names.

#include "schema/context.hpp"

#include <algorithm>
#include <array>

#include "text/text.hpp"

namespace qm {

namespace {
constexpr std::size_t kOutputReserve = 524288;

// Type names that the generated code writes unqualified: a declaration of
// one of them would take its place for the whole module.
constexpr std::array<std::string_view, 19> kTypeNamesInUse = {
    "bool", "str", "u8",  "u16",    "u32",    "u64", "usize",  "i16", "i32",     "i64",
    "i128", "f32", "f64", "Result", "Option", "Vec", "String", "std", "WireBool"};
// Values of the module that a constant would clash with.
constexpr std::array<std::string_view, 4> kValueNamesInUse = {"OPCODE_INDEX", "read_string16_le", "read_wstring_le",
                                                              "read_packed_dword"};

template <std::size_t N>
std::optional<std::string> name_problem(std::string_view what, std::string_view name,
                                        const std::array<std::string_view, N>& in_use, const NameKeys& declared,
                                        const NameKeys* also_declared) {
  const auto shown = [&] { return std::string(what) + " name " + debug_str(name); };
  if (!is_rust_identifier(name)) return shown() + " is not a Rust identifier";
  std::string normalized;
  const std::string_view key = identifier_key_view(name, normalized);
  if (std::find(in_use.begin(), in_use.end(), key) != in_use.end()) {
    return shown() + " is reserved by the generated code";
  }
  if (declared.count(key) != 0 || (also_declared != nullptr && also_declared->count(key) != 0)) {
    return shown() + " is already declared in this file";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> type_name_problem(const CodegenCtx& ctx, std::string_view name) {
  // An item the baseline left out may not take a name the baseline declared.
  const NameKeys* baseline = ctx.building_recovered ? ctx.baseline->declared_types : nullptr;
  return name_problem("type", name, kTypeNamesInUse, ctx.declared_types, baseline);
}

std::optional<std::string> constant_name_problem(const CodegenCtx& ctx, std::string_view name) {
  const NameKeys* baseline = ctx.building_recovered ? ctx.baseline->declared_values : nullptr;
  return name_problem("constant", name, kValueNamesInUse, ctx.declared_values, baseline);
}

void note_skipped(CodegenCtx& ctx, std::string_view label, std::string_view name, std::optional<std::uint32_t> opcode,
                  std::string_view reason) {
  ctx.skipped.push_back(SkippedItem{std::string(label), std::string(name), opcode, one_line_comment_text(reason)});
}

void write_skipped_line(CodegenCtx& ctx, std::string_view label, std::string_view name, std::string_view shown,
                        std::optional<std::uint32_t> opcode, std::string_view reason, std::string_view tail) {
  note_skipped(ctx, label, name, opcode, reason);
  emit_comment_line(ctx.out, "// SKIPPED $label$ $shown$: $reason$$tail$",
                    {{"label", label}, {"shown", shown}, {"reason", reason}, {"tail", tail}});
}

CodegenCtx::CodegenCtx(std::string_view protocol_path, const std::vector<std::size_t>& line_offsets)
    : protocol_path(protocol_path), line_offsets(line_offsets) {
  out.reserve(kOutputReserve);
  register_builtin_types(registry);
}

std::size_t CodegenCtx::line_of(std::size_t offset) const { return line_of_offset(line_offsets, offset); }

std::vector<std::size_t> build_line_offsets(std::string_view text) {
  std::vector<std::size_t> offsets{0};
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    offsets.push_back(i + 1);
  }
  return offsets;
}

std::size_t line_of_offset(const std::vector<std::size_t>& line_offsets, std::size_t offset) {
  // An exact hit on the start of line k (index k - 1) is line k; otherwise
  // the insertion point is the number of lines starting before the offset.
  const auto it = std::lower_bound(line_offsets.begin(), line_offsets.end(), offset);
  const auto k = static_cast<std::size_t>(it - line_offsets.begin());
  return (it != line_offsets.end() && *it == offset) ? k + 1 : k;
}

}  // namespace qm

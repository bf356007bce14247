#pragma once
// The generation context of one run: the output text, the opcode rows, the
// type registry, the enum-value table and the counters. Every generating phase
// receives it in turn by exclusive reference.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "schema/registry.hpp"
#include "text/text.hpp"
#include "text/text_table.hpp"
#include "xml/xml.hpp"

namespace qm {

// A set of names by `identifier_key`; only ever asked whether it holds one.
using NameKeys = TextTable<NoValue>;

struct Stats {
  std::size_t enums = 0;
  std::size_t aliases = 0;
  std::size_t datatypes = 0;
  std::size_t datatypes_skipped = 0;
  std::size_t messages = 0;
  std::size_t messages_skipped = 0;
  std::size_t gameactions = 0;
  std::size_t gameactions_skipped = 0;
  std::size_t gameevents = 0;
  std::size_t gameevents_skipped = 0;
};

// A struct written to the output, in file order.
struct WrittenStruct {
  std::string label;      // as in `OpcodeRow`
  std::string rust_name;  // with its section prefix
  std::string name;       // bare `name` as written
  std::optional<std::uint32_t> opcode;
  // Written by the extended tier's run only (the default tier left it out).
  bool recovered = false;
};

// An item written as a SKIPPED line instead, in file order.
struct SkippedItem {
  std::string label;  // "enum", "datatype", "messageC2S", "messageS2C", "gameaction", "gameevent"
  std::string name;   // bare `name` as written
  std::optional<std::uint32_t> opcode;
  std::string reason;  // as the SKIPPED line shows it
};

struct OpcodeRow {
  std::string label;  // "messageC2S", "messageS2C", "gameaction", "gameevent", "datatype"
  std::string name;   // bare `name` as written
  std::uint32_t opcode = 0;
};

// What the default tier's run of a document wrote, given to the extended
// tier's run of the same document: the items it wrote stay exactly as they
// are, and an item it left out is recovered only under names it did not
// declare, so that both runs' files can be compiled together.
struct Baseline {
  std::set<const xml::Node*> written;  // the elements written as structs
  const NameKeys* declared_types = nullptr;
  const NameKeys* declared_values = nullptr;
};

// A struct of the extended tier's run that the baseline left out: its text
// in the run's `out`, from `begin` to `end`, and the banners of its section
// and of its part of the section (may be empty).
struct RecoveredItem {
  std::string_view banner;
  std::string_view sub_banner;
  std::size_t begin = 0;
  std::size_t end = 0;
};

class CodegenCtx {
 public:
  // Creates the context with the built-in type names registered and the
  // output text reserved; the driver writes the file header into it.
  // `line_offsets` must outlive it.
  CodegenCtx(std::string_view protocol_path, const std::vector<std::size_t>& line_offsets);

  std::string out;  // the whole generated text so far
  // Whether encoders are generated too, and their text so far (the content
  // of encoders_generated.rs, which holds an impl per written struct and enum).
  bool encode = false;
  std::string encoders;
  // Whether serde impls are generated too, and their text so far (the
  // content of serde_generated.rs: the Serialize and Deserialize impls of
  // every written enum, struct, switch enum and section enum).
  bool serde = false;
  std::string serde_impls;
  // Whether the builders take the constructs only the extended tier
  // translates (more children in if branches, switch cases and mask groups,
  // any C# if test, subfields over other fields).
  bool extended = false;
  // In the extended tier's run: the default tier's run of the same
  // document; and whether the item being built is one that run left out.
  const Baseline* baseline = nullptr;
  bool building_recovered = false;
  // The elements written as structs so far (what a baseline records).
  std::vector<const xml::Node*> written_nodes;
  // In the extended tier's run, the structs the baseline left out (their
  // opcode rows are kept out of `opcode_rows`).
  std::vector<RecoveredItem> recovered;
  std::vector<OpcodeRow> opcode_rows;
  // What the output text holds, for the typed API written beside it.
  std::vector<WrittenStruct> written;
  std::vector<SkippedItem> skipped;
  std::string protocol_path;
  const std::vector<std::size_t>& line_offsets;
  TypeRegistry registry;
  EnumValueTable enum_values;
  Stats stats;
  // Module-level names written so far, by `identifier_key`: types (enums,
  // structs, switch enums) and constants (enum aliases).
  NameKeys declared_types;
  NameKeys declared_values;
  // 1-based line of a byte offset of the document.
  std::size_t line_of(std::size_t offset) const;
};

// Why a module-level type (or constant) cannot be declared under `name`:
// it is not an identifier, the generated code relies on the name (`u8`,
// `Result`, `WireBool`, ...; `OPCODE_INDEX` and the imported readers for
// constants), or it is already declared. Nothing when it can.
std::optional<std::string> type_name_problem(const CodegenCtx& ctx, std::string_view name);
std::optional<std::string> constant_name_problem(const CodegenCtx& ctx, std::string_view name);

// Names declared in one scope (a struct's members, its methods, one enum's
// variants, one variant's fields): each must be an identifier and appear once.
// The scope keeps views of the names it is given, which must outlive it.
class NameScope {
 public:
  // `constants`, when given, are the module's constants: a name that is also
  // a decoder local must not be one of them, or its `let` would be read as a
  // pattern matching that constant.
  explicit NameScope(std::string_view what, const NameKeys* constants = nullptr) : what_(what), constants_(constants) {}

  // Marks `name` as held by something the generated code declares itself.
  void reserve(std::string_view name, std::string_view holder) { holders_.try_emplace(name, holder); }

  // Records `name`; the reason when it cannot be declared here.
  std::optional<std::string> add(std::string_view name) {
    if (!is_rust_identifier(name)) return shown(name) + " is not a Rust identifier";
    const std::string_view key = identifier_key_kept(name, keys_);
    if (constants_ != nullptr && constants_->count(key) != 0) {
      return shown(name) + " is taken by a constant of the module";
    }
    const auto [holder, fresh] = holders_.try_emplace(key, std::string_view());
    if (fresh) return std::nullopt;
    if (holder.empty()) return shown(name) + " is declared twice";
    return shown(name) + " is taken by " + std::string(holder);
  }

 private:
  std::string_view what_;
  const NameKeys* constants_;
  // identifier key -> what holds it (empty for a name of this scope)
  TextTable<std::string_view, /*kCopiesKeys=*/false> holders_;
  // The keys that are not views of the names (normalized ones).
  TextPool keys_;

  std::string shown(std::string_view name) const { return std::string(what_) + " name " + debug_str(name); }
};

// Records an item that is written as a SKIPPED line; `reason` is kept as the
// line shows it.
void note_skipped(CodegenCtx& ctx, std::string_view label, std::string_view name, std::optional<std::uint32_t> opcode,
                  std::string_view reason);
// Writes the SKIPPED line of an item, "// SKIPPED {label} {shown}: {reason}{tail}"
// kept on one line, and records the item.
void write_skipped_line(CodegenCtx& ctx, std::string_view label, std::string_view name, std::string_view shown,
                        std::optional<std::uint32_t> opcode, std::string_view reason, std::string_view tail = {});

// Start offsets of every line: 0, then i + 1 for every line feed at i.
std::vector<std::size_t> build_line_offsets(std::string_view text);
// 1-based line number holding `offset`.
std::size_t line_of_offset(const std::vector<std::size_t>& line_offsets, std::size_t offset);

}  // namespace qm

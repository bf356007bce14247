#pragma once
// What the builders of one struct body share: the sibling lookup through
// which a later construct refers to an earlier field by its XML name, the
// decoder locals a translated expression reads, and the numbering of field
// identifiers. The constructs (constructs/) fill them; the expression
// translators (expr/) read the lookup.

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

namespace qm {

// A decoder local that a translated expression reads, and what the read
// means: a field's value (its local, a branch's `{ident}_v` local or a
// block's option), an enum field's raw bits, or, for a name inside a general
// expression, the field's value unless an enum's raw bits are the nearest
// binding of that name.
struct LocalRead {
  enum Meaning { Expression, Value, RawBits };
  std::string local;
  Meaning meaning = Expression;
};
using LocalReads = std::vector<LocalRead>;

// ---- Sibling lookup ----------------------------------------------------------

// Every reference below records where its field was declared: `branch` is 0
// for a field of the body itself, or the number of the <if> branch that
// declared it (see SiblingLookup::open_branch).

struct NumericFieldRef {
  std::string ident;  // Rust identifier (also the decoder local)
  std::string ty;     // numeric Rust type
  std::size_t branch = 0;
};

struct SubfieldRef {
  std::string parent_xml_name;
  std::string parent_ident;
  std::string parent_ty;
  std::string expr;        // value expression as written
  std::size_t branch = 0;  // the parent's
};

struct EnumFieldRef {
  std::string ident;
  std::string repr_ty;
  std::size_t branch = 0;
};

struct GatedFieldRef {
  std::string ident;
  std::string ty;
  std::size_t branch = 0;  // where the mask map stands: its options are declared there
};

// Earlier fields of one body, keyed by XML name. A later entry replaces an
// earlier one with the same key. Fields are registered through the `add_`
// functions, which a checkpoint can take back.
struct SiblingLookup {
  std::map<std::string, NumericFieldRef> numeric_fields;
  std::map<std::string, SubfieldRef> subfields;
  std::map<std::string, EnumFieldRef> enum_fields;
  std::set<std::string> bool_fields;
  std::map<std::string, GatedFieldRef> gated_fields;
  // The block (an <if> branch or a mask group) whose fields are being built
  // (0: none, the body itself). Every branch of every block gets its own
  // number from `new_branch`, inside the branch open at that moment; blocks
  // nest, and a field of a block `depth` blocks deep is decoded into the
  // local `{ident}` followed by `_v` `depth` times.
  std::size_t open_branch = 0;
  // A new branch inside the open one (not opened).
  std::size_t new_branch();
  // How many blocks deep `branch` is (0 for the body).
  std::size_t depth_of(std::size_t branch) const;
  // The decoder local of `ident` at `depth`: `ident` followed by `_v` `depth` times.
  static std::string local_at(std::string_view ident, std::size_t depth);

  // Registers a field named `xml_name` in the description, with Rust
  // identifier `ident` and type `kind`, as declared in the open branch.
  void add_field(std::string_view xml_name, std::string_view ident, const FieldKind& kind);
  // Registers a subfield `xml_name` computed by `value_expr` (as written)
  // from the field `parent_xml_name`, just registered by `add_field`.
  void add_subfield(std::string_view xml_name, std::string_view parent_xml_name, std::string_view parent_ident,
                    const FieldKind& parent_kind, std::string_view value_expr);
  // What a decoder statement at this point reads for a field with Rust
  // identifier `ident` declared in `branch`: the field's local for a field of
  // the body; inside the field's own branch (or a block nested in it), the
  // branch's local of the value just read, `{ident}_v`; anywhere else the
  // option of the outermost block that holds the field but not this point,
  // where an absent field reads as its type's zero (false for a bool).
  std::string value_of(std::string_view ident, std::size_t branch) const;
  // The local that `value_of` reads, as a value.
  LocalRead value_read(std::string_view ident, std::size_t branch) const;
  // The raw bits of an enum field, in the enum's representation type: the
  // `{local}_bits` local of a field of the body or of the open branch, the
  // option's value cast (absent: 0) elsewhere. `raw_bits_local` tells which.
  std::string raw_bits_of(const EnumFieldRef& field) const;
  bool raw_bits_local(const EnumFieldRef& field) const;
  // The local that `raw_bits_of` reads: the raw bits, or the option's value.
  LocalRead raw_bits_read(const EnumFieldRef& field) const;
  // Registers a field of a mask group, which later constructs read as an
  // option.
  void add_gated(std::string_view xml_name, std::string_view ident, const FieldKind& kind);
  // The option a decoder statement at this point reads for a mask-group field.
  std::string gated_local(const GatedFieldRef& field) const;

  // A point to come back to: `rollback` with the mark it returns puts every
  // entry registered since as it was (a switch case's fields are seen only
  // inside the case). Checkpoints nest; each is rolled back once, innermost
  // first. The work is that of the entries registered since, however many
  // fields came before.
  std::size_t checkpoint();
  void rollback(std::size_t mark);

 private:
  // An entry as it was before a change made while a checkpoint was open.
  struct Undo {
    enum Map : unsigned char { Numeric, Subfield, Enum, Bool, Gated };
    Map map = Numeric;
    std::string key;
    bool existed = false;
    NumericFieldRef numeric;
    SubfieldRef subfield;
    EnumFieldRef enumeration;
    GatedFieldRef gated;
  };
  void remember(Undo::Map map, const std::string& key);
  // The binding of `ident`, declared in `branch`, in view at the open branch:
  // its local, and whether that local is an option (`home_option`: the
  // binding in the declaring branch itself is one).
  struct Visible {
    std::string local;
    bool option = false;
  };
  Visible visible(std::string_view ident, std::size_t branch, bool home_option) const;
  // The branch holding each branch (index: the branch's number - 1).
  std::vector<std::size_t> branch_parents_;
  std::vector<Undo> undo_;
  std::size_t open_checkpoints_ = 0;
};

// ---- Body context --------------------------------------------------------------

// How many fields of a body used each snake-case identifier, for numbering
// repeated names; with checkpoints like the sibling lookup's, so that each
// switch case numbers its fields from the state before the switch.
class Occurrences {
 public:
  // `snake`, or `snake` followed by `_2`, `_3`, ... when it was used before;
  // counted as used once more.
  std::string number(std::string snake);
  // How often `snake` was used.
  std::size_t count_of(std::string_view snake) const;
  bool empty() const { return counts_.empty(); }

  std::size_t checkpoint();
  void rollback(std::size_t mark);

 private:
  std::map<std::string, std::size_t, std::less<>> counts_;
  // A count as it was before a change made while a checkpoint was open (0:
  // not used).
  std::vector<std::pair<std::string, std::size_t>> undo_;
  std::size_t open_checkpoints_ = 0;
};

// Shared by every builder of one body. A switch case scopes its fields: it
// works on this same context, whose lookup and occurrences it takes back to
// their checkpoints after the case.

struct BodyContext {
  Occurrences occurrences;
  // the owning struct's full Rust name, prefix included
  std::string owner;
  // Type names already taken by switch enums of this struct (may be null).
  std::set<std::string>* switch_type_names = nullptr;
  // Nesting depth of switch cases at this point.
  std::size_t depth = 0;
};

// Numbers `name` through the occurrence map: the first use of a snake name x
// gives x, the second x_2, the third x_3; then keyword-escapes the result.
std::string number_identifier(Occurrences& occurrences, std::string_view name);
// The same for a key that is already in snake case (a switch counts
// `{snake}_data`).
std::string number_snake_identifier(Occurrences& occurrences, std::string snake);

// Appends `text` unless `list` already holds it.
void push_unique(std::vector<std::string>& list, std::string_view text);

}  // namespace qm

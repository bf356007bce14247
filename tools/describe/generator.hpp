#pragma once
// The random description generator. One `Generator` writes one document:
// enums first (so bodies can use them), then typedefs and data types, then the
// message sections. Every element is serialised as soon as it is complete, so
// a large document never exists as a tree.
//
// The generator tracks what a body has declared so far (numeric fields, enum
// fields, fields inside if branches or mask maps, subfields) so that most
// lengths, tests, discriminators and mask-map parents refer to fields the code
// generator will accept. In the edge profile a share of every choice is drawn
// from lists of awkward names, literals and expression shapes instead.
//
// Its members are defined by concern:
//   generator.cpp    the document and its sections' order, names, texts, literals;
//   sections.cpp     enums, typedefs, data types, message sections, field types;
//   constructs.cpp   bodies and their constructs (field, vector, table, ...);
//   expressions.cpp  lengths, tests, subfield values and the fields they name;
//   extended.cpp     the constructs only the code generator's extended tier takes.
//
// The extended constructs draw only when the option asks for them (every
// draw behind `ext_ &&`), so that documents without it stay as they were.
//
// Every draw happens in a statement of its own or in an operand that the
// language sequences (`?:`, `&&`, `||`, the object of a chained call): the
// operands of `+` and the arguments of one call are evaluated in an order the
// compiler chooses, so two draws there would make documents depend on it.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "describe.hpp"
#include "rng.hpp"
#include "scope.hpp"
#include "vocabulary.hpp"
#include "xml.hpp"

namespace qm::describe {

class Generator {
 public:
  explicit Generator(const Options& options);

  // The whole document.
  std::string run();

 private:
  struct DataType {
    std::string name;
    int rank = 0;  // a data type uses only data types of lower rank (in the realistic profile)
  };

  Rng rng_;
  bool edge_;
  bool ext_;
  std::size_t size_;
  int counter_ = 0;
  std::vector<EnumInfo> enums_;
  std::set<std::string> global_names_;  // realistic: every enum, data type and message name
  std::vector<DataType> datatypes_;
  std::vector<std::pair<std::string, Num>> typedefs_;
  std::vector<std::string> switch_types_;  // enum types written for switches of data types
  int current_rank_ = -1;                  // rank of the data type being generated, -1 in messages
  std::string owner_;                      // full Rust name of the struct being generated
  std::set<std::string> switch_discs_;     // discriminator names switched on in that struct
  std::uint32_t next_opcode_ = 0x0001;
  // Where the fields of the mask group being written begin in its scope.
  std::size_t group_start_ = 0;

  // `fraction` of the requested size, in bytes.
  std::size_t share(double fraction) const { return static_cast<std::size_t>(static_cast<double>(size_) * fraction); }

  // ---- Names and texts (generator.cpp) ----

  // `base` followed by a number never used before in the document.
  std::string fresh(const std::string& base);
  // A name no enum, data type or message has taken.
  std::string global_name(const std::string& base);
  // An awkward name: a keyword, a decoder local, a prelude name, an odd name,
  // or a name of a local the generator derives from a field of `scope`.
  std::string edge_name(const Scope* scope);
  // A member name: unique in the struct for the realistic profile; in the edge
  // profile often a bare word (so repeats happen) and sometimes awkward.
  std::string member_name(Scope& scope, const std::string& base);
  std::string sentence();
  // Sets a `text` attribute now and then.
  void maybe_text(Element& e);

  // ---- Literals (generator.cpp) ----

  // `v` in hexadecimal or decimal.
  std::string int_literal(std::uint64_t v);
  std::string odd_int_literal();
  std::string odd_opcode();

  // ---- Sections (sections.cpp) ----

  std::string enums_section();
  Element enum_element();
  // Names and ranks of the data types, in document order.
  void plan_datatypes();
  std::string types_section(bool first);
  void typedefs(std::string& out);
  Element datatype_element(const DataType& d);
  Element message(const std::string& prefix, std::set<std::string>& names);
  // Most messages are short; a few are long.
  int message_items();
  std::string messages_section();
  std::string actions_section(const std::string& tag, const std::string& prefix, double fraction);
  // A type for a field: an enum, a data type (when `allow_struct`), a typedef
  // or a built-in; a text type only when `allow_strings`.
  TypeRef pick_type(bool allow_struct, bool allow_strings = true);

  // ---- Bodies and constructs (constructs.cpp) ----

  void body(Element& parent, Scope& scope, Site site, int depth, int items);
  Vis vis_for(Site site);
  // One construct of a body, drawn by what `site` allows.
  void item(Element& parent, Scope& scope, Site site, int depth);
  void align(Element& parent);
  // A field of the given visibility; registers it (and its subfields) in the scope.
  void field(Element& parent, Scope& scope, Vis vis, int depth);
  // `top_level`: the field stands in the body itself (not in a block).
  void subfield(Element& f, Scope& scope, const std::string& parent_name, Num parent_num, Vis vis,
                bool top_level = false);
  void vector(Element& parent, Scope& scope, Site site);
  // A count field it adds has visibility `inserted`.
  void table(Element& parent, Scope& scope, Vis inserted = Vis::Plain);
  void packable(Element& parent, Scope& scope, Vis vis);
  void if_block(Element& parent, Scope& scope, Site site, int depth);
  // A branch field that repeats the name of an earlier field (of the body, of
  // an earlier block or of the other branch), with a type of its own: a later
  // reference means whichever field the code generator's lookup keeps.
  void repeated_name_field(Element& branch, Scope& scope);
  void maskmap(Element& parent, Scope& scope, Site site);
  // A discriminator field it adds has visibility `inserted`.
  void switch_block(Element& parent, Scope& scope, int depth, Vis inserted = Vis::Plain);

  // ---- Extended constructs (extended.cpp) ----

  // Writes one construct only the extended tier takes at `site` now and then;
  // whether it did.
  bool extended_item(Element& parent, Scope& scope, Site site, int depth);
  // A vector of a mask group counted by a field of the group or of the body.
  void mask_vector(Element& parent, Scope& scope);
  // A compound C# test over earlier fields; empty when the scope has none to name.
  std::string extended_test(const Scope& scope);
  // A subfield value over the parent P and another integer field of the body
  // declared earlier; empty when there is none.
  std::string cross_field_expr(const Scope& scope, const std::string& p, Num p_num);

  // ---- Expressions (expressions.cpp) ----

  // A value expression over the parent field P of numeric kind `num`; clears
  // `safe` when the expression may fail at run time.
  std::string subfield_expr(const std::string& p, Num num, bool& safe);
  // Fields usable as a number by later constructs (lengths, tests, discriminators).
  std::vector<const Known*> numeric(const Scope& scope, bool integers_only);
  // Names a numeric field declared earlier, adding a count field first when
  // the scope has none.
  std::string count_source(Element& parent, Scope& scope, bool integers_only, Vis inserted = Vis::Plain);
  // Any earlier name, valid or not, for the edge profile's wrong references.
  std::string wrong_reference(const Scope& scope);
  // A vector's or table's length; a count field it adds has visibility `inserted`.
  std::string length_expr(Element& parent, Scope& scope, Vis inserted);
  // A count field it adds has visibility `inserted`.
  std::string if_test(Element& parent, Scope& scope, Vis inserted = Vis::Plain);
};

}  // namespace qm::describe

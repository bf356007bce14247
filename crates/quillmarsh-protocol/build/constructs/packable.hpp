#pragma once
// Packable lists and hash tables: containers that carry their own count.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

enum class PackableKind { PackableList, PackableHashTable, PHashTable };

struct PackableField {
  std::string ident;
  std::string key_rust_ty = "()";  // list: placeholder
  FieldKind key_kind;              // list: placeholder U8
  std::string value_rust_ty;       // list: the element type
  FieldKind value_kind;
  std::optional<std::string> text;
  PackableKind kind = PackableKind::PackableList;
};

// "PackableList", "PackableHashTable", "PHashTable" by the `type` attribute.
std::optional<PackableKind> packable_kind_for_field(const xml::Node& field);
std::string_view kind_name(PackableKind kind);

// The locals of a packable read into `local`, shown as `shown`; the id of the container's binding.
std::size_t walk_packable_locals(LocalsWalk& w, const PackableField& packable, std::string_view local,
                                 std::string_view shown);

Result<PackableField> build_packable_field(const CodegenCtx& ctx, const xml::Node& field, PackableKind kind,
                                           BodyContext& body);
// "Vec<{V}>" for a list, "Vec<({K}, {V})>" for the hash tables.
std::string packable_rust_ty(const PackableField& packable);
// Reads the container into the new local `local`.
void emit_read_packable_into(const Printer& p, const PackableField& packable, std::string_view local);

void emit_members(const Printer& p, const PackableField& packable);
void emit_ctor_entries(const Printer& p, const PackableField& packable);
void emit_accessors(const Printer& p, const PackableField& packable);
void add_accessors(const PackableField& packable, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const PackableField& packable, StepPlace place);
void add_members(const PackableField& packable, std::vector<MemberDecl>& out);
void add_switches(const PackableField& packable, std::vector<const SwitchBlock*>& out);
bool declares_fields(const PackableField& packable);
bool may_read_nothing(const PackableField& packable, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const PackableField& packable, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const PackableField& packable, StepPlace place);

}  // namespace qm

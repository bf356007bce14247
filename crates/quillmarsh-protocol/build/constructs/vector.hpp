#pragma once
// Vectors: a count read from earlier fields, then that many elements.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct VectorField {
  std::string ident;
  std::string elem_rust_ty;
  FieldKind elem_kind;
  std::string count_expr;   // Rust `usize` expression
  std::string length_expr;  // `length` as written
  std::optional<std::string> text;
  LocalReads count_reads;  // what the count expression reads
};

Result<VectorField> build_vector_field(const CodegenCtx& ctx, const xml::Node& vector, BodyContext& body,
                                       const SiblingLookup& lookup);
// Reads the vector into the new local `local`.
void emit_read_vector_into(const Printer& p, const VectorField& vec, std::string_view local);

void emit_members(const Printer& p, const VectorField& vec);
void emit_ctor_entries(const Printer& p, const VectorField& vec);
void emit_accessors(const Printer& p, const VectorField& vec);
void add_accessors(const VectorField& vec, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const VectorField& vec, StepPlace place);
void add_members(const VectorField& vec, std::vector<MemberDecl>& out);
void add_switches(const VectorField& vec, std::vector<const SwitchBlock*>& out);
bool declares_fields(const VectorField& vec);
bool may_read_nothing(const VectorField& vec, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const VectorField& vec, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const VectorField& vec, StepPlace place);

}  // namespace qm

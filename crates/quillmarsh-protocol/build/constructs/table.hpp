#pragma once
// Tables: a count read from earlier fields, then that many key/value pairs.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/construct.hpp"

namespace qm {

struct TableField {
  std::string ident;
  std::string key_rust_ty;
  FieldKind key_kind;
  std::string value_rust_ty;
  FieldKind value_kind;
  std::string count_expr;
  std::string length_expr;
  std::optional<std::string> text;
  LocalReads count_reads;
};

Result<TableField> build_table_field(const CodegenCtx& ctx, const xml::Node& table, BodyContext& body,
                                     const SiblingLookup& lookup);

void emit_members(const Printer& p, const TableField& table);
void emit_ctor_entries(const Printer& p, const TableField& table);
void emit_accessors(const Printer& p, const TableField& table);
void add_accessors(const TableField& table, std::vector<std::string_view>& out);
void emit_decoder(const Printer& p, const TableField& table, StepPlace place);
void add_members(const TableField& table, std::vector<MemberDecl>& out);
void add_switches(const TableField& table, std::vector<const SwitchBlock*>& out);
bool declares_fields(const TableField& table);
bool may_read_nothing(const TableField& table, const TypeRegistry& registry);
void walk_locals(LocalsWalk& w, const TableField& table, StepPlace place, std::vector<LocalsWalk::Member>& out);

void emit_encoder(const Printer& p, const TableField& table, StepPlace place);

}  // namespace qm

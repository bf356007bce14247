// Tables: key/value pairs whose count is computed from earlier sibling
// fields, read into an ordered map through the simple-field readers.

#include "constructs/table.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "constructs/field.hpp"
#include "expr/expr.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

std::string member_ty(const TableField& table) {
  return "std::collections::BTreeMap<" + table.key_rust_ty + ", " + table.value_rust_ty + ">";
}

}  // namespace

Result<TableField> build_table_field(const CodegenCtx& ctx, const xml::Node& table, BodyContext& body,
                                     const SiblingLookup& lookup) {
  const auto name_attr = table.attr("name");
  if (!name_attr) return fail("<table> missing name");
  const std::string name(*name_attr);
  const auto key = table.attr("key");
  if (!key) return fail("<table " + name + "> missing key= attribute");
  const auto value = table.attr("value");
  if (!value) return fail("<table " + name + "> missing value= attribute");
  const auto length = table.attr("length");
  if (!length) return fail("<table " + name + "> missing length= attribute");
  const std::string prefix = "<table " + name + ">: ";

  if (is_templated_marker(*key) || is_templated_marker(*value)) {
    return fail(prefix + "key=" + debug_str(*key) + "/value=" + debug_str(*value) +
                " uses templated marker; deferred to J3.E");
  }
  auto key_ty = resolve_field(ctx.registry, *key);
  if (!key_ty) return fail(prefix + "key type " + debug_str(*key) + " not in foundation tier");
  auto value_ty = resolve_field(ctx.registry, *value);
  if (!value_ty) return fail(prefix + "value type " + debug_str(*value) + " not in foundation tier");
  LocalReads count_reads;
  Result<std::string> count = translate_vector_length_expr(*length, lookup, &count_reads);
  if (!count) return fail(prefix + "cannot translate length=" + debug_str(*length) + ": " + count.reason());
  // A `BTreeMap` key must be `Ord`: floats are not, and generated structs
  // derive only equality.
  if (!wire_kind(key_ty->kind.tag).ord) {
    return fail(prefix + "key type " + debug_str(*key) + " is not ordered (a map key needs Ord)");
  }

  TableField out;
  out.ident = number_identifier(body.occurrences, name);
  out.key_rust_ty = std::move(key_ty->rust_ty);
  out.key_kind = std::move(key_ty->kind);
  out.value_rust_ty = std::move(value_ty->rust_ty);
  out.value_kind = std::move(value_ty->kind);
  out.count_expr = std::move(count).value();
  out.count_reads = std::move(count_reads);
  out.length_expr = std::string(*length);
  out.text = table.attr_copy("text");
  return out;
}

namespace {

// The map goes to the local `t`.
void emit_read_table_into(const Printer& p, const TableField& table, std::string_view t) {
  const std::string len = escape_xml_attr_for_doc(table.length_expr);
  const TemplateVars vars = {{"ident", table.ident},      {"t", t},
                             {"K", table.key_rust_ty},    {"V", table.value_rust_ty},
                             {"count", table.count_expr}, {"len", len}};
  p(R"(// <table name="$ident$" length="$len$" key="$K$" value="$V$">
let $t$_count: usize = $count$;
let mut $t$: std::collections::BTreeMap<$K$, $V$> = std::collections::BTreeMap::new();
for _ in 0..$t$_count {
)",
    vars);
  emit_read_value(p.in(), "__k", table.key_kind);
  emit_read_value(p.in(), "__v", table.value_kind);
  p(R"(    $t$.insert(__k, __v);
}
)",
    vars);
}

}  // namespace

void emit_members(const Printer& p, const TableField& table) {
  if (table.text) {
    emit_member_doc(p, *table.text);
  } else {
    p("/// Dictionary field; length from protocol.xml `length=\"$len$\"`.\n",
      {{"len", escape_xml_attr_for_doc(table.length_expr)}});
  }
  emit_member_decl(p, table.ident, member_ty(table));
}

void emit_ctor_entries(const Printer& p, const TableField& table) { emit_ctor_entry(p, table.ident); }
void emit_accessors(const Printer& /*p*/, const TableField& /*table*/) {}
void add_accessors(const TableField& /*table*/, std::vector<std::string_view>& /*out*/) {}

void emit_decoder(const Printer& p, const TableField& table, StepPlace place) {
  emit_read_table_into(flat_in_block(p, place), table, decoder_local(table.ident, place));
}

void add_members(const TableField& table, std::vector<MemberDecl>& out) {
  out.push_back({table.ident, member_ty(table), &table.text});
}
void add_switches(const TableField& /*table*/, std::vector<const SwitchBlock*>& /*out*/) {}
bool declares_fields(const TableField& /*table*/) { return true; }
bool may_read_nothing(const TableField& /*table*/, const TypeRegistry& /*registry*/) { return true; }

// The count, the map and the loop's key and value of `emit_read_table_into`.
void walk_locals(LocalsWalk& w, const TableField& table, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  using Role = LocalsWalk::Role;
  const std::string_view container = w.keep("table " + quoted(table.ident));
  const std::string_view local = w.keep(decoder_local(table.ident, place));
  w.read_locals(table.count_reads, LocalsWalk::plain_text(container));
  w.bind(local, "_count", Role::Internal, {"the count of ", container, false});
  const std::size_t id = w.bind(local, Role::Member, LocalsWalk::plain_text(container));
  w.push();
  w.loop_read("__k", table.key_kind, container);
  w.loop_read("__v", table.value_kind, container);
  w.read_exact(local, id, {"the loop of ", container, false});
  w.pop();
  out.push_back({table.ident, id});
}

// ---- Encoder ----

// The pairs go out in ascending key order, one per map entry; the map must
// hold as many entries as the length gives.
void emit_encoder(const Printer& p, const TableField& table, StepPlace place) {
  p("// <table name=\"$ident$\" length=\"$len$\" key=\"$K$\" value=\"$V$\">\n",
    {{"ident", table.ident},
     {"len", escape_xml_attr_for_doc(table.length_expr)},
     {"K", table.key_rust_ty},
     {"V", table.value_rust_ty}});
  emit_encoder_binding(p, table.ident, member_ty(table), false, place);
  const std::string local = decoder_local(table.ident, place);
  p(R"(let $t$_count: usize = $count$;
if let Err(e) = $check$ { return Err(e); }
for (__k, __v) in $t$.iter() {
)",
    {{"t", local},
     {"count", table.count_expr},
     {"check", encode_error_call("table_len", table.ident,
                                 local + ".len(), " + debug_str(table.length_expr) + ", " + local + "_count")}});
  emit_write_borrowed(p.in(), "__k", table.ident, table.key_kind);
  emit_write_borrowed(p.in(), "__v", table.ident, table.value_kind);
  p("}\n");
}

}  // namespace qm

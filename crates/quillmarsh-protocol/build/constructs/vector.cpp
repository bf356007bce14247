// Vectors: a run of elements whose count is computed from earlier sibling
// fields, read into a `Vec` through the simple-field readers.

#include "constructs/vector.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/field.hpp"
#include "expr/expr.hpp"
#include "schema/literals.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {

Result<VectorField> build_vector_field(const CodegenCtx& ctx, const xml::Node& vector, BodyContext& body,
                                       const SiblingLookup& lookup) {
  const auto name_attr = vector.attr("name");
  if (!name_attr) return fail("<vector> missing name");
  const std::string name(*name_attr);
  const auto type = vector.attr("type");
  if (!type) return fail("<vector " + name + "> missing type");
  const auto length = vector.attr("length");
  if (!length) return fail("<vector " + name + "> missing length= attribute (only foundation shape supported)");
  const auto skip = vector.attr("skip");
  const std::string prefix = "<vector " + name + ">: ";

  if (is_templated_marker(*type)) {
    return fail(prefix + "element type " + debug_str(*type) +
                " is a templated marker (parent uses templated=); deferred to J3.E");
  }
  auto elem = resolve_field(ctx.registry, *type);
  if (!elem) {
    return fail(prefix + "element type " + debug_str(*type) +
                " not in foundation tier (likely SKIPPED by its own deferred feature)");
  }
  LocalReads count_reads;
  Result<std::string> count = translate_vector_length_expr(*length, lookup, &count_reads);
  if (!count) return fail(prefix + "cannot translate length=" + debug_str(*length) + ": " + count.reason());
  std::string count_expr = std::move(count).value();

  if (skip) {
    const std::optional<i128> k = parse_int_literal(*skip);
    if (!k) return fail(prefix + "skip=" + debug_str(*skip) + " is not a parseable integer literal");
    // The skip is written as a `usize` literal: a negative or oversized value
    // would not compile, so it is refused here instead.
    if (*k < 0) return fail(prefix + "skip=" + debug_str(*skip) + " is negative");
    if (*k > static_cast<i128>(std::numeric_limits<std::uint64_t>::max())) {
      return fail(prefix + "skip=" + debug_str(*skip) + " is too large");
    }
    count_expr = "(" + count_expr + ").saturating_sub(" + to_decimal(*k) + "usize)";
  }
  if (kind_may_read_nothing(elem->kind, ctx.registry)) {
    return fail(prefix + "element type " + debug_str(*type) +
                " can decode from zero bytes, so a large count would loop without consuming input");
  }

  VectorField out;
  out.ident = number_identifier(body.occurrences, name);
  out.elem_rust_ty = std::move(elem->rust_ty);
  out.elem_kind = std::move(elem->kind);
  out.count_expr = std::move(count_expr);
  out.count_reads = std::move(count_reads);
  out.length_expr = std::string(*length);
  out.text = vector.attr_copy("text");
  return out;
}

void emit_read_vector_into(const Printer& p, const VectorField& vec, std::string_view local) {
  p(R"(// <vector name="$ident$" length="$len$" type="$T$">
let $ident$_count: usize = $count$;
)",
    {{"ident", local},
     {"T", vec.elem_rust_ty},
     {"count", vec.count_expr},
     {"len", escape_xml_attr_for_doc(vec.length_expr)}});
  emit_read_elements(p, local, vec.elem_rust_ty, vec.elem_kind);
}

namespace {

std::string member_ty(const VectorField& vec) { return "Vec<" + vec.elem_rust_ty + ">"; }

}  // namespace

void emit_members(const Printer& p, const VectorField& vec) {
  if (vec.text) {
    emit_member_doc(p, *vec.text);
  } else {
    p("/// Vector field; length from protocol.xml `length=\"$len$\"`.\n",
      {{"len", escape_xml_attr_for_doc(vec.length_expr)}});
  }
  emit_member_decl(p, vec.ident, member_ty(vec));
}

void emit_ctor_entries(const Printer& p, const VectorField& vec) { emit_ctor_entry(p, vec.ident); }
void emit_accessors(const Printer& /*p*/, const VectorField& /*vec*/) {}
void add_accessors(const VectorField& /*vec*/, std::vector<std::string_view>& /*out*/) {}

void emit_decoder(const Printer& p, const VectorField& vec, StepPlace place) {
  emit_read_vector_into(flat_in_block(p, place), vec, decoder_local(vec.ident, place));
}

void add_members(const VectorField& vec, std::vector<MemberDecl>& out) {
  out.push_back({vec.ident, member_ty(vec), &vec.text});
}
void add_switches(const VectorField& /*vec*/, std::vector<const SwitchBlock*>& /*out*/) {}
bool declares_fields(const VectorField& /*vec*/) { return true; }
// A vector of no elements reads nothing; its element type never can.
bool may_read_nothing(const VectorField& /*vec*/, const TypeRegistry& /*registry*/) { return true; }

// The count, the vector and the loop's element of `emit_read_vector_into`.
void walk_locals(LocalsWalk& w, const VectorField& vec, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  using Role = LocalsWalk::Role;
  const std::string local = decoder_local(vec.ident, place);
  const std::string_view container = w.keep("vector " + quoted(vec.ident));
  w.read_locals(vec.count_reads, LocalsWalk::plain_text(container));
  w.bind(local, "_count", Role::Internal, {"the count of ", container, false});
  out.push_back({vec.ident, walk_read_elements(w, local, vec.elem_kind, container)});
}

// ---- Encoder ----

void emit_encoder(const Printer& p, const VectorField& vec, StepPlace place) {
  const std::string local = decoder_local(vec.ident, place);
  p("// <vector name=\"$ident$\" length=\"$len$\" type=\"$T$\">\n",
    {{"ident", local}, {"len", escape_xml_attr_for_doc(vec.length_expr)}, {"T", vec.elem_rust_ty}});
  emit_encoder_binding(p, vec.ident, member_ty(vec), false, place);
  p(R"(let $v$_count: usize = $count$;
if let Err(e) = $check$ { return Err(e); }
)",
    {{"v", local},
     {"count", vec.count_expr},
     {"check", encode_error_call("vector_len", vec.ident,
                                 local + ".len(), " + debug_str(vec.length_expr) + ", " + local + "_count")}});
  emit_write_elements(p, local, vec.ident, vec.elem_kind);
}

}  // namespace qm

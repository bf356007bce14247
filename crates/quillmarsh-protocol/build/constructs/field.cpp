// Simple fields: the `<field>` builder with its `<subfield>` accessors, the
// readers that decode one value of a wire kind into a local, and the `<align>`
// padding block.

#include "constructs/field.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/expr.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

// The integer type a subfield expression computes over, for the kinds that can
// carry subfields; none for every other kind.
std::optional<std::string_view> subfield_parent_ty(const FieldKind& kind) {
  if (!wire_kind(kind.tag).integer) return std::nullopt;
  return numeric_repr_for_field_kind(kind);
}

// Accessor result types are compared as Rust type text, so a packed value that
// declares as "u32" is accepted while "WireBool", floats, enums and structs are not.
bool is_integer_rust_ty(std::string_view ty) {
  const ScalarType* scalar = scalar_type(ty);
  return scalar != nullptr && !scalar->is_float;
}

// `Value` of the two float quality updates travels as a double on the wire
// although the description declares it float.
bool reads_value_as_f64(std::string_view owner, std::string_view name) {
  return name == "Value" && (owner == "S2C_Qualities_PrivateUpdateFloat" || owner == "S2C_Qualities_UpdateFloat");
}

// The extended tier's reading of a subfield value over other fields: the
// parent and the numeric fields of the body declared before it, read from
// `self` by the accessor with C#'s arithmetic. Only for a field of the body
// itself (`top_level`), whose accessor is written.
Result<std::string> translate_cross_field_value(std::string_view value, std::string_view field_name,
                                                std::string_view field_ident, std::string_view parent_ty,
                                                std::string_view result_ty, const SiblingLookup& top_level) {
  const NameResolver resolve = [&](std::string_view name) -> Result<ResolvedName> {
    if (name == field_name) return ResolvedName{"self." + std::string(field_ident), std::string(parent_ty), {}, {}};
    const auto it = top_level.numeric_fields.find(std::string(name));
    if (it == top_level.numeric_fields.end() || it->second.branch != 0) {
      return fail("name " + debug_str(name) + " is not a numeric field of the body declared before it");
    }
    return ResolvedName{"self." + it->second.ident, it->second.ty, {}, {}};
  };
  return translate_extended_value(value, resolve, result_ty);
}

Result<SubfieldAccessor> build_subfield(const CodegenCtx& ctx, const xml::Node& sub, std::string_view field_name,
                                        std::string_view field_ident, std::string_view parent_ty,
                                        std::string_view owner, const SiblingLookup* top_level) {
  const auto name = sub.attr("name");
  if (!name) return fail("<subfield> in " + std::string(owner) + "." + std::string(field_name) + " missing name");
  const std::string sub_name(*name);
  const auto type = sub.attr("type");
  if (!type) return fail("<subfield " + sub_name + "> missing type");
  const auto value = sub.attr("value");
  if (!value) return fail("<subfield " + sub_name + "> missing value expression");
  const auto resolved = resolve_field(ctx.registry, *type);
  if (!resolved) return fail("subfield " + sub_name + ": type " + debug_str(*type) + " not in foundation tier");
  if (!is_integer_rust_ty(resolved->rust_ty)) {
    return fail("subfield " + sub_name + ": result type " + debug_str(resolved->rust_ty) + " is non-numeric; deferred");
  }
  Result<std::string> expr = translate_subfield_expr(*value, field_name, field_ident, parent_ty, resolved->rust_ty);
  if (!expr && ctx.extended && top_level != nullptr) {
    // When the extended reading fails too, the reason stays the default tier's.
    Result<std::string> cross =
        translate_cross_field_value(*value, field_name, field_ident, parent_ty, resolved->rust_ty, *top_level);
    if (cross) expr = std::move(cross);
  }
  if (!expr) {
    return fail("subfield " + sub_name + ": cannot translate expression " + debug_str(*value) + ": " + expr.reason() +
                "; deferred");
  }
  return SubfieldAccessor{sanitize_rust_keyword(to_snake_case(sub_name)),
                          sub_name,
                          resolved->rust_ty,
                          std::move(expr).value(),
                          std::string(*value),
                          sub.attr_copy("text")};
}

}  // namespace

std::optional<std::size_t> align_byte_width_from_node(const xml::Node& align) {
  // The C# primitive names, by the width of the Rust type each stands for.
  const auto type = align.attr("type");
  if (!type) return std::nullopt;
  const Result<std::string_view> rust_ty = csharp_to_rust_primitive(*type);
  if (!rust_ty) return std::nullopt;
  if (*rust_ty == "bool") return 1;
  return static_cast<std::size_t>(scalar_type(*rust_ty)->bits) / 8;
}

Result<SimpleField> build_simple_field(const CodegenCtx& ctx, const xml::Node& field, BodyContext& body,
                                       const SiblingLookup* lookup) {
  const auto name_attr = field.attr("name");
  if (!name_attr) return fail("<field> missing name");
  const std::string name(*name_attr);
  const auto type = field.attr("type");
  if (!type) return fail("<field " + name + "> missing type");

  // Numbered before the type is resolved: a field that fails below still
  // takes its place in the occurrence count.
  SimpleField out;
  out.ident = number_identifier(body.occurrences, name);
  out.xml_name = name;

  auto resolved = resolve_field(ctx.registry, *type);
  if (!resolved) return fail("field " + name + ": type " + debug_str(*type) + " not in foundation tier");
  out.rust_ty = std::move(resolved->rust_ty);
  out.kind = std::move(resolved->kind);
  if (out.kind.tag == FieldKind::F32 && reads_value_as_f64(body.owner, name)) {
    out.rust_ty = "f64";
    out.kind = FieldKind(FieldKind::F64);
  }

  const auto parent_ty = subfield_parent_ty(out.kind);
  for (const xml::Node* child : field.children()) {
    if (child->tag() != "subfield") {
      return fail("field " + name + ": nested element <" + std::string(child->tag()) +
                  "> (only <subfield> supported); deferred");
    }
    if (!parent_ty) {
      return fail("field " + name + ": <subfield> requires numeric parent, parent " + debug_str(*type) +
                  " is non-numeric; deferred");
    }
    // Only a field of the body itself has accessors, over the members beside it.
    const bool top_level = lookup != nullptr && lookup->open_branch == 0 && body.depth == 0;
    Result<SubfieldAccessor> sub =
        build_subfield(ctx, *child, name, out.ident, *parent_ty, body.owner, top_level ? lookup : nullptr);
    if (!sub) return sub.fail_with_prefix();
    out.subfields.push_back(std::move(sub).value());
  }
  out.text = field.attr_copy("text");
  return out;
}

void register_field(SiblingLookup& lookup, const SimpleField& field) {
  lookup.add_field(field.xml_name, field.ident, field.kind);
  for (const SubfieldAccessor& sub : field.subfields) {
    lookup.add_subfield(sub.xml_name, field.xml_name, field.ident, field.kind, sub.value_expr);
  }
}

void emit_read_value(const Printer& p, std::string_view name, const FieldKind& kind) {
  if (kind.tag == FieldKind::Enum) {
    p(wire_read_template(kind.tag), {{"n", name}, {"T", kind.name}, {"R", enum_repr_rust_ty(kind.repr)}});
  } else if (kind.tag == FieldKind::Struct) {
    p(wire_read_template(kind.tag), {{"n", name}, {"T", kind.name}});
  } else {
    p(wire_read_template(kind.tag), {{"n", name}});
  }
}

void emit_read_elements(const Printer& p, std::string_view local, std::string_view elem_ty,
                        const FieldKind& elem_kind) {
  // The capacity reserved up front is clamped: the count comes off the wire.
  const TemplateVars vars = {{"ident", local}, {"T", elem_ty}};
  p(R"(let mut $ident$: Vec<$T$> = Vec::with_capacity($ident$_count.min(1024));
for _ in 0..$ident$_count {
    let __elem: $T$ = {
)",
    vars);
  emit_read_value(p.in(2), "__elem", elem_kind);
  p(R"(        __elem
    };
    $ident$.push(__elem);
}
)",
    vars);
}

std::size_t walk_read_elements(LocalsWalk& w, std::string_view local, const FieldKind& elem_kind,
                               std::string_view container) {
  using Role = LocalsWalk::Role;
  const std::size_t id = w.bind(local, Role::Member, LocalsWalk::plain_text(container));
  const LocalsWalk::Text loop_local{"a loop local of ", container, false};
  w.push();
  w.push();  // the block that reads one element
  w.loop_read("__elem", elem_kind, container);
  w.pop();
  w.bind("__elem", Role::Internal, loop_local);
  w.read_exact(local, id, {"the loop of ", container, false});
  w.pop();
  return id;
}

void emit_write_elements(const Printer& p, std::string_view local, std::string_view member,
                         const FieldKind& elem_kind) {
  // A slice pattern walks the elements without an iterator type per
  // element type for rustc to instantiate.
  p(R"(let mut __items: &[_] = $v$;
while let [__elem, __rest @ ..] = __items {
    __items = __rest;
)",
    {{"v", local}});
  emit_write_borrowed(p.in(), "__elem", member, elem_kind);
  p("}\n");
}

bool kind_may_read_nothing(const FieldKind& kind, const TypeRegistry& registry) {
  // Every reader but a struct's consumes at least one byte.
  if (kind.tag != FieldKind::Struct) return false;
  const TypeKind* found = registry.find(kind.name);
  return found != nullptr && found->may_read_nothing;
}

void emit_members(const Printer& p, const SimpleField& field) {
  if (field.text) emit_member_doc(p, *field.text);
  emit_member_decl(p, field.ident, field.rust_ty);
}

void emit_ctor_entries(const Printer& p, const SimpleField& field) { emit_ctor_entry(p, field.ident); }

void emit_accessors(const Printer& p, const SimpleField& field) {
  for (const SubfieldAccessor& sub : field.subfields) {
    if (sub.text) {
      p("/// Derived from `$parent$`. $doc$\n", {{"parent", field.ident}, {"doc", escape_doc(*sub.text)}});
    } else {
      p("/// Derived from `$parent$` via protocol.xml `<subfield value=\"$value$\">`.\n",
        {{"parent", field.ident}, {"value", escape_xml_attr_for_doc(sub.value_expr)}});
    }
    p(R"(#[inline]
pub fn $ident$(&self) -> $ty$ { $expr$ }
)",
      {{"ident", sub.ident}, {"ty", sub.rust_ty}, {"expr", sub.rust_expr}});
  }
}

void add_accessors(const SimpleField& field, std::vector<std::string_view>& out) {
  for (const SubfieldAccessor& sub : field.subfields) out.push_back(sub.ident);
}

void emit_decoder(const Printer& p, const SimpleField& field, StepPlace place) {
  emit_read_value(flat_in_block(p, place), decoder_local(field.ident, place), field.kind);
}

void add_members(const SimpleField& field, std::vector<MemberDecl>& out) {
  out.push_back({field.ident, field.rust_ty, &field.text, false, true});
}

void add_switches(const SimpleField& /*field*/, std::vector<const SwitchBlock*>& /*out*/) {}

bool declares_fields(const SimpleField& /*field*/) { return true; }

bool may_read_nothing(const SimpleField& field, const TypeRegistry& registry) {
  return kind_may_read_nothing(field.kind, registry);
}

// The local of `emit_read_value`: in an if branch, later steps read the
// field's value from its `_v` local.
void walk_locals(LocalsWalk& w, const SimpleField& field, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  const auto what = place.kind == StepPlace::InBlock
                        ? LocalsWalk::quoted_text("the decoded value of field ", field.ident)
                        : LocalsWalk::quoted_text("field ", field.ident);
  out.push_back({field.ident, w.field_read(decoder_local(field.ident, place), field.kind, LocalsWalk::Role::Value, what,
                                           field.ident)});
}

// ---- Alignment ----

namespace {

void emit_align_decoder(const Printer& p, std::size_t width) {
  const std::string n = std::to_string(width);
  p(R"(// <align type="$N$"> — advance cursor to next multiple of $N$.
{
    let pad = ($N$ - (*offset % $N$)) % $N$;
    if *offset + pad > data.len() { return Err("truncated align($N$) pad"); }
    *offset += pad;
}
)",
    {{"N", n}});
}

}  // namespace

// Padding declares nothing and may skip nothing.
void emit_members(const Printer& /*p*/, const AlignStep& /*align*/) {}
void emit_ctor_entries(const Printer& /*p*/, const AlignStep& /*align*/) {}
void emit_accessors(const Printer& /*p*/, const AlignStep& /*align*/) {}
void add_accessors(const AlignStep& /*align*/, std::vector<std::string_view>& /*out*/) {}
void emit_decoder(const Printer& p, const AlignStep& align, StepPlace place) {
  emit_align_decoder(flat_in_block(p, place), align.width);
}
void add_members(const AlignStep& /*align*/, std::vector<MemberDecl>& /*out*/) {}
void add_switches(const AlignStep& /*align*/, std::vector<const SwitchBlock*>& /*out*/) {}
bool declares_fields(const AlignStep& /*align*/) { return false; }
bool may_read_nothing(const AlignStep& /*align*/, const TypeRegistry& /*registry*/) { return true; }
// `pad` lives only inside the pad's own block.
void walk_locals(LocalsWalk& w, const AlignStep& /*align*/, StepPlace /*place*/,
                 std::vector<LocalsWalk::Member>& /*out*/) {
  w.push();
  w.bind("pad", LocalsWalk::Role::Internal, LocalsWalk::plain_text("the padding"));
  w.pop();
}

// ---- Encoders ----

void emit_encoder(const Printer& p, const SimpleField& field, StepPlace place) {
  const std::string local = decoder_local(field.ident, place);
  emit_encoder_binding(p, field.ident, field.rust_ty, kind_is_copy(field.kind), place);
  if (field.kind.tag == FieldKind::Enum) {
    // Expressions read an enum field through its raw value, as in the decoder.
    p("let $n$_bits: $R$ = $n$ as $R$;\n", {{"n", local}, {"R", enum_repr_rust_ty(field.kind.repr)}});
  }
  emit_write_value(p, local, field.ident, field.kind);
}

// Zero bytes up to the next multiple of the width, counted from the start of
// the message as the decoder counts from the start of its data.
void emit_encoder(const Printer& p, const AlignStep& align, StepPlace /*place*/) {
  p(R"(// <align type="$N$">
__out.resize(__out.len() + ($N$ - (__out.len() - __base) % $N$) % $N$, 0);
)",
    {{"N", std::to_string(align.width)}});
}

}  // namespace qm

// Packable lists and hash tables: generic containers whose count travels in a
// small wire header. Each use site is inlined as a header read and a loop
// into a plain `Vec`.

#include "constructs/packable.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "constructs/field.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

Result<PackableField> build_list(const CodegenCtx& ctx, const xml::Node& field, const std::string& name) {
  const std::string head = "<field " + name + " type=\"PackableList\"";
  const auto generic = field.attr("genericType");
  if (!generic) return fail(head + "> missing genericType= attribute");
  if (*generic == "T") {
    return fail(head +
                " genericType=\"T\">: templated marker not allowed in a use-site (nested templated types are not "
                "supported)");
  }
  auto elem = resolve_field(ctx.registry, *generic);
  if (!elem) return fail(head + " genericType=" + debug_str(*generic) + ">: element type not in foundation tier");
  if (kind_may_read_nothing(elem->kind, ctx.registry)) {
    return fail(head + " genericType=" + debug_str(*generic) +
                ">: element type can decode from zero bytes, so a large count would loop without consuming input");
  }
  PackableField out;
  out.key_rust_ty = "()";
  out.key_kind = FieldKind(FieldKind::U8);
  out.value_rust_ty = std::move(elem->rust_ty);
  out.value_kind = std::move(elem->kind);
  return out;
}

Result<PackableField> build_hash_table(const CodegenCtx& ctx, const xml::Node& field, const std::string& name,
                                       PackableKind kind) {
  const std::string head = "<field " + name + " type=\"" + std::string(kind_name(kind)) + "\"";
  const auto key = field.attr("genericKey");
  if (!key) return fail(head + "> missing genericKey= attribute");
  const auto value = field.attr("genericValue");
  if (!value) return fail(head + "> missing genericValue= attribute");
  if (is_templated_marker(*key) || is_templated_marker(*value)) {
    return fail(head + " genericKey=" + debug_str(*key) + " genericValue=" + debug_str(*value) +
                ">: templated marker not allowed in a use-site");
  }
  auto key_ty = resolve_field(ctx.registry, *key);
  if (!key_ty) return fail(head + " genericKey=" + debug_str(*key) + ">: key type not in foundation tier");
  auto value_ty = resolve_field(ctx.registry, *value);
  if (!value_ty) return fail(head + " genericValue=" + debug_str(*value) + ">: value type not in foundation tier");
  if (kind_may_read_nothing(key_ty->kind, ctx.registry) && kind_may_read_nothing(value_ty->kind, ctx.registry)) {
    return fail(head + " genericKey=" + debug_str(*key) + " genericValue=" + debug_str(*value) +
                ">: key and value types can both decode from zero bytes, so a large count would loop without "
                "consuming input");
  }
  PackableField out;
  out.key_rust_ty = std::move(key_ty->rust_ty);
  out.key_kind = std::move(key_ty->kind);
  out.value_rust_ty = std::move(value_ty->rust_ty);
  out.value_kind = std::move(value_ty->kind);
  return out;
}

}  // namespace

std::optional<PackableKind> packable_kind_for_field(const xml::Node& field) {
  const auto type = field.attr("type");
  if (!type) return std::nullopt;
  if (*type == "PackableList") return PackableKind::PackableList;
  if (*type == "PackableHashTable") return PackableKind::PackableHashTable;
  if (*type == "PHashTable") return PackableKind::PHashTable;
  return std::nullopt;
}

std::string_view kind_name(PackableKind kind) {
  switch (kind) {
    case PackableKind::PackableList:
      return "PackableList";
    case PackableKind::PackableHashTable:
      return "PackableHashTable";
    case PackableKind::PHashTable:
      return "PHashTable";
  }
  return "PackableList";
}

Result<PackableField> build_packable_field(const CodegenCtx& ctx, const xml::Node& field, PackableKind kind,
                                           BodyContext& body) {
  const auto name_attr = field.attr("name");
  if (!name_attr)
    return fail("<field type=" + debug_str(field.attr("type").value_or("?")) + "> missing name= attribute");
  const std::string name(*name_attr);

  Result<PackableField> built =
      kind == PackableKind::PackableList ? build_list(ctx, field, name) : build_hash_table(ctx, field, name, kind);
  if (!built) return built;
  // Numbered only once every check has passed.
  built->ident = number_identifier(body.occurrences, name);
  built->text = field.attr_copy("text");
  built->kind = kind;
  return built;
}

std::string packable_rust_ty(const PackableField& packable) {
  if (packable.kind == PackableKind::PackableList) return "Vec<" + packable.value_rust_ty + ">";
  return "Vec<(" + packable.key_rust_ty + ", " + packable.value_rust_ty + ")>";
}

void emit_read_packable_into(const Printer& p, const PackableField& packable, std::string_view local) {
  // `_r#type_maxsize` is not an identifier: the leading underscore goes before
  // the identifier without its raw prefix.
  const std::string_view stem = without_raw_prefix(local);
  const TemplateVars vars = {
      {"ident", local}, {"stem", stem}, {"K", packable.key_rust_ty}, {"V", packable.value_rust_ty}};
  switch (packable.kind) {
    case PackableKind::PackableList:
      p(R"(// inlined PackableList<$V$>
if *offset + 4 > data.len() { return Err("truncated PackableList count for $ident$"); }
let $ident$_count: usize = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]) as usize; *offset += 4;
)",
        vars);
      emit_read_elements(p, local, packable.value_rust_ty, packable.value_kind);
      return;
    case PackableKind::PackableHashTable:
      p(R"(// inlined PackableHashTable<$K$, $V$>
if *offset + 4 > data.len() { return Err("truncated PackableHashTable count for $ident$"); }
let $ident$_count: usize = u16::from_le_bytes([data[*offset], data[*offset+1]]) as usize; *offset += 2;
let _$stem$_maxsize: u16 = u16::from_le_bytes([data[*offset], data[*offset+1]]); *offset += 2;
)",
        vars);
      break;
    case PackableKind::PHashTable:
      p(R"(// inlined PHashTable<$K$, $V$>
if *offset + 4 > data.len() { return Err("truncated PHashTable packed-size for $ident$"); }
let $ident$_packed: u32 = u32::from_le_bytes([data[*offset], data[*offset+1], data[*offset+2], data[*offset+3]]); *offset += 4;
let $ident$_count: usize = ($ident$_packed & 0xFFFFFF) as usize;
)",
        vars);
      break;
  }
  // Both hash-table kinds read their pairs the same way, in wire order.
  p(R"(let mut $ident$: Vec<($K$, $V$)> = Vec::with_capacity($ident$_count.min(1024));
for _ in 0..$ident$_count {
)",
    vars);
  emit_read_value(p.in(), "__k", packable.key_kind);
  emit_read_value(p.in(), "__v", packable.value_kind);
  p(R"(    $ident$.push((__k, __v));
}
)",
    vars);
}

namespace {

// How a packable shows in its member documentation: the container with its
// type arguments, a list without them.
std::string packable_shown(const PackableField& packable) {
  if (packable.kind == PackableKind::PackableList) return "PackableList";
  return std::string(kind_name(packable.kind)) + "<" + packable.key_rust_ty + ", " + packable.value_rust_ty + ">";
}

}  // namespace

void emit_members(const Printer& p, const PackableField& packable) {
  const std::string shown = packable_shown(packable);
  if (packable.text) {
    p("/// Inlined templated `$shown$`. $doc$\n", {{"shown", shown}, {"doc", escape_doc(*packable.text)}});
  } else {
    p("/// Inlined templated `$shown$` (J3.E use-site).\n", {{"shown", shown}});
  }
  emit_member_decl(p, packable.ident, packable_rust_ty(packable));
}

void emit_ctor_entries(const Printer& p, const PackableField& packable) { emit_ctor_entry(p, packable.ident); }
void emit_accessors(const Printer& /*p*/, const PackableField& /*packable*/) {}
void add_accessors(const PackableField& /*packable*/, std::vector<std::string_view>& /*out*/) {}

// The loop of a packable is its own block, even inside another block.
void emit_decoder(const Printer& p, const PackableField& packable, StepPlace place) {
  emit_read_packable_into(p, packable, decoder_local(packable.ident, place));
}

void add_members(const PackableField& packable, std::vector<MemberDecl>& out) {
  out.push_back({packable.ident, packable_rust_ty(packable), &packable.text});
}
void add_switches(const PackableField& /*packable*/, std::vector<const SwitchBlock*>& /*out*/) {}
bool declares_fields(const PackableField& /*packable*/) { return true; }
// A packable always reads its header.
bool may_read_nothing(const PackableField& /*packable*/, const TypeRegistry& /*registry*/) { return false; }

// The header locals, the container and the loop's locals of
// `emit_read_packable_into`.
std::size_t walk_packable_locals(LocalsWalk& w, const PackableField& packable, std::string_view local,
                                 std::string_view shown) {
  using Role = LocalsWalk::Role;
  const std::string_view container = w.keep("packable " + quoted(shown));
  const std::string stem(without_raw_prefix(local));
  switch (packable.kind) {
    case PackableKind::PackableList:
      w.bind(stem, "_count", Role::Internal, {"the count of ", container, false});
      break;
    case PackableKind::PackableHashTable:
      w.bind(stem, "_count", Role::Internal, {"the count of ", container, false});
      w.bind("_" + stem + "_maxsize", Role::Internal, {"the maximum size of ", container, false});
      break;
    case PackableKind::PHashTable:
      w.bind(stem, "_packed", Role::Internal, {"the packed size of ", container, false});
      w.bind(stem, "_count", Role::Internal, {"the count of ", container, false});
      break;
  }
  if (packable.kind == PackableKind::PackableList) return walk_read_elements(w, local, packable.value_kind, container);
  const std::size_t id = w.bind(local, Role::Member, LocalsWalk::plain_text(container));
  w.push();
  w.loop_read("__k", packable.key_kind, container);
  w.loop_read("__v", packable.value_kind, container);
  w.read_exact(local, id, {"the loop of ", container, false});
  w.pop();
  return id;
}

void walk_locals(LocalsWalk& w, const PackableField& packable, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  out.push_back(
      {packable.ident, walk_packable_locals(w, packable, decoder_local(packable.ident, place), packable.ident)});
}

// ---- Encoder ----

namespace {

// Writes the container held in `local` (a reference). The header carries the
// item count in its canonical form: a hash table's maximum size, and the high
// byte of a P-hash table's packed size, which readers ignore, are written as
// zero. The crate's header writers refuse a count the header cannot carry.
void emit_write_packable(const Printer& p, const PackableField& packable, std::string_view local) {
  const std::string member = debug_str(without_raw_prefix(packable.ident));
  const TemplateVars vars = {{"v", local}, {"m", member}, {"K", packable.key_rust_ty}, {"V", packable.value_rust_ty}};
  switch (packable.kind) {
    case PackableKind::PackableList:
      p(R"(// inlined PackableList<$V$>
if let Err(e) = crate::enc::list_header(__out, __TYPE, $m$, $v$.len()) { return Err(e); }
)",
        vars);
      emit_write_elements(p, local, packable.ident, packable.value_kind);
      return;
    case PackableKind::PackableHashTable:
      p(R"(// inlined PackableHashTable<$K$, $V$>
if let Err(e) = crate::enc::hash_table_header(__out, __TYPE, $m$, $v$.len()) { return Err(e); }
)",
        vars);
      break;
    case PackableKind::PHashTable:
      p(R"(// inlined PHashTable<$K$, $V$>
if let Err(e) = crate::enc::p_hash_table_header(__out, __TYPE, $m$, $v$.len()) { return Err(e); }
)",
        vars);
      break;
  }
  // The pairs in wire order, walked as the elements of a list are.
  p(R"(let mut __items: &[_] = $v$;
while let [(__k, __v), __rest @ ..] = __items {
    __items = __rest;
)",
    vars);
  emit_write_borrowed(p.in(), "__k", packable.ident, packable.key_kind);
  emit_write_borrowed(p.in(), "__v", packable.ident, packable.value_kind);
  p("}\n");
}

}  // namespace

void emit_encoder(const Printer& p, const PackableField& packable, StepPlace place) {
  const std::string local = decoder_local(packable.ident, place);
  emit_encoder_binding(p, packable.ident, packable_rust_ty(packable), false, place);
  emit_write_packable(p, packable, local);
}

}  // namespace qm

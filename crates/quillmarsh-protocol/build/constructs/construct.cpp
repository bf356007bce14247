#include "constructs/construct.hpp"

#include <string>
#include <string_view>

#include "text/text.hpp"

namespace qm {

void emit_member_doc(const Printer& p, std::string_view text) { p("/// $doc$\n", {{"doc", escape_doc(text)}}); }

void emit_member_decl(const Printer& p, std::string_view ident, std::string_view ty) {
  p("pub $ident$: $ty$,\n", {{"ident", ident}, {"ty", ty}});
}

void emit_ctor_entry(const Printer& p, std::string_view ident) { p("$ident$,\n", {{"ident", ident}}); }

MemberDecl as_block_option(MemberDecl member) {
  if (!member.optional) {
    member.ty = "Option<" + member.ty + ">";
    member.optional = true;
  }
  return member;
}

bool kind_is_copy(const FieldKind& kind) { return wire_kind(kind.tag).copy; }

std::string encode_error_call(std::string_view helper, std::string_view member, std::string_view args) {
  std::string out = "crate::enc::";
  out += helper;
  out += "(__TYPE, ";
  out += debug_str(without_raw_prefix(member));
  if (!args.empty()) {
    out += ", ";
    out += args;
  }
  out += ")";
  return out;
}

void emit_write_value(const Printer& p, std::string_view name, std::string_view member, const FieldKind& kind) {
  const std::string m = debug_str(without_raw_prefix(member));
  p(wire_write_template(kind.tag), {{"n", name}, {"m", m}, {"T", wire_rust_ty(kind)}});
}

void emit_write_borrowed(const Printer& p, std::string_view name, std::string_view member, const FieldKind& kind) {
  if (kind_is_copy(kind)) p("let $n$ = *$n$;\n", {{"n", name}});
  emit_write_value(p, name, member, kind);
}

std::string encoder_case_binding(std::string_view ident) { return "__case_" + std::string(without_raw_prefix(ident)); }

std::string encoder_some_binding(std::string_view ident) { return "__some_" + std::string(without_raw_prefix(ident)); }

void emit_require_present(const Printer& p, std::string_view ident, std::string_view local, std::string_view error) {
  p("let $b$ = match $n$ { Some(v) => v, None => return Err($err$) };\n",
    {{"b", encoder_some_binding(ident)}, {"n", local}, {"err", error}});
}

void emit_require_absent(const Printer& p, std::string_view local, std::string_view error) {
  p(R"(if $n$.is_some() {
    return Err($err$);
}
)",
    {{"n", local}, {"err", error}});
}

bool is_encoder_local(std::string_view name) {
  name = without_raw_prefix(name);
  return name == "__out" || name == "__base" || name == "__items" || name == "__rest" || name.starts_with("__case_") ||
         name.starts_with("__some_");
}

void emit_encoder_binding(const Printer& p, std::string_view ident, std::string_view ty, bool copy, StepPlace place) {
  const std::string local = decoder_local(std::string(ident), place);
  std::string from;
  switch (place.kind) {
    case StepPlace::InBody:
      p(copy ? "let $n$: $ty$ = self.$n$;\n" : "let $n$ = &self.$n$;\n", {{"n", local}, {"ty", ty}});
      return;
    case StepPlace::InCase:
      from = encoder_case_binding(ident);
      break;
    case StepPlace::InBlock:
      from = encoder_some_binding(ident);
      break;
  }
  p(copy ? "let $n$: $ty$ = *$b$;\n" : "let $n$ = $b$;\n", {{"n", local}, {"ty", ty}, {"b", from}});
}

void emit_encoder_option_binding(const Printer& p, std::string_view ident, StepPlace place) {
  if (place.kind != StepPlace::InBlock) {
    emit_encoder_binding(p, ident, "", false, place);
    return;
  }
  p("let $n$ = $outer$;\n",
    {{"n", decoder_local(ident, place)}, {"outer", SiblingLookup::local_at(ident, place.depth - 1)}});
}

// ---- Serde impls ----

void emit_serialize_members(const Printer& p, std::string_view state, std::string_view access,
                            const std::vector<MemberDecl>& members) {
  for (std::size_t i = 0; i < members.size(); ++i) {
    const std::string value = access.empty() ? "__f" + std::to_string(i) : std::string(access) + members[i].name;
    p("$state$.serialize_field($key$, $value$)?;\n",
      {{"state", state}, {"key", debug_str(without_raw_prefix(members[i].name))}, {"value", value}});
  }
}

std::string serde_member_names(const std::vector<MemberDecl>& members) {
  std::string out = "&[";
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i != 0) out += ", ";
    out += debug_str(without_raw_prefix(members[i].name));
  }
  out += "]";
  return out;
}

void emit_members_visitor(const Printer& p, std::string_view visitor, std::string_view members_const,
                          std::string_view type_label, std::string_view value_ty, std::string_view constructor,
                          const std::vector<MemberDecl>& members) {
  const std::string type = debug_str(type_label);
  const TemplateVars vars = {{"visitor", visitor}, {"members", members_const}, {"type", type}, {"value_ty", value_ty}};
  p(R"(struct $visitor$;
impl<'de> serde::de::Visitor<'de> for $visitor$ {
    type Value = $value_ty$;
    fn expecting(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
        crate::serde_support::expecting_map(f, $type$)
    }
    fn visit_map<A: serde::de::MapAccess<'de>>(self, mut map: A) -> Result<Self::Value, A::Error> {
)",
    vars);
  const Printer body = p.in(2);
  // The members' slots are one tuple of options, so that every early return
  // drops one local: rustc's work on a visitor stays linear in its members.
  std::string slots;
  for (std::size_t i = 0; i < members.size(); ++i) slots += i == 0 ? "None" : ", None";
  if (members.size() == 1) slots += ",";
  if (!members.empty()) body("let mut __m = ($slots$);\n", {{"slots", slots}});
  // Each key names one member: its index picks the slot its value goes to.
  const std::string key = "map.next_key_seed(crate::serde_support::Member { type_name: " + type +
                          ", members: " + std::string(members_const) + " })?";
  const auto slot = [&](const Printer& at, std::string_view label, std::size_t i, std::string_view end) {
    at("$label$crate::serde_support::member(&mut map, &mut __m.$i$, $type$, $members$, $i$)$end$\n",
       {{"label", label}, {"i", std::to_string(i)}, {"type", type}, {"members", members_const}, {"end", end}});
  };
  if (members.size() <= 1) {
    body("while $key$.is_some() {\n", {{"key", key}});
    if (members.size() == 1) slot(body.in(), "", 0, "?;");
    body("}\n");
  } else {
    body("while let Some(__i) = $key$ {\n", {{"key", key}});
    body.in()("let __read = match __i {\n");
    for (std::size_t i = 0; i < members.size(); ++i) {
      slot(body.in(2), i + 1 == members.size() ? std::string("_ => ") : std::to_string(i) + " => ", i, ",");
    }
    body.in()("};\n");
    body.in()("__read?;\n");
    body("}\n");
  }
  if (members.empty()) {
    body("Ok($constructor$ {})\n", {{"constructor", constructor}});
  } else {
    // Every member given: the value. Otherwise the first one missing is the error.
    std::string given;
    std::string names;
    std::string absent;
    for (std::size_t i = 0; i < members.size(); ++i) {
      const std::string n = std::to_string(i);
      given += (i == 0 ? "Some(__v" : ", Some(__v") + n + ")";
      names += (i == 0 ? "__" : ", __") + n;
      absent += (i == 0 ? "__" : ", __") + n + ".is_none()";
    }
    if (members.size() == 1) {
      given += ",";
      names += ",";
    }
    body("match __m {\n");
    body.in()("($given$) => Ok($constructor$ {\n", {{"given", given}, {"constructor", constructor}});
    for (std::size_t i = 0; i < members.size(); ++i) {
      body.in(2)("$name$: __v$i$,\n", {{"name", members[i].name}, {"i", std::to_string(i)}});
    }
    body.in()("}),\n");
    body.in()("($names$) => Err(crate::serde_support::absent(&[$absent$], $type$, $members$)),\n",
              {{"names", names}, {"absent", absent}, {"type", type}, {"members", members_const}});
    body("}\n");
  }
  p(R"(    }
}
)");
}

}  // namespace qm

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

void emit_require_present(const Printer& p, std::string_view ident, std::string_view error) {
  p("let $b$ = match $n$ { Some(v) => v, None => return Err($err$) };\n",
    {{"b", encoder_some_binding(ident)}, {"n", ident}, {"err", error}});
}

void emit_require_absent(const Printer& p, std::string_view ident, std::string_view error) {
  p(R"(if $n$.is_some() {
    return Err($err$);
}
)",
    {{"n", ident}, {"err", error}});
}

bool is_encoder_local(std::string_view name) {
  name = without_raw_prefix(name);
  return name == "__out" || name == "__base" || name == "__items" || name == "__rest" || name.starts_with("__case_") ||
         name.starts_with("__some_");
}

void emit_encoder_binding(const Printer& p, std::string_view ident, std::string_view ty, bool copy, StepPlace place) {
  const std::string local = decoder_local(std::string(ident), place);
  std::string from;
  switch (place) {
    case StepPlace::Body:
      p(copy ? "let $n$: $ty$ = self.$n$;\n" : "let $n$ = &self.$n$;\n", {{"n", local}, {"ty", ty}});
      return;
    case StepPlace::Case:
      from = encoder_case_binding(ident);
      break;
    case StepPlace::IfBranch:
      from = encoder_some_binding(ident);
      break;
  }
  p(copy ? "let $n$: $ty$ = *$b$;\n" : "let $n$ = $b$;\n", {{"n", local}, {"ty", ty}, {"b", from}});
}

}  // namespace qm

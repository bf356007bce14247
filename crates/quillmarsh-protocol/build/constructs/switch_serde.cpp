// The serde impls of a switch's enum type: externally tagged, as serde's
// derive would write them. A case with fields is a map of its fields, a case
// without any is its variant name alone.

#include <cstddef>
#include <string>
#include <vector>

#include "constructs/steps.hpp"
#include "constructs/switch.hpp"
#include "text/text.hpp"

namespace qm {

void emit_switch_serde(std::string& out, const SwitchBlock& block) {
  std::vector<std::vector<MemberDecl>> payloads;
  bool any_fields = false;
  std::string variants = "&[";
  for (const SwitchCase& c : block.cases) {
    payloads.push_back(collect_case_payload_fields(c.steps));
    any_fields = any_fields || !payloads.back().empty();
    if (variants.size() > 2) variants += ", ";
    variants += debug_str(c.variant);
  }
  variants += "]";
  const std::string path = "crate::messages::" + block.type_name;
  const std::string type = debug_str(block.type_name);
  const TemplateVars vars = {{"path", path}, {"type", type}, {"variants", variants}};

  emit(out, R"(impl serde::Serialize for $path$ {
    fn serialize<S: serde::Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
)",
       vars);
  if (any_fields) emit(out, "        use serde::ser::SerializeStructVariant;\n");
  emit(out, "        match self {\n");
  const Printer arm = Printer(out).in(3);
  for (std::size_t i = 0; i < block.cases.size(); ++i) {
    const std::vector<MemberDecl>& fields = payloads[i];
    const std::string name = debug_str(block.cases[i].variant);
    const std::string index = std::to_string(i);
    const std::string count = std::to_string(fields.size());
    const TemplateVars case_vars = {
        {"type", type}, {"variant", block.cases[i].variant}, {"name", name}, {"index", index}, {"count", count}};
    if (fields.empty()) {
      arm("Self::$variant$ => serializer.serialize_unit_variant($type$, $index$, $name$),\n", case_vars);
      continue;
    }
    std::string bindings;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (f != 0) bindings += ", ";
      bindings += fields[f].name + ": __f" + std::to_string(f);
    }
    arm("Self::$variant$ { $bindings$ } => {\n", {{"variant", block.cases[i].variant}, {"bindings", bindings}});
    arm.in()("let mut state = serializer.serialize_struct_variant($type$, $index$, $name$, $count$)?;\n", case_vars);
    emit_serialize_members(arm.in(), "state", "", fields);
    arm.in()("state.end()\n");
    arm("}\n");
  }
  emit(out, R"(        }
    }
}

impl<'de> serde::Deserialize<'de> for $path$ {
    fn deserialize<D: serde::Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        const VARIANTS: &[&str] = $variants$;
)",
       vars);
  // One visitor per case with fields, reading its map.
  const Printer statements = Printer(out).in(2);
  for (std::size_t i = 0; i < block.cases.size(); ++i) {
    if (payloads[i].empty()) continue;
    const std::string n = std::to_string(i);
    statements("const MEMBERS_$n$: &[&str] = $names$;\n", {{"n", n}, {"names", serde_member_names(payloads[i])}});
    emit_members_visitor(statements, "Case" + n, "MEMBERS_" + n, block.type_name + "::" + block.cases[i].variant, path,
                         path + "::" + block.cases[i].variant, payloads[i]);
  }
  emit(out, R"(        struct Cases;
        impl<'de> serde::de::Visitor<'de> for Cases {
            type Value = $path$;
            fn expecting(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
                crate::serde_support::expecting_enum(f, $type$)
            }
            fn visit_enum<A: serde::de::EnumAccess<'de>>(self, data: A) -> Result<Self::Value, A::Error> {
                let (__i, __v) = data.variant_seed(crate::serde_support::Variant { type_name: $type$, variants: VARIANTS })?;
                match __i {
)",
       vars);
  const Printer case_arm = Printer(out).in(5);
  for (std::size_t i = 0; i < block.cases.size(); ++i) {
    const std::string n = std::to_string(i);
    const std::string label = i + 1 == block.cases.size() ? std::string("_") : n;
    const TemplateVars case_vars = {{"label", label}, {"n", n}, {"path", path}, {"variant", block.cases[i].variant}};
    if (payloads[i].empty()) {
      case_arm("$label$ => serde::de::VariantAccess::unit_variant(__v).map(|()| $path$::$variant$),\n", case_vars);
    } else {
      case_arm("$label$ => serde::de::VariantAccess::struct_variant(__v, MEMBERS_$n$, Case$n$),\n", case_vars);
    }
  }
  emit(out, R"(                }
            }
        }
        deserializer.deserialize_enum($type$, VARIANTS, Cases)
    }
}

)",
       vars);
}

}  // namespace qm

// Per-step dispatch: the struct members, decoder statements and constructor
// entries of one emit step, each forwarded to its construct's emitters.

#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "constructs/constructs.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

void emit_doc_line(std::string& out, const std::string& text) {
  emit(out, R"(    /// $doc$
)",
       {{"doc", escape_doc(text)}});
}

void emit_member(std::string& out, std::string_view ident, std::string_view ty) {
  emit(out, R"(    pub $ident$: $ty$,
)",
       {{"ident", ident}, {"ty", ty}});
}

void emit_ctor_entry(std::string& out, std::string_view ident) {
  emit(out, R"(            $ident$,
)",
       {{"ident", ident}});
}

// How a packable shows in its member documentation: the container with its
// type arguments, a list without them.
std::string packable_shown(const PackableField& p) {
  if (p.kind == PackableKind::PackableList) return "PackableList";
  return std::string(kind_name(p.kind)) + "<" + p.key_rust_ty + ", " + p.value_rust_ty + ">";
}

}  // namespace

void emit_step_members(std::string& out, const EmitStep& step) {
  std::visit(
      [&out](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, SimpleField>) {
          if (m.text) emit_doc_line(out, *m.text);
          emit_member(out, m.ident, m.rust_ty);
        } else if constexpr (std::is_same_v<T, AlignStep>) {
          // Padding has no member.
        } else if constexpr (std::is_same_v<T, VectorField>) {
          if (m.text) {
            emit_doc_line(out, *m.text);
          } else {
            emit(out, R"(    /// Vector field; length from protocol.xml `length="$len$"`.
)",
                 {{"len", escape_xml_attr_for_doc(m.length_expr)}});
          }
          emit_member(out, m.ident, "Vec<" + m.elem_rust_ty + ">");
        } else if constexpr (std::is_same_v<T, MaskmapBlock>) {
          emit_maskmap_members(out, m);
        } else if constexpr (std::is_same_v<T, SwitchBlock>) {
          emit_switch_member(out, m);
        } else if constexpr (std::is_same_v<T, TableField>) {
          if (m.text) {
            emit_doc_line(out, *m.text);
          } else {
            emit(out, R"(    /// Dictionary field; length from protocol.xml `length="$len$"`.
)",
                 {{"len", escape_xml_attr_for_doc(m.length_expr)}});
          }
          emit_member(out, m.ident, "std::collections::BTreeMap<" + m.key_rust_ty + ", " + m.value_rust_ty + ">");
        } else if constexpr (std::is_same_v<T, IfBlock>) {
          emit_if_members(out, m);
        } else {
          static_assert(std::is_same_v<T, PackableField>, "every step kind is handled");
          const std::string shown = packable_shown(m);
          if (m.text) {
            emit(out, R"(    /// Inlined templated `$shown$`. $doc$
)",
                 {{"shown", shown}, {"doc", escape_doc(*m.text)}});
          } else {
            emit(out, R"(    /// Inlined templated `$shown$` (J3.E use-site).
)",
                 {{"shown", shown}});
          }
          emit_member(out, m.ident, packable_rust_ty(m));
        }
      },
      step.v);
}

void emit_step_decoder(const Printer& p, const EmitStep& step, StepPlace place) {
  // Inside a block, the constructs without blocks of their own are written
  // flat; inside an if branch the decoded values go to `{ident}_v` locals.
  const Printer flat = place == StepPlace::Body ? p : p.flat();
  const auto local = [place](const std::string& ident) { return place == StepPlace::IfBranch ? ident + "_v" : ident; };
  std::visit(
      [&](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, SimpleField>) {
          emit_field_decoder(flat, local(m.ident), m.kind);
        } else if constexpr (std::is_same_v<T, AlignStep>) {
          emit_align_decoder(flat, m.width);
        } else if constexpr (std::is_same_v<T, VectorField>) {
          emit_vector_decoder(flat, m, local(m.ident));
        } else if constexpr (std::is_same_v<T, MaskmapBlock>) {
          emit_maskmap_decoder(flat, m);
        } else if constexpr (std::is_same_v<T, SwitchBlock>) {
          emit_switch_decoder(p, m);
        } else if constexpr (std::is_same_v<T, TableField>) {
          emit_table_decoder(flat, m);
        } else if constexpr (std::is_same_v<T, IfBlock>) {
          emit_if_decoder(p, m);
        } else {
          static_assert(std::is_same_v<T, PackableField>, "every step kind is handled");
          emit_packable_decoder(p, m, local(m.ident));
        }
      },
      step.v);
}

void emit_step_reader(std::string& out, const EmitStep& step) {
  emit_step_decoder(Printer(out, kDecoderIndent), step, StepPlace::Body);
}

void emit_step_indented(std::string& out, const EmitStep& step, std::string_view indent) {
  emit_step_decoder(Printer(out, indent.size()), step, StepPlace::Case);
}

void emit_step_ctor_entries(std::string& out, const EmitStep& step) {
  std::visit(
      [&out](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, AlignStep>) {
          // Padding has no member.
        } else if constexpr (std::is_same_v<T, MaskmapBlock>) {
          emit_maskmap_ctor_entries(out, m);
        } else if constexpr (std::is_same_v<T, IfBlock>) {
          emit_if_struct_field_names(out, m.true_steps);
          emit_if_struct_field_names(out, m.false_steps);
        } else {
          // Field, vector, switch, table and packable: one member each.
          emit_ctor_entry(out, m.ident);
        }
      },
      step.v);
}

}  // namespace qm

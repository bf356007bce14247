// Subfield value expressions and vector/table lengths, translated over the
// earlier sibling fields of a body.

#include <string>
#include <string_view>
#include <vector>

#include "expr/expr.hpp"
#include "expr/literals.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// Tokenizes and parses a whole subfield expression; `over_local` reads the
// parent from a decoder local instead of `self`.
Result<std::string> translate_subfield(std::string_view expr, std::string_view accepted, std::string_view path,
                                       std::string_view literal_ty, std::string_view result_ty, bool over_local) {
  Result<std::vector<ExprTok>> toks = tokenize_csharp_expr(expr);
  if (!toks) return toks.fail_with_prefix();
  ExprParser parser(*toks);
  Result<std::string> parsed = over_local ? parser.parse_expr_with_local_atom(accepted, path, literal_ty)
                                          : parser.parse_expr(accepted, path, literal_ty);
  if (!parsed) return parsed;
  if (parser.pos() != toks->size()) {
    return fail("trailing tokens after position " + std::to_string(parser.pos()) + ": " +
                debug_tok_list(*toks, parser.pos()));
  }
  std::string out;
  emit(out, "($parsed$) as $ty$", {{"parsed", *parsed}, {"ty", result_ty}});
  return out;
}

}  // namespace

Result<std::string> translate_subfield_expr(std::string_view expr, std::string_view accepted,
                                            std::string_view field_path, std::string_view literal_ty,
                                            std::string_view result_ty) {
  return translate_subfield(expr, accepted, field_path, literal_ty, result_ty, false);
}

Result<std::string> translate_subfield_expr_for_local(std::string_view expr, std::string_view accepted,
                                                      std::string_view local, std::string_view literal_ty,
                                                      std::string_view result_ty) {
  return translate_subfield(expr, accepted, local, literal_ty, result_ty, true);
}

Result<LengthSource> resolve_length_source(std::string_view name, const SiblingLookup& lookup) {
  const std::string key(name);
  if (auto it = lookup.numeric_fields.find(key); it != lookup.numeric_fields.end()) {
    return LengthSource{lookup.value_of(it->second.ident, it->second.branch), it->second.ty,
                        lookup.value_read(it->second.ident, it->second.branch)};
  }
  if (auto it = lookup.subfields.find(key); it != lookup.subfields.end()) {
    const SubfieldRef& sub = it->second;
    Result<std::string> value = translate_subfield_expr_for_local(
        sub.expr, sub.parent_xml_name, lookup.value_of(sub.parent_ident, sub.branch), sub.parent_ty, sub.parent_ty);
    if (!value) return value.fail_with_prefix("subfield " + key + ": cannot translate " + debug_str(sub.expr) + ": ");
    return LengthSource{std::move(value.value()), sub.parent_ty, lookup.value_read(sub.parent_ident, sub.branch)};
  }
  return fail("identifier " + debug_str(name) + " is not a sibling field nor a sibling's subfield");
}

Result<std::string> translate_vector_length_expr(std::string_view length, const SiblingLookup& lookup,
                                                 LocalReads* reads) {
  const std::string_view trimmed = trim_unicode_ws(length);
  if (trimmed.find('.') != std::string_view::npos) {
    return fail("dotted-path length-source " + debug_str(trimmed) +
                " not supported (no sites in current protocol.xml; add when one appears)");
  }
  Result<std::vector<ExprTok>> tokenized = tokenize_csharp_expr(trimmed);
  if (!tokenized) return tokenized.fail_with_prefix("tokenize failed: ");
  const std::vector<ExprTok>& toks = *tokenized;
  if (toks.empty()) return fail("empty length expression");
  if (toks[0].kind != ExprTok::Ident) return fail("expected identifier, got " + debug_opt_tok(&toks[0]));

  Result<LengthSource> source = resolve_length_source(toks[0].text, lookup);
  if (!source) return source.fail_with_prefix();
  if (reads != nullptr) reads->push_back(LocalRead{source->read.local, LocalRead::Expression});

  std::string out;
  const std::size_t trailing = toks.size() - 1;
  if (trailing == 0) {
    emit(out, "($source$) as usize", {{"source", source->expr}});
    return out;
  }
  if (trailing == 2) {
    const ExprTok& op = toks[1];
    if (op.kind != ExprTok::BinOp || (op.op != '+' && op.op != '-')) {
      return fail("expected `+` or `-`, got " + debug_tok(op));
    }
    const ExprTok& lit = toks[2];
    if (lit.kind != ExprTok::IntLit) return fail("expected integer literal, got " + debug_tok(lit));
    // The literal is an i32 operand; the sum wraps as in a release build
    // instead of panicking on a hostile count.
    Result<i128> value = literals::int_value_in(lit.text, "i32");
    if (!value) return value.fail_with_prefix();
    emit(out, "(($source$ as i32).$method$($lit$)) as usize",
         {{"source", source->expr},
          {"method", op.op == '+' ? "wrapping_add" : "wrapping_sub"},
          {"lit", literals::rust_int_spelling(lit.text)}});
    return out;
  }
  return fail("only single-literal arithmetic supported, got " + std::to_string(trailing) +
              " trailing tokens: " + debug_tok_list(toks, 1));
}

}  // namespace qm

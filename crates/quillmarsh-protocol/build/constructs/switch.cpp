// Switch blocks: one field layout per discriminator value, modelled as a Rust
// enum with one variant per case. Cases may hold further switches, so the
// builder and the emitters recurse; the builder bounds the nesting depth.

#include "constructs/switch.hpp"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "constructs/steps.hpp"
#include "expr/expr.hpp"
#include "schema/literals.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

// The case's numbers, or the reason its `value` is unusable (without the
// switch's prefix). `taken` holds every number of the switch so far and
// receives the new ones.
Result<std::vector<i128>> parse_case_values(std::string_view value, std::set<i128>& taken) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = value.find('|', start);
    const std::string_view piece =
        trim_unicode_ws(value.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (!piece.empty()) tokens.push_back(piece);
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  if (tokens.empty()) return fail("<case value=" + debug_str(value) + "> has no parseable tokens");

  std::vector<i128> values;
  for (const std::string_view token : tokens) {
    const auto number = parse_int_literal(token);
    if (!number) {
      return fail("<case value=" + debug_str(value) + "> token " + debug_str(token) +
                  " is not a parseable integer literal");
    }
    if (!taken.insert(*number).second) {
      return fail("case value " + to_decimal(*number) + " (token " + debug_str(token) + ") is duplicated across cases");
    }
    values.push_back(*number);
  }
  return values;
}

// Every case starts from the sibling lookup and the identifier numbering as
// they were just before the switch: the case is built on the switch's own
// state, and its checkpoints put back what it changed when it ends (in time
// linear in what the case registered, however many fields came before).
// Nothing a case declares is visible after it.
class CaseScope {
 public:
  CaseScope(BodyContext& body, SiblingLookup& lookup)
      : body_(body),
        lookup_(lookup),
        lookup_mark_(lookup.checkpoint()),
        names_mark_(body.occurrences.checkpoint()),
        owner_(body.owner),
        depth_(body.depth) {}
  ~CaseScope() {
    lookup_.rollback(lookup_mark_);
    body_.occurrences.rollback(names_mark_);
    body_.owner = std::move(owner_);
    body_.depth = depth_;
  }
  CaseScope(const CaseScope&) = delete;
  CaseScope& operator=(const CaseScope&) = delete;

 private:
  BodyContext& body_;
  SiblingLookup& lookup_;
  std::size_t lookup_mark_;
  std::size_t names_mark_;
  std::string owner_;
  std::size_t depth_;
};

// Builds the children of one case into its steps. Gated fields of a case are
// not registered in its lookup. The reasons come without the case's prefix,
// which the caller puts first.
Result<bool> build_case_steps(const CodegenCtx& ctx, const xml::Node& case_element, const std::string& variant,
                              BodyContext& case_body, SiblingLookup& case_lookup, std::vector<EmitStep>& steps) {
  ChildRules rules = child_rules(ChildPlace::Case);
  rules.switch_owner_suffix = "_" + variant;
  rules.switch_prefix = "nested ";
  return build_child_steps(ctx, case_element, rules, case_body, case_lookup, steps);
}

// Whether the discriminator in `disc` (an `i128`) selects the case.
std::string case_guard(const SwitchCase& c, std::string_view disc) {
  std::string guard;
  for (std::size_t i = 0; i < c.values.size(); ++i) {
    if (i != 0) guard += " || ";
    emit(guard, "$disc$ == $value$i128", {{"disc", disc}, {"value", to_decimal(c.values[i])}});
  }
  return guard;
}

// `base`, or `base` followed by the smallest number from 2 up that no earlier
// switch of the struct has taken; the result is recorded as taken.
//
// Only this function fills the set, and a base always ends in "Data", so a
// numbered name belongs to exactly one base and the numbers a base has taken
// are always 2, 3, ... up to some last one. The first free number is found
// by doubling and then halving, not by trying every number in turn, which
// would make many switches of one name quadratic.
std::string unique_type_name(std::string base, std::set<std::string>* taken) {
  if (taken == nullptr) return base;
  if (taken->insert(base).second) return base;
  const auto is_taken = [&](std::size_t k) { return taken->count(base + std::to_string(k)) != 0; };
  std::size_t free = 2;  // the answer lies in [free, free + step]
  std::size_t step = 1;
  while (is_taken(free)) {
    free += step;
    step *= 2;
  }
  // `free` is not taken, and every number up to the probe before it is.
  std::size_t low = step == 1 ? free : free - step / 2 + 1;
  while (low < free) {
    const std::size_t mid = low + (free - low) / 2;
    if (is_taken(mid)) {
      low = mid + 1;
    } else {
      free = mid;
    }
  }
  std::string name = base + std::to_string(free);
  taken->insert(name);
  return name;
}

}  // namespace

Result<SwitchDiscriminator> resolve_switch_discriminator(std::string_view name, const SiblingLookup& lookup) {
  const std::string key(name);
  // Read as an expression reads it: the value, or raw bits standing nearest.
  const auto read_of = [&](std::string_view ident, std::size_t branch) {
    return LocalReads{{lookup.value_read(ident, branch).local, LocalRead::Expression}};
  };
  if (const auto it = lookup.numeric_fields.find(key); it != lookup.numeric_fields.end()) {
    std::string value = lookup.value_of(it->second.ident, it->second.branch);
    return SwitchDiscriminator{value, false, value, read_of(it->second.ident, it->second.branch)};
  }
  if (const auto it = lookup.enum_fields.find(key); it != lookup.enum_fields.end()) {
    // A field of an earlier <if> branch leaves no `_bits` local; its option
    // gives the raw value instead.
    if (lookup.raw_bits_local(it->second)) {
      return SwitchDiscriminator{lookup.value_of(it->second.ident, it->second.branch),
                                 true,
                                 lookup.raw_bits_of(it->second),
                                 {lookup.raw_bits_read(it->second)}};
    }
    std::string bits = lookup.raw_bits_of(it->second);
    return SwitchDiscriminator{bits, false, bits, read_of(it->second.ident, it->second.branch)};
  }
  if (const auto it = lookup.subfields.find(key); it != lookup.subfields.end()) {
    const SubfieldRef& sub = it->second;
    auto expr = translate_subfield_expr_for_local(
        sub.expr, sub.parent_xml_name, lookup.value_of(sub.parent_ident, sub.branch), sub.parent_ty, sub.parent_ty);
    if (expr) return SwitchDiscriminator{*expr, false, *expr, read_of(sub.parent_ident, sub.branch)};
  }
  return fail("discriminator not found as a sibling numeric/enum field declared before this <switch>");
}

std::string canonical_case_variant_id(const std::vector<i128>& values) {
  std::string id = "Case";
  for (const i128 v : values) {
    id += '_';
    if (v < 0) {
      // The magnitude of the most negative value does not fit i128.
      id += "Neg" + to_decimal(static_cast<u128>(-(v + 1)) + 1);
    } else {
      id += to_hex_upper(static_cast<u128>(static_cast<std::uint64_t>(v)));
    }
  }
  return id;
}

Result<SwitchBlock> build_switch_block(const CodegenCtx& ctx, const xml::Node& switch_element, BodyContext& body,
                                       SiblingLookup& lookup) {
  const auto name = switch_element.attr("name");
  if (!name) return fail("<switch> missing name= attribute");
  // The reasons' prefix is built only for a reason.
  const auto prefix = [&] { return "<switch name=" + debug_str(*name) + ">"; };
  if (body.depth >= kMaxBlockDepth) {
    return fail(prefix() + ": nested deeper than " + std::to_string(kMaxBlockDepth) + " levels");
  }

  const auto disc = resolve_switch_discriminator(*name, lookup);
  if (!disc) return disc.fail_with_prefix(prefix() + ": ");

  SwitchBlock block;
  block.name = std::string(*name);
  block.disc_expr = disc->expr;
  block.disc_rust = disc->rust;
  block.disc_reads = disc->reads;

  std::set<i128> taken;
  for (const xml::Node* child : switch_element.children()) {
    if (child->tag() != "case") {
      return fail(prefix() + ": unexpected child <" + std::string(child->tag()) + ">; only <case> allowed");
    }
    const auto value = child->attr("value");
    if (!value) return fail(prefix() + ": <case> missing value= attribute");
    auto values = parse_case_values(*value, taken);
    if (!values) return values.fail_with_prefix(prefix() + ": ");

    SwitchCase c;
    c.variant = canonical_case_variant_id(*values);
    c.value_text = std::string(*value);
    c.values = std::move(values).value();

    // Each case numbers and looks up its fields from the state just before
    // the switch (see CaseScope).
    Result<bool> built = true;
    {
      const CaseScope scope(body, lookup);
      body.depth = body.depth + 1;
      built = build_case_steps(ctx, *child, c.variant, body, lookup, c.steps);
    }
    if (!built) return built.fail_with_prefix(prefix() + " <case value=" + debug_str(*value) + ">: ");

    c.text = child->attr_copy("text");
    block.cases.push_back(std::move(c));
  }
  if (block.cases.empty()) return fail(prefix() + ": contains no <case> children");
  // Variant names keep only the low 64 bits of a value, so distinct values
  // can still name one variant twice.
  std::set<std::string_view> variants;
  for (const SwitchCase& c : block.cases) {
    if (!variants.insert(c.variant).second) {
      return fail(prefix() + ": <case value=" + debug_str(c.value_text) + "> gives the variant " + c.variant +
                  " of an earlier case (its values agree with that case's in their low 64 bits)");
    }
  }

  block.ident = number_snake_identifier(body.occurrences, to_snake_case(*name) + "_data");
  block.type_name = unique_type_name(body.owner + pascalize_xml_name(*name) + "Data", body.switch_type_names);
  return block;
}

void emit_switch_enum(std::string& out, const SwitchBlock& block) {
  emit(out,
       R"(/// `<switch name="$name$">` discriminated union (one variant per case).
#[derive(Debug, Clone, PartialEq)]
pub enum $type_name$ {
)",
       {{"name", escape_xml_attr_for_doc(block.name)}, {"type_name", block.type_name}});
  const Printer variant = Printer(out).in(1);
  for (const SwitchCase& c : block.cases) {
    const std::string value = escape_xml_attr_for_doc(c.value_text);
    if (c.text) {
      variant("/// case value=\"$value$\". $text$\n", {{"value", value}, {"text", escape_doc(*c.text)}});
    } else {
      variant("/// case value=\"$value$\".\n", {{"value", value}});
    }
    const std::vector<MemberDecl> payload = collect_case_payload_fields(c.steps);
    if (payload.empty()) {
      variant("$variant$,\n", {{"variant", c.variant}});
      continue;
    }
    variant("$variant$ {\n", {{"variant", c.variant}});
    for (const MemberDecl& p : payload) variant.in()("$name$: $ty$,\n", {{"name", p.name}, {"ty", p.ty}});
    variant("},\n");
  }
  emit(out, "}\n\n");
}

std::optional<std::string> switch_type_problem(const CodegenCtx& ctx, const SwitchBlock& block,
                                               std::set<std::string>& type_keys) {
  if (auto problem = type_name_problem(ctx, block.type_name)) return problem;
  if (!type_keys.insert(identifier_key(block.type_name)).second) {
    return "type name " + debug_str(block.type_name) + " is declared twice";
  }
  NameScope variants("variant");
  for (const SwitchCase& c : block.cases) {
    if (auto problem = variants.add(c.variant)) return problem;
    const std::vector<MemberDecl> payload = collect_case_payload_fields(c.steps);
    NameScope fields("field", &ctx.declared_values);
    for (const MemberDecl& p : payload) {
      if (auto problem = fields.add(p.name)) return *problem + " in " + block.type_name + "::" + c.variant;
    }
  }
  return std::nullopt;
}

std::optional<std::string> case_field_taking_encoder_local(const SwitchBlock& block) {
  for (const SwitchCase& c : block.cases) {
    for (const MemberDecl& field : collect_case_payload_fields(c.steps)) {
      if (is_encoder_local(field.name)) return field.name;
    }
  }
  return std::nullopt;
}

void emit_members(const Printer& p, const SwitchBlock& block) {
  p(R"(/// Discriminated by `$disc$` per protocol.xml `<switch name="$sw$">`.
pub $ident$: $type_name$,
)",
    {{"disc", escape_doc(block.disc_expr)},
     {"sw", escape_xml_attr_for_doc(block.name)},
     {"ident", block.ident},
     {"type_name", block.type_name}});
}

void emit_ctor_entries(const Printer& p, const SwitchBlock& block) { emit_ctor_entry(p, block.ident); }
void emit_accessors(const Printer& /*p*/, const SwitchBlock& /*block*/) {}
void add_accessors(const SwitchBlock& /*block*/, std::vector<std::string_view>& /*out*/) {}

namespace {

void emit_read_switch_into(const Printer& p, const SwitchBlock& block, StepPlace place) {
  const StepPlace in_case = place.case_inside();
  p(R"(// <switch name="$name$">
let $ident$: $type_name$ = {
    let __disc: i128 = ($disc$) as i128;
    match __disc {
)",
    {{"name", escape_xml_attr_for_doc(block.name)},
     {"ident", decoder_local(block.ident, place)},
     {"type_name", block.type_name},
     {"disc", block.disc_rust}});
  const Printer arm = p.in(2);
  const Printer body = p.in(3);
  for (const SwitchCase& c : block.cases) {
    arm("n if $guard$ => {\n", {{"guard", case_guard(c, "n")}});
    const std::string value = escape_xml_attr_for_doc(c.value_text);
    if (c.text) {
      body("// $value$ — $text$\n", {{"value", value}, {"text", escape_doc(*c.text)}});
    } else {
      body("// case value=\"$value$\"\n", {{"value", value}});
    }
    for (const EmitStep& step : c.steps) emit_step_decoder(body, step, in_case);

    const std::vector<MemberDecl> payload = collect_case_payload_fields(c.steps);
    if (payload.empty()) {
      body("$type_name$::$variant$\n", {{"type_name", block.type_name}, {"variant", c.variant}});
    } else {
      body("$type_name$::$variant$ {\n", {{"type_name", block.type_name}, {"variant", c.variant}});
      // A case inside a block holds its fields in `_v` locals.
      for (const MemberDecl& field : payload) {
        const std::string local = decoder_local(field.name, in_case);
        if (local == field.name) {
          body.in()("$name$,\n", {{"name", field.name}});
        } else {
          body.in()("$name$: $local$,\n", {{"name", field.name}, {"local", local}});
        }
      }
      body("}\n");
    }
    arm("},\n");
  }
  arm("_other => return Err(\"unknown $type_name$ discriminator\"),\n", {{"type_name", block.type_name}});
  p(R"(    }
};
)");
}

}  // namespace

// The match has its own braces, even inside another block.
void emit_decoder(const Printer& p, const SwitchBlock& block, StepPlace place) {
  emit_read_switch_into(p, block, place);
}

void add_members(const SwitchBlock& block, std::vector<MemberDecl>& out) {
  out.push_back({block.ident, block.type_name});
}

void add_switches(const SwitchBlock& block, std::vector<const SwitchBlock*>& out) {
  for (const SwitchCase& c : block.cases) {
    for (const EmitStep& step : c.steps) visit_step(step, [&](const auto& m) { add_switches(m, out); });
  }
  out.push_back(&block);
}

bool declares_fields(const SwitchBlock& /*block*/) { return true; }
bool may_read_nothing(const SwitchBlock& /*block*/, const TypeRegistry& /*registry*/) { return true; }

// `__disc`, each arm's `n` and case steps, and the switch member of
// `emit_read_switch_into`.
void walk_locals(LocalsWalk& w, const SwitchBlock& block, StepPlace place, std::vector<LocalsWalk::Member>& out) {
  using Role = LocalsWalk::Role;
  const std::string_view shown = w.keep("<switch name=" + debug_str(block.name) + ">");
  w.push();
  w.read_locals(block.disc_reads, LocalsWalk::plain_text(shown));
  w.bind("__disc", Role::Internal, {"the discriminator of ", shown, false});
  for (const SwitchCase& c : block.cases) {
    w.push();
    w.bind("n", Role::Internal, {"the discriminator of ", shown, false});
    std::vector<LocalsWalk::Member> payload;
    walk_steps_locals(w, c.steps, place.case_inside(), payload);
    if (!payload.empty()) {
      const LocalsWalk::Text reader =
          LocalsWalk::plain_text(w.keep("the variant " + c.variant + " of " + std::string(shown)));
      for (const LocalsWalk::Member& m : payload) {
        w.read_exact(decoder_local(m.name, place.case_inside()), m.id, reader);
      }
    }
    w.pop();
  }
  w.pop();
  out.push_back({block.ident, w.bind(w.keep(decoder_local(block.ident, place)), Role::Member,
                                     LocalsWalk::quoted_text("switch member ", block.ident))});
}

// ---- Encoder ----

// The variant held must be the one the discriminator selects; its fields are
// bound by reference from the variant and written by the case's steps.
void emit_encoder(const Printer& p, const SwitchBlock& block, StepPlace place) {
  p(R"(// <switch name="$name$">
let __disc: i128 = ($disc$) as i128;
)",
    {{"name", escape_xml_attr_for_doc(block.name)}, {"disc", block.disc_rust}});
  emit_encoder_binding(p, block.ident, "", false, place);
  p("match $ident$ {\n", {{"ident", decoder_local(block.ident, place)}});
  const Printer arm = p.in();
  const Printer body = p.in(2);
  for (const SwitchCase& c : block.cases) {
    const std::vector<MemberDecl> payload = collect_case_payload_fields(c.steps);
    std::string pattern = block.type_name + "::" + c.variant;
    if (!payload.empty()) {
      pattern += " {";
      for (std::size_t i = 0; i < payload.size(); ++i) {
        pattern += (i == 0 ? " " : ", ") + payload[i].name + ": " + encoder_case_binding(payload[i].name);
      }
      pattern += " }";
    }
    const std::string guard = case_guard(c, "__disc");
    arm("$pattern$ => {\n", {{"pattern", pattern}});
    body(R"(if !($guard$) {
    return Err($err$);
}
)",
         {{"guard", guard},
          {"err", encode_error_call("variant_despite_discriminator", block.ident,
                                    debug_str(c.variant) + ", " + debug_str(block.name) + ", __disc")}});
    for (const EmitStep& step : c.steps) emit_step_encoder(body, step, place.case_inside());
    arm("}\n");
  }
  p("}\n");
}

}  // namespace qm

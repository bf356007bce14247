// Writing one struct (or its SKIPPED comment) and emitting whole sections in
// repeated passes, so that every data type is written before the structs that
// use it.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "constructs/constructs.hpp"
#include "schema/literals.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"
#include "text/text_table.hpp"

namespace qm {
namespace {

// Passes of one section before the leftovers are written as they stand.
constexpr int kMaxPasses = 5;

// The `type` attribute as an opcode: an integer literal within u32 range.
std::optional<std::uint32_t> opcode_of(const xml::Node& element) {
  const std::optional<std::string_view> type = element.attr("type");
  if (!type) return std::nullopt;
  const std::optional<i128> value = parse_int_literal(*type);
  if (!value || *value < 0 || *value > static_cast<i128>(UINT32_MAX)) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

// The encoder of a written struct. The body is the `Encode` impl's
// `write_at`, which appends what `read_from` reads as part of a message that
// starts at `__base` (a struct nested in a message pads from the message's
// start, as its decoder does); the trait's `write_to` starts a message at the
// end of `out` and takes back what a failed `write_at` appended. The
// inherent `write_to` forwards to it, unless an accessor of the struct
// already has the name. A struct with a member named like one of the
// encoder's locals gets an encoder that refuses, naming that member, instead
// of one that would not compile.
void write_struct_encoder(std::string& out, std::string_view rust_name, const std::vector<EmitStep>& steps) {
  emit(out, R"(impl crate::Encode for $rust_name$ {
    fn write_at(&self, __out: &mut Vec<u8>, __base: usize) -> Result<(), crate::EncodeError> {
)",
       {{"rust_name", rust_name}});
  if (const std::optional<std::string> member = member_taking_encoder_local(steps)) {
    emit(out, R"(        let _ = (__out, __base);
        Err(crate::EncodeError::new("$rust_name$", $member$, "the member's name is one the generated encoder uses itself, so this struct cannot be encoded"))
    }
}

)",
         {{"rust_name", rust_name}, {"member", debug_str(without_raw_prefix(*member))}});
  } else {
    emit(out, "        const __TYPE: &str = \"$rust_name$\";\n", {{"rust_name", rust_name}});
    const Printer p(out, kStatementIndent);
    for (const EmitStep& step : steps) emit_step_encoder(p, step, kBodyPlace);
    out += R"(        Ok(())
    }
}

)";
  }
  const std::vector<std::string_view> accessors = collect_accessors(steps);
  if (std::find(accessors.begin(), accessors.end(), "write_to") != accessors.end()) return;
  emit(out, R"(impl $rust_name$ {
    /// Encode `$rust_name$` to the little-endian wire form: appends exactly the
    /// bytes `read_from` reads, as a message that starts at the end of `out`
    /// (alignment padding counts from there). On error `out` is left as it was.
    #[inline]
    pub fn write_to(&self, out: &mut Vec<u8>) -> Result<(), crate::EncodeError> {
        crate::Encode::write_to(self, out)
    }
}

)",
       {{"rust_name", rust_name}});
}

// The serde impls of a written struct: a map of its members, in order, each
// keyed by its name without `r#`.
void write_struct_serde(std::string& out, std::string_view rust_name, const std::vector<EmitStep>& steps) {
  const std::vector<MemberDecl> members = collect_members(steps);
  const std::string path = "crate::messages::" + std::string(rust_name);
  const std::string type = debug_str(rust_name);
  const std::string count = std::to_string(members.size());
  const std::string names = serde_member_names(members);
  const TemplateVars vars = {
      {"path", path}, {"type", type}, {"count", count}, {"members", names}, {"mut", members.empty() ? "" : "mut "}};
  emit(out, R"(impl serde::Serialize for $path$ {
    fn serialize<S: serde::Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
        use serde::ser::SerializeStruct;
        let $mut$state = serializer.serialize_struct($type$, $count$)?;
)",
       vars);
  const Printer statements(out, kStatementIndent);
  emit_serialize_members(statements, "state", "&self.", members);
  emit(out, R"(        state.end()
    }
}

impl<'de> serde::Deserialize<'de> for $path$ {
    fn deserialize<D: serde::Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        const MEMBERS: &[&str] = $members$;
)",
       vars);
  emit_members_visitor(statements, "Members", "MEMBERS", rust_name, path, path, members);
  emit(out, R"(        deserializer.deserialize_struct($type$, MEMBERS, Members)
    }
}

)",
       vars);
  emit_nested_types_serde(out, steps);
}

void write_struct(CodegenCtx& ctx, const xml::Node& element, std::string_view name, std::string_view rust_name,
                  EmitKind kind, const std::vector<EmitStep>& steps) {
  ctx.declared_types.insert(identifier_key(rust_name));
  ctx.written_nodes.push_back(&element);
  std::string& out = ctx.out;
  const std::size_t begin = out.size();
  for (const std::string_view type_name : collect_nested_type_names(steps)) {
    ctx.declared_types.insert(identifier_key(type_name));
  }
  emit_nested_types(out, steps);

  emit(out, "/// `$name$` \u2014 generated from protocol.xml line $line$.\n",
       {{"name", name}, {"line", std::to_string(ctx.line_of(element.offset()))}});
  if (const std::optional<std::string_view> text = element.attr("text")) {
    emit(out, "/// $doc$\n", {{"doc", escape_doc(*text)}});
  }
  const std::optional<std::uint32_t> opcode = opcode_of(element);
  const std::string hex = opcode ? to_hex_upper(*opcode, 4) : std::string();
  if (opcode) {
    emit(out, "///\n/// Opcode: `0x$hex$` (see `$rust_name$::OPCODE`).\n", {{"hex", hex}, {"rust_name", rust_name}});
  }
  emit(out,
       "#[derive(Debug, Clone, PartialEq)]\n"
       "pub struct $rust_name$ {\n",
       {{"rust_name", rust_name}});
  if (!steps_declare_fields(steps)) out += "    // No fields declared in protocol.xml for this opcode.\n";
  for (const EmitStep& step : steps) emit_step_members(out, step);
  emit(out,
       "}\n"
       "\n"
       "impl $rust_name$ {\n",
       {{"rust_name", rust_name}});

  if (opcode) {
    emit(out,
         "    /// Wire opcode for this message (from protocol.xml `type=`).\n"
         "    pub const OPCODE: u32 = 0x$hex$;\n"
         "\n",
         {{"hex", hex}});
    // A recovered struct's row goes to the extended index, written from `written`.
    if (!ctx.building_recovered)
      ctx.opcode_rows.push_back(OpcodeRow{std::string(label(kind)), std::string(name), *opcode});
  }
  ctx.written.push_back(WrittenStruct{std::string(label(kind)), std::string(rust_name), std::string(name), opcode,
                                      ctx.building_recovered});

  // Only top-level fields get accessors; fields inside blocks are optional or
  // live inside enum variants.
  for (const EmitStep& step : steps) emit_step_accessors(out, step);

  emit(out,
       "    /// Decode `$rust_name$` from a little-endian wire stream at `*offset`.\n"
       "    pub fn read_from(data: &[u8], offset: &mut usize) -> Result<Self, &'static str> {\n",
       {{"rust_name", rust_name}});
  if (steps.empty()) out += "        let _ = (data, offset);\n";
  const Printer statements(out, kStatementIndent);
  for (const EmitStep& step : steps) emit_step_decoder(statements, step, kBodyPlace);
  out += "        Ok(Self {\n";
  for (const EmitStep& step : steps) emit_step_ctor_entries(out, step);
  out +=
      "        })\n"
      "    }\n"
      "}\n"
      "\n";
  if (ctx.building_recovered)
    ctx.recovered.push_back(RecoveredItem{section_banner(kind), sub_banner(kind), begin, out.size()});
  if (ctx.encode) write_struct_encoder(ctx.encoders, rust_name, steps);
  if (ctx.serde) write_struct_serde(ctx.serde_impls, rust_name, steps);
}

// Marks the context, while it lives, as building an element the baseline
// left out (in the extended tier's run): such an item's names must not be any
// the baseline declared, and its text and opcode row are recorded apart.
class Recovering {
 public:
  Recovering(CodegenCtx& ctx, const xml::Node& element) : ctx_(ctx) {
    ctx_.building_recovered = ctx_.baseline != nullptr && ctx_.baseline->written.count(&element) == 0;
  }
  Recovering(const Recovering&) = delete;
  Recovering& operator=(const Recovering&) = delete;
  ~Recovering() { ctx_.building_recovered = false; }

 private:
  CodegenCtx& ctx_;
};

void write_skipped(CodegenCtx& ctx, const xml::Node& element, EmitKind kind, std::string_view name,
                   std::string_view rust_name, std::string_view reason) {
  write_skipped_line(ctx, label(kind), name, rust_name, opcode_of(element), reason, " \u2014 port to PR 7.2.");
  bump_skipped(ctx.stats, kind);
}

// `emit_message`, optionally given what a probe of this very element (same
// owner, same registry) has already found, so the body is not built again:
// the steps it built, or the reason it failed with.
void emit_message_impl(CodegenCtx& ctx, const xml::Node& element, EmitKind kind, const std::vector<EmitStep>* probed,
                       const std::string* probe_failure = nullptr) {
  const std::optional<std::string_view> name = element.attr("name");
  if (!name) return;
  const Recovering recovering(ctx, element);
  std::string rust_name(name_prefix(kind));
  rust_name.append(*name);

  bool may_read_nothing = false;  // whether the decoder can consume zero bytes
  if (probed) {
    write_struct(ctx, element, *name, rust_name, kind, *probed);
    may_read_nothing = steps_may_read_nothing(*probed, ctx.registry);
  } else {
    const std::vector<std::string> unsupported = collect_unsupported(element);
    if (!unsupported.empty()) {
      std::string reason = "deferred-tier features [";
      for (std::size_t i = 0; i < unsupported.size(); ++i) {
        if (i != 0) reason += ", ";
        reason += unsupported[i];
      }
      reason += "]";
      write_skipped(ctx, element, kind, *name, rust_name, reason);
      return;
    }
    if (probe_failure) {
      write_skipped(ctx, element, kind, *name, rust_name, *probe_failure);
      return;
    }
    const Result<std::vector<EmitStep>> steps = collect_emit_steps(ctx, element, rust_name);
    if (!steps) {
      write_skipped(ctx, element, kind, *name, rust_name, steps.reason());
      return;
    }
    write_struct(ctx, element, *name, rust_name, kind, *steps);
    may_read_nothing = steps_may_read_nothing(*steps, ctx.registry);
  }

  if (kind == EmitKind::Datatype) {
    ctx.registry.insert_or_assign(*name, TypeKind::structure(may_read_nothing));
  }
  bump_emitted(ctx.stats, kind);
}

// How many structs have been written so far, SKIPPED comments not counted.
std::size_t structs_written(const Stats& s) { return s.datatypes + s.messages + s.gameactions + s.gameevents; }

// Emits `candidates` in up to `kMaxPasses` passes: each pass writes every
// candidate whose body builds now (or, with `precheck`, that has unsupported
// children and so is written as SKIPPED at once); whatever is left after the
// passes is written where it stands, usually as SKIPPED with its reason.
//
// A pass's structs go straight to the end of the output text: nothing else
// writes there while the pass runs, so this is the same text as collecting
// the pass apart and appending it afterwards, without copying it twice.
//
// A probe reads only the element, its owner name and what the context has
// registered and declared so far, which changes only when a struct is
// written. So a failed probe is not repeated until then: the failure is kept
// with the generation it was made at, the generation moves on with every
// struct written, and the leftover step reuses a kept failure that is still
// current instead of building the body once more.
void run_fixpoint(CodegenCtx& ctx, const std::vector<const xml::Node*>& candidates, EmitKind kind, bool precheck) {
  // A name is written once: a candidate whose name was already written is
  // passed over. Each candidate's name is looked up once, and numbered by its
  // first candidate, so that the passes ask a flag instead of a set of names.
  const std::size_t count = candidates.size();
  std::vector<std::optional<std::string_view>> names(count);
  std::vector<std::size_t> name_number(count);
  {
    TextTable<std::size_t, /*kCopiesKeys=*/false> first;
    first.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      names[i] = candidates[i]->attr("name");
      if (names[i]) name_number[i] = first.try_emplace(*names[i], i).first;
    }
  }
  std::vector<char> emitted(count, 0);  // by name number
  const auto passed_over = [&](std::size_t i) { return !names[i] || emitted[name_number[i]] != 0; };
  const std::string_view prefix = name_prefix(kind);
  std::string owner;

  struct Failure {
    std::string reason;
    std::size_t generation = 0;
  };
  std::vector<std::optional<Failure>> failures(candidates.size());
  std::size_t generation = 0;
  const auto current_failure = [&](std::size_t i) -> const std::string* {
    const std::optional<Failure>& failure = failures[i];
    return failure && failure->generation == generation ? &failure->reason : nullptr;
  };

  for (int pass = 0; pass < kMaxPasses; ++pass) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      const xml::Node* candidate = candidates[i];
      if (passed_over(i)) continue;
      if (current_failure(i) != nullptr) continue;  // would fail the same way again

      std::optional<Result<std::vector<EmitStep>>> probe;
      if (!precheck || collect_unsupported(*candidate).empty()) {
        const Recovering recovering(ctx, *candidate);
        owner.assign(prefix);
        owner.append(*names[i]);
        probe.emplace(collect_emit_steps(ctx, *candidate, owner));
        if (!probe->ok()) {  // retried in a later pass
          failures[i] = Failure{probe->reason(), generation};
          continue;
        }
      }

      const std::size_t before = structs_written(ctx.stats);
      emit_message_impl(ctx, *candidate, kind, probe ? &probe->value() : nullptr);
      if (structs_written(ctx.stats) != before) ++generation;

      emitted[name_number[i]] = 1;
      ++written;
    }
    if (written == 0) break;
  }

  // Leftovers are written directly and not recorded: a body that builds only
  // now is written as a normal struct.
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const xml::Node* candidate = candidates[i];
    if (passed_over(i)) continue;
    const std::size_t before = structs_written(ctx.stats);
    emit_message_impl(ctx, *candidate, kind, nullptr, current_failure(i));
    if (structs_written(ctx.stats) != before) ++generation;
  }
}

}  // namespace

void emit_message(CodegenCtx& ctx, const xml::Node& element, EmitKind kind) {
  emit_message_impl(ctx, element, kind, nullptr);
}

void emit_with_fixpoint(CodegenCtx& ctx, const xml::Node& container, EmitKind kind) {
  std::vector<const xml::Node*> candidates;
  for (const xml::Node* child : container.children()) {
    if (child->tag() == "type") candidates.push_back(child);
  }
  run_fixpoint(ctx, candidates, kind, /*precheck=*/true);
}

void process_datatypes(CodegenCtx& ctx, const xml::Node& types_section) {
  ctx.out += kDatatypesBanner;

  // Templated types are inlined at their use sites and never get a struct.
  for (const xml::Node* child : types_section.children()) {
    if (child->tag() != "type") continue;
    const std::optional<std::string_view> templated = child->attr("templated");
    const std::optional<std::string_view> name = child->attr("name");
    if (!templated || !name) continue;
    std::string reason;
    emit(reason,
         "templated=\"$templated$\" (J3.E inlines at every use-site via "
         "`<field type=\"$name$\" generic*=...>`; no concrete Rust struct emitted).",
         {{"name", *name}, {"templated", *templated}});
    write_skipped_line(ctx, "datatype", *name, *name, std::nullopt, reason);
    ++ctx.stats.datatypes_skipped;
  }

  // Elements without element children are typedefs or built-ins.
  std::vector<const xml::Node*> candidates;
  for (const xml::Node* child : types_section.children()) {
    if (child->tag() == "type" && !child->has_attr("primitive") && !child->has_attr("templated") &&
        !child->children().empty()) {
      candidates.push_back(child);
    }
  }
  run_fixpoint(ctx, candidates, EmitKind::Datatype, /*precheck=*/false);
}

void process_messages(CodegenCtx& ctx, const xml::Node& messages_section) {
  ctx.out += kMessagesBanner;
  for (const xml::Node* child : messages_section.children()) {
    const std::string_view tag = child->tag();
    if (tag == "c2s") {
      ctx.out += kC2sBanner;
      emit_with_fixpoint(ctx, *child, EmitKind::MessageC2s);
    } else if (tag == "s2c") {
      ctx.out += kS2cBanner;
      emit_with_fixpoint(ctx, *child, EmitKind::MessageS2c);
    }
  }
}

void process_gameactions(CodegenCtx& ctx, const xml::Node& section) {
  ctx.out += kGameActionsBanner;
  emit_with_fixpoint(ctx, section, EmitKind::GameAction);
}

void process_gameevents(CodegenCtx& ctx, const xml::Node& section) {
  ctx.out += kGameEventsBanner;
  emit_with_fixpoint(ctx, section, EmitKind::GameEvent);
}

}  // namespace qm

// Decoder locals: every name a construct binds in a generated decoder, in the
// order and scope the emitters write them, checked against every statement
// that reads a name. A local of one construct that stands where a later read
// means another value (a count hiding a field, a match binding hiding a field
// inside a switch arm, a field hiding an enum's raw value) would compile into a
// wrong read or not compile at all; the struct is refused instead.

#include <algorithm>
#include <cstddef>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "constructs/constructs.hpp"
#include "text/text.hpp"

namespace qm {
namespace {

// What a binding holds, as far as readers care.
enum class Role {
  Value,     // a field's value, or the option of a gated or branch field: what expressions read
  RawBits,   // the raw integer beside an enum field: what discriminators and parents read
  Member,    // a container or switch value: read only as a member
  Internal,  // scratch: counts, headers, decoded results, mask-group values, match bindings
};

// A text for messages, built only when a message is written: `head`, then
// `name` (in backticks when `quoted`). The views point into the steps being
// checked or into texts the check keeps.
struct Text {
  std::string_view head;
  std::string_view name;
  bool quoted = false;

  std::string str() const {
    std::string out(head);
    if (quoted) out.push_back('`');
    out.append(name);
    if (quoted) out.push_back('`');
    return out;
  }
};

// "{head}`{name}`"
Text quoted_text(std::string_view head, std::string_view name) { return Text{head, name, true}; }
Text plain_text(std::string_view text) { return Text{text, {}, false}; }

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Binding {
  std::string key;  // the identifier as Rust compares it
  Role role = Role::Internal;
  Text what;                 // "field `x`", "the count of vector `x`", ...
  std::size_t prev = kNone;  // the binding of the same key in view before this one
};

// A member (or variant field) with the binding its constructor entry means.
struct Member {
  std::string_view name;
  std::size_t id = 0;
};

std::string quoted(std::string_view ident) {
  std::string out = "`";
  out.append(ident);
  out.push_back('`');
  return out;
}

// Walks the steps of one body as the emitters write them, binding and reading
// names in nested scopes, and keeps the first read that meets the wrong binding.
class LocalsCheck {
 public:
  std::optional<std::string> problem;

  void check_body(const std::vector<EmitStep>& steps) {
    push();
    std::vector<Member> members;
    walk_steps(steps, members);
    for (const Member& m : members) read_exact(m.name, m.id, plain_text("the constructor"));
    pop();
  }

 private:
  // Every binding of the body; a deque, so keys stay where they are.
  std::deque<Binding> all_;
  // The bindings of the open scopes, innermost last, and where each scope starts.
  std::vector<std::size_t> bound_;
  std::vector<std::size_t> scope_starts_;
  // Hardening: the newest binding in view under each key (the older ones
  // follow `prev`), so that a read does not scan every binding of the body
  // (quadratic in its fields). Bindings always go to the innermost scope, so
  // the ones in view, newest first, are also innermost scope first, and a
  // closing scope's bindings are the newest of their keys.
  std::unordered_map<std::string_view, std::size_t> newest_;
  // Texts that binding descriptions and readers point into.
  std::deque<std::string> texts_;
  std::string key_scratch_;

  std::string_view keep(std::string text) { return texts_.emplace_back(std::move(text)); }

  void push() { scope_starts_.push_back(bound_.size()); }
  void pop() {
    const std::size_t start = scope_starts_.back();
    for (std::size_t i = bound_.size(); i-- > start;) {
      const Binding& b = all_[bound_[i]];
      if (b.prev == kNone) {
        newest_.erase(b.key);
      } else {
        newest_[b.key] = b.prev;
      }
    }
    bound_.resize(start);
    scope_starts_.pop_back();
  }

  std::size_t bind(std::string_view name, Role role, Text what) {
    const std::size_t id = all_.size();
    Binding& b = all_.emplace_back(Binding{identifier_key(name), role, what, kNone});
    const auto [it, fresh] = newest_.try_emplace(b.key, id);
    if (!fresh) {
      b.prev = it->second;
      it->second = id;
    }
    bound_.push_back(id);
    return id;
  }

  // The newest binding of `name` in view, the one a read meets first.
  std::size_t visible(std::string_view name) {
    // identifier_key without a copy in the usual case: an ASCII name's key is
    // the name without `r#`.
    std::string_view key = name.starts_with("r#") ? name.substr(2) : name;
    if (!std::all_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      key_scratch_ = identifier_key(name);
      key = key_scratch_;
    }
    const auto found = newest_.find(key);
    return found == newest_.end() ? kNone : found->second;
  }

  void report(std::string_view name, const Text& reader, std::size_t met, const std::string& meant) {
    if (problem) return;
    problem = quoted(name) + " read by " + reader.str() + " would be " + all_[met].what.str() + ", not " + meant;
  }

  // A read that means exactly binding `id`.
  void read_exact(std::string_view name, std::size_t id, const Text& reader) {
    const std::size_t met = visible(name);
    if (met != kNone && met != id) report(name, reader, met, all_[id].what.str());
  }

  // A read that means a binding of `role`: a field's value for expressions, an
  // enum's raw value for discriminators and parents. Two bindings of that role
  // under one name leave such a read ambiguous, which is refused as well.
  void read_role(std::string_view name, Role role, const Text& reader) {
    const std::size_t met = visible(name);
    if (met == kNone) return;  // not a local of this body
    std::size_t meant = met;
    while (meant != kNone && all_[meant].role != role) meant = all_[meant].prev;
    if (meant == kNone) {
      report(name, reader, met, role == Role::RawBits ? "an enum field's raw value" : "a field");
      return;
    }
    if (meant != met) {
      report(name, reader, met, all_[meant].what.str());
      return;
    }
    std::size_t other = all_[meant].prev;
    while (other != kNone && all_[other].role != role) other = all_[other].prev;
    if (other != kNone && !problem) {
      problem =
          quoted(name) + " read by " + reader.str() + " would be the innermost of two fields named " + quoted(name);
    }
  }

  // The locals a translated expression reads. A name inside a general
  // expression means a field's value, or an enum's raw value when that is the
  // nearest binding (a field hiding that raw value is caught where the field
  // is read).
  void read_locals(const LocalReads& reads, const Text& reader) {
    for (const LocalRead& read : reads) {
      Role role = read.meaning == LocalRead::RawBits ? Role::RawBits : Role::Value;
      if (read.meaning == LocalRead::Expression) {
        const std::size_t met = visible(read.local);
        if (met != kNone && all_[met].role == Role::RawBits) role = Role::RawBits;
      }
      read_role(read.local, role, reader);
    }
  }

  // The three locals of an enum read, or the one local of any other kind.
  std::size_t walk_field_read(std::string_view local, const FieldKind& kind, Role role, const Text& what,
                              std::string_view field) {
    if (kind.tag == FieldKind::Enum) {
      bind(std::string(local) + "_raw", Role::Internal, quoted_text("the decoded result of field ", field));
      bind(std::string(local) + "_bits", role == Role::Value ? Role::RawBits : Role::Internal,
           quoted_text("the raw value of field ", field));
    }
    return bind(local, role, what);
  }

  // Loop-scope locals of one key or value read (`__k`, `__v`, `__elem`).
  void bind_loop_read(std::string_view local, const FieldKind& kind, std::string_view container) {
    const Text what{"a loop local of ", container, false};
    if (kind.tag == FieldKind::Enum) {
      bind(std::string(local) + "_raw", Role::Internal, what);
      bind(std::string(local) + "_bits", Role::Internal, what);
    }
    bind(local, Role::Internal, what);
  }

  std::size_t walk_vector(const VectorField& vec, std::string_view local, std::string_view shown) {
    const std::string_view container = keep("vector " + quoted(shown));
    read_locals(vec.count_reads, plain_text(container));
    bind(std::string(local) + "_count", Role::Internal, Text{"the count of ", container, false});
    const std::size_t id = bind(local, Role::Member, plain_text(container));
    push();
    bind("__elem", Role::Internal, Text{"a loop local of ", container, false});
    read_exact(local, id, Text{"the loop of ", container, false});
    pop();
    return id;
  }

  std::size_t walk_table(const TableField& table) {
    const std::string_view container = keep("table " + quoted(table.ident));
    read_locals(table.count_reads, plain_text(container));
    bind(table.ident + "_count", Role::Internal, Text{"the count of ", container, false});
    const std::size_t id = bind(table.ident, Role::Member, plain_text(container));
    push();
    bind_loop_read("__k", table.key_kind, container);
    bind_loop_read("__v", table.value_kind, container);
    read_exact(table.ident, id, Text{"the loop of ", container, false});
    pop();
    return id;
  }

  std::size_t walk_packable(const PackableField& packable, std::string_view local, std::string_view shown) {
    const std::string_view container = keep("packable " + quoted(shown));
    const std::string stem(without_raw_prefix(local));
    switch (packable.kind) {
      case PackableKind::PackableList:
        bind(stem + "_count", Role::Internal, Text{"the count of ", container, false});
        break;
      case PackableKind::PackableHashTable:
        bind(stem + "_count", Role::Internal, Text{"the count of ", container, false});
        bind("_" + stem + "_maxsize", Role::Internal, Text{"the maximum size of ", container, false});
        break;
      case PackableKind::PHashTable:
        bind(stem + "_packed", Role::Internal, Text{"the packed size of ", container, false});
        bind(stem + "_count", Role::Internal, Text{"the count of ", container, false});
        break;
    }
    const std::size_t id = bind(local, Role::Member, plain_text(container));
    push();
    if (packable.kind == PackableKind::PackableList) {
      bind("__elem", Role::Internal, Text{"a loop local of ", container, false});
    } else {
      bind_loop_read("__k", packable.key_kind, container);
      bind_loop_read("__v", packable.value_kind, container);
    }
    read_exact(local, id, Text{"the loop of ", container, false});
    pop();
    return id;
  }

  void walk_maskmap(const MaskmapBlock& block, std::vector<Member>& members) {
    const Text reader = quoted_text("the mask map on ", block.parent_ident);
    read_locals(block.parent_reads, reader);
    const std::size_t bits = bind("__mm_bits", Role::Internal, Text{"the bits of ", keep(reader.str()), false});
    std::vector<std::vector<std::size_t>> options;
    for (const MaskGroup& group : block.groups) {
      options.emplace_back();
      for (const SimpleField& f : group.fields) {
        options.back().push_back(bind(f.ident, Role::Value, quoted_text("field ", f.ident)));
        members.push_back({f.ident, options.back().back()});
      }
      for (const PackableField& p : group.packables) {
        options.back().push_back(bind(p.ident, Role::Member, quoted_text("field ", p.ident)));
        members.push_back({p.ident, options.back().back()});
      }
    }
    for (std::size_t g = 0; g < block.groups.size(); ++g) {
      const MaskGroup& group = block.groups[g];
      read_exact("__mm_bits", bits, reader);
      push();
      std::vector<std::size_t> values;
      for (const SimpleField& f : group.fields) {
        values.push_back(walk_field_read(f.ident + "_v", f.kind, Role::Internal,
                                         quoted_text("the decoded value of field ", f.ident), f.ident));
      }
      for (std::size_t k = 0; k < group.fields.size(); ++k) {
        read_exact(group.fields[k].ident, options[g][k], reader);
        read_exact(group.fields[k].ident + "_v", values[k], reader);
      }
      for (std::size_t k = 0; k < group.packables.size(); ++k) {
        const PackableField& p = group.packables[k];
        const std::size_t value = walk_packable(p, p.ident + "_v", p.ident);
        read_exact(p.ident, options[g][group.fields.size() + k], reader);
        read_exact(p.ident + "_v", value, reader);
      }
      pop();
    }
  }

  void walk_switch(const SwitchBlock& block, std::vector<Member>& members) {
    const std::string_view shown = keep("<switch name=" + debug_str(block.name) + ">");
    push();
    read_locals(block.disc_reads, plain_text(shown));
    bind("__disc", Role::Internal, Text{"the discriminator of ", shown, false});
    for (const SwitchCase& c : block.cases) {
      push();
      bind("n", Role::Internal, Text{"the discriminator of ", shown, false});
      std::vector<Member> payload;
      walk_steps(c.steps, payload);
      if (!payload.empty()) {
        const Text reader = plain_text(keep("the variant " + c.variant + " of " + std::string(shown)));
        for (const Member& m : payload) read_exact(m.name, m.id, reader);
      }
      pop();
    }
    pop();
    members.push_back({block.ident, bind(block.ident, Role::Member, quoted_text("switch member ", block.ident))});
  }

  void walk_if_branch(const std::vector<EmitStep>& steps, const std::vector<Member>& options, const Text& reader) {
    push();
    std::vector<Member> values;  // the `_v` local of each payload, by member name
    for (const EmitStep& step : steps) {
      if (const auto* f = step.as<SimpleField>()) {
        // Later steps of the branch read a field's value from its `_v` local.
        values.push_back({f->ident, walk_field_read(f->ident + "_v", f->kind, Role::Value,
                                                    quoted_text("the decoded value of field ", f->ident), f->ident)});
      } else if (const auto* vec = step.as<VectorField>()) {
        values.push_back({vec->ident, walk_vector(*vec, vec->ident + "_v", vec->ident)});
      } else if (const auto* p = step.as<PackableField>()) {
        values.push_back({p->ident, walk_packable(*p, p->ident + "_v", p->ident)});
      }
    }
    for (const Member& value : values) {
      for (const Member& option : options) {
        if (option.name == value.name) read_exact(option.name, option.id, reader);
      }
      read_exact(std::string(value.name) + "_v", value.id, reader);
    }
    pop();
  }

  void walk_if(const IfBlock& block, std::vector<Member>& members) {
    const Text shown = plain_text(keep("<if test=" + debug_str(block.test) + ">"));
    std::vector<Member> options;
    std::set<std::string_view> declared;
    for (const auto* steps : {&block.true_steps, &block.false_steps}) {
      for (const EmitStep& step : *steps) {
        std::string_view name;
        Role role = Role::Member;
        if (const auto* f = step.as<SimpleField>()) {
          name = f->ident;
          role = Role::Value;
        } else if (const auto* vec = step.as<VectorField>()) {
          name = vec->ident;
        } else if (const auto* p = step.as<PackableField>()) {
          name = p->ident;
        } else {
          continue;
        }
        if (!declared.insert(name).second) continue;
        options.push_back({name, bind(name, role, quoted_text("field ", name))});
      }
    }
    members.insert(members.end(), options.begin(), options.end());
    read_locals(block.test_reads, shown);
    walk_if_branch(block.true_steps, options, shown);
    if (!block.false_steps.empty()) walk_if_branch(block.false_steps, options, shown);
  }

  void walk_steps(const std::vector<EmitStep>& steps, std::vector<Member>& members) {
    for (const EmitStep& step : steps) {
      if (const auto* f = step.as<SimpleField>()) {
        members.push_back(
            {f->ident, walk_field_read(f->ident, f->kind, Role::Value, quoted_text("field ", f->ident), f->ident)});
      } else if (const auto* vec = step.as<VectorField>()) {
        members.push_back({vec->ident, walk_vector(*vec, vec->ident, vec->ident)});
      } else if (const auto* table = step.as<TableField>()) {
        members.push_back({table->ident, walk_table(*table)});
      } else if (const auto* p = step.as<PackableField>()) {
        members.push_back({p->ident, walk_packable(*p, p->ident, p->ident)});
      } else if (const auto* maskmap = step.as<MaskmapBlock>()) {
        walk_maskmap(*maskmap, members);
      } else if (const auto* block = step.as<SwitchBlock>()) {
        walk_switch(*block, members);
      } else if (const auto* if_block = step.as<IfBlock>()) {
        walk_if(*if_block, members);
      }
      // An alignment pad binds `pad` only inside its own block.
    }
  }
};

}  // namespace

std::optional<std::string> find_decoder_local_collision(const std::vector<EmitStep>& steps) {
  LocalsCheck check;
  check.check_body(steps);
  return check.problem;
}

}  // namespace qm

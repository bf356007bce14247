// The walk of decoder locals: scopes, bindings and reads. What each construct
// binds and reads is in its own unit (`walk_locals`), beside its decoder
// template.

#include "constructs/locals.hpp"

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "constructs/constructs.hpp"
#include "text/text.hpp"

namespace qm {

std::string quoted(std::string_view ident) {
  std::string out = "`";
  out.append(ident);
  out.push_back('`');
  return out;
}

std::string LocalsWalk::Text::str() const {
  std::string out(head);
  if (quoted) out.push_back('`');
  out.append(name);
  if (quoted) out.push_back('`');
  return out;
}

void LocalsWalk::reserve(std::size_t bindings) {
  all_.reserve(bindings);
  bound_.reserve(bindings);
  newest_.reserve(bindings);
}

void LocalsWalk::pop() {
  const std::size_t start = scope_starts_.back();
  for (std::size_t i = bound_.size(); i-- > start;) {
    const Binding& b = all_[bound_[i]];
    *newest_.find(b.key) = b.prev;
  }
  bound_.resize(start);
  scope_starts_.pop_back();
}

std::size_t LocalsWalk::bind(std::string_view name, std::string_view suffix, Role role, Text what) {
  // identifier_key of the whole name; an ASCII name's key is the name
  // without `r#`, put together in place.
  const std::string_view plain = without_raw_prefix(name);
  std::string_view key;
  if (is_ascii(plain)) {
    key = texts_.keep(plain, suffix);
  } else {
    std::string whole(name);
    whole.append(suffix);
    key = texts_.keep(identifier_key(whole));
  }
  if (trace != nullptr) trace->emplace_back(key);
  const std::size_t id = all_.size();
  std::size_t& newest = newest_.try_emplace(key, kNone).first;
  all_.push_back(Binding{key, role, what, newest});
  newest = id;
  bound_.push_back(id);
  return id;
}

// The newest binding of `name` in view, the one a read meets first.
std::size_t LocalsWalk::visible(std::string_view name) {
  const std::size_t* newest = newest_.find(identifier_key_view(name, key_scratch_));
  return newest == nullptr ? kNone : *newest;
}

void LocalsWalk::report(std::string_view name, const Text& reader, std::size_t met, const std::string& meant) {
  if (problem) return;
  problem = quoted(name) + " read by " + reader.str() + " would be " + all_[met].what.str() + ", not " + meant;
}

void LocalsWalk::read_exact(std::string_view name, std::size_t id, const Text& reader) {
  const std::size_t met = visible(name);
  if (met != kNone && met != id) report(name, reader, met, all_[id].what.str());
}

void LocalsWalk::read_role(std::string_view name, Role role, const Text& reader) {
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
    problem = quoted(name) + " read by " + reader.str() + " would be the innermost of two fields named " + quoted(name);
  }
}

// A name inside a general expression means a field's value, or an enum's raw
// value when that is the nearest binding (a field hiding that raw value is
// caught where the field is read).
void LocalsWalk::read_locals(const LocalReads& reads, const Text& reader) {
  for (const LocalRead& read : reads) {
    Role role = read.meaning == LocalRead::RawBits ? Role::RawBits : Role::Value;
    if (read.meaning == LocalRead::Expression) {
      const std::size_t met = visible(read.local);
      if (met != kNone && all_[met].role == Role::RawBits) role = Role::RawBits;
    }
    read_role(read.local, role, reader);
  }
}

std::size_t LocalsWalk::field_read(std::string_view local, const FieldKind& kind, Role role, const Text& what,
                                   std::string_view field) {
  if (kind.tag == FieldKind::Enum) {
    bind(local, "_raw", Role::Internal, quoted_text("the decoded result of field ", field));
    bind(local, "_bits", role == Role::Value ? Role::RawBits : Role::Internal,
         quoted_text("the raw value of field ", field));
  }
  return bind(local, role, what);
}

void LocalsWalk::loop_read(std::string_view local, const FieldKind& kind, std::string_view container) {
  const Text what{"a loop local of ", container, false};
  if (kind.tag == FieldKind::Enum) {
    bind(local, "_raw", Role::Internal, what);
    bind(local, "_bits", Role::Internal, what);
  }
  bind(local, Role::Internal, what);
}

void walk_steps_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps, StepPlace place,
                       std::vector<LocalsWalk::Member>& members) {
  for (const EmitStep& step : steps) {
    visit_step(step, [&](const auto& m) { walk_locals(walk, m, place, members); });
  }
}

void walk_decoder_locals(LocalsWalk& walk, const std::vector<EmitStep>& steps) {
  // A step binds about four locals (an enum field's value, raw value and
  // bits; a container's count, its value and loop locals).
  walk.reserve(4 * steps.size());
  walk.push();
  std::vector<LocalsWalk::Member> members;
  members.reserve(steps.size());
  walk_steps_locals(walk, steps, kBodyPlace, members);
  for (const LocalsWalk::Member& m : members) walk.read_exact(m.name, m.id, LocalsWalk::plain_text("the constructor"));
  walk.pop();
}

std::optional<std::string> find_decoder_local_collision(const std::vector<EmitStep>& steps) {
  LocalsWalk walk;
  walk_decoder_locals(walk, steps);
  return walk.problem;
}

}  // namespace qm

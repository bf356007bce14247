#pragma once
// Decoder locals: the names a construct's decoder binds and reads, walked in
// the order and scope its template writes them. Each construct's unit declares
// its locals beside its decoder template (its `walk_locals`); this walk checks
// every read against the binding it meets. A local of one construct that
// stands where a later read means another value (a count hiding a field, a
// match binding hiding a field inside a switch arm, a field hiding an enum's
// raw value) would compile into a wrong read or not compile at all; the struct
// is refused instead.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/body.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"
#include "text/text_table.hpp"

namespace qm {

class LocalsWalk {
 public:
  // What a binding holds, as far as readers care.
  enum class Role {
    Value,     // a field's value, or the option of a gated or branch field: what expressions read
    RawBits,   // the raw integer beside an enum field: what discriminators and parents read
    Member,    // a container or switch value: read only as a member
    Internal,  // scratch: counts, headers, decoded results, mask-group values, match bindings
  };

  // A text for messages, built only when a message is written: `head`, then
  // `name` (in backticks when `quoted`). The views point into the steps being
  // checked or into texts the walk keeps.
  struct Text {
    std::string_view head;
    std::string_view name;
    bool quoted = false;
    std::string str() const;
  };
  // "{head}`{name}`" and a plain text.
  static Text quoted_text(std::string_view head, std::string_view name) { return Text{head, name, true}; }
  static Text plain_text(std::string_view text) { return Text{text, {}, false}; }

  // A member (or variant field) with the binding its constructor entry means.
  struct Member {
    std::string_view name;
    std::size_t id = 0;
  };

  // The first read that met the wrong binding, as a reason.
  std::optional<std::string> problem;
  // When set, receives every name bound, in order (for checking the walks
  // against the templates they describe).
  std::vector<std::string>* trace = nullptr;

  // Keeps a text for as long as the walk, for descriptions that point into it.
  std::string_view keep(std::string_view text) { return texts_.keep(text); }

  // Room for about `bindings` bindings, so that the walk of a large body does
  // not grow its tables step by step.
  void reserve(std::size_t bindings);

  // Scopes: a Rust block of the decoder.
  void push() { scope_starts_.push_back(bound_.size()); }
  void pop();

  // Binds `name` in the innermost scope; the binding's id.
  std::size_t bind(std::string_view name, Role role, Text what) { return bind(name, {}, role, what); }
  // Binds `name` followed by `suffix` (ASCII), without building that name first.
  std::size_t bind(std::string_view name, std::string_view suffix, Role role, Text what);
  // A read that means exactly binding `id`.
  void read_exact(std::string_view name, std::size_t id, const Text& reader);
  // A read that means a binding of `role`: a field's value for expressions,
  // an enum's raw value for discriminators and parents. Two bindings of that
  // role under one name leave such a read ambiguous, which is refused too.
  void read_role(std::string_view name, Role role, const Text& reader);
  // The locals a translated expression reads.
  void read_locals(const LocalReads& reads, const Text& reader);

  // The locals of one value read into `local` (`emit_read_value`): the three
  // of an enum read, or the one of any other kind.
  std::size_t field_read(std::string_view local, const FieldKind& kind, Role role, const Text& what,
                         std::string_view field);
  // The loop-scope locals of one key or value read (`__k`, `__v`).
  void loop_read(std::string_view local, const FieldKind& kind, std::string_view container);

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  struct Binding {
    std::string_view key;  // the identifier as Rust compares it, in `texts_`
    Role role = Role::Internal;
    Text what;                 // "field `x`", "the count of vector `x`", ...
    std::size_t prev = kNone;  // the binding of the same key in view before this one
  };

  std::size_t visible(std::string_view name);
  void report(std::string_view name, const Text& reader, std::size_t met, const std::string& meant);

  // Every binding of the body.
  std::vector<Binding> all_;
  // The bindings of the open scopes, innermost last, and where each scope starts.
  std::vector<std::size_t> bound_;
  std::vector<std::size_t> scope_starts_;
  // Hardening: the newest binding in view under each key (the older ones
  // follow `prev`), so that a read does not scan every binding of the body
  // (quadratic in its fields). Bindings always go to the innermost scope, so
  // the ones in view, newest first, are also innermost scope first, and a
  // closing scope's bindings are the newest of their keys. kNone: no binding
  // of the key is in view. The keys are views into `texts_`.
  TextTable<std::size_t, /*kCopiesKeys=*/false> newest_;
  // Texts that binding descriptions and readers point into.
  TextPool texts_;
  std::string key_scratch_;
};

// "`{ident}`"
std::string quoted(std::string_view ident);

}  // namespace qm

#pragma once
// Result<T>: the product of a builder or translator, or the reason text that
// explains why it could not be produced. Failures inside generation are values;
// they travel up unchanged or behind a prefix and end as a SKIPPED line.

#include <cstdlib>
#include <string>
#include <utility>
#include <variant>

namespace qm {

// A failure carrying its reason text.
struct Fail {
  std::string reason;
};

inline Fail fail(std::string reason) { return Fail{std::move(reason)}; }

template <class T>
class [[nodiscard]] Result {
 public:
  // A value is moved (or copied) straight into place, not into a parameter first.
  Result(T&& value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(const T& value) : v_(std::in_place_index<0>, value) {}        // NOLINT(google-explicit-constructor)
  Result(Fail f) : v_(std::in_place_index<1>, std::move(f.reason)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }

  const std::string& reason() const { return std::get<1>(v_); }
  // The failure, re-wrapped behind an optional prefix, for returning up.
  Fail fail_with_prefix(const std::string& prefix = {}) const { return Fail{prefix + reason()}; }

 private:
  std::variant<T, std::string> v_;
};

}  // namespace qm

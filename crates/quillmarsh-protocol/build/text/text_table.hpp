#pragma once
// A hash table keyed by texts, for the large module-wide tables (the type
// registry, the sets of declared names): one flat array of slots probed one
// after another, each slot holding the key's hash, a view of the key and the
// value. A lookup touches one or two neighbouring slots instead of a chain of
// separately allocated nodes, and the keys are copied into a pool of shared
// blocks, so an insertion costs no allocation of its own. A table that keeps
// views instead (`kCopiesKeys` false) holds the views it is given, whose texts
// must then outlive it.

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "text/text.hpp"

namespace qm {

// The value of a `TextTable` used as a set.
struct NoValue {};

template <typename V, bool kCopiesKeys = true>
class TextTable {
 public:
  TextTable() = default;
  TextTable(std::initializer_list<std::string_view> keys) {
    for (std::string_view key : keys) try_emplace(key);
  }
  // The keys live in the table's own pool: a copy would see the other's.
  TextTable(const TextTable&) = delete;
  TextTable& operator=(const TextTable&) = delete;
  TextTable(TextTable&&) noexcept = default;
  TextTable& operator=(TextTable&&) noexcept = default;
  ~TextTable() = default;

  std::size_t size() const { return size_; }
  // Makes room for `count` keys at once.
  void reserve(std::size_t count) {
    std::size_t capacity = kFirstCapacity;
    while (!fits(count, capacity)) capacity *= 2;
    if (capacity > slots_.size()) rehash(capacity);
  }
  bool empty() const { return size_ == 0; }

  // The value of `key`, or null.
  const V* find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const Slot& slot = slots_[index_of(key, hash_of(key))];
    return slot.hash == 0 ? nullptr : &slot.value;
  }
  V* find(std::string_view key) { return const_cast<V*>(std::as_const(*this).find(key)); }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  std::size_t count(std::string_view key) const { return contains(key) ? 1 : 0; }
  // The value of a key the table holds.
  const V& at(std::string_view key) const { return *find(key); }

  // Adds `key` with `value` unless it is there; the value of `key` and
  // whether it was added. The reference holds until the next insertion.
  std::pair<V&, bool> try_emplace(std::string_view key, V value = V()) {
    if (!fits(size_ + 1, slots_.size())) rehash(slots_.empty() ? kFirstCapacity : 2 * slots_.size());
    const std::size_t hash = hash_of(key);
    Slot& slot = slots_[index_of(key, hash)];
    if (slot.hash != 0) return {slot.value, false};
    if constexpr (kCopiesKeys) key = keys_.keep(key);
    slot = Slot{hash, key, std::move(value)};
    ++size_;
    return {slot.value, true};
  }
  bool insert(std::string_view key) { return try_emplace(key).second; }
  void insert_or_assign(std::string_view key, V value) { try_emplace(key).first = std::move(value); }
  V& operator[](std::string_view key) { return try_emplace(key).first; }

 private:
  struct Slot {
    std::size_t hash = 0;  // never 0 for a held key: 0 marks an empty slot
    std::string_view key;
    V value{};
  };
  std::vector<Slot> slots_;  // a power of two of them, or none
  std::size_t size_ = 0;
  [[no_unique_address]] std::conditional_t<kCopiesKeys, TextPool, NoValue> keys_;

  // The top bit set keeps a held key's hash from being 0; the slot comes
  // from the low bits.
  static std::size_t hash_of(std::string_view key) {
    constexpr std::size_t kHeld = std::size_t{1} << (8 * sizeof(std::size_t) - 1);
    return std::hash<std::string_view>{}(key) | kHeld;
  }

  // The slot holding `key`, or the empty slot where it would go.
  std::size_t index_of(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.hash == 0 || (slot.hash == hash && slot.key == key)) return i;
    }
  }

  static constexpr std::size_t kFirstCapacity = 16;
  // At most three quarters of the slots in use, so that probes stay short.
  static bool fits(std::size_t count, std::size_t capacity) { return 4 * count <= 3 * capacity; }

  void rehash(std::size_t capacity) {
    std::vector<Slot> old(capacity);
    old.swap(slots_);
    for (Slot& slot : old) {
      if (slot.hash != 0) slots_[index_of(slot.key, slot.hash)] = std::move(slot);
    }
  }
};

}  // namespace qm

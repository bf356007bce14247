#pragma once
// A small deterministic random source for the description generator.
//
// xoshiro256** initialised through splitmix64. Every draw is plain 64-bit integer
// arithmetic, so a given starting value yields the same sequence on every
// platform and compiler (the standard library's distributions do not promise
// that).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::describe {

class Rng {
 public:
  explicit Rng(std::uint64_t start) {
    std::uint64_t x = start;
    for (auto& word : state_) {
      x += 0x9E3779B97F4A7C15ULL;
      std::uint64_t z = x;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      word = z ^ (z >> 31);
    }
  }

  std::uint64_t next() {
    const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
    const std::uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotl(state_[3], 45);
    return result;
  }

  // Uniform enough in [0, n); n must be positive.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  // In [lo, hi], both included.
  std::int64_t between(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo) + 1));
  }
  // True with probability p percent.
  bool percent(unsigned p) { return below(100) < p; }

  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t state_[4] = {};
};

}  // namespace qm::describe

// The pool of small kept texts.

#include <cstring>
#include <memory>
#include <string_view>

#include "text/text.hpp"

namespace qm {

std::string_view TextPool::keep(std::string_view head, std::string_view tail) {
  const std::size_t size = head.size() + tail.size();
  if (size == 0) return {};
  char* dest = nullptr;
  if (size > kBlock / 4) {  // a long text gets a block of its own
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    dest = blocks_.back().get();
  } else {
    if (size > left_) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
      free_ = blocks_.back().get();
      left_ = kBlock;
    }
    dest = free_;
    free_ += size;
    left_ -= size;
  }
  std::memcpy(dest, head.data(), head.size());
  if (!tail.empty()) std::memcpy(dest + head.size(), tail.data(), tail.size());
  return {dest, size};
}

}  // namespace qm

// Reserving room for large texts: the generated files are written into one
// string each, tens of megabytes for the largest descriptions.

#include <sys/mman.h>

#include <cstdint>
#include <string>

#include "text/text.hpp"

namespace qm {

void reserve_text(std::string& text, std::size_t bytes) {
  text.reserve(text.size() + bytes);
#ifdef MADV_HUGEPAGE
  // A large reservation is a mapping of its own. Huge pages are only advice:
  // where they are not given, the pages are ordinary ones; either way nothing
  // is touched before it is written.
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
  const std::uintptr_t first = (begin + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (begin + text.capacity()) & ~(kHugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

}  // namespace qm

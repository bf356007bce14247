// Checks of UTF-8 well-formedness, shared by the reader of protocol.xml and
// the display of raw environment values.

#include "text/utf8.hpp"

#include "text/text.hpp"

namespace qm {

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
  const utf8::Decoded d = utf8::decode(text, i);
  return d.cp == utf8::kInvalid ? 0 : d.size;
}

bool is_valid_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = utf8_sequence_length(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

}  // namespace qm

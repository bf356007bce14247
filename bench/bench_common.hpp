#pragma once
// Shared by the benchmark programs: reading a description file and parsing
// it with expat alone, as the yardstick the generator is measured against.

#include <expat.h>

#include <cstddef>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace qm::bench {

inline std::optional<std::string> read_whole_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

// Parses `text` with expat and nothing else. With `handlers`, empty element
// handlers are installed (on a namespace-aware parser, as the generator's
// own), so expat also collects every element's name and attributes; without,
// it only tokenizes. Returns whether the text is well-formed. Never inlined, so
// that an instruction count can be limited to this function by its name.
[[gnu::noinline]] inline bool expat_parse_only(std::string_view text, bool handlers) {
  XML_Parser parser = handlers ? XML_ParserCreateNS("UTF-8", '\x01') : XML_ParserCreate("UTF-8");
  if (parser == nullptr) return false;
  if (handlers) {
    XML_SetElementHandler(
        parser, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
  }
  bool ok = true;
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min(kChunk, text.size() - pos);
    const bool last = pos + n == text.size();
    if (XML_Parse(parser, text.data() + pos, static_cast<int>(n), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      ok = false;
      break;
    }
    pos += n;
  } while (pos < text.size());
  XML_ParserFree(parser);
  return ok;
}

}  // namespace qm::bench

// libFuzzer target: arbitrary bytes as the text of protocol.xml, run through
// the whole generation in memory. Bytes that are not valid UTF-8 are dropped
// here exactly as the build script refuses them before parsing, so every
// input that reaches the generator is one the real program could feed it.
//
// Anything other than returning normally (a crash, a sanitizer report, an
// abort from a template bug, a time-out or an out-of-memory) is a finding.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "driver/driver.hpp"
#include "text/text.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!qm::is_valid_utf8(text)) return 0;
  const auto generated = qm::generate_from_text(text, "/fuzz/vellumite/protocol.xml");
  if (generated) {
    // Touch the result so nothing is optimised away.
    volatile std::size_t sink = generated->text.size() + generated->report.size();
    (void)sink;
  }
  return 0;
}

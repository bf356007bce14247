// qm-bench-run: one measurement in a process of its own, so that the peak
// resident size it reports belongs to that measurement alone.
//
//   qm-bench-run generate|parse|parse-bare FILE [--repeat N]
//
// Reads FILE, then either runs the whole generation in memory (generate), or
// only parses the bytes with expat with empty element handlers (parse) or with
// none (parse-bare), N times (default 1). Prints one line:
//   mode=... input_bytes=... output_bytes=... best_ms=... peak_rss_kb=...
// best_ms is the fastest of the N runs; peak_rss_kb is the process's peak
// resident size (getrusage), the input text included.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bench_common.hpp"
#include "driver/driver.hpp"

namespace {

int usage() {
  std::fprintf(stderr, "usage: qm-bench-run generate|parse|parse-bare FILE [--repeat N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) return usage();
  const std::string_view mode = argv[1];
  if (mode != "generate" && mode != "parse" && mode != "parse-bare") return usage();
  int repeat = 1;
  if (argc == 5) {
    if (std::string_view(argv[3]) != "--repeat") return usage();
    repeat = std::atoi(argv[4]);
    if (repeat < 1) return usage();
  }
  const auto text = qm::bench::read_whole_file(argv[2]);
  if (!text) {
    std::fprintf(stderr, "qm-bench-run: cannot read %s\n", argv[2]);
    return 1;
  }

  double best_ms = 1e300;
  std::size_t output_bytes = 0;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (mode == "generate") {
      auto generated = qm::generate_from_text(*text, "/bench/protocol.xml");
      if (!generated) {
        std::fprintf(stderr, "qm-bench-run: %s\n", generated.reason().c_str());
        return 1;
      }
      output_bytes = generated->text.size();
    } else if (!qm::bench::expat_parse_only(*text, mode == "parse")) {
      std::fprintf(stderr, "qm-bench-run: %s is not well-formed XML\n", argv[2]);
      return 1;
    }
    const auto stop = std::chrono::steady_clock::now();
    best_ms = std::min(best_ms, std::chrono::duration<double, std::milli>(stop - start).count());
  }

  rusage usage_now{};
  getrusage(RUSAGE_SELF, &usage_now);
  std::printf("mode=%.*s input_bytes=%zu output_bytes=%zu best_ms=%.2f peak_rss_kb=%ld\n",
              static_cast<int>(mode.size()), mode.data(), text->size(), output_bytes, best_ms, usage_now.ru_maxrss);
  return 0;
}

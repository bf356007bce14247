// qm-random-description: writes one random protocol description to stdout.
//
//   qm-random-description --number N [--profile edge|realistic] [--size BYTES] [--extended]

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "describe.hpp"

namespace {

bool parse_number(std::string_view text, std::uint64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

int usage(const char* why) {
  std::cerr << "qm-random-description: " << why
            << "\nusage: qm-random-description --number N [--profile edge|realistic] [--size BYTES] [--extended]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  qm::describe::Options options;
  bool have_start = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--extended") {
      options.extended = true;
      continue;
    }
    if (i + 1 >= argc) return usage("missing value after an option");
    std::string_view value = argv[++i];
    std::uint64_t number = 0;
    if (arg == "--number") {
      if (!parse_number(value, number)) return usage("--number needs a non-negative integer");
      options.start = number;
      have_start = true;
    } else if (arg == "--profile") {
      if (value == "edge") {
        options.profile = qm::describe::Profile::Edge;
      } else if (value == "realistic") {
        options.profile = qm::describe::Profile::Realistic;
      } else {
        return usage("--profile is edge or realistic");
      }
    } else if (arg == "--size") {
      if (!parse_number(value, number) || number == 0) return usage("--size needs a positive byte count");
      options.size = static_cast<std::size_t>(number);
    } else {
      return usage("unknown option");
    }
  }
  if (!have_start) return usage("--number is required");
  std::string text = qm::describe::random_description(options);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

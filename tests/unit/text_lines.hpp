#pragma once
// Line helpers for tests of generated text: plain string code, independent of
// the printer and the emitters the tests check.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace qm::lines {

// The lines of `text`, each with its line feed.
inline std::vector<std::string_view> of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// `text` with every non-empty line moved right by `by` spaces.
inline std::string shifted(std::string_view text, std::size_t by) {
  std::string out;
  for (const std::string_view line : of(text)) {
    if (line != "\n") out.append(by, ' ');
    out += line;
  }
  return out;
}

// `text` with every non-empty line put at `indent` spaces, whatever its own.
inline std::string flattened(std::string_view text, std::size_t indent) {
  std::string out;
  for (std::string_view line : of(text)) {
    if (line != "\n") {
      out.append(indent, ' ');
      line.remove_prefix(line.find_first_not_of(' '));
    }
    out += line;
  }
  return out;
}

// The indentations of the non-empty lines of `text`, each once.
inline std::set<std::size_t> indents(std::string_view text) {
  std::set<std::size_t> found;
  for (const std::string_view line : of(text)) {
    if (line != "\n") found.insert(line.find_first_not_of(' '));
  }
  return found;
}

// Whether each of `want`, at `indent` spaces, is a whole line of `text`, in
// this order (other lines may come between them).
inline ::testing::AssertionResult in_order(std::string_view text, std::size_t indent,
                                           const std::vector<std::string>& want) {
  const std::vector<std::string_view> all = of(text);
  auto at = all.begin();
  for (const std::string& w : want) {
    const std::string line = std::string(indent, ' ') + w + "\n";
    at = std::find(at, all.end(), line);
    if (at == all.end()) {
      return ::testing::AssertionFailure()
             << "no line \"" << line.substr(0, line.size() - 1) << "\" (in this order) in:\n"
             << text;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace qm::lines

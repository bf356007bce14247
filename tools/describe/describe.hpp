#pragma once
// Random protocol descriptions (protocol.xml documents) for property tests and
// benchmarks of the code generator.
//
// Two profiles:
//  - edge: small documents crowded with corner cases (reserved words and
//    decoder locals as names, odd literals and expressions, duplicates, names
//    that shadow the generated code's own), mixed with ordinary constructs so
//    that many structs are still written;
//  - realistic: large, plausible documents (hundreds of enums, data types that
//    use one another out of document order, thousands of messages, every
//    construct at a plausible rate, documentation on most elements), whose size
//    approximates the requested byte count.
// With `extended`, either profile also writes the constructs that only the
// code generator's extended tier translates (tables, switches, mask maps and
// nested ifs in if branches, tables in switch cases, vectors in mask groups,
// compound C# if tests, subfield values over other fields); without it the
// documents are exactly those written before the option existed.
// The same options always give the same document, byte for byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm::describe {

enum class Profile { Edge, Realistic };

struct Options {
  std::uint64_t start = 0;
  Profile profile = Profile::Edge;
  // Approximate size of the document in bytes; 0 picks the profile's default
  // (a few kilobytes for edge, about 1 MB for realistic).
  std::size_t size = 0;
  // Also write the constructs only the extended tier translates.
  bool extended = false;
};

std::string random_description(const Options& options);

// An attribute value for a double-quoted XML attribute: markup characters and
// the whitespace that attribute normalisation would fold become references.
std::string escape_xml_attr(std::string_view value);

}  // namespace qm::describe

#pragma once
// The run sequence: locate, read and parse protocol.xml, generate the whole
// Rust text in memory, report, and write messages_generated.rs and
// dispatch_generated.rs atomically.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schema/context.hpp"
#include "text/result.hpp"
#include "xml/xml.hpp"

namespace qm {

// The relative path from the crate's manifest directory to protocol.xml.
inline constexpr std::string_view kProtocolRelativePath =
    "../../../vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol/protocol.xml";

// The crate's features that add generated files (Cargo sets
// `CARGO_FEATURE_ENCODE`, `CARGO_FEATURE_SERDE`, `CARGO_FEATURE_EXTENDED` for
// the build step).
struct Features {
  bool encode = false;  // encoders_generated.rs
  bool serde = false;   // serde_generated.rs
  // extended_generated.rs: the items the default tier leaves out that the
  // extended tier translates; the typed API, encoders and serde impls then
  // cover them too.
  bool extended = false;
};

struct Generated {
  std::string text;      // the whole content of messages_generated.rs
  std::string dispatch;  // the whole content of dispatch_generated.rs
  std::string report;    // the "cargo:warning=..." report line, with its line feed
  // The content of encoders_generated.rs, when encoders were asked for.
  std::optional<std::string> encoders;
  // The content of serde_generated.rs, when serde impls were asked for.
  std::optional<std::string> serde;
  // The content of extended_generated.rs, when the extended tier was asked for.
  std::optional<std::string> extended;
};

// Runs every generating phase over a parsed document: header, enums,
// typedefs, data types, message sections, opcode index; then the typed API
// over what was written; with `encode`, the encoders of every written enum
// and struct too, and with `serde` their serde impls. Never fails.
Generated generate(const xml::Document& doc, std::string_view protocol_path,
                   const std::vector<std::size_t>& line_offsets, Features features = {});

// Parses `text` and generates. Fails only when the text is not well-formed
// XML, with "protocol.xml is not well-formed XML: {parser's error}".
Result<Generated> generate_from_text(std::string_view text, std::string_view protocol_path, Features features = {});

// A raw environment value as the build host's runtime shows it in an error:
// valid runs in debug-quoted form (single quotes escaped too), every byte
// that is not part of valid UTF-8 as `\xHH`.
std::string debug_os_str(std::string_view raw);

// `base` joined with `rel` as the build host joins paths: no normalisation,
// one "/" between them unless `base` is empty or already ends in "/"; an
// absolute `rel` replaces `base`.
std::string join_path(std::string_view base, std::string_view rel);

// The whole program as the build host starts it: reads the environment,
// prints directives to stdout, writes the output file; fatal failures are
// printed to stderr. Returns the process exit status.
int run_build_script();

// The program for its command line `args` (the program name left out): none
// runs the build step; `--version` prints "quillmarsh-codegen {version}",
// which the crate's build step checks before it uses a prebuilt generator;
// anything else is refused with a usage line on stderr and exit status 2.
int run_program(const std::vector<std::string_view>& args, std::string_view version);

}  // namespace qm

// The run sequence of the build step: locate and read protocol.xml, parse it,
// generate the whole Rust text in memory, report the counts, and replace
// messages_generated.rs in one atomic step.

#include "driver/driver.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "driver/output.hpp"
#include "enums/enums.hpp"
#include "schema/registry.hpp"
#include "structs/dispatch.hpp"
#include "structs/structs.hpp"
#include "text/text.hpp"

namespace qm {

namespace {

constexpr std::string_view kOutputName = "messages_generated.rs";
constexpr std::string_view kDispatchName = "dispatch_generated.rs";
constexpr std::string_view kEncodersName = "encoders_generated.rs";
constexpr std::string_view kSerdeName = "serde_generated.rs";
constexpr std::string_view kExtendedName = "extended_generated.rs";

// How the build host's own runtime shows an unwrapped error.
std::string unwrap_err(std::string_view error) {
  return "called `Result::unwrap()` on an `Err` value: " + std::string(error);
}

// A system error as the build host's runtime displays it.
std::string os_error_text(int err) {
  return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")";
}

// An environment variable that must be present and valid Unicode.
Result<std::string> read_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return fail(unwrap_err("NotPresent"));
  const std::string_view raw(value);
  if (!is_valid_utf8(raw)) return fail(unwrap_err("NotUnicode(" + debug_os_str(raw) + ")"));
  return std::string(raw);
}

void print_out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

int fatal(std::string_view message) {
  std::fflush(stdout);
  std::string line(message);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  return 1;
}

// Closes a descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  // Closes now, reporting the error that close(2) may reveal.
  int close_now() {
    const int r = ::close(fd);
    fd = -1;
    return r;
  }
};

// Reads a whole file; on failure the errno value.
Result<std::string> read_file(const std::string& path, int& err) {
  Fd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (f.fd < 0) {
    err = errno;
    return fail("");
  }
  std::string data;
  struct stat st {};
  if (::fstat(f.fd, &st) == 0 && S_ISREG(st.st_mode)) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return fail("");
    }
    data.append(buf, static_cast<std::size_t>(n));
  }
  return data;
}

// Whether `path` is a regular file holding exactly `text`.
bool file_holds(const std::string& path, std::string_view text) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (static_cast<std::size_t>(st.st_size) != text.size()) return false;
  int err = 0;
  auto existing = read_file(path, err);
  return existing.ok() && *existing == text;
}

bool write_all(int fd, std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t want = std::min<std::size_t>(text.size() - done, std::size_t{1} << 30);
    const ssize_t n = ::write(fd, text.data() + done, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// One output file: its name in the output directory and its new text.
struct OutputFile {
  std::string_view name;
  std::string_view text;
};

// A new output text written to a temporary file beside its final place,
// waiting for the rename. Removes the temporary file unless it was renamed.
struct StagedFile {
  std::string tmp;
  std::string path;
  StagedFile(std::string t, std::string p) : tmp(std::move(t)), path(std::move(p)) {}
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  StagedFile(StagedFile&& other) noexcept : tmp(std::move(other.tmp)), path(std::move(other.path)) {
    other.tmp.clear();
  }
  StagedFile& operator=(StagedFile&&) = delete;
  ~StagedFile() {
    if (!tmp.empty()) ::unlink(tmp.c_str());
  }
};

// Writes `file` to a new temporary file in `dir` (with the permissions of the
// file it will replace) and syncs it. Nothing when the file already holds the
// text.
Result<std::optional<StagedFile>> stage_output(const std::string& dir, const OutputFile& file) {
  const std::string path = join_path(dir, file.name);
  if (file_holds(path, file.text)) return std::optional<StagedFile>();

  std::string tmp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    std::string tmp_name = ".";
    tmp_name.append(file.name);
    tmp_name.append(".").append(std::to_string(::getpid()));
    tmp_name.append(".").append(std::to_string(attempt)).append(".tmp");
    tmp = join_path(dir, tmp_name);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 99)) return fail(unwrap_err(os_error_text(errno)));
  }
  std::optional<StagedFile> staged(std::in_place, tmp, path);
  Fd out(fd);
  // Keep the permissions of the file being replaced.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(out.fd, st.st_mode & 07777);
  if (!write_all(out.fd, file.text) || ::fsync(out.fd) != 0) return fail(unwrap_err(os_error_text(errno)));
  if (out.close_now() != 0) return fail(unwrap_err(os_error_text(errno)));
  return staged;
}

// Replaces every file of `files` in `dir` with its text, each through a
// temporary file in the same directory and a rename, so that a reader never
// sees a partial file. All files are written before the first rename, so a
// failure while writing leaves every earlier file as it was. A file that
// already holds its text is left alone, keeping its timestamp.
Result<bool> write_outputs(const std::string& dir, const std::vector<OutputFile>& files) {
  std::vector<StagedFile> staged;
  for (const OutputFile& file : files) {
    auto one = stage_output(dir, file);
    if (!one) return fail(one.reason());
    if (*one) staged.push_back(std::move(**one));
  }
  for (StagedFile& file : staged) {
    if (::rename(file.tmp.c_str(), file.path.c_str()) != 0) return fail(unwrap_err(os_error_text(errno)));
    file.tmp.clear();
  }
  return !staged.empty();
}

int run() {
  auto manifest = read_env("CARGO_MANIFEST_DIR");
  if (!manifest) return fatal(manifest.reason());
  const std::string joined = join_path(*manifest, kProtocolRelativePath);
  print_out("cargo:rerun-if-changed=build\n");
  print_out("cargo:rerun-if-changed=" + joined + "\n");

  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(joined.c_str(), nullptr), &std::free);
  if (!resolved) return fatal("Failed to canonicalize " + joined + ": " + os_error_text(errno));
  const std::string canonical(resolved.get());

  int err = 0;
  auto text = read_file(canonical, err);
  if (!text) return fatal("Failed to read protocol.xml at " + canonical + ": " + os_error_text(err));
  if (!is_valid_utf8(*text)) {
    return fatal("Failed to read protocol.xml at " + canonical + ": stream did not contain valid UTF-8");
  }

  // Cargo sets these for the build script when the crate's features are on.
  Features features;
  features.encode = std::getenv("CARGO_FEATURE_ENCODE") != nullptr;
  features.serde = std::getenv("CARGO_FEATURE_SERDE") != nullptr;
  features.extended = std::getenv("CARGO_FEATURE_EXTENDED") != nullptr;
  auto generated = generate_from_text(*text, canonical, features);
  if (!generated) return fatal(generated.reason());
  print_out(generated->report);

  auto out_dir = read_env("OUT_DIR");
  if (!out_dir) return fatal(out_dir.reason());
  std::vector<OutputFile> outputs = {{kOutputName, generated->text}, {kDispatchName, generated->dispatch}};
  if (generated->encoders) outputs.push_back({kEncodersName, *generated->encoders});
  if (generated->serde) outputs.push_back({kSerdeName, *generated->serde});
  if (generated->extended) outputs.push_back({kExtendedName, *generated->extended});
  auto written = write_outputs(*out_dir, outputs);
  if (!written) return fatal(written.reason());
  return 0;
}

}  // namespace

std::string debug_os_str(std::string_view raw) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  std::size_t i = 0;
  while (i < raw.size()) {
    std::size_t end = i;
    while (end < raw.size()) {
      const std::size_t n = utf8_sequence_length(raw, end);
      if (n == 0) break;
      end += n;
    }
    if (end > i) {
      // A valid run is escaped as a text, except that a single quote is
      // escaped as well (each character is escaped on its own).
      const std::string quoted = debug_str(raw.substr(i, end - i));
      for (const char c : std::string_view(quoted).substr(1, quoted.size() - 2)) {
        if (c == '\'') out += '\\';
        out += c;
      }
      i = end;
    } else {
      const auto b = static_cast<unsigned char>(raw[i++]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    }
  }
  out += '"';
  return out;
}

std::string join_path(std::string_view base, std::string_view rel) {
  if (!rel.empty() && rel.front() == '/') return std::string(rel);
  std::string joined(base);
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += rel;
  return joined;
}

namespace {

// The generated text is about four times the description; reserving that at
// once spares copying the text over and over as it grows (pages that are
// reserved but never written are never touched).
constexpr std::size_t kOutputPerInputByte = 5;

// Runs every section of `doc` through `ctx`: the messages text, with the
// encoders and serde impls when the context asks for them.
void run_sections(CodegenCtx& ctx, const xml::Document& doc) {
  const auto& sections = doc.root().children();
  for (const xml::Node* s : sections) {
    if (s->tag() == "enums") process_enums(ctx, *s);
  }
  for (const xml::Node* s : sections) {
    if (s->tag() == "types") collect_typedefs(ctx.registry, *s);
  }
  for (const xml::Node* s : sections) {
    if (s->tag() == "types") process_datatypes(ctx, *s);
  }
  for (const xml::Node* s : sections) {
    if (s->tag() == "messages") {
      process_messages(ctx, *s);
    } else if (s->tag() == "gameactions") {
      process_gameactions(ctx, *s);
    } else if (s->tag() == "gameevents") {
      process_gameevents(ctx, *s);
    }
  }
}

// Starts a context with the file headers of `features` written.
void start_context(CodegenCtx& ctx, Features features, std::size_t input_size) {
  ctx.out.reserve(input_size * kOutputPerInputByte);
  write_file_header(ctx);
  if (features.encode) {
    ctx.encode = true;
    ctx.encoders.reserve(input_size * kOutputPerInputByte);
    write_encoders_header(ctx);
  }
  if (features.serde) {
    ctx.serde = true;
    ctx.serde_impls.reserve(input_size * kOutputPerInputByte);
    write_serde_header(ctx);
  }
}

// The typed API, encoders and serde impls over what `ctx` wrote.
void finish_outputs(CodegenCtx& ctx, Features features, Generated& generated) {
  generated.dispatch = write_dispatch_file(ctx);
  if (features.encode) {
    write_dispatch_encoders(ctx, ctx.encoders);
    generated.encoders = std::move(ctx.encoders);
  }
  if (features.serde) {
    write_dispatch_serde(ctx, ctx.serde_impls);
    generated.serde = std::move(ctx.serde_impls);
  }
}

Generated generate_reserved(const xml::Document& doc, std::string_view protocol_path,
                            const std::vector<std::size_t>& line_offsets, Features features, std::size_t input_size) {
  // The default tier: messages_generated.rs and the report line, always
  // exactly as without the extended tier.
  CodegenCtx ctx(protocol_path, line_offsets);
  start_context(ctx, features.extended ? Features{} : features, input_size);
  run_sections(ctx, doc);
  write_opcode_table(ctx);
  Generated generated{std::move(ctx.out), {}, report_line(ctx.stats), std::nullopt, std::nullopt, std::nullopt};
  if (!features.extended) {
    finish_outputs(ctx, features, generated);
    return generated;
  }

  // The extended tier runs the document again, taking what the default
  // tier defers. Every item the first run wrote comes out the same; the
  // items it left out and this run writes go to extended_generated.rs, and
  // the typed API, encoders and serde impls cover both.
  Baseline baseline;
  baseline.written.insert(ctx.written_nodes.begin(), ctx.written_nodes.end());
  baseline.declared_types = &ctx.declared_types;
  baseline.declared_values = &ctx.declared_values;
  CodegenCtx extended(protocol_path, line_offsets);
  extended.extended = true;
  extended.baseline = &baseline;
  start_context(extended, features, input_size);
  run_sections(extended, doc);
  generated.extended = write_extended_file(extended);
  generated.report += extended_report_line(extended.recovered.size(), ctx.skipped.size());
  finish_outputs(extended, features, generated);
  return generated;
}

}  // namespace

Generated generate(const xml::Document& doc, std::string_view protocol_path,
                   const std::vector<std::size_t>& line_offsets, Features features) {
  return generate_reserved(doc, protocol_path, line_offsets, features, 0);
}

Result<Generated> generate_from_text(std::string_view text, std::string_view protocol_path, Features features) {
  const std::vector<std::size_t> line_offsets = build_line_offsets(text);
  auto doc = xml::parse(text);
  if (!doc) return fail("protocol.xml is not well-formed XML: " + doc.reason());
  return generate_reserved(*doc, protocol_path, line_offsets, features, text.size());
}

int run_program(const std::vector<std::string_view>& args, std::string_view version) {
  if (args.empty()) return run_build_script();
  if (args.size() == 1 && args.front() == "--version") {
    std::string line;
    emit(line, "quillmarsh-codegen $version$\n", {{"version", version}});
    print_out(line);
    return 0;
  }
  fatal("usage: quillmarsh-codegen [--version] (the crate's build step runs it without arguments)");
  return 2;
}

int run_build_script() {
  try {
    return run();
  } catch (const std::exception& e) {
    return fatal(std::string("fatal: ") + e.what());
  } catch (...) {
    return fatal("fatal: unexpected failure");
  }
}

}  // namespace qm

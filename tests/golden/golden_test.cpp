// Golden tests: each folder under cases/ is one run of the real generator in
// a fresh temporary tree. See README.md in this folder for the case format.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kCasesDir = QM_GOLDEN_CASES_DIR;
constexpr const char* kExe = QM_CODEGEN_EXE;
constexpr const char* kManifestRel = "main/crates/quillmarsh-protocol";
constexpr const char* kProtocolRel = "vellumite/Vellumite.BrenicProtocol/Vellumite.BrenicProtocol";
// The files a successful run writes, in the order they are checked; the
// encoders only with the encode feature, the serde impls only with the serde
// feature, the extended tier's items only with the extended feature.
constexpr std::array<const char*, 5> kOutputNames = {"messages_generated.rs", "dispatch_generated.rs",
                                                     "encoders_generated.rs", "serde_generated.rs",
                                                     "extended_generated.rs"};
// The line the extended tier adds to the standard output.
constexpr std::string_view kExtendedReport = "cargo:warning=quillmarsh-protocol/build: extended tier ";

bool update_mode() {
  const char* v = std::getenv("QM_UPDATE_GOLDEN");
  return v != nullptr && std::string_view(v) == "1";
}

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(kCasesDir, ec)) {
    if (entry.is_directory()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, std::string_view text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << p;
}

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  if (from.empty()) return text;
  for (std::size_t i = text.find(from); i != std::string::npos; i = text.find(from, i + to.size())) {
    text.replace(i, from.size(), to);
  }
  return text;
}

// A line shown with its invisible bytes made visible.
std::string visible(std::string_view line) {
  std::string out;
  for (const char ch : line) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto nl = text.find('\n');
    const auto n = nl == std::string_view::npos ? text.size() : nl + 1;
    lines.push_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return lines;
}

// The first line where two texts differ, for a readable failure.
std::string first_difference(std::string_view expected, std::string_view actual) {
  const auto e = split_lines(expected);
  const auto a = split_lines(actual);
  std::size_t i = 0;
  while (i < e.size() && i < a.size() && e[i] == a[i]) ++i;
  const auto show = [](const std::vector<std::string_view>& lines, std::size_t k) {
    std::ostringstream s;
    if (k < lines.size()) {
      s << '"' << visible(lines[k]) << '"';
    } else {
      s << "(end of text)";
    }
    return s.str();
  };
  std::ostringstream s;
  s << "first difference at line " << i + 1 << "\n  expected: " << show(e, i) << "\n  actual:   " << show(a, i);
  return s.str();
}

void expect_same(const std::string& what, std::string_view expected, std::string_view actual) {
  EXPECT_TRUE(expected == actual) << what << ": " << first_difference(expected, actual);
}

struct CaseSetup {
  bool unset_manifest = false;
  bool unset_out = false;
  bool not_unicode_manifest = false;
  bool not_unicode_out = false;
  bool out_dir_is_file = false;
  std::vector<std::string> arguments;  // the command line after the program name
  // Per output file (as `kOutputNames`): its earlier text, raw or from a
  // file of the case folder.
  bool feature_encode = false;
  bool feature_serde = false;
  bool feature_extended = false;
  std::array<std::optional<std::string>, kOutputNames.size()> previous_output;
  std::array<std::optional<fs::path>, kOutputNames.size()> previous_output_from;
};

std::string unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

// Reads the optional `setup` file; an unknown directive fails the test.
CaseSetup read_setup(const fs::path& case_dir) {
  CaseSetup setup;
  const auto text = read_file(case_dir / "setup");
  if (!text) return setup;
  for (std::string_view line : split_lines(*text)) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const auto sp = line.find(' ');
    const std::string_view word = line.substr(0, sp);
    const std::string_view arg = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
    if (word == "unset" && arg == "CARGO_MANIFEST_DIR") {
      setup.unset_manifest = true;
    } else if (word == "unset" && arg == "OUT_DIR") {
      setup.unset_out = true;
    } else if (word == "not-unicode" && arg == "CARGO_MANIFEST_DIR") {
      setup.not_unicode_manifest = true;
    } else if (word == "not-unicode" && arg == "OUT_DIR") {
      setup.not_unicode_out = true;
    } else if (word == "argument" && !arg.empty()) {
      setup.arguments.emplace_back(arg);
    } else if (word == "out-dir-is-file" && arg.empty()) {
      setup.out_dir_is_file = true;
    } else if (word == "feature" && arg == "encode") {
      setup.feature_encode = true;
    } else if (word == "feature" && arg == "serde") {
      setup.feature_serde = true;
    } else if (word == "feature" && arg == "extended") {
      setup.feature_extended = true;
    } else if (word == "previous-output" || word == "previous-dispatch") {
      setup.previous_output[word == "previous-output" ? 0 : 1] = unescape(arg);
    } else if ((word == "previous-output-from" || word == "previous-dispatch-from") && !arg.empty()) {
      setup.previous_output_from[word == "previous-output-from" ? 0 : 1] = case_dir / std::string(arg);
    } else {
      ADD_FAILURE() << "unknown setup directive: " << line;
    }
  }
  return setup;
}

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs the generator with `args` and exactly `env` as its environment, in `cwd`.
RunResult run_generator(const std::vector<std::string>& args, const std::vector<std::string>& env,
                        const fs::path& cwd) {
  RunResult r;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return r;
  }
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  std::vector<char*> argv{const_cast<char*>(kExe)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const std::string dir = cwd.string();

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    if (chdir(dir.c_str()) != 0) _exit(126);
    execve(kExe, argv.data(), envp.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return r;
  }
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[k]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open_count;
      }
    }
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  return r;
}

// A fresh temporary root, removed again at the end of the test.
struct TempRoot {
  fs::path path;
  TempRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/qm-golden-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) return;
    // The generator prints canonical paths; work with the canonical root.
    path = fs::canonical(tmpl);
  }
  ~TempRoot() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

struct FileStamp {
  timespec mtime{};
  ino_t inode = 0;
};

std::optional<FileStamp> stamp_of(const fs::path& p) {
  struct stat st {};
  if (stat(p.c_str(), &st) != 0) return std::nullopt;
  return FileStamp{st.st_mtim, st.st_ino};
}

class Golden : public testing::TestWithParam<std::string> {};

TEST_P(Golden, Case) {
  const fs::path case_dir = kCasesDir / GetParam();
  const fs::path expected_dir = case_dir / "expected";
  const CaseSetup setup = read_setup(case_dir);
  if (HasFailure()) return;

  TempRoot root;
  ASSERT_FALSE(root.path.empty()) << "cannot create a temporary root";
  const std::string root_text = root.path.string();
  const fs::path manifest = root.path / kManifestRel;
  const fs::path protocol_dir = root.path / kProtocolRel;
  const fs::path out_dir = root.path / "out";
  fs::create_directories(manifest);
  fs::create_directories(protocol_dir);
  fs::create_directories(out_dir);
  if (fs::exists(case_dir / "protocol.xml")) fs::copy_file(case_dir / "protocol.xml", protocol_dir / "protocol.xml");

  fs::path out_env = out_dir;
  if (setup.out_dir_is_file) {
    out_env = root.path / "out-file";
    write_file(out_env, "not a directory\n");
  }

  // The earlier output files, with their stamps.
  std::array<std::optional<std::string>, kOutputNames.size()> previous;
  std::array<std::optional<FileStamp>, kOutputNames.size()> previous_stamp;
  for (std::size_t k = 0; k < kOutputNames.size(); ++k) {
    previous[k] = setup.previous_output[k];
    if (setup.previous_output_from[k]) {
      const auto text = read_file(*setup.previous_output_from[k]);
      ASSERT_TRUE(text) << "cannot read " << *setup.previous_output_from[k];
      previous[k] = replace_all(*text, "@ROOT@", root_text);
    }
    if (!previous[k]) continue;
    const fs::path out_file = out_dir / kOutputNames[k];
    write_file(out_file, *previous[k]);
    // An old timestamp, so that any rewrite shows.
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, out_file.c_str(), times, 0), 0);
    previous_stamp[k] = stamp_of(out_file);
  }

  std::vector<std::string> env;
  if (!setup.unset_manifest) {
    env.push_back("CARGO_MANIFEST_DIR=" + manifest.string() + (setup.not_unicode_manifest ? "\xFF" : ""));
  }
  if (!setup.unset_out) env.push_back("OUT_DIR=" + out_env.string() + (setup.not_unicode_out ? "\xFF" : ""));
  if (setup.feature_encode) env.emplace_back("CARGO_FEATURE_ENCODE=1");
  if (setup.feature_serde) env.emplace_back("CARGO_FEATURE_SERDE=1");
  if (setup.feature_extended) env.emplace_back("CARGO_FEATURE_EXTENDED=1");

  const RunResult run = run_generator(setup.arguments, env, root.path);
  const std::string out = replace_all(run.out, root_text, "@ROOT@");
  const std::string err = replace_all(run.err, root_text, "@ROOT@");
  std::array<std::optional<std::string>, kOutputNames.size()> produced;
  for (std::size_t k = 0; k < kOutputNames.size(); ++k) produced[k] = read_file(out_dir / kOutputNames[k]);

  if (update_mode()) {
    fs::create_directories(expected_dir);
    write_file(expected_dir / "stdout", out);
    write_file(expected_dir / "stderr", err);
    write_file(expected_dir / "status", std::to_string(run.status) + "\n");
    for (std::size_t k = 0; k < kOutputNames.size(); ++k) {
      if (run.status == 0 && produced[k]) {
        write_file(expected_dir / kOutputNames[k], replace_all(*produced[k], root_text, "@ROOT@"));
      } else {
        fs::remove(expected_dir / kOutputNames[k]);
      }
    }
    std::cout << "updated " << expected_dir << " (check every file by hand)\n";
    return;
  }

  const auto expected_out = read_file(expected_dir / "stdout");
  const auto expected_err = read_file(expected_dir / "stderr");
  const auto expected_status = read_file(expected_dir / "status");
  ASSERT_TRUE(expected_out && expected_err && expected_status) << "missing expected files in " << expected_dir;
  expect_same("stdout", *expected_out, out);
  expect_same("stderr", *expected_err, err);
  EXPECT_EQ(run.status, std::stoi(*expected_status)) << "exit status; stderr: " << err;

  std::size_t expected_files = 0;
  for (std::size_t k = 0; k < kOutputNames.size(); ++k) {
    const std::string name = kOutputNames[k];
    const fs::path out_file = out_dir / name;
    const auto expected_file = read_file(expected_dir / name);
    if (expected_file) {
      ++expected_files;
      ASSERT_TRUE(produced[k]) << name << " was not written";
      expect_same(name, *expected_file, replace_all(*produced[k], root_text, "@ROOT@"));
      if (previous[k] && *previous[k] == *produced[k]) {
        const auto now = stamp_of(out_file);
        ASSERT_TRUE(now && previous_stamp[k]);
        EXPECT_EQ(now->inode, previous_stamp[k]->inode) << "an identical " << name << " was replaced";
        EXPECT_TRUE(now->mtime.tv_sec == previous_stamp[k]->mtime.tv_sec &&
                    now->mtime.tv_nsec == previous_stamp[k]->mtime.tv_nsec)
            << "an identical " << name << " was rewritten";
      }
    } else if (previous[k]) {
      ASSERT_TRUE(produced[k]) << "the earlier " << name << " was removed";
      expect_same("earlier " + name, *previous[k], *produced[k]);
      const auto now = stamp_of(out_file);
      ASSERT_TRUE(now && previous_stamp[k]);
      EXPECT_EQ(now->mtime.tv_sec, previous_stamp[k]->mtime.tv_sec) << "the earlier " << name << " was touched";
    } else {
      EXPECT_FALSE(produced[k]) << name << " was written although no output is expected";
    }
  }
  // One run writes all its files or none; the encoders and the serde impls
  // only with their features.
  const std::size_t run_files = kOutputNames.size() - (setup.feature_encode ? 0 : 1) - (setup.feature_serde ? 0 : 1) -
                                (setup.feature_extended ? 0 : 1);
  EXPECT_TRUE(expected_files == 0 || expected_files == run_files)
      << "a case expects either every output file of its run or none";

  // Nothing but the output files may be left in the output directory.
  std::vector<std::string> leftovers;
  for (const auto& entry : fs::directory_iterator(out_dir)) {
    const std::string name = entry.path().filename().string();
    if (std::find(kOutputNames.begin(), kOutputNames.end(), name) == kOutputNames.end()) leftovers.push_back(name);
  }
  EXPECT_TRUE(leftovers.empty()) << "stray file in the output directory: " << leftovers.front();

  // The extended tier leaves the default tier alone: the same run without
  // the feature writes the same messages_generated.rs and prints the same
  // lines, less the extended tier's report line.
  if (setup.feature_extended && run.status == 0 && setup.arguments.empty() && !setup.unset_manifest &&
      !setup.unset_out && !setup.not_unicode_manifest && !setup.not_unicode_out && !setup.out_dir_is_file) {
    TempRoot plain;
    ASSERT_FALSE(plain.path.empty()) << "cannot create a temporary root";
    const fs::path plain_out = plain.path / "out";
    fs::create_directories(plain.path / kManifestRel);
    fs::create_directories(plain.path / kProtocolRel);
    fs::create_directories(plain_out);
    if (fs::exists(case_dir / "protocol.xml")) {
      fs::copy_file(case_dir / "protocol.xml", plain.path / kProtocolRel / "protocol.xml");
    }
    std::vector<std::string> plain_env = {"CARGO_MANIFEST_DIR=" + (plain.path / kManifestRel).string(),
                                          "OUT_DIR=" + plain_out.string()};
    if (setup.feature_encode) plain_env.emplace_back("CARGO_FEATURE_ENCODE=1");
    if (setup.feature_serde) plain_env.emplace_back("CARGO_FEATURE_SERDE=1");
    const RunResult plain_run = run_generator({}, plain_env, plain.path);
    ASSERT_EQ(plain_run.status, 0) << "the run without the extended feature failed: " << plain_run.err;
    std::string lines_without_extended;
    for (const std::string_view line : split_lines(out)) {
      if (line.substr(0, kExtendedReport.size()) != kExtendedReport) lines_without_extended += line;
    }
    expect_same("stdout without the extended feature", lines_without_extended,
                replace_all(plain_run.out, plain.path.string(), "@ROOT@"));
    const auto plain_messages = read_file(plain_out / kOutputNames[0]);
    ASSERT_TRUE(plain_messages && produced[0]) << "messages_generated.rs missing from one of the two runs";
    expect_same("messages_generated.rs without the extended feature", replace_all(*produced[0], root_text, "@ROOT@"),
                replace_all(*plain_messages, plain.path.string(), "@ROOT@"));
    EXPECT_FALSE(fs::exists(plain_out / kOutputNames[4])) << "a run without the feature wrote extended_generated.rs";
  }
}

std::string param_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Golden);
INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(case_names()), param_name);

}  // namespace

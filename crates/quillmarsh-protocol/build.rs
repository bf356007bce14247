//! Build step of the protocol crate: compiles the C++ code generator found in
//! `build/` with CMake inside `OUT_DIR`, then runs it. With
//! `QUILLMARSH_CODEGEN` naming a prebuilt generator of the crate's own version
//! it runs that one instead, and needs neither CMake nor a compiler. The
//! generator reads protocol.xml, writes `OUT_DIR/messages_generated.rs` and
//! prints the Cargo directives about its input itself; this script adds only
//! those about the prebuilt generator.

use std::env;
use std::ffi::OsString;
use std::io::{self, Write};
use std::path::{Path, PathBuf};
use std::process::{self, Command, Output, Stdio};

const GENERATOR: &str = "quillmarsh-codegen";
/// Names a prebuilt generator to run instead of building one.
const PREBUILT_VAR: &str = "QUILLMARSH_CODEGEN";
const TOOLS: &str =
    "the generator needs cmake, g++, libexpat1-dev and libicu-dev (Debian package names)";

fn main() {
    let manifest_dir = PathBuf::from(required_env("CARGO_MANIFEST_DIR"));
    let out_dir = PathBuf::from(required_env("OUT_DIR"));
    let source_dir = manifest_dir.join("build");
    let build_dir = out_dir.join("codegen-build");

    println!("cargo:rerun-if-env-changed={PREBUILT_VAR}");
    let generator = match env::var_os(PREBUILT_VAR).filter(|v| !v.is_empty()) {
        Some(prebuilt) => {
            let prebuilt = PathBuf::from(prebuilt);
            check_prebuilt_version(&prebuilt);
            // A bare name is looked up on PATH, where Cargo cannot watch it.
            if prebuilt.is_absolute() {
                println!("cargo:rerun-if-changed={}", prebuilt.display());
            }
            prebuilt
        }
        None => build_generator(&source_dir, &build_dir),
    };
    run_generator(&generator);
}

/// Asks the prebuilt generator for its version and ends the build unless it
/// is this crate's: another version may generate other code.
fn check_prebuilt_version(generator: &Path) {
    let wanted = env!("CARGO_PKG_VERSION");
    let shown = generator.display();
    let output = match Command::new(generator)
        .arg("--version")
        .stdin(Stdio::null())
        .output()
    {
        Ok(output) => output,
        Err(e) => die(&format!(
            "cannot start the prebuilt generator {PREBUILT_VAR}={shown}: {e}"
        )),
    };
    let stdout = String::from_utf8_lossy(&output.stdout);
    let reported = stdout.trim_end();
    let version = reported
        .strip_prefix(GENERATOR)
        .and_then(|rest| rest.strip_prefix(' '))
        .filter(|_| output.status.success());
    match version {
        Some(version) if version == wanted => {}
        Some(version) => die(&format!(
            "the prebuilt generator {PREBUILT_VAR}={shown} is {GENERATOR} {version}, but this \
             crate needs {GENERATOR} {wanted}; install that version (`cmake --install` of this \
             crate's build/ folder) or unset {PREBUILT_VAR} to build it"
        )),
        None => die(&format!(
            "the prebuilt generator {PREBUILT_VAR}={shown} did not report a version on \
             `--version` ({}: {:?}); this crate needs {GENERATOR} {wanted}",
            output.status, reported
        )),
    }
}

fn required_env(name: &str) -> OsString {
    env::var_os(name).unwrap_or_else(|| {
        die(&format!(
            "{name} is not set; this script must be run by Cargo"
        ))
    })
}

/// Prints `message` to stderr and ends the build script with status 1.
fn die(message: &str) -> ! {
    eprintln!("error: quillmarsh-protocol build: {message}");
    process::exit(1);
}

fn cmake_program() -> OsString {
    env::var_os("CMAKE").unwrap_or_else(|| OsString::from("cmake"))
}

/// Runs one CMake command with its output captured, so that CMake's chatter
/// never reaches Cargo's directive parser on stdout.
fn run_cmake(args: &[&std::ffi::OsStr]) -> Output {
    let program = cmake_program();
    match Command::new(&program)
        .args(args)
        .stdin(Stdio::null())
        .output()
    {
        Ok(output) => output,
        Err(e) if e.kind() == io::ErrorKind::NotFound => die(&format!(
            "cannot build the protocol code generator: `{}` was not found; install cmake \
             (Debian/Ubuntu: `apt-get install cmake`); {TOOLS}",
            program.to_string_lossy()
        )),
        Err(e) => die(&format!(
            "cannot start `{}`: {e}",
            program.to_string_lossy()
        )),
    }
}

/// What is missing, and the Debian package that provides it, when CMake's
/// configure output shows that the compiler or a library was not found.
fn missing_prerequisite(log: &str) -> Option<(&'static str, &'static str)> {
    // CMake wraps long messages; compare with the line breaks taken out.
    let log = log.split_whitespace().collect::<Vec<_>>().join(" ");
    if log.contains("needs the expat library") {
        Some(("the expat library and headers", "libexpat1-dev"))
    } else if log.contains("needs the ICU library") {
        Some(("the ICU library and headers", "libicu-dev"))
    } else if log.contains("No CMAKE_CXX_COMPILER could be found")
        || log.contains("CMAKE_CXX_COMPILER not set")
        || (log.contains("CMAKE_CXX_COMPILER") && log.contains("was not found"))
    {
        Some(("a C++20 compiler", "g++"))
    } else {
        None
    }
}

fn combined_log(output: &Output) -> String {
    let mut log = String::from_utf8_lossy(&output.stdout).into_owned();
    log.push_str(&String::from_utf8_lossy(&output.stderr));
    log
}

fn build_generator(source_dir: &Path, build_dir: &Path) -> PathBuf {
    // Configure once; later builds reuse the cache, and the generated build
    // system re-runs CMake by itself when the project files change.
    if !build_dir.join("CMakeCache.txt").is_file() {
        let configure = run_cmake(&[
            "-S".as_ref(),
            source_dir.as_os_str(),
            "-B".as_ref(),
            build_dir.as_os_str(),
            "-DCMAKE_BUILD_TYPE=Release".as_ref(),
            "-DQUILLMARSH_WERROR=OFF".as_ref(),
        ]);
        if !configure.status.success() {
            let log = combined_log(&configure);
            // A half-written cache would make the next build skip configuring.
            let _ = std::fs::remove_file(build_dir.join("CMakeCache.txt"));
            eprintln!("{log}");
            match missing_prerequisite(&log) {
                Some((what, package)) => die(&format!(
                    "cannot build the protocol code generator: missing {what}; install {package} \
                     (Debian/Ubuntu: `apt-get install {package}`); {TOOLS}"
                )),
                None => {
                    die("configuring the protocol code generator with CMake failed (output above)")
                }
            }
        }
    }

    let jobs = env::var("NUM_JOBS").unwrap_or_else(|_| String::from("1"));
    let build = run_cmake(&[
        "--build".as_ref(),
        build_dir.as_os_str(),
        "--config".as_ref(),
        "Release".as_ref(),
        "--target".as_ref(),
        GENERATOR.as_ref(),
        "--parallel".as_ref(),
        jobs.as_ref(),
    ]);
    if !build.status.success() {
        eprintln!("{}", combined_log(&build));
        die("compiling the protocol code generator failed (output above)");
    }

    let exe = format!("{GENERATOR}{}", env::consts::EXE_SUFFIX);
    // Single-configuration generators put the program at the top of the
    // build tree, multi-configuration ones in a folder per configuration.
    [build_dir.join(&exe), build_dir.join("Release").join(&exe)]
        .into_iter()
        .find(|p| p.is_file())
        .unwrap_or_else(|| {
            die(&format!(
                "the generator was built but {exe} is not in {}",
                build_dir.display()
            ))
        })
}

/// The start of the report line every successful run of the generator
/// prints last: the sign that it generated the files.
const REPORT_PREFIX: &str = "cargo:warning=quillmarsh-protocol/build: emitted ";

/// Runs the generator with the environment Cargo gave this script. Its stdout
/// (the directives and the report line) is passed on to Cargo, its stderr
/// straight through. A run that exits 0 without its report line did not
/// generate (a stale or foreign program); the build ends rather than compile
/// whatever old files `OUT_DIR` still holds.
fn run_generator(generator: &Path) {
    let _ = io::stdout().flush();
    let output = match Command::new(generator)
        .stdin(Stdio::null())
        .stdout(Stdio::piped())
        .stderr(Stdio::inherit())
        .output()
    {
        Ok(output) => output,
        Err(e) => die(&format!("cannot start {}: {e}", generator.display())),
    };
    let mut stdout = io::stdout();
    let _ = stdout.write_all(&output.stdout);
    let _ = stdout.flush();
    let status = output.status;
    if status.success() {
        let reported = String::from_utf8_lossy(&output.stdout)
            .lines()
            .any(|line| line.starts_with(REPORT_PREFIX));
        if !reported {
            die(&format!(
                "{} exited successfully without printing its report line, so it did not \
                 generate the code (the files in OUT_DIR may be stale); it is not a working \
                 {GENERATOR}",
                generator.display()
            ));
        }
        return;
    }
    match status.code() {
        Some(code) => {
            eprintln!(
                "error: quillmarsh-protocol build: {GENERATOR} failed with exit status {code}"
            );
            process::exit(code);
        }
        None => die(&format!(
            "{GENERATOR} was terminated by a signal ({status})"
        )),
    }
}

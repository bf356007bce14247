//! The fuzzing and round-trip half of the property test's program, the same
//! for every batch of descriptions.
//!
//! `tools/property-test.sh` compiles several descriptions' generated code into
//! one program; this file is its module `fuzz`. Each description contributes
//! a module of targets (`tools/property/targets.awk` writes it): one `Target`
//! per generated struct or enum decoder, whose `run` decodes a byte string,
//! calls every accessor and writes the value back. `run_all` runs every
//! target on the same kinds of input (fixed patterns, boundary integers,
//! random strings seeded by the target's name) under `catch_unwind`, with a
//! watchdog thread for hangs, and reports on stdout, one tab-separated line
//! each, which the script reads:
//!
//! - `RUN i desc name`: target `i` starts (after a crash or hang the script
//!   restarts the program from the target after the last one started);
//! - `PANIC`, `OVERRUN` (the cursor moved past the end of the input),
//!   `ROUNDTRIP` (writing the value back failed a check of `round_trip`) and
//!   `JSON` (the value failed its JSON round trip, `tools/property/json.rs`):
//!   `desc name what [input bytes]`; the target's other inputs are skipped;
//! - `STATS desc inputs decoded identical canonicalized duplicate-keys
//!   unknown-enum-values json-same json-non-finite json-key-not-string`: the
//!   counts of one target;
//! - `HANG i desc name`: the target ran longer than the limit; the process
//!   then ends with status 3;
//! - `DONE count`: every target ran.

use std::io::Write;
use std::panic::{catch_unwind, AssertUnwindSafe};
use std::sync::atomic::{AtomicU64, AtomicUsize, Ordering};
use std::sync::{Arc, Mutex};
use std::time::{Duration, Instant};

/// What one decoder did with one input.
pub enum Outcome {
    /// It accepted the input, leaving its cursor at the given offset.
    Decoded(usize, RoundTrip, Json),
    /// It returned an error.
    Refused,
}

/// What writing a decoded value back gave.
pub enum RoundTrip {
    /// The input's decoded prefix, byte for byte.
    Identical,
    /// Other bytes (the input was not canonical), which round-trip exactly.
    Canonicalized,
    /// A table whose wire pairs repeat a key: fewer entries than its count.
    DuplicateKeys,
    /// Nothing to write back (an enum's unknown raw value).
    None,
    /// A check failed; the text says which.
    Failed(String),
}

/// What writing a decoded value as JSON and reading it back gave.
pub enum Json {
    /// Not checked: the program was built without the serde impls, or the
    /// value is an enum's unknown raw value.
    Unchecked,
    /// An equal value, which encodes to the same bytes.
    Same,
    /// A float is NaN or infinite, which JSON cannot carry.
    NonFinite,
    /// A table keyed by bools, whose keys this serde_json cannot write.
    KeyNotString,
    /// A check failed; the text says which.
    Failed(String),
}

/// Decodes a message behind other bytes through its section, as a stream
/// reader does: the debug form of what the cursor gave (ending in the
/// message's own), or nothing for a struct the dispatch cannot give back (a
/// data type, a later struct of a repeated opcode).
pub type MovedDecode = fn(&[u8], &mut usize) -> Option<Result<String, String>>;

/// Writes `v` (decoded from `input`, using `used` bytes) and checks the
/// round trip: the bytes decode, using all of them, to `v` again (floats by
/// their bits, through the debug form when NaN makes `==` fail), and are
/// written again unchanged. Written behind one to seven other bytes, `v`
/// gives the same bytes (alignment counts from the message's own start),
/// and `moved` reads it back at that cursor, moving it past the message.
pub fn round_trip<T: PartialEq + std::fmt::Debug>(
    input: &[u8],
    v: &T,
    used: usize,
    decode: fn(&[u8], &mut usize) -> Result<T, &'static str>,
    encode: fn(&T, &mut Vec<u8>) -> Result<(), String>,
    moved: MovedDecode,
) -> RoundTrip {
    let mut e = vec![];
    if let Err(err) = encode(v, &mut e) {
        if err.contains(" entries but its length ") {
            return RoundTrip::DuplicateKeys;
        }
        return RoundTrip::Failed(format!("write_to failed: {err}"));
    }
    let mut off = 0usize;
    let again = match decode(&e, &mut off) {
        Ok(again) => again,
        Err(err) => return RoundTrip::Failed(format!("the written bytes [{}] do not decode: {err}", hex(&e))),
    };
    if off != e.len() {
        return RoundTrip::Failed(format!("decoding the written bytes [{}] used {off} of them", hex(&e)));
    }
    if again != *v && format!("{again:?}") != format!("{v:?}") {
        return RoundTrip::Failed(format!("the written bytes [{}] decode to {again:?}", hex(&e)));
    }
    let mut e2 = vec![];
    if let Err(err) = encode(&again, &mut e2) {
        return RoundTrip::Failed(format!("writing the value decoded from [{}] failed: {err}", hex(&e)));
    }
    if e2 != e {
        return RoundTrip::Failed(format!("written [{}], then [{}]", hex(&e), hex(&e2)));
    }
    let before = 1 + used % 7;
    let mut behind = vec![0xA5; before];
    if let Err(err) = encode(v, &mut behind) {
        return RoundTrip::Failed(format!("written behind {before} bytes, write_to failed: {err}"));
    }
    if behind[before..] != e[..] {
        return RoundTrip::Failed(format!("written behind {before} bytes as [{}], alone as [{}]", hex(&behind[before..]), hex(&e)));
    }
    let mut at = before;
    match moved(&behind, &mut at) {
        None => {}
        Some(Err(err)) => {
            return RoundTrip::Failed(format!("[{}] behind {before} bytes does not decode there: {err}", hex(&e)));
        }
        Some(Ok(shown)) => {
            if at != behind.len() || !shown.ends_with(&format!("({v:?}))")) {
                return RoundTrip::Failed(format!(
                    "[{}] behind {before} bytes decodes to {shown} with the cursor at {at} of {}",
                    hex(&e),
                    behind.len()
                ));
            }
        }
    }
    if e[..] == input[..used] { RoundTrip::Identical } else { RoundTrip::Canonicalized }
}

/// One decoder of one description.
pub struct Target {
    /// The description's number.
    pub desc: u64,
    /// The generated type's name.
    pub name: &'static str,
    /// Decodes the bytes given and checks the round trip.
    pub run: fn(&[u8]) -> Outcome,
}

struct Prng(u64);

impl Prng {
    fn next(&mut self) -> u64 {
        // xorshift64*
        self.0 ^= self.0 >> 12;
        self.0 ^= self.0 << 25;
        self.0 ^= self.0 >> 27;
        self.0.wrapping_mul(0x2545_F491_4F6C_DD1D)
    }
    fn below(&mut self, n: u64) -> u64 {
        self.next() % n
    }
}

fn name_hash(name: &str) -> u64 {
    name.bytes().fold(0xCBF2_9CE4_8422_2325u64, |h, b| (h ^ u64::from(b)).wrapping_mul(0x100_0000_01B3))
}

/// The inputs for one decoder: fixed patterns, then random strings in which
/// small numbers are frequent (so counts and discriminators take the paths
/// that decode further), then a few long ones.
fn inputs(name: &str, count: usize) -> Vec<Vec<u8>> {
    let mut out: Vec<Vec<u8>> = Vec::new();
    for len in 0..=64usize {
        out.push(vec![0x00; len]);
        out.push(vec![0xFF; len]);
    }
    for len in [1usize, 2, 4, 8, 16, 32, 64] {
        out.push(vec![0x01; len]);
        out.push(vec![0x80; len]);
        out.push(vec![0x7F; len]);
    }
    // Boundary integers of every width at the start of the input, then
    // zeros or the same value again (counts and lengths at their limits).
    const EDGES: [u64; 10] = [
        0x7F, 0x80, 0x7FFF, 0x8000, 0x7FFF_FFFF, 0x8000_0000, 0xFFFF_FFF0, 0x7FFF_FFF0, 0x7FFF_FFFF_FFFF_FFFF, 0x8000_0000_0000_0000,
    ];
    for value in EDGES {
        for width in [1usize, 2, 4, 8] {
            let word = &value.to_le_bytes()[..width];
            let mut zeros = word.to_vec();
            zeros.resize(64, 0);
            out.push(zeros);
            out.push(word.iter().copied().cycle().take(64).collect());
        }
    }
    let mut rng = Prng(name_hash(name) | 1);
    const SMALL: [u8; 9] = [0, 1, 2, 3, 4, 0x10, 0x7F, 0x80, 0xFF];
    for i in 0..count {
        let len = if i % 10 == 9 { [100usize, 256, 1024, 4096][rng.below(4) as usize] } else { rng.below(65) as usize };
        let style = rng.below(3);
        let bytes = (0..len)
            .map(|_| match style {
                0 => rng.next() as u8,
                1 => SMALL[rng.below(SMALL.len() as u64) as usize],
                _ => if rng.below(4) == 0 { rng.next() as u8 } else { 0 },
            })
            .collect();
        out.push(bytes);
    }
    out
}

fn hex(bytes: &[u8]) -> String {
    bytes.iter().map(|b| format!("{b:02X}")).collect::<Vec<_>>().join(" ")
}

fn one_line(text: &str) -> String {
    text.replace('\n', "\\n").replace('\t', " ")
}

/// Runs `targets[from..]`, `count` random inputs each besides the fixed ones,
/// and reports as the module's documentation describes; a target that runs
/// longer than `hang_seconds` ends the process.
pub fn run_all(targets: &[Target], from: usize, count: usize, hang_seconds: u64) {
    let last_panic: Arc<Mutex<String>> = Arc::new(Mutex::new(String::new()));
    let hook_slot = Arc::clone(&last_panic);
    std::panic::set_hook(Box::new(move |info| {
        let message = if let Some(s) = info.payload().downcast_ref::<&str>() {
            s.to_string()
        } else if let Some(s) = info.payload().downcast_ref::<String>() {
            s.clone()
        } else {
            String::from("(non-text panic)")
        };
        let place = info.location().map(|l| format!("{}:{}", l.file(), l.line())).unwrap_or_default();
        *hook_slot.lock().unwrap_or_else(|e| e.into_inner()) = format!("{message} at {place}");
    }));

    // A watchdog ends the process when one decoder takes too long; the
    // caller restarts after it.
    let started = Arc::new(AtomicU64::new(0));
    let current = Arc::new(AtomicUsize::new(usize::MAX));
    let epoch = Instant::now();
    {
        let started = Arc::clone(&started);
        let current = Arc::clone(&current);
        let names: Vec<(u64, &'static str)> = targets.iter().map(|t| (t.desc, t.name)).collect();
        std::thread::spawn(move || loop {
            std::thread::sleep(Duration::from_millis(100));
            let i = current.load(Ordering::SeqCst);
            let t0 = started.load(Ordering::SeqCst);
            if i != usize::MAX && epoch.elapsed().as_millis() as u64 > t0 + hang_seconds * 1000 {
                println!("HANG\t{i}\t{}\t{}", names[i].0, names[i].1);
                let _ = std::io::stdout().flush();
                std::process::exit(3);
            }
        });
    }

    let mut out = std::io::stdout();
    for (i, target) in targets.iter().enumerate().skip(from) {
        let _ = writeln!(out, "RUN\t{i}\t{}\t{}", target.desc, target.name);
        let _ = out.flush();
        started.store(epoch.elapsed().as_millis() as u64, Ordering::SeqCst);
        current.store(i, Ordering::SeqCst);
        // inputs, decoded, identical, canonicalized, repeated table keys,
        // unknown enum values; through JSON: the same, non-finite floats,
        // keys that are not strings
        let mut stats = [0usize; 9];
        for bytes in inputs(target.name, count) {
            stats[0] += 1;
            match catch_unwind(AssertUnwindSafe(|| (target.run)(&bytes))) {
                Err(_) => {
                    let message = last_panic.lock().unwrap_or_else(|e| e.into_inner()).clone();
                    let _ = writeln!(out, "PANIC\t{}\t{}\t{}\t[{}]", target.desc, target.name, one_line(&message), hex(&bytes));
                    break;
                }
                Ok(Outcome::Decoded(end, _, _)) if end > bytes.len() => {
                    let _ = writeln!(out, "OVERRUN\t{}\t{}\tcursor {end} past the end ({} bytes)\t[{}]", target.desc, target.name, bytes.len(), hex(&bytes));
                    break;
                }
                Ok(Outcome::Decoded(_, RoundTrip::Failed(why), _)) => {
                    let _ = writeln!(out, "ROUNDTRIP\t{}\t{}\t{}\t[{}]", target.desc, target.name, one_line(&why), hex(&bytes));
                    break;
                }
                Ok(Outcome::Decoded(_, _, Json::Failed(why))) => {
                    let _ = writeln!(out, "JSON\t{}\t{}\t{}\t[{}]", target.desc, target.name, one_line(&why), hex(&bytes));
                    break;
                }
                Ok(Outcome::Decoded(_, rt, json)) => {
                    stats[1] += 1;
                    match rt {
                        RoundTrip::Identical => stats[2] += 1,
                        RoundTrip::Canonicalized => stats[3] += 1,
                        RoundTrip::DuplicateKeys => stats[4] += 1,
                        RoundTrip::None => stats[5] += 1,
                        RoundTrip::Failed(_) => {}
                    }
                    match json {
                        Json::Same => stats[6] += 1,
                        Json::NonFinite => stats[7] += 1,
                        Json::KeyNotString => stats[8] += 1,
                        Json::Unchecked | Json::Failed(_) => {}
                    }
                }
                Ok(Outcome::Refused) => {}
            }
        }
        let _ = writeln!(out, "STATS\t{}\t{}", target.desc, stats.map(|n| n.to_string()).join("\t"));
        current.store(usize::MAX, Ordering::SeqCst);
    }
    let _ = writeln!(out, "DONE\t{}", targets.len());
}

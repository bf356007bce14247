//! Decodes a small captured stream of the sample protocol: each record is a
//! section, an opcode and the message bytes, as a packet logger sees them.
//! One call per record picks the message type from the section and opcode
//! and decodes it.
//!
//! Run with `tools/decode-sample.sh` from the repository root (it lays out
//! the sample description where the build step looks for it).
//!
//! With `--json` (and the `serde` feature, which `tools/decode-sample.sh
//! --json` turns on) it prints each decoded message as one line of JSON
//! instead, in `AnyMessage`'s form (`{"S2C":{"Movement_Motion":{...}}}`),
//! and nothing else on standard output: a record that does not decode is
//! reported on standard error.

use quillmarsh_protocol::dispatch::{AnyMessage, SKIPPED};
use quillmarsh_protocol::Kind;

/// One captured record: which section's opcode space, the opcode, the bytes.
struct Record {
    kind: Kind,
    opcode: u32,
    bytes: &'static [u8],
}

const CAPTURE: &[Record] = &[
    Record {
        kind: Kind::MessageC2S,
        opcode: 0xF657,
        bytes: &[
            0x01, 0x00, 0x00, 0x50, 0x03, 0x00, b'A', b'n', b'n', 0x00, 0x00, 0x00,
        ],
    },
    Record {
        kind: Kind::GameEvent,
        opcode: 0x0147,
        bytes: &[
            0x02, 0x00, 0x00, 0x00, 0x03, 0x00, b'B', b'o', b'b', 0x00, 0x00, 0x00, 0x02, b'h',
            0x00, b'i', 0x00,
        ],
    },
    Record {
        kind: Kind::MessageS2C,
        opcode: 0xF74C,
        bytes: &[
            0x01, 0x00, 0x00, 0x50, 0x01, 0x00, 0x45, 0x00, 0x00, 0x00, 0xA0, 0x3F,
        ],
    },
    Record {
        kind: Kind::MessageS2C,
        opcode: 0xF745,
        bytes: &[
            0x01, 0x00, 0x00, 0x50, // object
            0x05, 0x00, 0x00, 0x00, // flags: openable, stackable
            0x01, 0x00, 0x00, 0x00, // open state
            0x05, 0x80, // stack size, with the maximum present
            0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x50, // stack: one object id
            0xF4, 0x01, // maximum stack size
        ],
    },
    Record {
        kind: Kind::GameAction,
        opcode: 0xF61B,
        bytes: &[
            0x00, 0x00, 0x80, 0x3F, // extent
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // velocity
            0x01, 0x00, 0x00, 0x00, // level delta: up
        ],
    },
    // A message cut short says what was missing.
    Record {
        kind: Kind::MessageS2C,
        opcode: 0x02D3,
        bytes: &[0x01, 0x02, 0x00],
    },
    // A message this build could not generate says why.
    Record {
        kind: Kind::MessageS2C,
        opcode: 0xF755,
        bytes: &[0x01, 0x00, 0x00, 0x00],
    },
    // An opcode the description does not have.
    Record {
        kind: Kind::GameEvent,
        opcode: 0xBEEF,
        bytes: &[],
    },
];

fn main() {
    let json = match std::env::args().nth(1).as_deref() {
        None => false,
        Some("--json") => true,
        Some(other) => {
            eprintln!("decode_sample: unknown argument {other} (the only one is --json)");
            std::process::exit(2);
        }
    };
    if json {
        print_json();
        return;
    }
    for record in CAPTURE {
        let (kind, opcode) = (record.kind, record.opcode);
        // The whole record must be the message.
        match AnyMessage::decode_exact(kind, opcode, record.bytes) {
            Ok(message) => println!(
                "{kind} {opcode:#06X} {} ({} bytes): {message:#?}",
                message.name(),
                record.bytes.len()
            ),
            Err(e) => println!("not decoded: {e}"),
        }
    }
    println!("{} items of the description were not generated:", SKIPPED.len());
    for item in SKIPPED {
        println!("  {} {}: {}", item.label, item.name, item.reason);
    }
}

/// One line of JSON per decoded message; what does not decode goes to
/// standard error.
#[cfg(feature = "serde")]
fn print_json() {
    for record in CAPTURE {
        match AnyMessage::decode_exact(record.kind, record.opcode, record.bytes) {
            Ok(message) => match serde_json::to_string(&message) {
                Ok(line) => println!("{line}"),
                Err(e) => eprintln!("not written as JSON: {} {:#06X}: {e}", record.kind, record.opcode),
            },
            Err(e) => eprintln!("not decoded: {e}"),
        }
    }
}

#[cfg(not(feature = "serde"))]
fn print_json() {
    eprintln!("decode_sample: --json needs the serde feature (cargo run --features serde --example decode_sample -- --json)");
    std::process::exit(2);
}

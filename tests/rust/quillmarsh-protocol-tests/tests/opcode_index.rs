//! Checks on the opcode index generated from the sample description.

use quillmarsh_protocol::messages::OPCODE_INDEX;
use quillmarsh_protocol::{lookup_opcode, opcodes_of_kind};

const KINDS: [&str; 5] = [
    "messageC2S",
    "messageS2C",
    "gameaction",
    "gameevent",
    "datatype",
];
const RUST_PREFIXES: [&str; 4] = ["C2S_", "S2C_", "Action_", "Event_"];

#[test]
fn every_row_has_a_known_kind_and_a_bare_name() {
    assert!(
        !OPCODE_INDEX.is_empty(),
        "the sample description defines messages with opcodes"
    );
    for &(kind, name, opcode) in OPCODE_INDEX {
        assert!(KINDS.contains(&kind), "unknown kind {kind:?} for {name}");
        assert!(!name.is_empty(), "empty name for {kind} {opcode:#06X}");
        assert!(
            !RUST_PREFIXES.iter().any(|p| name.starts_with(p)),
            "{name} carries a section prefix"
        );
        assert!(
            lookup_opcode(opcode, kind).is_some(),
            "{kind} {name} {opcode:#06X} not found"
        );
    }
}

#[test]
fn kinds_partition_the_index() {
    let total: usize = KINDS.iter().map(|k| opcodes_of_kind(k).count()).sum();
    assert_eq!(total, OPCODE_INDEX.len());
}

//! Checks on the opcode index generated from the sample description, and the
//! typed lookups over it.

use quillmarsh_protocol::{lookup_opcode, messages, opcodes_of_kind, Kind, OPCODE_INDEX};

const RUST_PREFIXES: [&str; 4] = ["C2S_", "S2C_", "Action_", "Event_"];

/// The section of an index label; none for "datatype".
fn kind_of(label: &str) -> Option<Kind> {
    Kind::ALL.iter().copied().find(|k| k.label() == label)
}

#[test]
fn every_row_has_a_known_kind_and_a_bare_name() {
    assert!(
        !OPCODE_INDEX.is_empty(),
        "the sample description defines messages with opcodes"
    );
    for &(label, name, opcode) in OPCODE_INDEX {
        assert!(!name.is_empty(), "empty name for {label} {opcode:#06X}");
        assert!(
            !RUST_PREFIXES.iter().any(|p| name.starts_with(p)),
            "{name} carries a section prefix"
        );
        match kind_of(label) {
            Some(kind) => assert!(
                lookup_opcode(opcode, kind).is_some(),
                "{label} {name} {opcode:#06X} not found"
            ),
            None => assert_eq!(label, "datatype", "unknown kind {label:?} for {name}"),
        }
    }
}

#[test]
fn kinds_partition_the_index() {
    let of_kinds: usize = Kind::ALL.iter().map(|&k| opcodes_of_kind(k).count()).sum();
    let datatypes = OPCODE_INDEX.iter().filter(|r| r.0 == "datatype").count();
    // With the extended feature the lookups take the extended tier's rows too.
    #[cfg(feature = "extended")]
    let of_kinds = of_kinds - messages::EXTENDED_OPCODE_INDEX.len();
    assert_eq!(of_kinds + datatypes, OPCODE_INDEX.len());
    // The root's index is the generated one.
    assert!(std::ptr::eq(OPCODE_INDEX, messages::OPCODE_INDEX));
}

#[test]
fn lookups_take_the_section_not_a_label() {
    // The same opcode in two sections names two messages.
    assert_eq!(lookup_opcode(0xF657, Kind::MessageC2S), Some("Login_SendEnterGame"));
    assert_eq!(lookup_opcode(0xF657, Kind::MessageS2C), None);
    let s2c: Vec<(&str, u32)> = opcodes_of_kind(Kind::MessageS2C).take(2).collect();
    assert_eq!(s2c[0].0, "Qualities_UpdateFloat");
}

//! Lookups over the opcode index that the generator writes beside the
//! messages (`OPCODE_INDEX`), and with the `extended` feature over the
//! extended tier's (`EXTENDED_OPCODE_INDEX`) after it.

use super::messages::OPCODE_INDEX;
use super::Kind;

/// One row of an opcode index: (kind label, bare name, opcode).
pub type OpcodeRow = (&'static str, &'static str, u32);

fn lookup_in(index: &[OpcodeRow], opcode: u32, kind: &str) -> Option<&'static str> {
    index
        .iter()
        .find(|row| row.0 == kind && row.2 == opcode)
        .map(|row| row.1)
}

fn rows_of_kind(
    index: &'static [OpcodeRow],
    kind: &'static str,
) -> impl Iterator<Item = (&'static str, u32)> {
    index
        .iter()
        .filter(move |row| row.0 == kind)
        .map(|row| (row.1, row.2))
}

/// The bare protocol name of the message with `opcode` in the section
/// `kind`, e.g. the name to show for a message seen on the wire. When the
/// description gives the same opcode twice in one section, the first one
/// wins.
pub fn lookup_opcode(opcode: u32, kind: Kind) -> Option<&'static str> {
    let found = lookup_in(OPCODE_INDEX, opcode, kind.label());
    #[cfg(feature = "extended")]
    let found = found.or_else(|| lookup_in(super::messages::EXTENDED_OPCODE_INDEX, opcode, kind.label()));
    found
}

/// The (bare name, opcode) pairs of the section `kind`, in the order of the
/// generated opcode index.
pub fn opcodes_of_kind(kind: Kind) -> impl Iterator<Item = (&'static str, u32)> {
    let rows = rows_of_kind(OPCODE_INDEX, kind.label());
    #[cfg(feature = "extended")]
    let rows = rows.chain(rows_of_kind(super::messages::EXTENDED_OPCODE_INDEX, kind.label()));
    rows
}

#[cfg(test)]
mod tests {
    use super::*;

    const INDEX: &[OpcodeRow] = &[
        ("messageC2S", "Ping", 0x0001),
        ("messageS2C", "Pong", 0x0001),
        ("messageC2S", "Chat", 0x0015),
        ("messageC2S", "ChatAgain", 0x0015),
        ("gameaction", "Jump", 0x0015),
        ("gameevent", "Wide", 0x12345),
    ];

    #[test]
    fn lookup_matches_kind_and_opcode() {
        let cases: &[(u32, &str, Option<&str>)] = &[
            (0x0001, "messageC2S", Some("Ping")),
            (0x0001, "messageS2C", Some("Pong")),
            (0x0015, "messageC2S", Some("Chat")), // first of two rows wins
            (0x0015, "gameaction", Some("Jump")),
            (0x12345, "gameevent", Some("Wide")),
            (0x2345, "gameevent", None), // no truncation to 16 bits
            (0x0001, "gameaction", None),
            (0x0001, "messagec2s", None), // kinds compare exactly
            (0x0099, "messageC2S", None),
        ];
        for &(opcode, kind, expected) in cases {
            assert_eq!(
                lookup_in(INDEX, opcode, kind),
                expected,
                "{opcode:#X} {kind}"
            );
        }
    }

    #[test]
    fn rows_of_kind_keeps_index_order() {
        let c2s: Vec<_> = rows_of_kind(INDEX, "messageC2S").collect();
        assert_eq!(
            c2s,
            [("Ping", 0x0001), ("Chat", 0x0015), ("ChatAgain", 0x0015)]
        );
        assert_eq!(rows_of_kind(INDEX, "datatype").count(), 0);
    }

    #[test]
    fn generated_index_is_reachable_through_the_lookups() {
        for &(label, name, opcode) in OPCODE_INDEX {
            let kind = match Kind::ALL.iter().copied().find(|k| k.label() == label) {
                Some(kind) => kind,
                None => continue, // a data type with an opcode
            };
            let first = OPCODE_INDEX
                .iter()
                .find(|r| r.0 == label && r.2 == opcode)
                .unwrap()
                .1;
            assert_eq!(lookup_opcode(opcode, kind), Some(first), "{label} {name}");
            assert!(opcodes_of_kind(kind).any(|row| row == (name, opcode)));
        }
    }
}

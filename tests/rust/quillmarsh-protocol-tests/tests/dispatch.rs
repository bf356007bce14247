//! Decoding the sample's messages by section and opcode through the generated
//! `dispatch` enums, and the list of what the generator skipped.

use std::fmt::Debug;

use quillmarsh_protocol::dispatch::{C2SMessage, GameAction, GameEvent, S2CMessage, SKIPPED};
use quillmarsh_protocol::messages::*;
use quillmarsh_protocol::{lookup_opcode, Decode, DecodeError, Kind, Message};

type SectionDecoder<E> = fn(u32, &[u8], &mut usize) -> Result<E, DecodeError>;

/// Inputs every message is tried on: empty, zeros, large values (no NaN,
/// which would not equal itself), short ones, a real message.
fn inputs() -> Vec<Vec<u8>> {
    let mut all = vec![Vec::new(), vec![0; 64], vec![0x7F; 64], vec![0x01; 7]];
    // Movement_Motion with a raw command: decodes in full for several types.
    all.push(vec![
        0x01, 0x00, 0x00, 0x50, 0x01, 0x00, 0x45, 0x00, 0x00, 0x00, 0xA0, 0x3F,
    ]);
    all
}

/// Decoding through the section enum at a cursor agrees with the type's own
/// decoder on the bytes from that cursor on, at cursor 0 and behind other
/// bytes: the same value in the variant of `T` with the cursor moved past
/// it, or `Malformed` with its error and position and an unmoved cursor.
fn agrees<T, E>(decode: SectionDecoder<E>, wrap: fn(T) -> E)
where
    T: Message + Debug + PartialEq,
    E: Debug + PartialEq,
{
    for input in inputs() {
        for start in [0usize, 3, 5] {
            let mut data = vec![0xEE; start];
            data.extend_from_slice(&input);
            let mut direct_at = 0;
            let direct = T::read_from(&input, &mut direct_at);
            let mut at = start;
            let via = decode(T::OPCODE, &data, &mut at);
            match direct {
                Ok(value) => {
                    assert_eq!(via, Ok(wrap(value)), "{} on {data:02X?}", T::NAME);
                    assert_eq!(at, start + direct_at, "{} cursor on {data:02X?}", T::NAME);
                }
                Err(error) => {
                    let expected = DecodeError::Malformed {
                        kind: T::KIND,
                        opcode: T::OPCODE,
                        name: T::NAME,
                        error,
                        at: direct_at,
                        len: input.len(),
                    };
                    assert_eq!(via, Err(expected), "{} on {data:02X?}", T::NAME);
                    assert_eq!(at, start, "{} moved the cursor on error", T::NAME);
                }
            }
        }
    }
}

#[test]
fn every_sample_message_decodes_through_its_section() {
    agrees(C2SMessage::decode, C2SMessage::Login_SendEnterGame);
    agrees(C2SMessage::decode, C2SMessage::Login_LogOffCharacter);
    agrees(S2CMessage::decode, S2CMessage::Qualities_UpdateFloat);
    agrees(S2CMessage::decode, S2CMessage::Item_ServerSaysContainId);
    agrees(S2CMessage::decode, S2CMessage::Inventory_ViewContents);
    agrees(S2CMessage::decode, S2CMessage::Character_Spellbook);
    agrees(S2CMessage::decode, S2CMessage::Object_Describe);
    agrees(S2CMessage::decode, S2CMessage::Movement_Motion);
    agrees(S2CMessage::decode, S2CMessage::Character_Options);
    agrees(GameAction::decode, GameAction::Communication_Talk);
    agrees(GameAction::decode, GameAction::Movement_Jump);
    agrees(GameEvent::decode, GameEvent::Communication_ChannelBroadcast);
    agrees(GameEvent::decode, GameEvent::Magic_UpdateSpell);
}

/// The section enum's view of an index row: its name and opcode after
/// decoding zeros, or the error.
fn decode_by_kind(kind: Kind, opcode: u32, data: &[u8]) -> Result<(&'static str, u32), DecodeError> {
    let mut at = 0;
    match kind {
        Kind::MessageC2S => C2SMessage::decode(opcode, data, &mut at).map(|m| (m.name(), m.opcode())),
        Kind::MessageS2C => S2CMessage::decode(opcode, data, &mut at).map(|m| (m.name(), m.opcode())),
        Kind::GameAction => GameAction::decode(opcode, data, &mut at).map(|m| (m.name(), m.opcode())),
        Kind::GameEvent => GameEvent::decode(opcode, data, &mut at).map(|m| (m.name(), m.opcode())),
    }
}

#[test]
fn every_index_row_decodes_to_the_first_struct_of_its_opcode() {
    let mut rows = 0;
    for &(label, name, opcode) in OPCODE_INDEX {
        let kind = match Kind::ALL.iter().copied().find(|k| k.label() == label) {
            Some(kind) => kind,
            None => continue,
        };
        rows += 1;
        let first = lookup_opcode(opcode, kind).unwrap();
        match decode_by_kind(kind, opcode, &[0; 64]) {
            Ok(got) => assert_eq!(got, (first, opcode), "{label} {name}"),
            Err(DecodeError::Malformed { name: got, .. }) => assert_eq!(got, first, "{label} {name}"),
            Err(e) => panic!("{label} {name} {opcode:#06X}: {e}"),
        }
    }
    assert!(rows >= 13, "the sample's messages are in the index");
}

#[test]
fn a_repeated_opcode_decodes_as_the_first_and_the_later_stays_reachable() {
    // Sequence, key, and the value as a double.
    let bytes = [0x07, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F];
    let message = S2CMessage::decode_exact(0x02D3, &bytes).unwrap();
    assert_eq!(message.name(), "Qualities_UpdateFloat");
    assert_eq!(lookup_opcode(0x02D3, Kind::MessageS2C), Some("Qualities_UpdateFloat"));

    let mut at = 0;
    let old = S2C_Qualities_UpdateFloatOld::read_from(&bytes, &mut at).unwrap();
    assert_eq!(old.key, 0x2A07);
    let wrapped = S2CMessage::Qualities_UpdateFloatOld(old);
    assert_eq!(wrapped.opcode(), 0x02D3);
    assert_eq!(wrapped.name(), "Qualities_UpdateFloatOld");
    assert_eq!(S2C_Qualities_UpdateFloatOld::OPCODE, 0x02D3);
    assert_eq!(<S2C_Qualities_UpdateFloatOld as Message>::NAME, "Qualities_UpdateFloatOld");
}

#[test]
fn every_error_variant_carries_its_fields() {
    let cases: Vec<(Result<S2CMessage, DecodeError>, DecodeError, &str)> = vec![
        (
            S2CMessage::decode(0xBEEF, &[0; 8], &mut 0),
            DecodeError::UnknownOpcode {
                kind: Kind::MessageS2C,
                opcode: 0xBEEF,
            },
            "messageS2C 0xBEEF: no such message in protocol.xml",
        ),
        // An opcode of another section is unknown in this one.
        (
            S2CMessage::decode(C2S_Login_SendEnterGame::OPCODE, &[0; 8], &mut 0),
            DecodeError::UnknownOpcode {
                kind: Kind::MessageS2C,
                opcode: 0xF657,
            },
            "messageS2C 0xF657: no such message in protocol.xml",
        ),
        (
            S2CMessage::decode(0xF755, &[0; 8], &mut 0),
            DecodeError::Skipped {
                kind: Kind::MessageS2C,
                opcode: 0xF755,
                name: "Legacy_Effects",
                reason: "deferred-tier features [mask]",
            },
            "messageS2C 0xF755 Legacy_Effects: not generated: deferred-tier features [mask]",
        ),
        (
            S2CMessage::decode(0x02D3, &[0x01, 0x02, 0x00], &mut 0),
            DecodeError::Malformed {
                kind: Kind::MessageS2C,
                opcode: 0x02D3,
                name: "Qualities_UpdateFloat",
                error: "truncated u32 field key",
                at: 1,
                len: 3,
            },
            "messageS2C 0x02D3 Qualities_UpdateFloat: truncated u32 field key at byte 1 of 3",
        ),
        (
            S2CMessage::decode_exact(0x02D3, &[0; 15]),
            DecodeError::TrailingBytes {
                kind: Kind::MessageS2C,
                opcode: 0x02D3,
                name: "Qualities_UpdateFloat",
                used: 13,
                len: 15,
            },
            "messageS2C 0x02D3 Qualities_UpdateFloat: 2 trailing bytes (the message used 13 of 15)",
        ),
    ];
    for (got, expected, text) in cases {
        let error = got.unwrap_err();
        assert_eq!(error, expected);
        assert_eq!(error.to_string(), text);
        let _: &dyn std::error::Error = &error;
    }
}

#[test]
fn the_cursor_moves_past_a_message_only_on_success() {
    let mut data = vec![0xAA, 0xBB];
    data.extend([0x07, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0xCC]);
    let mut offset = 2;
    let message = S2CMessage::decode(0x02D3, &data, &mut offset).unwrap();
    assert_eq!(offset, 2 + 13);
    assert!(matches!(message, S2CMessage::Qualities_UpdateFloat(ref m) if m.key == 0x2A && m.value == 1.0));
    // Not enough bytes left, an unknown opcode, a skipped one: it stays.
    for opcode in [0x02D3, 0xBEEF, 0xF755] {
        let mut offset = 5;
        assert!(S2CMessage::decode(opcode, &data, &mut offset).is_err());
        assert_eq!(offset, 5, "{opcode:#06X}");
    }
    // Past the end of the data: an error, never a panic.
    let mut offset = 100;
    assert!(S2CMessage::decode(0x02D3, &data, &mut offset).is_err());
    assert_eq!(offset, 100);
}

#[test]
fn skipped_lists_every_item_left_out_in_file_order() {
    let got: Vec<(&str, Option<Kind>, &str, Option<u32>)> =
        SKIPPED.iter().map(|s| (s.label, s.kind, s.name, s.opcode)).collect();
    let mut expected = vec![
        ("enum", None, "LegacyRank", None),
        ("datatype", None, "PackableList", None),
        ("datatype", None, "PackableHashTable", None),
        ("datatype", None, "PHashTable", None),
        ("datatype", None, "ScriptedEffect", None),
        ("messageS2C", Some(Kind::MessageS2C), "Legacy_Effects", Some(0xF755)),
    ];
    // The items only the extended tier generates, in their places.
    if cfg!(not(feature = "extended")) {
        expected.insert(5, ("datatype", None, "Buff", None));
        expected.extend([
            ("messageS2C", Some(Kind::MessageS2C), "Magic_ApplyBuff", Some(0xF756)),
            ("messageS2C", Some(Kind::MessageS2C), "Combat_Attack", Some(0xF757)),
            ("messageS2C", Some(Kind::MessageS2C), "Inventory_Loadout", Some(0xF758)),
            ("gameevent", Some(Kind::GameEvent), "Allegiance_Ranks", Some(0x0020)),
        ]);
    }
    assert_eq!(got, expected);
    assert_eq!(SKIPPED[0].reason, "unknown parent type Some(\"sbyte\")");
    assert_eq!(SKIPPED[4].reason, "field Script: type \"ScriptId\" not in foundation tier");
}

/// Without the extended feature, what only it generates decodes as skipped,
/// with the default tier's reason.
#[cfg(not(feature = "extended"))]
#[test]
fn extended_items_are_skipped_without_the_feature() {
    assert_eq!(
        GameEvent::decode(0x0020, &[1, 0], &mut 0),
        Err(DecodeError::Skipped {
            kind: Kind::GameEvent,
            opcode: 0x0020,
            name: "Allegiance_Ranks",
            reason: "<switch name=\"Mode\"> <case value=\"1\">: unsupported body child <table>",
        })
    );
    assert_eq!(lookup_opcode(0xF757, Kind::MessageS2C), None);
}

#[test]
fn kinds_have_the_index_labels() {
    let labels: Vec<&str> = Kind::ALL.iter().map(|k| k.label()).collect();
    assert_eq!(labels, ["messageC2S", "messageS2C", "gameaction", "gameevent"]);
    assert_eq!(C2SMessage::KIND, Kind::MessageC2S);
    assert_eq!(S2CMessage::KIND, Kind::MessageS2C);
    assert_eq!(GameAction::KIND, Kind::GameAction);
    assert_eq!(GameEvent::KIND, Kind::GameEvent);
}

/// Generic code over the traits: data types decode through `Decode`,
/// messages carry their section, opcode and name.
fn decode_generic<T: Decode>(data: &[u8]) -> Result<(T, usize), &'static str> {
    let mut at = 0;
    T::read_from(data, &mut at).map(|v| (v, at))
}

fn describe<T: Message>() -> (Kind, u32, &'static str) {
    (T::KIND, T::OPCODE, T::NAME)
}

#[test]
fn the_traits_serve_generic_code() {
    let (frame, used) = decode_generic::<Frame>(&[0; 16]).unwrap();
    assert_eq!(used, 16);
    assert_eq!(frame.heading, 0.0);
    assert_eq!(
        describe::<Event_Magic_UpdateSpell>(),
        (Kind::GameEvent, 0x02C1, "Magic_UpdateSpell")
    );
    assert_eq!(
        describe::<Action_Movement_Jump>(),
        (Kind::GameAction, Action_Movement_Jump::OPCODE, "Movement_Jump")
    );
}

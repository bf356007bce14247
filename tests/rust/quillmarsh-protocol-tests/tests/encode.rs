//! The generated encoders (the `encode` feature) on the sample's messages:
//! the exact bytes of every construct, the round trip through the decoders,
//! every consistency error and every value the wire cannot carry.

#![cfg(feature = "encode")]

mod common;

use std::collections::BTreeMap;
use std::fmt::Debug;

use common::{decode_all, Decoder, Wire};
use quillmarsh_protocol::messages::*;
use quillmarsh_protocol::{Encode, EncodeError};

/// Encodes `value` into an empty buffer, checks the bytes are `wire`'s, and
/// that decoding them uses all of them and gives `value` back.
fn assert_encodes<T: Encode + Debug + PartialEq>(value: &T, decode: Decoder<T>, wire: &Wire) {
    let mut out = Vec::new();
    value
        .write_to(&mut out)
        .unwrap_or_else(|e| panic!("encoding {value:?} failed: {e}"));
    assert_eq!(out, wire.bytes, "bytes of {value:?}");
    assert_eq!(&decode_all(decode, wire), value);
}

/// Encodes `value` after some bytes already in the buffer and returns the
/// error, after checking that the buffer was left exactly as it was.
fn encode_err<T: Encode + Debug>(value: &T) -> (&'static str, &'static str, String) {
    let mut out = vec![0xAB, 0xCD];
    match value.write_to(&mut out) {
        Ok(()) => panic!("{value:?} encoded to {out:02X?}, expected an error"),
        Err(EncodeError {
            type_name,
            member,
            problem,
        }) => {
            assert_eq!(
                out,
                [0xAB, 0xCD],
                "a failed encode of {value:?} left bytes behind"
            );
            (type_name, member, problem)
        }
    }
}

fn item(object_id: u32, packed_amount: u32) -> ItemProfile {
    ItemProfile {
        object_id,
        packed_amount,
    }
}

fn inventory(
    count: u32,
    items: usize,
    header: u32,
    trailer: u16,
    headings: usize,
) -> S2C_Inventory_ViewContents {
    S2C_Inventory_ViewContents {
        container: 0x5000_0001,
        count,
        items: (0..items as u32)
            .map(|i| item(i, 0x0100_0000 | i))
            .collect(),
        header,
        skills: (0..header & 0xFFFF)
            .map(|i| SkillEntry {
                skill: i,
                ranks: 3,
                trained: true,
                experience: 1 << 40,
            })
            .collect(),
        trailer,
        headings: [Direction::East, Direction::West]
            .iter()
            .copied()
            .cycle()
            .take(headings)
            .collect(),
    }
}

fn options(
    options: u32,
    has_shortcuts: bool,
    shortcuts: Option<Vec<u32>>,
    default_shortcut: Option<u32>,
    extended: Option<Vec<(u32, u32)>>,
) -> S2C_Character_Options {
    S2C_Character_Options {
        options,
        has_shortcuts,
        shortcut_count: shortcuts.as_ref().map_or(0, |s| s.len() as u16),
        shortcuts,
        default_shortcut,
        extended,
    }
}

fn describe(flags: u32, object: u32) -> S2C_Object_Describe {
    S2C_Object_Describe {
        object,
        flags,
        open_state: None,
        inscription: None,
        stack_size: None,
        stack: None,
        max_stack_size: None,
        marker: None,
    }
}

fn motion(kind: MovementType, kind_data: S2C_Movement_MotionKindData) -> S2C_Movement_Motion {
    S2C_Movement_Motion {
        object: 9,
        kind,
        kind_data,
    }
}

fn position() -> Position {
    Position {
        cell_id: 0xA9B4_0021,
        frame: Frame {
            x: 1.5,
            y: -2.0,
            z: 0.0,
            heading: 3.25,
        },
    }
}

fn position_wire() -> Wire {
    Wire::new()
        .u32(0xA9B4_0021, "")
        .f32(1.5, "")
        .f32(-2.0, "")
        .f32(0.0, "")
        .f32(3.25, "")
}

#[test]
fn fields_strings_and_packed_values_encode_to_their_wire_bytes() {
    assert_encodes(
        &C2S_Login_SendEnterGame {
            character: 0x5000_0001,
            account: "abc€".to_string(),
        },
        C2S_Login_SendEnterGame::read_from,
        &Wire::new().u32(0x5000_0001, "").string16(b"abc\x80"),
    );
    // The two-byte and the four-byte packed form.
    for container_type in [0x7FFF, 0x0001_2345] {
        assert_encodes(
            &S2C_Item_ServerSaysContainId {
                item: 1,
                container: 2,
                slot: -3,
                container_type,
            },
            S2C_Item_ServerSaysContainId::read_from,
            &Wire::new()
                .u32(1, "")
                .u32(2, "")
                .i32(-3, "")
                .packed(container_type),
        );
    }
    assert_encodes(
        &Action_Communication_Talk {
            message: "hé 😀".to_string(),
        },
        Action_Communication_Talk::read_from,
        &Wire::new().wstring("hé 😀"),
    );
    assert_encodes(
        &Event_Communication_ChannelBroadcast {
            channel: ChatChannel::Fellowship,
            sender: String::new(),
            text: "x".to_string(),
        },
        Event_Communication_ChannelBroadcast::read_from,
        &Wire::new().u32(4, "").string16(b"").wstring("x"),
    );
    assert_encodes(
        &Action_Movement_Jump {
            extent: 0.5,
            velocity: position().frame,
            delta: LevelDelta::Down,
        },
        Action_Movement_Jump::read_from,
        &Wire::new()
            .f32(0.5, "")
            .f32(1.5, "")
            .f32(-2.0, "")
            .f32(0.0, "")
            .f32(3.25, "")
            .i32(-1, ""),
    );
    assert_encodes(
        &C2S_Login_LogOffCharacter {},
        C2S_Login_LogOffCharacter::read_from,
        &Wire::new(),
    );
}

#[test]
fn enums_write_their_representation() {
    let cases: Vec<(Vec<u8>, &[u8])> = vec![
        (enc_enum(|o| Direction::West.write_to(o)), &[3]),
        (
            enc_enum(|o| MovementType::TurnToHeading.write_to(o)),
            &[9, 0],
        ),
        (enc_enum(|o| LevelDelta::Down.write_to(o)), &[0xFF; 4]),
        (enc_enum(|o| ChatChannel::r#type.write_to(o)), &[8, 0, 0, 0]),
    ];
    for (got, expected) in cases {
        assert_eq!(got, expected);
    }
}

fn enc_enum(write: impl FnOnce(&mut Vec<u8>)) -> Vec<u8> {
    let mut out = vec![0xEE];
    write(&mut out);
    out.split_off(1)
}

#[test]
fn vectors_subfield_lengths_skips_and_alignment_encode() {
    // Two items, one skill (the low half of the header) with its pad before
    // the experience, and a trailer of 3 giving 3 - 1 headings.
    let value = inventory(2, 2, 0xABCD_0001, 3, 2);
    let mut wire = Wire::new().u32(0x5000_0001, "").u32(2, "");
    for i in 0..2 {
        wire = wire.u32(i, "").u32(0x0100_0000 | i, "");
    }
    wire = wire
        .u32(0xABCD_0001, "")
        .u32(0, "")
        .u16(3, "")
        .u32(1, "")
        .put(&[0, 0], "")
        .u64(1 << 40, "")
        .u16(3, "")
        .u8(1, "")
        .u8(3, "");
    assert_encodes(&value, S2C_Inventory_ViewContents::read_from, &wire);
    // A count that the skip brings below zero gives no elements.
    assert_encodes(
        &inventory(0, 0, 0, 0, 0),
        S2C_Inventory_ViewContents::read_from,
        &Wire::new()
            .u32(0x5000_0001, "")
            .u32(0, "")
            .u32(0, "")
            .u16(0, ""),
    );
}

#[test]
fn packables_and_tables_encode_with_canonical_headers() {
    let value = S2C_Character_Spellbook {
        spells: vec![7, 8],
        favorites: vec![(2, 20), (1, 10)],
        cooldowns: vec![(5, 0.25)],
        property_count: 2,
        properties: BTreeMap::from([(9, 1.0), (3, -1.0)]),
    };
    let wire = Wire::new()
        .u32(2, "")
        .u16(7, "")
        .u16(8, "")
        // Pairs in their order, the unused maximum size zero.
        .u16(2, "")
        .u16(0, "")
        .u32(2, "")
        .u16(20, "")
        .u32(1, "")
        .u16(10, "")
        .u32(1, "")
        .u16(5, "")
        .f64(0.25, "")
        .u8(2, "")
        // Table pairs in ascending key order.
        .u32(3, "")
        .f32(-1.0, "")
        .u32(9, "")
        .f32(1.0, "");
    assert_encodes(&value, S2C_Character_Spellbook::read_from, &wire);
}

#[test]
fn mask_maps_encode_the_groups_their_bits_select() {
    // Flags 0x5 ^ 0x10 selects the openable and the stackable groups; a stack
    // size with the high bit selects the maximum; an even object the marker.
    let mut value = describe(0x5 ^ 0x10, 0x10);
    value.open_state = Some(1);
    value.stack_size = Some(0x8001);
    value.stack = Some(vec![0x11, 0x22]);
    value.max_stack_size = Some(100);
    value.marker = Some(0x7F);
    let wire = Wire::new()
        .u32(0x10, "")
        .u32(0x15, "")
        .u32(1, "")
        .u16(0x8001, "")
        .u32(2, "")
        .u32(0x11, "")
        .u32(0x22, "")
        .u16(100, "")
        .u8(0x7F, "");
    assert_encodes(&value, S2C_Object_Describe::read_from, &wire);
    let mut inscribed = describe(0x2 ^ 0x10, 1);
    inscribed.inscription = Some("hi".to_string());
    assert_encodes(
        &inscribed,
        S2C_Object_Describe::read_from,
        &Wire::new().u32(1, "").u32(0x12, "").string16(b"hi"),
    );
}

#[test]
fn switches_and_if_blocks_encode_the_selected_layout() {
    assert_encodes(
        &motion(
            MovementType::MoveToObject,
            S2C_Movement_MotionKindData::Case_6 {
                target: 4,
                origin: position(),
                style: 2,
                style_data: S2C_Movement_Motion_Case_6StyleData::Case_2,
            },
        ),
        S2C_Movement_Motion::read_from,
        // object, kind, target, position, style, then the pad to four.
        &Wire::new()
            .u32(9, "")
            .u16(6, "")
            .u32(4, "")
            .then(position_wire())
            .u8(2, "")
            .put(&[0], ""),
    );
    assert_encodes(
        &motion(
            MovementType::RawCommand,
            S2C_Movement_MotionKindData::Case_1 {
                command: 0x33,
                speed: 2.0,
            },
        ),
        S2C_Movement_Motion::read_from,
        &Wire::new().u32(9, "").u16(1, "").u16(0x33, "").f32(2.0, ""),
    );
    // The true branch with its pad, then the extended table.
    assert_encodes(
        &options(0x100, true, Some(vec![5]), None, Some(vec![(1, 2)])),
        S2C_Character_Options::read_from,
        &Wire::new()
            .u32(0x100, "")
            .u32(1, "")
            .u16(1, "")
            .u32(5, "")
            .put(&[0, 0], "")
            .u16(1, "")
            .u16(0, "")
            .u32(1, "")
            .u32(2, ""),
    );
    // The false branch; a true flag is written as 1 whatever decoded it.
    assert_encodes(
        &options(0xFF, false, None, Some(6), None),
        S2C_Character_Options::read_from,
        &Wire::new().u32(0xFF, "").u32(0, "").u16(0, "").u32(6, ""),
    );
}

#[test]
fn members_that_disagree_with_the_layout_are_errors() {
    type Case = (
        (&'static str, &'static str, String),
        (&'static str, &'static str, &'static str),
    );
    let cases: Vec<Case> = vec![
        (
            encode_err(&inventory(3, 2, 0, 1, 0)),
            (
                "S2C_Inventory_ViewContents",
                "items",
                "holds 2 elements but its length Count gives 3",
            ),
        ),
        (
            encode_err(&{
                let mut v = inventory(0, 0, 2, 1, 0);
                v.skills.pop();
                v
            }),
            (
                "S2C_Inventory_ViewContents",
                "skills",
                "holds 1 elements but its length SkillCount gives 2",
            ),
        ),
        (
            encode_err(&inventory(0, 0, 0, 0, 1)),
            (
                "S2C_Inventory_ViewContents",
                "headings",
                "holds 1 elements but its length Trailer gives 0",
            ),
        ),
        (
            encode_err(&S2C_Character_Spellbook {
                spells: vec![],
                favorites: vec![],
                cooldowns: vec![],
                property_count: 1,
                properties: BTreeMap::from([(1, 1.0), (2, 2.0)]),
            }),
            (
                "S2C_Character_Spellbook",
                "properties",
                "holds 2 entries but its length PropertyCount gives 1",
            ),
        ),
        (
            encode_err(&options(0, true, None, None, None)),
            (
                "S2C_Character_Options",
                "shortcuts",
                "absent although the test `HasShortcuts` holds",
            ),
        ),
        (
            encode_err(&options(0, true, Some(vec![]), Some(1), None)),
            (
                "S2C_Character_Options",
                "default_shortcut",
                "present although the test `HasShortcuts` holds",
            ),
        ),
        (
            encode_err(&options(0, false, Some(vec![]), Some(1), None)),
            (
                "S2C_Character_Options",
                "shortcuts",
                "present although the test `HasShortcuts` fails",
            ),
        ),
        (
            encode_err(&options(0xFF, false, None, Some(1), Some(vec![]))),
            (
                "S2C_Character_Options",
                "extended",
                "present although the test `Options >= 0x100` fails",
            ),
        ),
        (
            encode_err(&options(0x100, false, None, Some(1), None)),
            (
                "S2C_Character_Options",
                "extended",
                "absent although the test `Options >= 0x100` holds",
            ),
        ),
        (
            encode_err(&describe(0x1 ^ 0x10, 1)),
            (
                "S2C_Object_Describe",
                "open_state",
                "absent although mask ObjectDescriptionFlags.Openable of `flags` selects it",
            ),
        ),
        (
            encode_err(&{
                let mut v = describe(0x10, 1);
                v.inscription = Some(String::new());
                v
            }),
            (
                "S2C_Object_Describe",
                "inscription",
                "present although mask 0x2 of `flags` does not select it",
            ),
        ),
        (
            encode_err(&{
                let mut v = describe(0x10, 2);
                v.marker = None;
                v
            }),
            (
                "S2C_Object_Describe",
                "marker",
                "absent although mask 0x1 of `object` selects it",
            ),
        ),
        (
            encode_err(&{
                let mut v = describe(0x4 ^ 0x10, 1);
                v.stack_size = Some(1);
                v.stack = Some(vec![]);
                v.max_stack_size = Some(1);
                v
            }),
            (
                "S2C_Object_Describe",
                "max_stack_size",
                "present although mask 0x8000 of `stack_size` does not select it",
            ),
        ),
        (
            encode_err(&motion(
                MovementType::RawCommand,
                S2C_Movement_MotionKindData::Case_9 { heading: 1.0 },
            )),
            (
                "S2C_Movement_Motion",
                "kind_data",
                "holds variant Case_9 but the discriminator Kind is 1",
            ),
        ),
        (
            encode_err(&motion(
                MovementType::Invalid,
                S2C_Movement_MotionKindData::Case_9 { heading: 1.0 },
            )),
            (
                "S2C_Movement_Motion",
                "kind_data",
                "holds variant Case_9 but the discriminator Kind is 0",
            ),
        ),
        (
            encode_err(&motion(
                MovementType::MoveToObject,
                S2C_Movement_MotionKindData::Case_6 {
                    target: 4,
                    origin: position(),
                    style: 2,
                    style_data: S2C_Movement_Motion_Case_6StyleData::Case_0_1 { distance: 1.0 },
                },
            )),
            (
                "S2C_Movement_Motion",
                "style_data",
                "holds variant Case_0_1 but the discriminator Style is 2",
            ),
        ),
    ];
    for (got, expected) in cases {
        assert_eq!((got.0, got.1, got.2.as_str()), expected);
    }
}

#[test]
fn values_the_wire_cannot_carry_are_errors() {
    let long_wide = "w".repeat(0x8000);
    let cases: Vec<((&'static str, &'static str, String), (&str, &str, &str))> = vec![
        (
            encode_err(&C2S_Login_SendEnterGame {
                character: 1,
                account: "日本".to_string(),
            }),
            (
                "C2S_Login_SendEnterGame",
                "account",
                "character outside Windows-1252 in string16",
            ),
        ),
        (
            encode_err(&C2S_Login_SendEnterGame {
                character: 1,
                account: "x".repeat(0x10000),
            }),
            (
                "C2S_Login_SendEnterGame",
                "account",
                "string16 longer than 65535 bytes",
            ),
        ),
        (
            encode_err(&Action_Communication_Talk { message: long_wide }),
            (
                "Action_Communication_Talk",
                "message",
                "wstring longer than 32767 UTF-16 code units",
            ),
        ),
        (
            encode_err(&S2C_Item_ServerSaysContainId {
                item: 1,
                container: 2,
                slot: 3,
                container_type: 0x8000_0000,
            }),
            (
                "S2C_Item_ServerSaysContainId",
                "container_type",
                "packed dword over 0x7FFF_FFFF",
            ),
        ),
        (
            encode_err(&S2C_Character_Spellbook {
                spells: vec![],
                favorites: vec![(0, 0); 0x10000],
                cooldowns: vec![],
                property_count: 0,
                properties: BTreeMap::new(),
            }),
            (
                "S2C_Character_Spellbook",
                "favorites",
                "more than 65535 pairs for a PackableHashTable count",
            ),
        ),
        (
            encode_err(&{
                let mut v = describe(0x2 ^ 0x10, 1);
                v.inscription = Some("\u{80}".to_string());
                v
            }),
            (
                "S2C_Object_Describe",
                "inscription",
                "character outside Windows-1252 in string16",
            ),
        ),
    ];
    for (got, expected) in cases {
        assert_eq!((got.0, got.1, got.2.as_str()), expected);
    }
    // The largest counts each header can carry still encode.
    let mut out = Vec::new();
    let spellbook = S2C_Character_Spellbook {
        spells: vec![],
        favorites: vec![(0, 0); 0xFFFF],
        cooldowns: vec![],
        property_count: 0,
        properties: BTreeMap::new(),
    };
    spellbook.write_to(&mut out).unwrap();
    assert_eq!(out[4..6], [0xFF, 0xFF]);
}

#[test]
fn a_failed_encode_inside_a_nested_value_leaves_nothing_behind() {
    // The error comes after the header, the items and the skill were written.
    let mut value = inventory(1, 1, 1, 1, 1);
    let mut out = vec![1, 2, 3];
    assert!(value.write_to(&mut out).is_err());
    assert_eq!(out, [1, 2, 3]);
    // Appended after other bytes, the value is written as it is alone
    // (padding counts from the message's own first byte) and decodes from
    // the bytes from there on.
    value.headings.clear();
    value.write_to(&mut out).unwrap();
    assert_eq!(&out[..3], &[1, 2, 3]);
    let mut alone = Vec::new();
    value.write_to(&mut alone).unwrap();
    assert_eq!(&out[3..], &alone[..]);
    let (decoded, end) = common::decode_at(S2C_Inventory_ViewContents::read_from, &out[3..], 0).unwrap();
    assert_eq!((decoded, end), (value, alone.len()));
}

#[test]
fn generic_code_encodes_through_the_trait() {
    fn encode_all(values: &[&dyn Encode]) -> Result<Vec<u8>, EncodeError> {
        let mut out = Vec::new();
        for v in values {
            v.write_to(&mut out)?;
        }
        Ok(out)
    }
    let talk = Action_Communication_Talk {
        message: "a".to_string(),
    };
    let bad = C2S_Login_SendEnterGame {
        character: 0,
        account: "Ω".to_string(),
    };
    assert_eq!(
        encode_all(&[&talk, &talk]),
        Ok(vec![1, b'a', 0, 1, b'a', 0])
    );
    let e = encode_all(&[&talk, &bad]).unwrap_err();
    assert_eq!(
        e.to_string(),
        "cannot encode C2S_Login_SendEnterGame.account: character outside Windows-1252 in string16"
    );
}

//! Simple fields, enums, nested structs, subfield accessors and alignment,
//! decoded through the sample's generated decoders.

mod common;

use common::{assert_truncations, decode_all, decode_at, decode_err, Decoder, Wire};
use quillmarsh_protocol::messages::*;

#[test]
fn enter_game_reads_a_u32_and_a_padded_string16() {
    let cases: &[(u32, &[u8], &str)] = &[
        (0, b"", ""),
        (0x8000_0001, b"hi", "hi"),
        (7, b"abc", "abc"),
        (0xFFFF_FFFF, b"abcdefg", "abcdefg"),
        (1, &[0x80, 0xE9], "\u{20AC}\u{E9}"),
    ];
    for &(character, body, account) in cases {
        let wire = Wire::new()
            .u32(character, "truncated u32 field character")
            .string16(body);
        assert_eq!(
            decode_all(C2S_Login_SendEnterGame::read_from, &wire),
            C2S_Login_SendEnterGame {
                character,
                account: account.to_string()
            },
        );
        assert_truncations(C2S_Login_SendEnterGame::read_from, &wire);
    }
}

#[test]
fn a_message_without_fields_reads_nothing() {
    for (bytes, start) in [(&[][..], 0), (&[1, 2, 3][..], 1), (&[1, 2, 3][..], 3)] {
        let (_, end) = decode_at(C2S_Login_LogOffCharacter::read_from, bytes, start).unwrap();
        assert_eq!(end, start);
    }
}

#[test]
fn update_float_value_is_eight_bytes_wide() {
    // 0.1 and 1e300 have no f32 equivalent: a four-byte read cannot give them.
    for value in [
        0.0,
        -0.0,
        0.1,
        -2.5,
        1e300,
        f64::MIN_POSITIVE,
        f64::INFINITY,
    ] {
        let wire = Wire::new()
            .u8(0xC3, "truncated u8 field sequence")
            .u32(0x0102_0304, "truncated u32 field key")
            .f64(value, "truncated f64 field value");
        assert_eq!(wire.len(), 13);
        let got = decode_all(S2C_Qualities_UpdateFloat::read_from, &wire);
        assert_eq!(
            (got.sequence, got.key, got.value.to_bits()),
            (0xC3, 0x0102_0304, value.to_bits())
        );
        assert_truncations(S2C_Qualities_UpdateFloat::read_from, &wire);
    }
}

#[test]
fn contain_id_reads_a_signed_slot_and_a_packed_data_id() {
    let cases: &[(i32, u32, usize)] = &[
        (0, 0, 14),
        (-1, 0x7FFF, 14),
        (i32::MIN, 0x8000, 16),
        (i32::MAX, 0x1234_5678, 16),
        (-2, 0x7FFF_FFFF, 16),
    ];
    for &(slot, container_type, len) in cases {
        let wire = Wire::new()
            .u32(0xAABB_CCDD, "truncated u32 field item")
            .u32(0x0000_0050, "truncated u32 field container")
            .i32(slot, "truncated i32 field slot")
            .packed(container_type);
        assert_eq!(wire.len(), len);
        assert_eq!(
            decode_all(S2C_Item_ServerSaysContainId::read_from, &wire),
            S2C_Item_ServerSaysContainId {
                item: 0xAABB_CCDD,
                container: 0x50,
                slot,
                container_type
            },
        );
        assert_truncations(S2C_Item_ServerSaysContainId::read_from, &wire);
    }
}

#[test]
fn talk_reads_an_unpadded_wstring() {
    for text in ["", "hi", "\u{E9}t\u{E9}", "\u{1F600}!"] {
        let wire = Wire::new().wstring(text);
        assert_eq!(
            decode_all(Action_Communication_Talk::read_from, &wire),
            Action_Communication_Talk {
                message: text.to_string()
            }
        );
        assert_truncations(Action_Communication_Talk::read_from, &wire);
    }
    // A lone surrogate is refused with the reader's own error.
    assert_eq!(
        decode_err(Action_Communication_Talk::read_from, &[0x01, 0x3D, 0xD8]),
        "invalid UTF-16 in wstring"
    );
}

fn frame_wire(f: [f32; 4]) -> Wire {
    Wire::new()
        .f32(f[0], "truncated f32 field x")
        .f32(f[1], "truncated f32 field y")
        .f32(f[2], "truncated f32 field z")
        .f32(f[3], "truncated f32 field heading")
}

#[test]
fn jump_reads_a_nested_struct_and_a_signed_enum() {
    let cases: &[(i32, LevelDelta)] = &[
        (-1, LevelDelta::Down),
        (0, LevelDelta::Same),
        (1, LevelDelta::Up),
    ];
    for &(raw, delta) in cases {
        let wire = Wire::new()
            .f32(1.5, "truncated f32 field extent")
            .then(frame_wire([-1.0, 2.0, 0.25, 3.0]))
            .i32(raw, "truncated enum LevelDelta");
        assert_eq!(
            decode_all(Action_Movement_Jump::read_from, &wire),
            Action_Movement_Jump {
                extent: 1.5,
                velocity: Frame {
                    x: -1.0,
                    y: 2.0,
                    z: 0.25,
                    heading: 3.0
                },
                delta,
            }
        );
        assert_truncations(Action_Movement_Jump::read_from, &wire);
    }
    for raw in [2, -2, i32::MIN, 0x0100_0000] {
        let wire = Wire::new()
            .f32(0.0, "")
            .then(frame_wire([0.0; 4]))
            .i32(raw, "");
        assert_eq!(
            decode_err(Action_Movement_Jump::read_from, &wire.bytes),
            "unknown LevelDelta discriminant",
            "raw {raw}"
        );
    }
}

#[test]
fn channel_broadcast_reads_enum_string16_and_wstring() {
    let known: &[(u32, ChatChannel)] = &[
        (1, ChatChannel::Say),
        (2, ChatChannel::Tell),
        (2, ChatChannel_Whisper),
        (4, ChatChannel::Fellowship),
        (8, ChatChannel::r#type),
    ];
    for &(raw, channel) in known {
        let wire = Wire::new()
            .u32(raw, "truncated enum ChatChannel")
            .string16(b"Bob")
            .wstring("hello");
        assert_eq!(
            decode_all(Event_Communication_ChannelBroadcast::read_from, &wire),
            Event_Communication_ChannelBroadcast {
                channel,
                sender: "Bob".to_string(),
                text: "hello".to_string(),
            }
        );
        assert_truncations(Event_Communication_ChannelBroadcast::read_from, &wire);
    }
    for raw in [0, 3, 0x10, 0x0100_0001, u32::MAX] {
        let wire = Wire::new().u32(raw, "").string16(b"").wstring("");
        assert_eq!(
            decode_err(Event_Communication_ChannelBroadcast::read_from, &wire.bytes),
            "unknown ChatChannel discriminant",
            "raw {raw:#X}"
        );
    }
}

#[test]
fn update_spell_reads_a_struct_inside_a_struct() {
    let wire = Wire::new()
        .u16(0xBEEF, "truncated u16 field spell")
        .u32(0x7F03_0021, "truncated u32 field cell_id")
        .then(frame_wire([10.0, 20.0, 30.0, 0.5]));
    assert_eq!(
        decode_all(Event_Magic_UpdateSpell::read_from, &wire),
        Event_Magic_UpdateSpell {
            spell: 0xBEEF,
            position: Position {
                cell_id: 0x7F03_0021,
                frame: Frame {
                    x: 10.0,
                    y: 20.0,
                    z: 30.0,
                    heading: 0.5
                },
            },
        }
    );
    assert_truncations(Event_Magic_UpdateSpell::read_from, &wire);
}

#[test]
fn enum_decoders_return_known_variants_or_the_raw_value() {
    fn run<E: std::fmt::Debug + PartialEq, R: std::fmt::Debug + PartialEq>(
        decode: Decoder<Result<E, R>>,
        bytes: &[u8],
        expected: Result<E, R>,
        name: &str,
    ) {
        let mut data = bytes.to_vec();
        data.push(0x5A);
        let mut offset = 0;
        assert_eq!(decode(&data, &mut offset), Ok(expected), "{bytes:02X?}");
        assert_eq!(offset, bytes.len(), "cursor after {bytes:02X?}");
        for cut in 0..bytes.len() {
            let mut offset = 0;
            let error = decode(&bytes[..cut], &mut offset).unwrap_err();
            assert_eq!(
                error,
                format!("truncated enum {name}"),
                "cut after {cut} of {bytes:02X?}"
            );
            assert_eq!(offset, 0, "a truncated enum moved the cursor");
        }
    }
    run(
        ChatChannel::read_from,
        &[2, 0, 0, 0],
        Ok(ChatChannel::Tell),
        "ChatChannel",
    );
    run(
        ChatChannel::read_from,
        &[8, 0, 0, 0],
        Ok(ChatChannel::r#type),
        "ChatChannel",
    );
    run(
        ChatChannel::read_from,
        &[2, 0, 0, 1],
        Err(0x0100_0002),
        "ChatChannel",
    );
    run(ChatChannel::read_from, &[0, 0, 0, 0], Err(0), "ChatChannel");
    run(
        ObjectDescriptionFlags::read_from,
        &[0, 0, 0, 0],
        Ok(ObjectDescriptionFlags::None),
        "ObjectDescriptionFlags",
    );
    run(
        ObjectDescriptionFlags::read_from,
        &[8, 0, 0, 0],
        Ok(ObjectDescriptionFlags::Burden),
        "ObjectDescriptionFlags",
    );
    run(
        ObjectDescriptionFlags::read_from,
        &[3, 0, 0, 0],
        Err(3),
        "ObjectDescriptionFlags",
    );
    run(Direction::read_from, &[3], Ok(Direction::West), "Direction");
    run(Direction::read_from, &[4], Err(4), "Direction");
    run(Direction::read_from, &[0xFF], Err(0xFF), "Direction");
    run(
        MovementType::read_from,
        &[9, 0],
        Ok(MovementType::TurnToHeading),
        "MovementType",
    );
    run(
        MovementType::read_from,
        &[0, 0],
        Ok(MovementType::Invalid),
        "MovementType",
    );
    run(
        MovementType::read_from,
        &[6, 1],
        Err(0x0106),
        "MovementType",
    );
    run(
        LevelDelta::read_from,
        &[0xFF, 0xFF, 0xFF, 0xFF],
        Ok(LevelDelta::Down),
        "LevelDelta",
    );
    run(
        LevelDelta::read_from,
        &[1, 0, 0, 0],
        Ok(LevelDelta::Up),
        "LevelDelta",
    );
    run(
        LevelDelta::read_from,
        &[0xFE, 0xFF, 0xFF, 0xFF],
        Err(-2),
        "LevelDelta",
    );
}

#[test]
fn enum_alias_and_keyword_variant() {
    assert_eq!(ChatChannel_Whisper, ChatChannel::Tell);
    assert_eq!(ChatChannel_Whisper as u32, 2);
    assert_eq!(ChatChannel::r#type as u32, 8);
    assert_eq!(format!("{:?}", ChatChannel::r#type), "type");
    assert_eq!(LevelDelta::Down as i32, -1);
}

#[test]
fn item_profile_accessors_split_the_packed_amount() {
    let cases: &[(u32, u32, u8)] = &[
        (0, 0, 0),
        (0x1234_5678, 0x34_5678, 0x12),
        (0xFF00_0000, 0, 0xFF),
        (0x00FF_FFFF, 0xFF_FFFF, 0),
        (0x8000_0001, 1, 0x80),
    ];
    for &(packed, amount, slot) in cases {
        let wire = Wire::new()
            .u32(0x5000_0001, "truncated u32 field object_id")
            .u32(packed, "truncated u32 field packed_amount");
        let item = decode_all(ItemProfile::read_from, &wire);
        assert_eq!((item.object_id, item.packed_amount), (0x5000_0001, packed));
        assert_eq!(
            (item.amount(), item.slot()),
            (amount, slot),
            "packed {packed:#010X}"
        );
        assert_truncations(ItemProfile::read_from, &wire);
    }
}

#[test]
fn wire_bool_is_four_bytes_and_any_nonzero_word_is_true() {
    let cases: &[(u32, bool)] = &[
        (0, false),
        (1, true),
        (0x100, true),
        (0x0001_0000, true),
        (0x8000_0000, true),
    ];
    for &(raw, trained) in cases {
        let wire = Wire::new()
            .u32(11, "truncated u32 field skill")
            .u16(3, "truncated u16 field ranks")
            .u32(raw, "truncated wire-bool field trained")
            .put(&[0xEE, 0xEE], "truncated align(4) pad")
            .u64(0x0102_0304_0506_0708, "truncated u64 field experience");
        assert_eq!(
            decode_all(SkillEntry::read_from, &wire),
            SkillEntry {
                skill: 11,
                ranks: 3,
                trained,
                experience: 0x0102_0304_0506_0708
            },
            "raw {raw:#X}"
        );
        assert_truncations(SkillEntry::read_from, &wire);
    }
}

#[test]
fn skill_entry_pads_to_a_multiple_of_four_from_the_start_of_the_data() {
    // The 10 bytes before the pad end at start + 10; the pad brings the cursor
    // to the next multiple of four counted from data[0], not from the struct.
    let cases: &[(usize, usize)] = &[(0, 2), (1, 1), (2, 0), (3, 3), (4, 2), (6, 0)];
    for &(start, pad) in cases {
        let mut data = vec![0x99; start];
        data.extend(5u32.to_le_bytes());
        data.extend(9u16.to_le_bytes());
        data.extend(1u32.to_le_bytes());
        data.extend(std::iter::repeat(0xEE).take(pad));
        data.extend(u64::MAX.to_le_bytes());
        let (entry, end) = decode_at(SkillEntry::read_from, &data, start).unwrap();
        assert_eq!(
            entry,
            SkillEntry {
                skill: 5,
                ranks: 9,
                trained: true,
                experience: u64::MAX
            },
            "start {start}"
        );
        assert_eq!(end, data.len(), "start {start}");
        assert_eq!(end % 4, 0);
        // Missing pad bytes fail at the pad, before the u64 is looked at.
        if pad > 0 {
            assert_eq!(
                decode_at(SkillEntry::read_from, &data[..start + 10 + pad - 1], start).unwrap_err(),
                "truncated align(4) pad",
                "start {start}"
            );
        }
    }
}

#[test]
fn a_cursor_at_or_past_the_end_fails_with_the_first_read_error() {
    fn first_error<T>(decode: Decoder<T>, data: &[u8], start: usize) -> &'static str {
        match decode_at(decode, data, start) {
            Ok(_) => panic!("decoded from cursor {start} of {} bytes", data.len()),
            Err(e) => e,
        }
    }
    let data = [0u8; 6];
    for start in [6, 7, 4096] {
        let cases = [
            (
                first_error(C2S_Login_SendEnterGame::read_from, &data, start),
                "truncated u32 field character",
            ),
            (
                first_error(Action_Communication_Talk::read_from, &data, start),
                "truncated wstring length",
            ),
            (
                first_error(
                    Event_Communication_ChannelBroadcast::read_from,
                    &data,
                    start,
                ),
                "truncated enum ChatChannel",
            ),
            (
                first_error(S2C_Character_Spellbook::read_from, &data, start),
                "truncated PackableList count for spells",
            ),
            (
                first_error(Event_Magic_UpdateSpell::read_from, &data, start),
                "truncated u16 field spell",
            ),
        ];
        for (got, expected) in cases {
            assert_eq!(got, expected, "cursor {start}");
        }
    }
}

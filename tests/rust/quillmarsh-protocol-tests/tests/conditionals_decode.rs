//! If blocks, mask maps and switches, decoded through the sample's generated
//! decoders.

mod common;

use common::{assert_truncations, decode_all, decode_at, decode_err, Wire};
use quillmarsh_protocol::messages::*;

/// Character options: the options word, the shortcut flag and count, then
/// either the shortcuts and a pad (flag set) or one default shortcut, then the
/// extended table when the options are at least 0x100.
fn options_wire(
    options: u32,
    flag: u32,
    count: u16,
    shortcuts: &[u32],
    pad: usize,
    extended: Option<&[(u32, u32)]>,
) -> Wire {
    let mut wire = Wire::new()
        .u32(options, "truncated u32 field options")
        .u32(flag, "truncated wire-bool field has_shortcuts")
        .u16(count, "truncated u16 field shortcut_count");
    if flag != 0 {
        for &s in shortcuts {
            wire = wire.u32(s, "truncated u32 field __elem");
        }
        wire = wire.put(&vec![0xEE; pad], "truncated align(4) pad");
    } else {
        wire = wire.u32(shortcuts[0], "truncated u32 field default_shortcut_v");
    }
    if let Some(pairs) = extended {
        wire = wire.hash_table_header(
            pairs.len() as u16,
            0x20,
            "truncated PackableHashTable count for extended_v",
        );
        for &(k, v) in pairs {
            wire = wire
                .u32(k, "truncated u32 field __k")
                .u32(v, "truncated u32 field __v");
        }
    }
    wire
}

#[test]
fn character_options_take_each_branch_of_both_tests() {
    struct Case {
        options: u32,
        flag: u32,
        count: u16,
        words: &'static [u32],
        extended: Option<&'static [(u32, u32)]>,
    }
    let cases = [
        // The false branch reads one word whatever the count says.
        Case {
            options: 0,
            flag: 0,
            count: 5,
            words: &[0xD00D],
            extended: None,
        },
        Case {
            options: 0xFF,
            flag: 0,
            count: 0,
            words: &[1],
            extended: None,
        },
        Case {
            options: 0x100,
            flag: 0,
            count: 0,
            words: &[2],
            extended: Some(&[]),
        },
        // The true branch: count words, then a pad from offset 10 + 4n to the
        // next multiple of four (always two bytes here).
        Case {
            options: 0x1FF,
            flag: 1,
            count: 0,
            words: &[],
            extended: Some(&[(1, 2)]),
        },
        Case {
            options: 0x0A,
            flag: 0x0001_0000,
            count: 2,
            words: &[0x11, 0x22],
            extended: None,
        },
        // The comparison is unsigned: 0xFFFFFFFF is not -1.
        Case {
            options: u32::MAX,
            flag: 0x8000_0000,
            count: 1,
            words: &[3],
            extended: Some(&[(5, 6), (5, 7)]),
        },
    ];
    for case in cases {
        let wire = options_wire(
            case.options,
            case.flag,
            case.count,
            case.words,
            2,
            case.extended,
        );
        let has_shortcuts = case.flag != 0;
        assert_eq!(
            decode_all(S2C_Character_Options::read_from, &wire),
            S2C_Character_Options {
                options: case.options,
                has_shortcuts,
                shortcut_count: case.count,
                shortcuts: has_shortcuts.then(|| case.words.to_vec()),
                default_shortcut: (!has_shortcuts).then(|| case.words[0]),
                extended: case.extended.map(|pairs| pairs.to_vec()),
            }
        );
        assert_truncations(S2C_Character_Options::read_from, &wire);
    }
}

#[test]
fn character_options_pad_follows_the_start_of_the_data() {
    // Shortcuts end at start + 10 + 4n; (start, pad) for one shortcut.
    for (start, pad) in [(0usize, 2usize), (1, 1), (2, 0), (3, 3)] {
        let mut data = vec![0x99; start];
        data.extend(options_wire(1, 1, 1, &[0xAB], pad, None).bytes);
        let (got, end) = decode_at(S2C_Character_Options::read_from, &data, start).unwrap();
        assert_eq!(end, data.len(), "start {start}");
        assert_eq!(got.shortcuts, Some(vec![0xAB]), "start {start}");
    }
}

/// The two fixed fields of an object description; the helpers below append
/// the gated parts in wire order.
fn describe_wire(flags: u32) -> Wire {
    Wire::new()
        .u32(0x5000_0A0B, "truncated u32 field object")
        .u32(flags, "truncated u32 field flags")
}
fn open_state(w: Wire, v: u32) -> Wire {
    w.u32(v, "truncated u32 field open_state_v")
}
/// The stack size comes before the stack list: simple fields of a mask are
/// read before its packables, whatever their order in the description.
fn stack(w: Wire, size: u16, ids: &[u32]) -> Wire {
    let mut w = w
        .u16(size, "truncated u16 field stack_size_v")
        .u32(ids.len() as u32, "truncated PackableList count for stack_v");
    for &id in ids {
        w = w.u32(id, "truncated u32 field __elem");
    }
    w
}
fn max_stack(w: Wire, v: u16) -> Wire {
    w.u16(v, "truncated u16 field max_stack_size_v")
}

#[test]
fn object_describe_reads_the_masked_parts_that_are_present() {
    let none = S2C_Object_Describe {
        object: 0x5000_0A0B,
        flags: 0,
        open_state: None,
        inscription: None,
        stack_size: None,
        stack: None,
        max_stack_size: None,
        marker: None,
    };
    let cases: Vec<(Wire, S2C_Object_Describe)> = vec![
        (describe_wire(0), none.clone()),
        // Burden has no mask; 0x10 is only flipped by the xor, and no mask
        // tests it. The stored flags keep their raw value.
        (
            describe_wire(0x8),
            S2C_Object_Describe {
                flags: 0x8,
                ..none.clone()
            },
        ),
        (
            describe_wire(0x10),
            S2C_Object_Describe {
                flags: 0x10,
                ..none.clone()
            },
        ),
        (
            describe_wire(0xFFFF_FF00),
            S2C_Object_Describe {
                flags: 0xFFFF_FF00,
                ..none.clone()
            },
        ),
        (
            open_state(describe_wire(0x1), 77),
            S2C_Object_Describe {
                flags: 0x1,
                open_state: Some(77),
                ..none.clone()
            },
        ),
        (
            open_state(describe_wire(0x11), 78),
            S2C_Object_Describe {
                flags: 0x11,
                open_state: Some(78),
                ..none.clone()
            },
        ),
        (
            describe_wire(0x2).string16(b"runes"),
            S2C_Object_Describe {
                flags: 0x2,
                inscription: Some("runes".into()),
                ..none.clone()
            },
        ),
        // A stack size without 0x8000 leaves the maximum absent.
        (
            stack(describe_wire(0x4), 0x7FFF, &[]),
            S2C_Object_Describe {
                flags: 0x4,
                stack_size: Some(0x7FFF),
                stack: Some(vec![]),
                ..none.clone()
            },
        ),
        (
            max_stack(stack(describe_wire(0x4), 0x8001, &[9, 8]), 500),
            S2C_Object_Describe {
                flags: 0x4,
                stack_size: Some(0x8001),
                stack: Some(vec![9, 8]),
                max_stack_size: Some(500),
                ..none.clone()
            },
        ),
        (
            max_stack(
                stack(
                    open_state(describe_wire(0x1F), 1).string16(b""),
                    0xFFFF,
                    &[3],
                ),
                0xFFFF,
            ),
            S2C_Object_Describe {
                flags: 0x1F,
                open_state: Some(1),
                inscription: Some(String::new()),
                stack_size: Some(0xFFFF),
                stack: Some(vec![3]),
                max_stack_size: Some(0xFFFF),
                ..none.clone()
            },
        ),
        (
            stack(describe_wire(0x6).string16(b"abc"), 0, &[1, 2, 3]),
            S2C_Object_Describe {
                flags: 0x6,
                inscription: Some("abc".into()),
                stack_size: Some(0),
                stack: Some(vec![1, 2, 3]),
                ..none.clone()
            },
        ),
    ];
    for (wire, expected) in cases {
        assert_eq!(decode_all(S2C_Object_Describe::read_from, &wire), expected);
        assert_truncations(S2C_Object_Describe::read_from, &wire);
    }
}

#[test]
fn object_describe_xor_flips_the_parent_bits_before_testing() {
    // The marker's mask map tests the object id xor 0xFF: an id ending in
    // 0x0B gives 0xF4 (bit 0 clear, no marker), one ending in 0x0A gives 0xF5.
    for (object, marker) in [(0x5000_0A0Bu32, None), (0x5000_0A0A, Some(7u8)), (0x0000_00FE, Some(7))] {
        let mut wire = Wire::new()
            .u32(object, "truncated u32 field object")
            .u32(0, "truncated u32 field flags");
        if marker.is_some() {
            wire = wire.u8(7, "truncated u8 field marker_v");
        }
        let got = decode_all(S2C_Object_Describe::read_from, &wire);
        assert_eq!((got.object, got.marker), (object, marker));
        assert_truncations(S2C_Object_Describe::read_from, &wire);
    }
}

#[test]
fn object_describe_absent_stack_size_gates_off_the_maximum() {
    // Without the stackable bit the stack size is absent and reads as 0 for
    // the second mask map, so the 0x8000 that follows is not consumed.
    let mut bytes = describe_wire(0x8).bytes;
    bytes.extend([0x00, 0x80, 0x01, 0x00]);
    let (got, end) = decode_at(S2C_Object_Describe::read_from, &bytes, 0).unwrap();
    assert_eq!((end, got.stack_size, got.max_stack_size), (8, None, None));
}

fn position_wire(cell: u32, f: [f32; 4]) -> Wire {
    Wire::new()
        .u32(cell, "truncated u32 field cell_id")
        .f32(f[0], "truncated f32 field x")
        .f32(f[1], "truncated f32 field y")
        .f32(f[2], "truncated f32 field z")
        .f32(f[3], "truncated f32 field heading")
}

fn motion_wire(kind: u16) -> Wire {
    Wire::new()
        .u32(0x5000_0001, "truncated u32 field object")
        .u16(kind, "truncated enum MovementType")
}

#[test]
fn movement_motion_decodes_every_case() {
    use S2C_Movement_MotionKindData as K;
    use S2C_Movement_Motion_Case_6StyleData as S;
    let origin = Position {
        cell_id: 0xA9B4_0021,
        frame: Frame {
            x: 1.0,
            y: 2.0,
            z: 3.0,
            heading: 4.0,
        },
    };
    let move_to = |style: u8| {
        motion_wire(6)
            .u32(0x5000_0002, "truncated u32 field target")
            .then(position_wire(0xA9B4_0021, [1.0, 2.0, 3.0, 4.0]))
            .u8(style, "truncated u8 field style")
    };
    let cases: Vec<(Wire, MovementType, K)> = vec![
        (
            motion_wire(1)
                .u16(0x0045, "truncated u16 field command")
                .f32(1.25, "truncated f32 field speed"),
            MovementType::RawCommand,
            K::Case_1 {
                command: 0x45,
                speed: 1.25,
            },
        ),
        (
            move_to(0).f32(0.5, "truncated f32 field distance"),
            MovementType::MoveToObject,
            K::Case_6 {
                target: 0x5000_0002,
                origin: origin.clone(),
                style: 0,
                style_data: S::Case_0_1 { distance: 0.5 },
            },
        ),
        (
            move_to(1).f32(-7.0, "truncated f32 field distance"),
            MovementType::MoveToObject,
            K::Case_6 {
                target: 0x5000_0002,
                origin: origin.clone(),
                style: 1,
                style_data: S::Case_0_1 { distance: -7.0 },
            },
        ),
        // Style 2 carries only a pad: the style byte ends at 31, so one byte.
        (
            move_to(2).put(&[0xEE], "truncated align(4) pad"),
            MovementType::MoveToObject,
            K::Case_6 {
                target: 0x5000_0002,
                origin: origin.clone(),
                style: 2,
                style_data: S::Case_2,
            },
        ),
        (
            motion_wire(9).f32(3.5, "truncated f32 field heading"),
            MovementType::TurnToHeading,
            K::Case_9 { heading: 3.5 },
        ),
    ];
    for (wire, kind, kind_data) in cases {
        assert_eq!(
            decode_all(S2C_Movement_Motion::read_from, &wire),
            S2C_Movement_Motion {
                object: 0x5000_0001,
                kind,
                kind_data
            }
        );
        assert_truncations(S2C_Movement_Motion::read_from, &wire);
    }
}

#[test]
fn movement_motion_unit_case_pads_from_the_start_of_the_data() {
    for (start, pad) in [(0usize, 1usize), (1, 0), (2, 3), (3, 2)] {
        let mut data = vec![0x99; start];
        data.extend(
            motion_wire(6)
                .u32(2, "")
                .then(position_wire(0, [0.0; 4]))
                .u8(2, "")
                .bytes,
        );
        data.extend(vec![0xEE; pad]);
        let (got, end) = decode_at(S2C_Movement_Motion::read_from, &data, start).unwrap();
        assert_eq!(end, data.len(), "start {start}");
        assert!(
            matches!(
                got.kind_data,
                S2C_Movement_MotionKindData::Case_6 {
                    style_data: S2C_Movement_Motion_Case_6StyleData::Case_2,
                    ..
                }
            ),
            "start {start}: {got:?}"
        );
    }
}

#[test]
fn movement_motion_rejects_values_without_a_case() {
    let style = |s: u8| {
        motion_wire(6)
            .u32(2, "")
            .then(position_wire(0, [0.0; 4]))
            .u8(s, "")
            .f32(0.0, "")
    };
    let cases: Vec<(Wire, &str)> = vec![
        // Not a MovementType at all: the enum field itself fails first.
        (
            motion_wire(2).f32(0.0, ""),
            "unknown MovementType discriminant",
        ),
        (
            motion_wire(0x0101).f32(0.0, ""),
            "unknown MovementType discriminant",
        ),
        (
            motion_wire(0xFFFF).f32(0.0, ""),
            "unknown MovementType discriminant",
        ),
        // A MovementType that no case lists.
        (
            motion_wire(0).f32(0.0, ""),
            "unknown S2C_Movement_MotionKindData discriminator",
        ),
        (
            style(3),
            "unknown S2C_Movement_Motion_Case_6StyleData discriminator",
        ),
        (
            style(0xFF),
            "unknown S2C_Movement_Motion_Case_6StyleData discriminator",
        ),
    ];
    for (wire, error) in cases {
        assert_eq!(
            decode_err(S2C_Movement_Motion::read_from, &wire.bytes),
            error,
            "{:02X?}",
            wire.bytes
        );
    }
}

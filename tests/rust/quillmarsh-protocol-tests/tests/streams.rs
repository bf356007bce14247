//! Messages in streams: a message decodes and encodes the same wherever it
//! starts in a buffer, framed messages (opcode, then body) follow one another,
//! a failure says where in the message it happened, and `AnyMessage` holds a
//! message of any section.

mod common;

use std::collections::BTreeMap;

use common::Wire;
use quillmarsh_protocol::dispatch::{AnyMessage, C2SMessage, GameAction, GameEvent, S2CMessage};
use quillmarsh_protocol::messages::*;
use quillmarsh_protocol::{DecodeError, Kind};

fn frame(x: f32) -> Frame {
    Frame {
        x,
        y: -2.0,
        z: 0.5,
        heading: 3.0,
    }
}

fn position(cell_id: u32) -> Position {
    Position {
        cell_id,
        frame: frame(1.5),
    }
}

fn teleport() -> C2S_Movement_TeleportAt {
    C2S_Movement_TeleportAt {
        sequence: 4,
        when: Timestamp {
            tick: 0x0102,
            seconds: 0.25,
        },
        r#where: position(0xA9B4_0021),
    }
}

/// One message of every kind the sample has, each through `From` into its
/// section's enum and from there into `AnyMessage`. (Qualities_UpdateFloatOld
/// is left out: it shares its opcode with Qualities_UpdateFloat, so decoding
/// by opcode gives the other.)
fn every_sample_message() -> Vec<AnyMessage> {
    let mut messages = default_tier_messages();
    #[cfg(feature = "extended")]
    messages.extend(extended_tier_messages());
    messages
}

/// One of each message only the extended feature generates, its options
/// set as their conditions ask.
#[cfg(feature = "extended")]
fn extended_tier_messages() -> Vec<AnyMessage> {
    vec![
        S2CMessage::from(S2C_Magic_ApplyBuff {
            target: 0x5000_0002,
            buff: Buff {
                spell: 9,
                flags: 4,
                count: Some(1),
                modifiers: Some(BTreeMap::from([(2, 0.75)])),
            },
        })
        .into(),
        S2CMessage::from(S2C_Combat_Attack {
            attacker: 3,
            flags: 0x07,
            style: Some(2),
            style_data: Some(S2C_Combat_AttackStyleData::Case_2 {
                hits: 1,
                damage: BTreeMap::from([(1, 2)]),
            }),
            critical: Some(5),
            bonus: Some(6),
            miss: None,
        })
        .into(),
        S2CMessage::from(S2C_Inventory_Loadout {
            base: 1,
            flags: 0x100,
            count: Some(2),
            slots: Some(vec![7, 8]),
        })
        .into(),
        GameEvent::from(Event_Allegiance_Ranks {
            mode: 2,
            mode_data: Event_Allegiance_RanksModeData::Case_2 { cleared: 11 },
        })
        .into(),
    ]
}

fn default_tier_messages() -> Vec<AnyMessage> {
    vec![
        C2SMessage::from(C2S_Login_SendEnterGame {
            character: 0x5000_0001,
            account: "Ann".to_string(),
        })
        .into(),
        C2SMessage::from(C2S_Login_LogOffCharacter {}).into(),
        C2SMessage::from(teleport()).into(),
        S2CMessage::from(S2C_Qualities_UpdateFloat {
            sequence: 1,
            key: 7,
            value: 0.5,
        })
        .into(),
        S2CMessage::from(S2C_Item_ServerSaysContainId {
            item: 1,
            container: 2,
            slot: -1,
            container_type: 0x0001_2345,
        })
        .into(),
        S2CMessage::from(S2C_Inventory_ViewContents {
            container: 0x5000_0002,
            count: 1,
            items: vec![ItemProfile {
                object_id: 9,
                packed_amount: 0x0200_0003,
            }],
            header: 1,
            skills: vec![SkillEntry {
                skill: 6,
                ranks: 2,
                trained: true,
                experience: 1 << 40,
            }],
            trailer: 2,
            headings: vec![Direction::West],
        })
        .into(),
        S2CMessage::from(S2C_Character_Spellbook {
            spells: vec![1, 2],
            favorites: vec![(5, 1)],
            cooldowns: vec![(1, 2.5)],
            property_count: 1,
            properties: BTreeMap::from([(3, 0.5)]),
        })
        .into(),
        S2CMessage::from(S2C_Object_Describe {
            object: 0x5000_0000,
            flags: 0x11,
            open_state: Some(1),
            inscription: None,
            stack_size: None,
            stack: None,
            max_stack_size: None,
            marker: Some(9),
        })
        .into(),
        S2CMessage::from(S2C_Movement_Motion {
            object: 9,
            kind: MovementType::MoveToObject,
            kind_data: S2C_Movement_MotionKindData::Case_6 {
                target: 3,
                origin: position(5),
                style: 2,
                style_data: S2C_Movement_Motion_Case_6StyleData::Case_2,
            },
        })
        .into(),
        S2CMessage::from(S2C_Character_Options {
            options: 0x100,
            has_shortcuts: true,
            shortcut_count: 2,
            shortcuts: Some(vec![7, 9]),
            default_shortcut: None,
            extended: Some(vec![(1, 2)]),
        })
        .into(),
        S2CMessage::from(S2C_Trade_Offer {
            mode: 0,
            count: None,
            kind: None,
            urgent: None,
            items: None,
            mode_2: Some("x".to_string()),
            spare: Some(vec![]),
            tail: Some(vec![]),
            extra: vec![],
            priority: None,
            kind_data: S2C_Trade_OfferKindData::Case_0 { idle: 7 },
            odd: None,
            flags: 0,
            rest: vec![],
        })
        .into(),
        GameAction::from(Action_Communication_Talk {
            message: "hello".to_string(),
        })
        .into(),
        GameAction::from(Action_Movement_Jump {
            extent: 1.0,
            velocity: frame(0.0),
            delta: LevelDelta::Up,
        })
        .into(),
        GameEvent::from(Event_Communication_ChannelBroadcast {
            channel: ChatChannel::Tell,
            sender: "Bob".to_string(),
            text: "hi".to_string(),
        })
        .into(),
        GameEvent::from(Event_Magic_UpdateSpell {
            spell: 7,
            position: position(0x0101_0001),
        })
        .into(),
    ]
}

#[test]
fn every_sample_message_is_in_the_list() {
    let listed: Vec<(Kind, &str)> = every_sample_message()
        .iter()
        .map(|m| (m.kind(), m.name()))
        .collect();
    for &kind in &Kind::ALL {
        for (name, _) in quillmarsh_protocol::opcodes_of_kind(kind) {
            if name != "Qualities_UpdateFloatOld" {
                assert!(listed.contains(&(kind, name)), "{kind} {name} is not listed");
            }
        }
    }
}

#[test]
fn conversions_pick_the_variant_that_holds_the_struct() {
    let old = S2C_Qualities_UpdateFloatOld { key: 1, value: 2.0 };
    let section = S2CMessage::from(old.clone());
    assert_eq!(section, S2CMessage::Qualities_UpdateFloatOld(old));
    let any = AnyMessage::from(section.clone());
    assert_eq!(any, AnyMessage::S2C(section));
    assert_eq!(
        (any.kind(), any.opcode(), any.name()),
        (Kind::MessageS2C, 0x02D3, "Qualities_UpdateFloatOld")
    );
    let talk: GameAction = Action_Communication_Talk {
        message: String::new(),
    }
    .into();
    assert_eq!(AnyMessage::from(talk).kind(), Kind::GameAction);
}

/// The teleport's bytes: its timestamp's seconds are aligned to eight bytes
/// from the message's first byte (five pad bytes after the tick), whatever
/// precedes the message in a buffer.
fn teleport_wire() -> Wire {
    let t = teleport();
    let f = &t.r#where.frame;
    Wire::new()
        .u8(t.sequence, "truncated u8 field sequence")
        .u16(t.when.tick, "truncated u16 field tick")
        .put(&[0; 5], "truncated align(8) pad")
        .f64(t.when.seconds, "truncated f64 field seconds")
        .u32(t.r#where.cell_id, "truncated u32 field cell_id")
        .f32(f.x, "truncated f32 field x")
        .f32(f.y, "truncated f32 field y")
        .f32(f.z, "truncated f32 field z")
        .f32(f.heading, "truncated f32 field heading")
}

#[test]
fn an_aligned_message_decodes_the_same_at_every_cursor() {
    let wire = teleport_wire();
    for start in 0..16 {
        let mut data = vec![0xEE; start];
        data.extend(&wire.bytes);
        data.push(0xCC);
        let mut offset = start;
        let message = AnyMessage::decode(Kind::MessageC2S, 0xF658, &data, &mut offset).unwrap();
        assert_eq!(message, AnyMessage::C2S(teleport().into()), "cursor {start}");
        assert_eq!(offset, start + wire.len(), "cursor {start}");
    }
}

#[test]
fn malformed_says_where_for_every_truncation() {
    let enter_game = Wire::new()
        .u32(0x5000_0001, "truncated u32 field character")
        .string16(b"Ann");
    let jump = Wire::new()
        .f32(1.0, "truncated f32 field extent")
        .then(
            Wire::new()
                .f32(0.0, "truncated f32 field x")
                .f32(-2.0, "truncated f32 field y")
                .f32(0.5, "truncated f32 field z")
                .f32(3.0, "truncated f32 field heading"),
        )
        .i32(1, "truncated enum LevelDelta");
    let cases = [
        (Kind::MessageC2S, 0xF658, "Movement_TeleportAt", teleport_wire()),
        (Kind::MessageC2S, 0xF657, "Login_SendEnterGame", enter_game),
        (Kind::GameAction, 0xF61B, "Movement_Jump", jump),
    ];
    for (kind, opcode, name, wire) in cases {
        for cut in 0..wire.len() {
            let mut data = vec![0xEE; 3];
            data.extend(&wire.bytes[..cut]);
            let mut offset = 3;
            let got = AnyMessage::decode(kind, opcode, &data, &mut offset);
            let expected = DecodeError::Malformed {
                kind,
                opcode,
                name,
                error: wire.error_at(cut),
                at: wire.read_start_at(cut),
                len: cut,
            };
            assert_eq!(got, Err(expected.clone()), "{name} cut after {cut} bytes");
            assert_eq!(offset, 3, "{name} moved the cursor on error");
            assert!(
                expected.to_string().ends_with(&format!(
                    ": {} at byte {} of {cut}",
                    wire.error_at(cut),
                    wire.read_start_at(cut)
                )),
                "{expected}"
            );
        }
    }
}

/// Frames of hand-made bytes: opcode, then body.
fn framed(opcode: u32, body: &[u8]) -> Vec<u8> {
    let mut out = opcode.to_le_bytes().to_vec();
    out.extend_from_slice(body);
    out
}

#[test]
fn frames_read_one_after_another_and_stop_at_the_first_error() {
    let talk = framed(0x0015, &[0x02, b'h', 0, b'i', 0]);
    let jump = framed(0xF61B, &[0; 24]);
    let mut stream = talk.clone();
    stream.extend(&jump);
    stream.extend(&talk);

    let read: Vec<&str> = GameAction::frames(&stream)
        .map(|m| m.unwrap().name())
        .collect();
    assert_eq!(read, ["Communication_Talk", "Movement_Jump", "Communication_Talk"]);
    assert_eq!(AnyMessage::frames(Kind::GameAction, &stream).count(), 3);
    assert_eq!(GameAction::frames(&[]).count(), 0);

    // Two bytes left after the last frame: too short for an opcode.
    let mut cut_short = stream.clone();
    cut_short.extend([0x15, 0x00]);
    let mut frames = AnyMessage::frames(Kind::GameAction, &cut_short);
    assert_eq!(frames.by_ref().filter(|m| m.is_ok()).count(), 3);
    assert_eq!(frames.offset(), stream.len());
    let last = GameAction::frames(&cut_short).last().unwrap();
    let expected = DecodeError::TruncatedFrame {
        kind: Kind::GameAction,
        len: 2,
    };
    assert_eq!(last, Err(expected.clone()));
    assert_eq!(
        expected.to_string(),
        "gameaction: truncated frame: 2 bytes left, too few for its 4-byte opcode"
    );

    // An opcode the section lacks ends the frames: nothing says where the
    // next frame would start.
    let mut unknown = talk.clone();
    unknown.extend(framed(0xBEEF, &[1, 2, 3]));
    unknown.extend(&talk);
    let results: Vec<_> = GameAction::frames(&unknown).collect();
    assert_eq!(results.len(), 2);
    assert_eq!(
        results[1],
        Err(DecodeError::UnknownOpcode {
            kind: Kind::GameAction,
            opcode: 0xBEEF
        })
    );

    // read_framed moves the cursor past one frame, and only on success.
    let mut offset = talk.len();
    let message = AnyMessage::read_framed(Kind::GameAction, &stream, &mut offset).unwrap();
    assert_eq!((message.name(), offset), ("Movement_Jump", talk.len() + jump.len()));
    let mut offset = 1;
    assert!(S2CMessage::read_framed(&stream, &mut offset).is_err());
    assert_eq!(offset, 1);
}

#[cfg(feature = "encode")]
mod encode {
    use super::*;

    #[test]
    fn every_message_encodes_and_decodes_the_same_after_other_bytes() {
        for message in every_sample_message() {
            let mut alone = Vec::new();
            message.encode(&mut alone).unwrap();
            for before in 1..=7 {
                let mut out = vec![0xA5; before];
                message.encode(&mut out).unwrap();
                assert_eq!(&out[before..], &alone[..], "{} after {before} bytes", message.name());
                let mut offset = before;
                let back = AnyMessage::decode(message.kind(), message.opcode(), &out, &mut offset);
                assert_eq!(back.as_ref(), Ok(&message), "{} after {before} bytes", message.name());
                assert_eq!(offset, out.len());
            }
        }
    }

    #[test]
    fn the_aligned_message_is_written_as_its_wire() {
        let mut out = vec![0xA5; 3];
        teleport().write_to(&mut out).unwrap();
        assert_eq!(&out[3..], &teleport_wire().bytes[..]);
    }

    #[test]
    fn framed_messages_go_out_and_come_back_in_one_buffer() {
        let messages = every_sample_message();
        let mut stream = Vec::new();
        for message in &messages {
            message.write_framed(&mut stream).unwrap();
        }
        // Each section's frames, read from a buffer of its own frames.
        for &kind in &Kind::ALL {
            let mine: Vec<&AnyMessage> = messages.iter().filter(|m| m.kind() == kind).collect();
            let mut own = Vec::new();
            for message in &mine {
                message.write_framed(&mut own).unwrap();
            }
            let back: Vec<AnyMessage> = AnyMessage::frames(kind, &own).map(Result::unwrap).collect();
            assert_eq!(back.iter().collect::<Vec<_>>(), mine, "{kind}");
        }
        // Mixed sections in one buffer: each frame read with its own section.
        let mut offset = 0;
        for message in &messages {
            let back = AnyMessage::read_framed(message.kind(), &stream, &mut offset).unwrap();
            assert_eq!(&back, message);
        }
        assert_eq!(offset, stream.len());
    }

    #[test]
    fn a_failed_framed_write_leaves_nothing_behind() {
        let bad = AnyMessage::from(C2SMessage::from(C2S_Login_SendEnterGame {
            character: 1,
            account: "Ω".to_string(),
        }));
        let mut out = vec![1, 2, 3];
        let error = bad.write_framed(&mut out).unwrap_err();
        assert_eq!(out, [1, 2, 3]);
        assert_eq!(error.member, "account");
        assert!(bad.encode(&mut out).is_err());
        assert_eq!(out, [1, 2, 3]);
    }
}

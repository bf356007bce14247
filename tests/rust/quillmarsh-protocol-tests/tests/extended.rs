//! The sample's items that only the `extended` feature generates, decoded
//! from hand-made bytes (each branch, mask and case, every truncation, at a
//! cursor inside a larger buffer through the dispatch) and, with `encode`,
//! written back to the same bytes, inconsistent options refused.

#![cfg(feature = "extended")]

mod common;

use std::collections::BTreeMap;

use common::{assert_truncations, decode_all, decode_err, Decoder, Wire};
use quillmarsh_protocol::dispatch::{AnyMessage, GameEvent, S2CMessage, SKIPPED};
use quillmarsh_protocol::messages::*;
use quillmarsh_protocol::{lookup_opcode, DecodeError, Kind};

/// The buff: its spell and flags, then (any flag set) the modifier count and
/// the (u32, f32) pairs, keys ascending as the map gives them back.
fn buff_wire(spell: u16, flags: u32, modifiers: &[(u32, f32)]) -> Wire {
    let mut wire = Wire::new()
        .u16(spell, "truncated u16 field spell")
        .u32(flags, "truncated u32 field flags");
    if flags != 0 {
        wire = wire.u8(modifiers.len() as u8, "truncated u8 field count_v");
        for &(k, v) in modifiers {
            wire = wire
                .u32(k, "truncated u32 field __k")
                .f32(v, "truncated f32 field __v");
        }
    }
    wire
}

fn buff(spell: u16, flags: u32, modifiers: Option<&[(u32, f32)]>) -> Buff {
    Buff {
        spell,
        flags,
        count: modifiers.map(|m| m.len() as u8),
        modifiers: modifiers.map(|m| m.iter().copied().collect()),
    }
}

/// The attack: attacker and flags; when bit 0 is set and the attacker is not
/// zero the style, its case, the critical word (bit 1) and the bonus (flags
/// at least 4), otherwise the miss byte.
fn attack_wire(attacker: u32, flags: u8, style: &Wire, critical: Option<u32>, bonus: Option<u16>, miss: u8) -> Wire {
    let wire = Wire::new()
        .u32(attacker, "truncated u32 field attacker")
        .u8(flags, "truncated u8 field flags");
    if flags & 1 == 0 || attacker == 0 {
        return wire.u8(miss, "truncated u8 field miss_v");
    }
    let mut wire = wire.then(style.clone());
    if let Some(c) = critical {
        wire = wire.u32(c, "truncated u32 field critical_v_v");
    }
    if let Some(b) = bonus {
        wire = wire.u16(b, "truncated u16 field bonus_v_v");
    }
    wire
}

fn power_style(power: f32) -> (Wire, S2C_Combat_AttackStyleData) {
    let wire = Wire::new()
        .u8(1, "truncated u8 field style_v")
        .f32(power, "truncated f32 field power_v");
    (wire, S2C_Combat_AttackStyleData::Case_1 { power })
}

fn damage_style(damage: &[(u8, u16)]) -> (Wire, S2C_Combat_AttackStyleData) {
    let mut wire = Wire::new()
        .u8(2, "truncated u8 field style_v")
        .u8(damage.len() as u8, "truncated u8 field hits_v");
    for &(k, v) in damage {
        wire = wire
            .u8(k, "truncated u8 field __k")
            .u16(v, "truncated u16 field __v");
    }
    let data = S2C_Combat_AttackStyleData::Case_2 {
        hits: damage.len() as u8,
        damage: damage.iter().copied().collect(),
    };
    (wire, data)
}

/// Every well-formed attack of the sample's tests, with its bytes: both
/// cases of the switch, the mask bit and the nested test each way, and the
/// false branch taken by either half of the test.
fn attacks() -> Vec<(&'static str, Wire, S2C_Combat_Attack)> {
    let (damage_wire, damage) = damage_style(&[(1, 10), (4, 300)]);
    let (power_wire, power) = power_style(2.5);
    let hit = |attacker, flags, style: Option<S2C_Combat_AttackStyleData>, critical, bonus, miss| S2C_Combat_Attack {
        attacker,
        flags,
        style: style.as_ref().map(|s| match s {
            S2C_Combat_AttackStyleData::Case_1 { .. } => 1,
            S2C_Combat_AttackStyleData::Case_2 { .. } => 2,
        }),
        style_data: style,
        critical,
        bonus,
        miss,
    };
    vec![
        (
            "landed: damage table, critical, bonus",
            attack_wire(7, 0x07, &damage_wire, Some(0xDEAD), Some(9), 0),
            hit(7, 0x07, Some(damage), Some(0xDEAD), Some(9), None),
        ),
        (
            "landed: power, neither critical nor bonus",
            attack_wire(7, 0x01, &power_wire, None, None, 0),
            hit(7, 0x01, Some(power.clone()), None, None, None),
        ),
        (
            "landed: bonus without critical",
            attack_wire(0x5000_0001, 0x05, &power_wire, None, Some(0xFFFF), 0),
            hit(0x5000_0001, 0x05, Some(power), None, Some(0xFFFF), None),
        ),
        (
            "missed: no attacker",
            attack_wire(0, 0x07, &Wire::new(), None, None, 0x42),
            hit(0, 0x07, None, None, None, Some(0x42)),
        ),
        (
            "missed: bit 0 clear",
            attack_wire(7, 0x06, &Wire::new(), None, None, 0x43),
            hit(7, 0x06, None, None, None, Some(0x43)),
        ),
    ]
}

/// The loadout: base and flags, then (bit 0x100) the slot count and slots.
fn loadout_wire(base: u16, flags: u32, slots: &[u32]) -> Wire {
    let mut wire = Wire::new()
        .u16(base, "truncated u16 field base")
        .u32(flags, "truncated u32 field flags");
    if flags & 0x100 != 0 {
        wire = wire.u8(slots.len() as u8, "truncated u8 field count_v");
        for &s in slots {
            wire = wire.u32(s, "truncated u32 field __elem");
        }
    }
    wire
}

fn ranks_wire(mode: u8, ranks: &[(u32, u8)], cleared: u32) -> Wire {
    let wire = Wire::new().u8(mode, "truncated u8 field mode");
    if mode == 2 {
        return wire.u32(cleared, "truncated u32 field cleared");
    }
    let mut wire = wire.u8(ranks.len() as u8, "truncated u8 field count");
    for &(k, v) in ranks {
        wire = wire
            .u32(k, "truncated u32 field __k")
            .u8(v, "truncated u8 field __v");
    }
    wire
}

/// Decodes `wire` completely and checks every truncation of it.
fn decodes_to<T: std::fmt::Debug + PartialEq>(what: &str, decode: Decoder<T>, wire: &Wire, value: &T) {
    assert_eq!(&decode_all(decode, wire), value, "{what}");
    assert_truncations(decode, wire);
}

#[test]
fn a_table_inside_an_if_branch_and_the_message_using_its_type() {
    let cases = [
        ("flags set", 1, Some(&[(3, 1.5), (9, -0.25)][..])),
        ("flags set, no modifiers", 0x8000_0000, Some(&[][..])),
        ("flags clear", 0, None),
    ];
    for (what, flags, modifiers) in cases {
        let wire = buff_wire(0x0102, flags, modifiers.unwrap_or(&[]));
        decodes_to(what, Buff::read_from, &wire, &buff(0x0102, flags, modifiers));
        let message = Wire::new()
            .u32(0x5000_0001, "truncated u32 field target")
            .then(wire);
        let value = S2C_Magic_ApplyBuff {
            target: 0x5000_0001,
            buff: buff(0x0102, flags, modifiers),
        };
        decodes_to(what, S2C_Magic_ApplyBuff::read_from, &message, &value);
    }
}

#[test]
fn an_if_branch_with_a_switch_a_mask_map_and_a_nested_if() {
    for (what, wire, value) in attacks() {
        decodes_to(what, S2C_Combat_Attack::read_from, &wire, &value);
    }
    // A style no case names fails inside the branch.
    let bytes = [7, 0, 0, 0, 0x01, 3, 0, 0, 0, 0];
    assert_eq!(
        decode_err(S2C_Combat_Attack::read_from, &bytes),
        "unknown S2C_Combat_AttackStyleData discriminator"
    );
}

#[test]
fn a_vector_in_a_mask_group_and_a_subfield_over_another_field() {
    let cases = [
        ("bit set", 0x10, 0x0000_01FF, Some(vec![1, 2, 0xFFFF_FFFF]), 0x10F),
        ("bit set, no slots", 0xFFFF, 0x0000_0100, Some(vec![]), 0xFFFF),
        ("bit clear", 0xFFFF, 0xFFFF_FEFF, None, 0x100FE),
    ];
    for (what, base, flags, slots, total) in cases {
        let wire = loadout_wire(base, flags, slots.as_deref().unwrap_or(&[]));
        let value = S2C_Inventory_Loadout {
            base,
            flags,
            count: slots.as_ref().map(|s| s.len() as u8),
            slots,
        };
        decodes_to(what, S2C_Inventory_Loadout::read_from, &wire, &value);
        assert_eq!(value.total(), total, "{what}");
    }
}

#[test]
fn a_table_inside_a_switch_case() {
    let ranked = Event_Allegiance_Ranks {
        mode: 1,
        mode_data: Event_Allegiance_RanksModeData::Case_1 {
            count: 2,
            ranks: BTreeMap::from([(5, 1), (0x0100_0000, 2)]),
        },
    };
    let cleared = Event_Allegiance_Ranks {
        mode: 2,
        mode_data: Event_Allegiance_RanksModeData::Case_2 { cleared: 0xAABB_CCDD },
    };
    let cases = [
        ("ranks", ranks_wire(1, &[(5, 1), (0x0100_0000, 2)], 0), ranked),
        ("cleared", ranks_wire(2, &[], 0xAABB_CCDD), cleared),
    ];
    for (what, wire, value) in &cases {
        decodes_to(what, Event_Allegiance_Ranks::read_from, wire, value);
    }
    assert_eq!(
        decode_err(Event_Allegiance_Ranks::read_from, &[0]),
        "unknown Event_Allegiance_RanksModeData discriminator"
    );
}

#[test]
fn the_dispatch_decodes_them_at_any_cursor() {
    let (_, wire, attack) = attacks().swap_remove(0);
    let mut data = vec![0xA5; 3];
    data.extend(&wire.bytes);
    data.extend([0x5A; 4]);
    let mut offset = 3;
    let message = S2CMessage::decode(0xF757, &data, &mut offset).unwrap();
    assert_eq!((message, offset), (S2CMessage::Combat_Attack(attack), 3 + wire.len()));
    // A truncated one leaves the cursor where the message starts and says
    // where inside it the read failed.
    let cut = &data[..3 + wire.len() - 1];
    let mut offset = 3;
    assert_eq!(
        S2CMessage::decode(0xF757, cut, &mut offset),
        Err(DecodeError::Malformed {
            kind: Kind::MessageS2C,
            opcode: 0xF757,
            name: "Combat_Attack",
            error: "truncated u16 field bonus_v_v",
            at: wire.len() - 2,
            len: wire.len() - 1,
        })
    );
    assert_eq!(offset, 3);

    let ranks = ranks_wire(1, &[(7, 3)], 0);
    let mut data = vec![0xFF; 5];
    data.extend(&ranks.bytes);
    let mut offset = 5;
    let event = AnyMessage::decode(Kind::GameEvent, 0x0020, &data, &mut offset).unwrap();
    assert_eq!(offset, data.len());
    assert_eq!((event.kind(), event.opcode(), event.name()), (Kind::GameEvent, 0x0020, "Allegiance_Ranks"));
    assert!(matches!(
        event,
        AnyMessage::Event(GameEvent::Allegiance_Ranks(Event_Allegiance_Ranks { mode: 1, .. }))
    ));
}

#[test]
fn the_index_names_them_and_skipped_no_longer_does() {
    for (opcode, kind, name) in [
        (0xF756, Kind::MessageS2C, "Magic_ApplyBuff"),
        (0xF757, Kind::MessageS2C, "Combat_Attack"),
        (0xF758, Kind::MessageS2C, "Inventory_Loadout"),
        (0x0020, Kind::GameEvent, "Allegiance_Ranks"),
    ] {
        assert_eq!(lookup_opcode(opcode, kind), Some(name));
        assert!(quillmarsh_protocol::opcodes_of_kind(kind).any(|row| row == (name, opcode)));
        assert!(!SKIPPED.iter().any(|s| s.name == name), "{name} is still listed as skipped");
    }
    assert!(!SKIPPED.iter().any(|s| s.name == "Buff"));
    assert!(SKIPPED.iter().any(|s| s.name == "Legacy_Effects"));
}

#[cfg(feature = "encode")]
mod encode {
    use super::*;
    use quillmarsh_protocol::{Encode, EncodeError};

    fn encodes_to<T: Encode + std::fmt::Debug>(value: &T, wire: &Wire) {
        let mut out = vec![0xEE];
        value
            .write_to(&mut out)
            .unwrap_or_else(|e| panic!("encoding {value:?} failed: {e}"));
        assert_eq!(out[1..], wire.bytes[..], "bytes of {value:?}");
    }

    fn refused<T: Encode + std::fmt::Debug>(value: &T) -> (&'static str, &'static str, String) {
        let mut out = vec![0xAB];
        match value.write_to(&mut out) {
            Ok(()) => panic!("{value:?} encoded to {out:02X?}, expected an error"),
            Err(EncodeError {
                type_name,
                member,
                problem,
            }) => {
                assert_eq!(out, [0xAB], "a refused {value:?} left bytes behind");
                (type_name, member, problem)
            }
        }
    }

    #[test]
    fn they_encode_to_the_bytes_they_decode_from() {
        for flags in [0, 1] {
            let modifiers: &[(u32, f32)] = &[(3, 1.5), (9, -0.25)];
            let wire = buff_wire(0x0102, flags, modifiers);
            let value = buff(0x0102, flags, (flags != 0).then_some(modifiers));
            encodes_to(&value, &wire);
            let message = S2C_Magic_ApplyBuff { target: 1, buff: value };
            encodes_to(&message, &Wire::new().u32(1, "").then(wire));
        }
        for (_, wire, value) in attacks() {
            encodes_to(&value, &wire);
        }
        let loadout = S2C_Inventory_Loadout {
            base: 3,
            flags: 0x100,
            count: Some(2),
            slots: Some(vec![4, 5]),
        };
        encodes_to(&loadout, &loadout_wire(3, 0x100, &[4, 5]));
        let ranks = ranks_wire(1, &[(5, 1), (6, 2)], 0);
        let event = GameEvent::from(decode_all(Event_Allegiance_Ranks::read_from, &ranks));
        let mut out = Vec::new();
        AnyMessage::from(event).encode(&mut out).unwrap();
        assert_eq!(out, ranks.bytes);
    }

    #[test]
    fn options_that_disagree_with_their_conditions_are_refused() {
        let attack = |edit: fn(&mut S2C_Combat_Attack)| {
            let mut value = attacks().swap_remove(0).2;
            edit(&mut value);
            value
        };
        let test = "(Flags & 0x1) != 0 && Attacker != 0";
        let cases: Vec<(_, (&str, &str, String))> = vec![
            (
                refused(&attack(|a| a.bonus = None)),
                ("S2C_Combat_Attack", "bonus", "absent although the test `Flags >= 0x4` holds".into()),
            ),
            (
                refused(&attack(|a| a.flags = 0x03)),
                ("S2C_Combat_Attack", "bonus", "present although the test `Flags >= 0x4` fails".into()),
            ),
            (
                refused(&attack(|a| a.flags = 0x05)),
                ("S2C_Combat_Attack", "critical", "present although mask 0x2 of `flags` does not select it".into()),
            ),
            (
                refused(&attack(|a| a.miss = Some(1))),
                ("S2C_Combat_Attack", "miss", format!("present although the test `{test}` holds")),
            ),
            (
                refused(&attack(|a| a.attacker = 0)),
                ("S2C_Combat_Attack", "style", format!("present although the test `{test}` fails")),
            ),
            (
                refused(&attack(|a| a.style = Some(1))),
                ("S2C_Combat_Attack", "style_data", "holds variant Case_2 but the discriminator Style is 1".into()),
            ),
            (
                refused(&attack(|a| {
                    if let Some(S2C_Combat_AttackStyleData::Case_2 { hits, .. }) = &mut a.style_data {
                        *hits = 3;
                    }
                })),
                ("S2C_Combat_Attack", "damage", "holds 2 entries but its length Hits gives 3".into()),
            ),
            (
                refused(&buff(1, 0, Some(&[]))),
                ("Buff", "count", "present although the test `Flags` fails".into()),
            ),
            (
                refused(&S2C_Magic_ApplyBuff {
                    target: 1,
                    buff: buff(1, 2, None),
                }),
                ("Buff", "count", "absent although the test `Flags` holds".into()),
            ),
            (
                refused(&S2C_Inventory_Loadout {
                    base: 0,
                    flags: 0x100,
                    count: Some(1),
                    slots: None,
                }),
                ("S2C_Inventory_Loadout", "slots", "absent although mask 0x100 of `flags` selects it".into()),
            ),
            (
                refused(&S2C_Inventory_Loadout {
                    base: 0,
                    flags: 0x100,
                    count: Some(1),
                    slots: Some(vec![1, 2]),
                }),
                ("S2C_Inventory_Loadout", "slots", "holds 2 elements but its length Count gives 1".into()),
            ),
        ];
        for (got, (type_name, member, problem)) in cases {
            assert_eq!(got, (type_name, member, problem));
        }
    }
}

//! Vectors, packable lists and hash tables, and tables, decoded through the
//! sample's generated decoders.

mod common;

use common::{assert_truncations, decode_all, decode_at, decode_err, Wire};
use quillmarsh_protocol::messages::*;
use std::collections::BTreeMap;

/// One skill entry when it starts at a multiple of four: 10 bytes, 2 bytes of
/// pad, then the u64.
fn skill_wire(skill: u32, trained: u32, experience: u64) -> Wire {
    Wire::new()
        .u32(skill, "truncated u32 field skill")
        .u16(skill as u16, "truncated u16 field ranks")
        .u32(trained, "truncated wire-bool field trained")
        .put(&[0, 0], "truncated align(4) pad")
        .u64(experience, "truncated u64 field experience")
}

/// A container listing: `items` (object id, packed amount), the header word,
/// the skills (entry count taken from the header's low half), the trailer and
/// the heading bytes.
fn contents_wire(
    items: &[(u32, u32)],
    header: u32,
    skills: &[Wire],
    trailer: u16,
    headings: &[u8],
) -> Wire {
    let mut wire = Wire::new()
        .u32(0xC0DE, "truncated u32 field container")
        .u32(items.len() as u32, "truncated u32 field count");
    for &(id, packed) in items {
        wire = wire
            .u32(id, "truncated u32 field object_id")
            .u32(packed, "truncated u32 field packed_amount");
    }
    wire = wire.u32(header, "truncated u32 field header");
    for s in skills {
        wire = wire.then(s.clone());
    }
    wire = wire.u16(trailer, "truncated u16 field trailer");
    for &h in headings {
        wire = wire.u8(h, "truncated enum Direction");
    }
    wire
}

#[test]
fn view_contents_counts_come_from_a_field_a_subfield_and_a_skipped_field() {
    use Direction::*;
    struct Case {
        items: &'static [(u32, u32)],
        header: u32,
        skills: usize,
        trailer: u16,
        headings: &'static [Direction],
    }
    let cases = [
        // A trailer of 0 or 1 means no headings: the skip saturates at zero.
        Case {
            items: &[],
            header: 0,
            skills: 0,
            trailer: 0,
            headings: &[],
        },
        Case {
            items: &[],
            header: 0,
            skills: 0,
            trailer: 1,
            headings: &[],
        },
        Case {
            items: &[(1, 0x0100_0002)],
            header: 0,
            skills: 0,
            trailer: 2,
            headings: &[East],
        },
        // Only the header's low half counts the skills.
        Case {
            items: &[],
            header: 0xFFFF_0000,
            skills: 0,
            trailer: 0,
            headings: &[],
        },
        Case {
            items: &[],
            header: 0xABCD_0002,
            skills: 2,
            trailer: 0,
            headings: &[],
        },
        Case {
            items: &[(1, 5), (2, 0xFF00_0001), (3, 7)],
            header: 0x0001_0001,
            skills: 1,
            trailer: 5,
            headings: &[North, East, South, West],
        },
    ];
    for case in cases {
        let skills: Vec<Wire> = (0..case.skills)
            .map(|i| skill_wire(i as u32 + 40, 1, 1000 + i as u64))
            .collect();
        let heading_bytes: Vec<u8> = case.headings.iter().map(|&d| d as u8).collect();
        let wire = contents_wire(
            case.items,
            case.header,
            &skills,
            case.trailer,
            &heading_bytes,
        );
        let got = decode_all(S2C_Inventory_ViewContents::read_from, &wire);
        let items: Vec<ItemProfile> = case
            .items
            .iter()
            .map(|&(object_id, packed_amount)| ItemProfile {
                object_id,
                packed_amount,
            })
            .collect();
        let skills: Vec<SkillEntry> = (0..case.skills)
            .map(|i| SkillEntry {
                skill: i as u32 + 40,
                ranks: i as u16 + 40,
                trained: true,
                experience: 1000 + i as u64,
            })
            .collect();
        assert_eq!(
            got,
            S2C_Inventory_ViewContents {
                container: 0xC0DE,
                count: case.items.len() as u32,
                items,
                header: case.header,
                skills,
                trailer: case.trailer,
                headings: case.headings.to_vec(),
            }
        );
        assert_eq!(usize::from(got.skill_count()), case.skills);
        assert_truncations(S2C_Inventory_ViewContents::read_from, &wire);
    }
}

#[test]
fn view_contents_skill_pads_follow_the_start_of_the_data() {
    // Started at offset 1, the first skill ends its ten bytes at 23: one pad
    // byte, not two. The second starts aligned again and takes two.
    let mut data = vec![0x77];
    let wire = Wire::new()
        .u32(1, "")
        .u32(0, "")
        .u32(2, "")
        .u32(9, "")
        .u16(9, "")
        .u32(0, "")
        .put(&[0xEE], "")
        .u64(90, "")
        .u32(8, "")
        .u16(8, "")
        .u32(1, "")
        .put(&[0xEE, 0xEE], "")
        .u64(80, "")
        .u16(0, "");
    data.extend(&wire.bytes);
    let (got, end) = decode_at(S2C_Inventory_ViewContents::read_from, &data, 1).unwrap();
    assert_eq!(end, data.len());
    assert_eq!(
        got.skills,
        [
            SkillEntry {
                skill: 9,
                ranks: 9,
                trained: false,
                experience: 90
            },
            SkillEntry {
                skill: 8,
                ranks: 8,
                trained: true,
                experience: 80
            },
        ]
    );
}

#[test]
fn view_contents_rejects_an_unknown_heading() {
    for raw in [4u8, 0x80, 0xFF] {
        let wire = contents_wire(&[], 0, &[], 3, &[0, raw]);
        assert_eq!(
            decode_err(S2C_Inventory_ViewContents::read_from, &wire.bytes),
            "unknown Direction discriminant",
            "heading {raw}"
        );
    }
}

#[test]
fn huge_counts_on_short_data_end_in_the_element_error() {
    let contents: &[(Wire, &str)] = &[
        (
            Wire::new().u32(1, "").u32(u32::MAX, ""),
            "truncated u32 field object_id",
        ),
        (
            Wire::new().u32(1, "").u32(0, "").u32(0xFFFF, ""),
            "truncated u32 field skill",
        ),
        (
            Wire::new()
                .u32(1, "")
                .u32(0, "")
                .u32(0, "")
                .u16(u16::MAX, ""),
            "truncated enum Direction",
        ),
    ];
    for (wire, error) in contents {
        assert_eq!(
            decode_err(S2C_Inventory_ViewContents::read_from, &wire.bytes),
            *error
        );
    }
    let spellbook: &[(Wire, &str)] = &[
        (Wire::new().u32(u32::MAX, ""), "truncated u16 field __elem"),
        (
            Wire::new().u32(0, "").u16(u16::MAX, "").u16(0, ""),
            "truncated u32 field __k",
        ),
        (
            Wire::new().u32(0, "").u32(0, "").u32(u32::MAX, ""),
            "truncated u16 field __k",
        ),
        (
            Wire::new().u32(0, "").u32(0, "").u32(0, "").u8(u8::MAX, ""),
            "truncated u32 field __k",
        ),
    ];
    for (wire, error) in spellbook {
        assert_eq!(
            decode_err(S2C_Character_Spellbook::read_from, &wire.bytes),
            *error
        );
    }
}

/// The spell book's five parts in wire order.
fn spellbook_wire(
    spells: &[u16],
    favorites_max: u16,
    favorites: &[(u32, u16)],
    cooldowns_packed: u32,
    cooldowns: &[(u16, f64)],
    properties: &[(u32, f32)],
) -> Wire {
    let mut wire = Wire::new().u32(
        spells.len() as u32,
        "truncated PackableList count for spells",
    );
    for &s in spells {
        wire = wire.u16(s, "truncated u16 field __elem");
    }
    wire = wire.hash_table_header(
        favorites.len() as u16,
        favorites_max,
        "truncated PackableHashTable count for favorites",
    );
    for &(k, v) in favorites {
        wire = wire
            .u32(k, "truncated u32 field __k")
            .u16(v, "truncated u16 field __v");
    }
    wire = wire.u32(
        cooldowns_packed,
        "truncated PHashTable packed-size for cooldowns",
    );
    for &(k, v) in cooldowns {
        wire = wire
            .u16(k, "truncated u16 field __k")
            .f64(v, "truncated f64 field __v");
    }
    wire = wire.u8(properties.len() as u8, "truncated u8 field property_count");
    for &(k, v) in properties {
        wire = wire
            .u32(k, "truncated u32 field __k")
            .f32(v, "truncated f32 field __v");
    }
    wire
}

#[test]
fn spellbook_packables_keep_wire_order_and_the_table_keeps_the_last_value() {
    struct Case {
        spells: &'static [u16],
        favorites_max: u16,
        favorites: &'static [(u32, u16)],
        cooldowns_packed: u32,
        cooldowns: &'static [(u16, f64)],
        properties: &'static [(u32, f32)],
        table: &'static [(u32, f32)],
    }
    let cases = [
        Case {
            spells: &[],
            favorites_max: 0,
            favorites: &[],
            cooldowns_packed: 0,
            cooldowns: &[],
            properties: &[],
            table: &[],
        },
        // The maximum size is read and ignored; the packed size keeps its low
        // 24 bits; duplicate hash-table keys stay, in wire order.
        Case {
            spells: &[0x0102, 0xFFFF, 7],
            favorites_max: 0x40,
            favorites: &[(7, 1), (3, 2), (7, 3)],
            cooldowns_packed: 0x0100_0003,
            cooldowns: &[(9, 0.5), (2, 1e-300), (9, -3.25)],
            properties: &[(5, 1.0), (2, 2.0), (5, 3.0)],
            table: &[(2, 2.0), (5, 3.0)],
        },
        Case {
            spells: &[1],
            favorites_max: 0xFFFF,
            favorites: &[(u32::MAX, 0x8000)],
            cooldowns_packed: 0xFF00_0000,
            cooldowns: &[],
            properties: &[(0xFFFF_FFFF, -1.5), (0, 0.0)],
            table: &[(0, 0.0), (0xFFFF_FFFF, -1.5)],
        },
    ];
    for case in cases {
        let wire = spellbook_wire(
            case.spells,
            case.favorites_max,
            case.favorites,
            case.cooldowns_packed,
            case.cooldowns,
            case.properties,
        );
        assert_eq!(
            decode_all(S2C_Character_Spellbook::read_from, &wire),
            S2C_Character_Spellbook {
                spells: case.spells.to_vec(),
                favorites: case.favorites.to_vec(),
                cooldowns: case.cooldowns.to_vec(),
                property_count: case.properties.len() as u8,
                properties: case.table.iter().copied().collect::<BTreeMap<_, _>>(),
            }
        );
        assert_truncations(S2C_Character_Spellbook::read_from, &wire);
    }
}

//! Fields of an `<if>` branch named by later constructs: inside their own
//! branch they are the value just read; in the other branch and after the
//! block an absent field reads as zero (false for a bool, raw bits 0 for an
//! enum). Also unsigned negation in subfields.

mod common;

use common::{assert_truncations, decode_all, decode_err, Wire};
use quillmarsh_protocol::messages::*;

/// The parts of a trade offer that the test chooses; everything else follows
/// from them.
#[derive(Clone)]
struct Offer {
    mode: u8,
    /// `Some((count, kind, urgent, items))` when mode > 1 takes the true branch.
    taken: Option<(u8, u16, u32, Vec<u16>)>,
    /// The false branch: the string, then `mode` tail bytes.
    name: &'static [u8],
    tail: Vec<u8>,
    extra: Vec<u8>,
    priority: u32,
    /// Idle byte (kind 0) or target (kind 6).
    case: u32,
    odd: u16,
    flags: u32,
    rest: Vec<u8>,
}

fn offer_wire(o: &Offer) -> Wire {
    let mut w = Wire::new().u8(o.mode, "truncated u8 field mode");
    let (count, kind, urgent) = match &o.taken {
        Some((count, kind, urgent, items)) => {
            w = w
                .u8(*count, "truncated u8 field count_v")
                .u16(*kind, "truncated enum MovementType")
                .u32(*urgent, "truncated wire-bool field urgent_v");
            for &i in items {
                w = w.u16(i, "truncated u16 field __elem");
            }
            (*count, *kind, *urgent != 0)
        }
        None => {
            // `Count` is absent here, so the spare vector is empty.
            w = w.string16(o.name);
            for &b in &o.tail {
                w = w.u8(b, "truncated u8 field __elem");
            }
            (0, 0, false)
        }
    };
    for &b in &o.extra {
        w = w.u8(b, "truncated u8 field __elem");
    }
    if urgent {
        w = w.u32(o.priority, "truncated u32 field priority_v");
    }
    w = match kind {
        0 => w.u8(o.case as u8, "truncated u8 field idle"),
        _ => w.u32(o.case, "truncated u32 field target"),
    };
    if count & 1 != 0 {
        w = w.u16(o.odd, "truncated u16 field odd_v");
    }
    w = w.u32(o.flags, "truncated u32 field flags");
    for &b in &o.rest {
        w = w.u8(b, "truncated u8 field __elem");
    }
    w
}

#[test]
fn branch_fields_read_in_their_branch_and_after_the_block() {
    let taken = Offer {
        mode: 2,
        taken: Some((3, 6, 1, vec![10, 20, 30])),
        name: b"",
        tail: vec![],
        extra: vec![0x44],
        priority: 7,
        case: 0x5000_0001,
        odd: 0xBEEF,
        // (ushort)-Flags is 2: two rest bytes.
        flags: 0xFFFF_FFFE,
        rest: vec![1, 2],
    };
    let not_taken = Offer {
        mode: 1,
        taken: None,
        name: b"ab",
        tail: vec![9],
        extra: vec![],
        priority: 0,
        case: 0x33,
        odd: 0,
        flags: 0,
        rest: vec![],
    };
    let taken_even = Offer {
        mode: 0xFF,
        taken: Some((4, 0, 0, vec![1, 2, 3, 4])),
        extra: vec![5, 6],
        case: 0x77,
        // -0xFFFF is ...0001 in the low 16 bits: one rest byte.
        flags: 0xFFFF,
        rest: vec![8],
        ..not_taken.clone()
    };
    let cases = [
        (
            taken.clone(),
            S2C_Trade_Offer {
                mode: 2,
                count: Some(3),
                kind: Some(MovementType::MoveToObject),
                urgent: Some(true),
                items: Some(vec![10, 20, 30]),
                mode_2: None,
                spare: None,
                tail: None,
                extra: vec![0x44],
                priority: Some(7),
                kind_data: S2C_Trade_OfferKindData::Case_6 {
                    target: 0x5000_0001,
                },
                odd: Some(0xBEEF),
                flags: 0xFFFF_FFFE,
                rest: vec![1, 2],
            },
        ),
        (
            not_taken.clone(),
            S2C_Trade_Offer {
                mode: 1,
                count: None,
                kind: None,
                urgent: None,
                items: None,
                mode_2: Some("ab".to_string()),
                spare: Some(vec![]),
                tail: Some(vec![9]),
                extra: vec![],
                priority: None,
                kind_data: S2C_Trade_OfferKindData::Case_0 { idle: 0x33 },
                odd: None,
                flags: 0,
                rest: vec![],
            },
        ),
        (
            taken_even.clone(),
            S2C_Trade_Offer {
                mode: 0xFF,
                count: Some(4),
                kind: Some(MovementType::Invalid),
                urgent: Some(false),
                items: Some(vec![1, 2, 3, 4]),
                mode_2: None,
                spare: None,
                tail: None,
                extra: vec![5, 6],
                priority: None,
                kind_data: S2C_Trade_OfferKindData::Case_0 { idle: 0x77 },
                odd: None,
                flags: 0xFFFF,
                rest: vec![8],
            },
        ),
    ];
    for (offer, want) in cases {
        let wire = offer_wire(&offer);
        // decode_all also checks that the cursor stops at the message's end.
        assert_eq!(decode_all(S2C_Trade_Offer::read_from, &wire), want);
        assert_truncations(S2C_Trade_Offer::read_from, &wire);
    }
}

#[test]
fn a_branch_enum_with_no_case_is_refused() {
    // Kind 1 (RawCommand) has no case in the switch that follows the block.
    let wire = Wire::new().u8(2, "").u8(0, "").u16(1, "").u32(0, "");
    assert_eq!(
        decode_err(S2C_Trade_Offer::read_from, &wire.bytes),
        "unknown S2C_Trade_OfferKindData discriminator"
    );
}

#[test]
fn unsigned_negation_wraps_like_a_wider_negation_truncated() {
    for (flags, negated, next) in [
        (0u32, 0u16, 1u32),
        (1, 0xFFFF, 2),
        (2, 0xFFFE, 3),
        (0xFFFF, 1, 0x1_0000),
        (0x1_0000, 0, 0x1_0001),
        (0xFFFF_FFFF, 1, 0),
        (0x8000_0000, 0, 0x8000_0001),
    ] {
        let offer = S2C_Trade_Offer {
            mode: 0,
            count: None,
            kind: None,
            urgent: None,
            items: None,
            mode_2: None,
            spare: None,
            tail: None,
            extra: vec![],
            priority: None,
            kind_data: S2C_Trade_OfferKindData::Case_0 { idle: 0 },
            odd: None,
            flags,
            rest: vec![],
        };
        assert_eq!(offer.negated(), negated, "(ushort)-{flags:#X}");
        assert_eq!(offer.next(), next, "{flags:#X} - - 1");
    }
}

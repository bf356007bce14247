// The property test's checks of the typed API (dispatch_generated.rs), the
// same for every description. tools/property-test.sh appends this text to each
// description's module of decoder targets, with @N@ replaced by the
// description's number and @GENERATED@ by the path of its generated
// messages_generated.rs, and @RECOVERED@ by the number of items the extended
// tier recovered (0 without it); `typed_checks` is written beside it, calling
// `typed` for every message with an opcode.

use super::qm_@N@ as q;

/// The opcode rows of the written structs: with the `extended` feature the
/// recovered ones after the default tier's, as the opcode lookup reads them.
fn opcode_rows() -> impl Iterator<Item = &'static (&'static str, &'static str, u32)> {
    let rows = m::OPCODE_INDEX.iter();
    #[cfg(feature = "extended")]
    let rows = rows.chain(m::EXTENDED_OPCODE_INDEX.iter());
    rows
}

/// Decodes through the enum of `kind`: the variant's name, opcode and debug
/// form, and the cursor.
fn by_kind(kind: q::Kind, opcode: u32, data: &[u8]) -> (Result<(&'static str, u32, String), q::DecodeError>, usize) {
    let mut at = 0;
    let got = match kind {
        q::Kind::MessageC2S => q::dispatch::C2SMessage::decode(opcode, data, &mut at).map(|v| (v.name(), v.opcode(), format!("{:?}", v))),
        q::Kind::MessageS2C => q::dispatch::S2CMessage::decode(opcode, data, &mut at).map(|v| (v.name(), v.opcode(), format!("{:?}", v))),
        q::Kind::GameAction => q::dispatch::GameAction::decode(opcode, data, &mut at).map(|v| (v.name(), v.opcode(), format!("{:?}", v))),
        q::Kind::GameEvent => q::dispatch::GameEvent::decode(opcode, data, &mut at).map(|v| (v.name(), v.opcode(), format!("{:?}", v))),
    };
    (got, at)
}

/// Decodes through the enum of `kind` and writes the message back through
/// the enum's `encode`; nothing when it does not decode.
fn encode_by_kind(kind: q::Kind, opcode: u32, data: &[u8]) -> Option<Result<Vec<u8>, q::EncodeError>> {
    let mut at = 0;
    let mut out = Vec::new();
    let written = match kind {
        q::Kind::MessageC2S => q::dispatch::C2SMessage::decode(opcode, data, &mut at).ok()?.encode(&mut out),
        q::Kind::MessageS2C => q::dispatch::S2CMessage::decode(opcode, data, &mut at).ok()?.encode(&mut out),
        q::Kind::GameAction => q::dispatch::GameAction::decode(opcode, data, &mut at).ok()?.encode(&mut out),
        q::Kind::GameEvent => q::dispatch::GameEvent::decode(opcode, data, &mut at).ok()?.encode(&mut out),
    };
    Some(written.map(|()| out))
}

/// Decoding zeros by `T`'s section and opcode chooses `T` (or, for a
/// repeated opcode, the first struct of it, one the default tier wrote
/// before a recovered one) and gives what `T`'s own decoder
/// gives, with the same cursor; and the enum's `encode` writes what `T`'s
/// `write_to` writes.
fn typed<T: q::Message + q::Encode + std::fmt::Debug>(failures: &mut Vec<String>) {
    let zeros = [0u8; 256];
    let label = T::KIND.label();
    let first = opcode_rows().find(|r| r.0 == label && r.2 == T::OPCODE).map(|r| r.1);
    let (via, at) = by_kind(T::KIND, T::OPCODE, &zeros);
    let mut fail = |what: String| failures.push(format!("{} {} {:#06X}: {}", label, T::NAME, T::OPCODE, what));
    if first != Some(T::NAME) {
        match via {
            Ok((name, _, _)) | Err(q::DecodeError::Malformed { name, .. }) if Some(name) == first => {}
            other => fail(format!("a repeated opcode decoded to {:?}, not the first struct {:?}", other, first)),
        }
        return;
    }
    let mut direct_at = 0;
    match (<T as q::Decode>::read_from(&zeros, &mut direct_at), via) {
        (Ok(value), Ok((name, opcode, shown))) => {
            if name != T::NAME || opcode != T::OPCODE || !shown.ends_with(&format!("({:?})", value)) || at != direct_at {
                fail(format!(
                    "decoded as {} {:#06X} {} (cursor {}), its own decoder gives {:?} (cursor {})",
                    name, opcode, shown, at, value, direct_at
                ));
            }
            let mut bytes = Vec::new();
            let direct = q::Encode::write_to(&value, &mut bytes).map(|()| bytes);
            let via = encode_by_kind(T::KIND, T::OPCODE, &zeros);
            if via.as_ref() != Some(&direct) {
                fail(format!("the enum's encode gives {:?}, write_to {:?}", via, direct));
            }
        }
        (Err(error), Err(got)) => {
            let expected = q::DecodeError::Malformed {
                kind: T::KIND,
                opcode: T::OPCODE,
                name: T::NAME,
                error,
                at: direct_at,
                len: zeros.len(),
            };
            if got != expected || at != 0 {
                fail(format!("error {:?} (cursor {}), expected {:?}", got, at, expected));
            }
        }
        (direct, via) => fail(format!("its own decoder gives {:?}, the enum {:?}", direct, via)),
    }
}

/// Decodes a message of type `T` through `AnyMessage` at `*at`, for the
/// moved round trip: its debug form, or nothing when decoding by `T`'s
/// opcode gives another struct (a repeated opcode).
fn moved<T: q::Message>(data: &[u8], at: &mut usize) -> Option<Result<String, String>> {
    if q::lookup_opcode(T::OPCODE, T::KIND) != Some(T::NAME) {
        return None;
    }
    Some(
        q::dispatch::AnyMessage::decode(T::KIND, T::OPCODE, data, at)
            .map(|m| format!("{:?}", m))
            .map_err(|e| e.to_string()),
    )
}

/// A text as a SKIPPED line shows it: line breaks, other control characters
/// and the bidirectional controls escaped.
fn one_line(text: &str) -> String {
    let mut out = String::new();
    for c in text.chars() {
        let v = c as u32;
        if c == '\n' {
            out.push_str("\\n");
        } else if c == '\r' {
            out.push_str("\\r");
        } else if (v < 0x20 && c != '\t')
            || v == 0x7F
            || (0x80..=0x9F).contains(&v)
            || v == 0x2028
            || v == 0x2029
            || (0x202A..=0x202E).contains(&v)
            || (0x2066..=0x2069).contains(&v)
        {
            out.push_str(&format!("\\u{{{:x}}}", v));
        } else {
            out.push(c);
        }
    }
    out
}

/// `SKIPPED` gives every SKIPPED line of the file, in order; with the
/// `extended` feature, every line but those of the recovered items and of
/// the items passed over for having a recovered item's name (a name is
/// written once), and with the item's own reason, which may differ from the
/// line's (the extended tier may leave an item out for another reason). A
/// skipped message whose opcode no written struct of its section has decodes
/// to `Skipped` with the first item of that opcode.
fn skipped_checks(failures: &mut Vec<String>) {
    let text = include_str!("@GENERATED@");
    let all: Vec<&str> = text.lines().filter(|l| l.starts_with("// SKIPPED ")).collect();
    let items = q::dispatch::SKIPPED;
    let recovered: usize = @RECOVERED@;
    let extended = cfg!(feature = "extended");
    let head_of = |item: &q::SkippedItem| {
        format!("// SKIPPED {} {}: ", item.label, one_line(&format!("{}{}", label_prefix(item.label), item.name)))
    };
    // Each item's line: the next one, or with the extended tier the next
    // of its name; the lines passed by are the recovered names'.
    let mut lines = Vec::new();
    let mut passed: std::collections::BTreeSet<&str> = std::collections::BTreeSet::new();
    let mut at = 0;
    for item in items {
        let head = head_of(item);
        while at < all.len() && extended && !all[at].starts_with(&head) {
            passed.insert(all[at].split(": ").next().unwrap_or(all[at]));
            at += 1;
        }
        if at == all.len() {
            failures.push(format!("SKIPPED item {:?} has no SKIPPED line of its name in order", item));
            return;
        }
        lines.push(all[at]);
        at += 1;
    }
    for line in &all[at..] {
        passed.insert(line.split(": ").next().unwrap_or(line));
    }
    if passed.len() != recovered {
        failures.push(format!(
            "{} SKIPPED lines, {} items in SKIPPED; the other lines have {} names, {} items recovered",
            all.len(),
            items.len(),
            passed.len(),
            recovered
        ));
    }
    for (line, item) in lines.iter().zip(items) {
        let prefix = label_prefix(item.label);
        let kind = match item.label {
            "messageC2S" => Some(q::Kind::MessageC2S),
            "messageS2C" => Some(q::Kind::MessageS2C),
            "gameaction" => Some(q::Kind::GameAction),
            "gameevent" => Some(q::Kind::GameEvent),
            _ => None,
        };
        if item.kind != kind {
            failures.push(format!("SKIPPED item {:?} has the kind {:?}, its label says {:?}", item, item.kind, kind));
        }
        let head = format!("// SKIPPED {} {}: {}", item.label, one_line(&format!("{}{}", prefix, item.name)), item.reason);
        // The extended tier's reason may differ from the default tier's line.
        if !extended && *line != head && *line != format!("{} \u{2014} port to PR 7.2.", head) {
            failures.push(format!("SKIPPED item {:?} does not give the line {:?}", item, line));
        }
        if let (Some(kind), Some(opcode)) = (kind, item.opcode) {
            if opcode_rows().any(|r| r.0 == item.label && r.2 == opcode) {
                continue;
            }
            let first = items.iter().find(|i| i.label == item.label && i.opcode == Some(opcode)).unwrap();
            let expected = q::DecodeError::Skipped { kind, opcode, name: first.name, reason: first.reason };
            let got = by_kind(kind, opcode, &[0u8; 16]).0;
            if got.as_ref().err() != Some(&expected) {
                failures.push(format!("skipped {} {:#06X} decoded to {:?}, expected {:?}", item.label, opcode, got, expected));
            }
        }
    }
}

/// The section prefix of a struct's Rust name, by its label.
fn label_prefix(label: &str) -> &'static str {
    match label {
        "messageC2S" => "C2S_",
        "messageS2C" => "S2C_",
        "gameaction" => "Action_",
        "gameevent" => "Event_",
        _ => "",
    }
}

pub fn dispatch_checks() -> Vec<String> {
    let mut failures = Vec::new();
    typed_checks(&mut failures);
    skipped_checks(&mut failures);
    failures
}

//! The README's examples, each function exactly as the README shows it
//! (tools/check-readme-examples.sh holds that), run on the sample's messages.

mod common;

#[cfg(feature = "encode")]
use common::Wire;
#[cfg(feature = "encode")]
use quillmarsh_protocol::dispatch::GameAction;
#[cfg(feature = "encode")]
use quillmarsh_protocol::messages::{Action_Communication_Talk, S2C_Character_Options};
use quillmarsh_protocol::Kind;

fn log_message(kind: quillmarsh_protocol::Kind, opcode: u32, bytes: &[u8]) -> String {
    use quillmarsh_protocol::dispatch::AnyMessage;
    use quillmarsh_protocol::DecodeError;

    match AnyMessage::decode_exact(kind, opcode, bytes) {
        Ok(message) => format!("{} {:#06X}: {:?}", message.name(), message.opcode(), message),
        Err(DecodeError::Skipped { name, reason, .. }) => format!("{name} is not generated: {reason}"),
        Err(e) => e.to_string(),
    }
}

#[test]
fn readme_logs_any_message() {
    let update = [0x07, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F];
    assert!(log_message(Kind::MessageS2C, 0x02D3, &update).starts_with(
        "Qualities_UpdateFloat 0x02D3: S2C(Qualities_UpdateFloat(S2C_Qualities_UpdateFloat { sequence: 7, key: 42"
    ));
    assert_eq!(
        log_message(Kind::MessageS2C, 0xF755, &[]),
        "Legacy_Effects is not generated: deferred-tier features [mask]"
    );
    assert_eq!(
        log_message(Kind::MessageS2C, 0x02D3, &update[..3]),
        "messageS2C 0x02D3 Qualities_UpdateFloat: truncated u32 field key at byte 1 of 3"
    );
}

#[cfg(feature = "encode")]
fn three_frames_in_one_buffer() -> Result<Vec<u8>, Box<dyn std::error::Error>> {
    use quillmarsh_protocol::dispatch::{AnyMessage, GameAction};
    use quillmarsh_protocol::messages::{Action_Communication_Talk, Action_Movement_Jump, Frame, LevelDelta};
    use quillmarsh_protocol::Kind;

    // A client writes three game actions into one buffer, each framed:
    // its opcode as a little-endian u32, then its body.
    let hello = Action_Communication_Talk { message: "hello".to_string() };
    let jump = Action_Movement_Jump {
        extent: 0.5,
        velocity: Frame { x: 0.0, y: 0.0, z: 4.0, heading: 0.0 },
        delta: LevelDelta::Up,
    };
    let mut stream = Vec::new();
    GameAction::from(hello.clone()).write_framed(&mut stream)?;
    GameAction::from(jump).write_framed(&mut stream)?;
    GameAction::from(hello).write_framed(&mut stream)?;

    // A packet logger reads them back, one after another.
    let mut names = Vec::new();
    for action in GameAction::frames(&stream) {
        let action = action?; // the first error ends the frames
        println!("{} {:#06X}: {:?}", action.name(), action.opcode(), action);
        names.push(action.name());
    }
    assert_eq!(names, ["Communication_Talk", "Movement_Jump", "Communication_Talk"]);

    // The same through `AnyMessage`, which takes the section as a value.
    assert_eq!(AnyMessage::frames(Kind::GameAction, &stream).count(), 3);
    Ok(stream)
}

#[cfg(feature = "encode")]
#[test]
fn readme_writes_and_reads_three_frames() {
    let stream = three_frames_in_one_buffer().unwrap();
    let talk = [0x15, 0, 0, 0, 5, b'h', 0, b'e', 0, b'l', 0, b'l', 0, b'o', 0];
    assert_eq!(&stream[..talk.len()], &talk);
    assert_eq!(&stream[stream.len() - talk.len()..], &talk);
    assert_eq!(stream.len(), 2 * talk.len() + 4 + 24);
}

#[cfg(feature = "encode")]
fn send_options(socket: &mut impl std::io::Write) -> Result<(), Box<dyn std::error::Error>> {
    use quillmarsh_protocol::messages::*;
    use quillmarsh_protocol::EncodeError;

    let msg = S2C_Character_Options {
        options: 0x100,
        has_shortcuts: true,
        shortcut_count: 2,
        shortcuts: Some(vec![7, 9]),  // present: HasShortcuts holds
        default_shortcut: None,       // absent: it belongs to the false branch
        extended: Some(vec![(1, 2)]), // present: Options >= 0x100
    };
    let mut body = Vec::new();
    msg.write_to(&mut body)?;
    socket.write_all(&S2C_Character_Options::OPCODE.to_le_bytes())?;
    socket.write_all(&body)?;

    // A message whose members disagree is refused, naming what disagrees.
    let wrong = S2C_Character_Options { shortcut_count: 3, ..msg };
    let err: EncodeError = wrong.write_to(&mut body).unwrap_err();
    assert_eq!(
        err.to_string(),
        "cannot encode S2C_Character_Options.shortcuts: holds 2 elements but its length ShortcutCount gives 3"
    );
    Ok(())
}

#[cfg(feature = "encode")]
#[test]
fn readme_sends_a_message() {
    let mut sent = Vec::new();
    send_options(&mut sent).unwrap();
    assert_eq!(&sent[..4], &0xF7E1u32.to_le_bytes());
    let mut offset = 4;
    let msg = S2C_Character_Options::read_from(&sent, &mut offset).unwrap();
    assert_eq!((msg.shortcuts, offset), (Some(vec![7, 9]), sent.len()));
}

#[cfg(feature = "encode")]
fn forward(opcode: u32, body: &[u8], out: &mut Vec<u8>) -> Result<(), Box<dyn std::error::Error>> {
    use quillmarsh_protocol::dispatch::S2CMessage;

    let msg = S2CMessage::decode_exact(opcode, body)?;
    msg.write_framed(out)?;
    Ok(())
}

/// A message decoded through its section's enum is written back through
/// `write_framed`, byte for byte.
#[cfg(feature = "encode")]
#[test]
fn readme_proxy_reencodes_through_the_dispatch_enum() {
    let body = Wire::new().u32(9, "").u16(1, "").u16(0x33, "").f32(2.0, "").bytes;
    let mut out = vec![0xAB];
    forward(0xF74C, &body, &mut out).unwrap();
    assert_eq!(out[1..5], 0xF74Cu32.to_le_bytes());
    assert_eq!(out[5..], body[..]);
    // A refusal through the enum is the struct's own, and leaves nothing.
    let wrong = GameAction::Communication_Talk(Action_Communication_Talk {
        message: "w".repeat(0x8000),
    });
    let mut out = vec![7];
    let e = wrong.write_framed(&mut out).unwrap_err();
    assert_eq!((e.type_name, e.member, out), ("Action_Communication_Talk", "message", vec![7]));
}

#[cfg(feature = "serde")]
fn json_log_line(kind: quillmarsh_protocol::Kind, opcode: u32, bytes: &[u8]) -> Result<String, Box<dyn std::error::Error>> {
    use quillmarsh_protocol::dispatch::AnyMessage;

    let message = AnyMessage::decode_exact(kind, opcode, bytes)?;
    let line = serde_json::to_string(&message)?;
    // {"S2C":{"Qualities_UpdateFloat":{"sequence":7,"key":42,"value":1.0}}}

    let read: AnyMessage = serde_json::from_str(&line)?;
    assert_eq!(read, message);
    Ok(line)
}

#[cfg(feature = "serde")]
#[test]
fn readme_logs_a_message_as_json() {
    let update = [0x07, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F];
    assert_eq!(
        json_log_line(Kind::MessageS2C, 0x02D3, &update).unwrap(),
        r#"{"S2C":{"Qualities_UpdateFloat":{"sequence":7,"key":42,"value":1.0}}}"#
    );
    assert!(json_log_line(Kind::MessageS2C, 0x02D3, &update[..3]).is_err());
}

#[cfg(all(feature = "serde", feature = "encode"))]
fn fixture_bytes(json: &str) -> Result<Vec<u8>, Box<dyn std::error::Error>> {
    let message: quillmarsh_protocol::dispatch::AnyMessage = serde_json::from_str(json)?;
    let mut framed = Vec::new();
    message.write_framed(&mut framed)?;
    Ok(framed)
}

#[cfg(all(feature = "serde", feature = "encode"))]
#[test]
fn readme_encodes_a_json_fixture() {
    let framed = fixture_bytes(r#"{"S2C":{"Qualities_UpdateFloat":{"sequence":7,"key":42,"value":1.0}}}"#).unwrap();
    assert_eq!(framed, [0xD3, 0x02, 0, 0, 0x07, 0x2A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F]);
    let err = fixture_bytes(r#"{"S2C":{"Qualities_UpdateFloat":{"sequence":7,"value":1.0}}}"#).unwrap_err();
    assert!(err.to_string().starts_with("missing member `key` of S2C_Qualities_UpdateFloat"), "{err}");
}

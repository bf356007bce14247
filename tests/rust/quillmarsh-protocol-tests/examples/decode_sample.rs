//! Decodes a few hand-made messages with the decoders generated from the
//! sample description and prints them.
//!
//! Run with `cargo run --example decode_sample`.

use quillmarsh_protocol::lookup_opcode;
use quillmarsh_protocol::messages::*;

/// Decodes one message body and prints it with its protocol name.
fn show<T: std::fmt::Debug>(
    kind: &str,
    opcode: u32,
    decode: fn(&[u8], &mut usize) -> Result<T, &'static str>,
    bytes: &[u8],
) {
    let name = lookup_opcode(opcode, kind).unwrap_or("?");
    let mut offset = 0;
    match decode(bytes, &mut offset) {
        Ok(value) => println!(
            "{kind} {opcode:#06X} {name} ({offset} of {} bytes): {value:#?}",
            bytes.len()
        ),
        Err(e) => println!("{kind} {opcode:#06X} {name}: error: {e}"),
    }
}

fn main() {
    show(
        "messageC2S",
        C2S_Login_SendEnterGame::OPCODE,
        C2S_Login_SendEnterGame::read_from,
        &[
            0x01, 0x00, 0x00, 0x50, 0x03, 0x00, b'A', b'n', b'n', 0x00, 0x00, 0x00,
        ],
    );
    show(
        "gameevent",
        Event_Communication_ChannelBroadcast::OPCODE,
        Event_Communication_ChannelBroadcast::read_from,
        &[
            0x02, 0x00, 0x00, 0x00, 0x03, 0x00, b'B', b'o', b'b', 0x00, 0x00, 0x00, 0x02, b'h',
            0x00, b'i', 0x00,
        ],
    );
    show(
        "messageS2C",
        S2C_Movement_Motion::OPCODE,
        S2C_Movement_Motion::read_from,
        &[
            0x01, 0x00, 0x00, 0x50, 0x01, 0x00, 0x45, 0x00, 0x00, 0x00, 0xA0, 0x3F,
        ],
    );
    show(
        "messageS2C",
        S2C_Object_Describe::OPCODE,
        S2C_Object_Describe::read_from,
        &[
            0x01, 0x00, 0x00, 0x50, // object
            0x05, 0x00, 0x00, 0x00, // flags: openable, stackable
            0x01, 0x00, 0x00, 0x00, // open state
            0x05, 0x80, // stack size, with the maximum present
            0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x50, // stack: one object id
            0xF4, 0x01, // maximum stack size
        ],
    );
    // A message cut short reports what was missing.
    show(
        "messageS2C",
        S2C_Qualities_UpdateFloat::OPCODE,
        S2C_Qualities_UpdateFloat::read_from,
        &[0x01, 0x02, 0x00],
    );
}

//! The typed API's shared types: the sections, the traits every generated
//! struct and message implements, the items the generator skipped, the one
//! enum over every section and the iterator over framed messages. The
//! section enums themselves are generated into `dispatch`.

use super::dispatch::{C2SMessage, GameAction, GameEvent, S2CMessage};
use super::readers::bytes_at;
use super::DecodeError;

/// The section of the protocol a message belongs to.
#[derive(Debug, Clone, Copy, PartialEq, Eq, PartialOrd, Ord, Hash)]
pub enum Kind {
    /// A top-level client-to-server message.
    MessageC2S,
    /// A top-level server-to-client message.
    MessageS2C,
    /// A game action (client to server, carried inside opcode 0xF7B1).
    GameAction,
    /// A game event (server to client, carried inside opcode 0xF7B0).
    GameEvent,
}

impl Kind {
    /// Every kind, in the order of the generated file.
    pub const ALL: [Kind; 4] = [
        Kind::MessageC2S,
        Kind::MessageS2C,
        Kind::GameAction,
        Kind::GameEvent,
    ];

    /// The kind's label in `OPCODE_INDEX` and
    /// [`dispatch::SKIPPED`](super::dispatch::SKIPPED): "messageC2S",
    /// "messageS2C", "gameaction" or "gameevent".
    pub fn label(self) -> &'static str {
        match self {
            Kind::MessageC2S => "messageC2S",
            Kind::MessageS2C => "messageS2C",
            Kind::GameAction => "gameaction",
            Kind::GameEvent => "gameevent",
        }
    }
}

impl std::fmt::Display for Kind {
    fn fmt(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
        f.write_str(self.label())
    }
}

/// A generated struct (data type or message) with its wire decoder.
pub trait Decode: Sized {
    /// Decodes the value from `data` at `*offset` and moves the cursor past
    /// it; on error returns the decoder's short error text.
    fn read_from(data: &[u8], offset: &mut usize) -> Result<Self, &'static str>;
}

/// A generated message, game action or game event that has an opcode.
pub trait Message: Decode {
    /// The section it belongs to.
    const KIND: Kind;
    /// Its wire opcode.
    const OPCODE: u32;
    /// Its bare protocol name, as in `OPCODE_INDEX`.
    const NAME: &'static str;
}

/// An item of protocol.xml that the generator did not generate: an entry of
/// [`dispatch::SKIPPED`](super::dispatch::SKIPPED).
#[derive(Debug, Clone, Copy, PartialEq, Eq, Hash)]
pub struct SkippedItem {
    /// "enum", "datatype", "messageC2S", "messageS2C", "gameaction" or
    /// "gameevent".
    pub label: &'static str,
    /// The section of a message, game action or game event; none for enums
    /// and data types.
    pub kind: Option<Kind>,
    /// The bare name as written in protocol.xml.
    pub name: &'static str,
    /// The opcode, for an item that has one.
    pub opcode: Option<u32>,
    /// Why it was skipped, as its `// SKIPPED` line says.
    pub reason: &'static str,
}

/// A message of any section: the one enum to hold whatever a stream
/// carries.
#[derive(Debug, Clone, PartialEq)]
pub enum AnyMessage {
    C2S(C2SMessage),
    S2C(S2CMessage),
    Action(GameAction),
    Event(GameEvent),
}

impl AnyMessage {
    /// Decodes the message of section `kind` with `opcode` from the bytes
    /// of `data` from `*offset` on, as the section's `decode` does, and
    /// moves the cursor past it; on error the cursor stays where it was.
    pub fn decode(kind: Kind, opcode: u32, data: &[u8], offset: &mut usize) -> Result<Self, DecodeError> {
        Ok(match kind {
            Kind::MessageC2S => AnyMessage::C2S(C2SMessage::decode(opcode, data, offset)?),
            Kind::MessageS2C => AnyMessage::S2C(S2CMessage::decode(opcode, data, offset)?),
            Kind::GameAction => AnyMessage::Action(GameAction::decode(opcode, data, offset)?),
            Kind::GameEvent => AnyMessage::Event(GameEvent::decode(opcode, data, offset)?),
        })
    }

    /// Decodes the message of section `kind` with `opcode` from the whole
    /// of `data`: bytes left over after it are an error.
    pub fn decode_exact(kind: Kind, opcode: u32, data: &[u8]) -> Result<Self, DecodeError> {
        let mut offset = 0;
        let message = Self::decode(kind, opcode, data, &mut offset)?;
        if offset == data.len() {
            return Ok(message);
        }
        Err(DecodeError::TrailingBytes {
            kind,
            opcode,
            name: message.name(),
            used: offset,
            len: data.len(),
        })
    }

    /// Reads the framed message of section `kind` at `*offset` (its
    /// opcode as a little-endian u32, then its body) and moves the cursor
    /// past it; on error the cursor stays where it was.
    pub fn read_framed(kind: Kind, data: &[u8], offset: &mut usize) -> Result<Self, DecodeError> {
        Ok(match kind {
            Kind::MessageC2S => AnyMessage::C2S(C2SMessage::read_framed(data, offset)?),
            Kind::MessageS2C => AnyMessage::S2C(S2CMessage::read_framed(data, offset)?),
            Kind::GameAction => AnyMessage::Action(GameAction::read_framed(data, offset)?),
            Kind::GameEvent => AnyMessage::Event(GameEvent::read_framed(data, offset)?),
        })
    }

    /// The framed messages of section `kind` in `data`, one after another
    /// from its first byte; the iteration ends at the end of `data`, or
    /// after the first error.
    pub fn frames(kind: Kind, data: &[u8]) -> Frames<'_, Self> {
        Frames::new(data, kind, Self::read_framed)
    }

    /// The section of this message.
    pub fn kind(&self) -> Kind {
        match self {
            AnyMessage::C2S(_) => Kind::MessageC2S,
            AnyMessage::S2C(_) => Kind::MessageS2C,
            AnyMessage::Action(_) => Kind::GameAction,
            AnyMessage::Event(_) => Kind::GameEvent,
        }
    }

    /// The wire opcode of this message.
    pub fn opcode(&self) -> u32 {
        match self {
            AnyMessage::C2S(m) => m.opcode(),
            AnyMessage::S2C(m) => m.opcode(),
            AnyMessage::Action(m) => m.opcode(),
            AnyMessage::Event(m) => m.opcode(),
        }
    }

    /// The bare protocol name of this message, as in `OPCODE_INDEX`.
    pub fn name(&self) -> &'static str {
        match self {
            AnyMessage::C2S(m) => m.name(),
            AnyMessage::S2C(m) => m.name(),
            AnyMessage::Action(m) => m.name(),
            AnyMessage::Event(m) => m.name(),
        }
    }
}

impl From<C2SMessage> for AnyMessage {
    fn from(message: C2SMessage) -> Self {
        AnyMessage::C2S(message)
    }
}

impl From<S2CMessage> for AnyMessage {
    fn from(message: S2CMessage) -> Self {
        AnyMessage::S2C(message)
    }
}

impl From<GameAction> for AnyMessage {
    fn from(message: GameAction) -> Self {
        AnyMessage::Action(message)
    }
}

impl From<GameEvent> for AnyMessage {
    fn from(message: GameEvent) -> Self {
        AnyMessage::Event(message)
    }
}

/// The framed messages of a stream, one after another: each a little-endian
/// u32 opcode, then the message's body. Made by `frames` of a section enum
/// or of [`AnyMessage`]. Yields each message, or the error that stopped it;
/// after an error the framing is lost, so the iteration ends there, as it
/// ends at the end of the data.
pub struct Frames<'a, T> {
    data: &'a [u8],
    offset: usize,
    kind: Kind,
    read: fn(Kind, &[u8], &mut usize) -> Result<T, DecodeError>,
    failed: bool,
}

impl<'a, T> Frames<'a, T> {
    #[doc(hidden)]
    pub fn new(data: &'a [u8], kind: Kind, read: fn(Kind, &[u8], &mut usize) -> Result<T, DecodeError>) -> Self {
        Frames {
            data,
            offset: 0,
            kind,
            read,
            failed: false,
        }
    }

    /// Where the next frame starts in the data (after an error: where the
    /// frame that failed starts).
    pub fn offset(&self) -> usize {
        self.offset
    }
}

impl<'a, T> Iterator for Frames<'a, T> {
    type Item = Result<T, DecodeError>;

    fn next(&mut self) -> Option<Self::Item> {
        if self.failed || self.offset >= self.data.len() {
            return None;
        }
        let result = (self.read)(self.kind, self.data, &mut self.offset);
        self.failed = result.is_err();
        Some(result)
    }
}

/// The bytes of the message that starts at `offset` in `data`: the rest of
/// `data`, or nothing when `offset` is at or past its end.
#[doc(hidden)]
pub fn message_at(data: &[u8], offset: usize) -> &[u8] {
    data.get(offset..).unwrap_or(&[])
}

/// Reads a frame's opcode (a little-endian u32) at `*offset` and moves the
/// cursor past it; the frame belongs to section `kind`.
#[doc(hidden)]
pub fn read_frame_opcode(kind: Kind, data: &[u8], offset: &mut usize) -> Result<u32, DecodeError> {
    match bytes_at(data, *offset, 4) {
        Some(b) => {
            *offset += 4;
            Ok(u32::from_le_bytes([b[0], b[1], b[2], b[3]]))
        }
        None => Err(DecodeError::TruncatedFrame {
            kind,
            len: data.len().saturating_sub(*offset),
        }),
    }
}

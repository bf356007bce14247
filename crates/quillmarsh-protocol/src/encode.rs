//! Everything the `encode` feature adds: the [`Encode`] trait of the
//! generated structs, [`EncodeError`], the wire writers (the inverses of the
//! readers), the helpers the generated encoders call ([`enc`]) and the
//! encoding methods of [`AnyMessage`].

use super::dispatch::AnyMessage;
use super::readers::CP1252_HIGH;

#[doc(hidden)]
pub mod enc;

/// A value that can be written in the wire form its decoder reads: every
/// generated struct (with the `encode` feature).
pub trait Encode {
    /// Appends exactly the bytes the type's `read_from` reads back as this
    /// value, as a message that starts at the end of `out`: alignment padding
    /// counts from there, so the bytes written never depend on what `out`
    /// already held. On error `out` is left as it was.
    fn write_to(&self, out: &mut Vec<u8>) -> Result<(), EncodeError> {
        let start = out.len();
        let result = self.write_at(out, start);
        enc::finish(out, start, result)
    }

    /// Appends the value as part of a message that starts at
    /// `out[message_start]` (alignment padding counts from there). On error
    /// `out` may hold part of the value; [`Encode::write_to`] takes it back.
    #[doc(hidden)]
    fn write_at(&self, out: &mut Vec<u8>, message_start: usize) -> Result<(), EncodeError>;
}

/// Why a value cannot be encoded: the struct, the member and what is wrong
/// (a value the wire cannot carry, or members that disagree with each
/// other, such as a vector whose length is not the one its count member
/// gives).
#[derive(Debug, Clone, PartialEq, Eq)]
pub struct EncodeError {
    /// The Rust name of the struct being encoded.
    pub type_name: &'static str,
    /// The member whose value cannot be written.
    pub member: &'static str,
    /// What is wrong with it.
    pub problem: String,
}

impl EncodeError {
    pub fn new(type_name: &'static str, member: &'static str, problem: impl Into<String>) -> Self {
        EncodeError {
            type_name,
            member,
            problem: problem.into(),
        }
    }
}

impl std::fmt::Display for EncodeError {
    fn fmt(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
        write!(
            f,
            "cannot encode {}.{}: {}",
            self.type_name, self.member, self.problem
        )
    }
}

impl std::error::Error for EncodeError {}

impl AnyMessage {
    /// Encodes the body of this message (its opcode is `opcode()`) as a
    /// message that starts at the end of `out`; on error `out` is left as
    /// it was.
    pub fn encode(&self, out: &mut Vec<u8>) -> Result<(), EncodeError> {
        match self {
            AnyMessage::C2S(m) => m.encode(out),
            AnyMessage::S2C(m) => m.encode(out),
            AnyMessage::Action(m) => m.encode(out),
            AnyMessage::Event(m) => m.encode(out),
        }
    }

    /// Appends this message framed: its opcode as a little-endian u32,
    /// then its body. On error `out` is left as it was.
    pub fn write_framed(&self, out: &mut Vec<u8>) -> Result<(), EncodeError> {
        match self {
            AnyMessage::C2S(m) => m.write_framed(out),
            AnyMessage::S2C(m) => m.write_framed(out),
            AnyMessage::Action(m) => m.write_framed(out),
            AnyMessage::Event(m) => m.write_framed(out),
        }
    }
}

/// The Windows-1252 byte of a character, when the code page has one: the
/// inverse of the decoding `read_string16_le` does.
fn cp1252_byte(c: char) -> Option<u8> {
    match u32::from(c) {
        // The five undefined bytes decode to the C1 controls of their value.
        0x81 | 0x8D | 0x8F | 0x90 | 0x9D => Some(u32::from(c) as u8),
        0x80..=0x9F => None,
        code @ 0..=0xFF => Some(code as u8),
        _ => CP1252_HIGH
            .iter()
            .position(|&high| high == c)
            .map(|i| 0x80 + i as u8),
    }
}

/// Writes a length-prefixed 8-bit string, the inverse of
/// [`read_string16_le`](super::read_string16_le).
///
/// Writes a `u16` little-endian byte count, the text in the Windows-1252
/// code page, then zero bytes up to a multiple of four counted from the
/// start of the field.
///
/// Examples:
/// - "" gives `00 00 00 00`;
/// - "hi" gives `02 00 68 69`;
/// - "abc" gives `03 00 61 62 63 00 00 00`;
/// - "€" gives `01 00 80 00`.
///
/// Errors (nothing is written): "character outside Windows-1252 in
/// string16" for a character the code page cannot carry (U+0080 among them,
/// since byte 0x80 is '€'), "string16 longer than 65535 bytes".
pub fn write_string16_le(text: &str, out: &mut Vec<u8>) -> Result<(), &'static str> {
    let bytes = text
        .chars()
        .map(cp1252_byte)
        .collect::<Option<Vec<u8>>>()
        .ok_or("character outside Windows-1252 in string16")?;
    let len = u16::try_from(bytes.len()).map_err(|_| "string16 longer than 65535 bytes")?;
    out.extend_from_slice(&len.to_le_bytes());
    out.extend_from_slice(&bytes);
    let used = 2 + bytes.len();
    out.resize(out.len() + (4 - used % 4) % 4, 0);
    Ok(())
}

/// Writes a length-prefixed UTF-16 string, the inverse of
/// [`read_wstring_le`](super::read_wstring_le).
///
/// Writes the count of UTF-16 code units in its shortest form (one byte for
/// 0..=127, else two bytes, high part first with the top bit set), then each
/// code unit as a `u16` little-endian. A Rust string never holds an unpaired
/// surrogate, so every string that fits the count can be written.
///
/// Examples:
/// - "" gives `00`;
/// - "hi" gives `02 68 00 69 00`;
/// - a 256-unit string gives `81 00` followed by the units;
/// - "😀" gives `02 3D D8 00 DE`.
///
/// Error (nothing is written): "wstring longer than 32767 UTF-16 code units".
pub fn write_wstring_le(text: &str, out: &mut Vec<u8>) -> Result<(), &'static str> {
    let units = text.encode_utf16().count();
    if units > 0x7FFF {
        return Err("wstring longer than 32767 UTF-16 code units");
    }
    if units < 0x80 {
        out.push(units as u8);
    } else {
        out.extend_from_slice(&[0x80 | (units >> 8) as u8, (units & 0xFF) as u8]);
    }
    for unit in text.encode_utf16() {
        out.extend_from_slice(&unit.to_le_bytes());
    }
    Ok(())
}

/// Writes a packed 32-bit value, the inverse of
/// [`read_packed_dword`](super::read_packed_dword): two bytes when the value
/// is at most 0x7FFF, else four.
///
/// Examples:
/// - 0x1234 gives `34 12`;
/// - 0x7FFF gives `FF 7F`;
/// - 0x0001_5678 gives `01 80 78 56`;
/// - 0x8000 gives `00 80 00 80`.
///
/// Error (nothing is written): "packed dword over 0x7FFF_FFFF".
pub fn write_packed_dword(value: u32, out: &mut Vec<u8>) -> Result<(), &'static str> {
    if value <= 0x7FFF {
        out.extend_from_slice(&(value as u16).to_le_bytes());
    } else if value <= 0x7FFF_FFFF {
        out.extend_from_slice(&(0x8000 | (value >> 16) as u16).to_le_bytes());
        out.extend_from_slice(&(value as u16).to_le_bytes());
    } else {
        return Err("packed dword over 0x7FFF_FFFF");
    }
    Ok(())
}

#[cfg(test)]
mod tests {
    use super::super::readers::{cp1252_char, read_packed_dword, read_string16_le, read_wstring_le};
    use super::*;

    type Writer<T> = fn(T, &mut Vec<u8>) -> Result<(), &'static str>;

    /// Reads `bytes` with `reader` from cursor 0: the value and where the
    /// cursor ended.
    fn run<T>(
        reader: fn(&[u8], &mut usize) -> Result<T, &'static str>,
        bytes: &[u8],
    ) -> Result<(T, usize), &'static str> {
        let mut offset = 0;
        reader(bytes, &mut offset).map(|value| (value, offset))
    }

    /// Writes `value` after some bytes already in the buffer and checks that
    /// the writer only appended, then returns what it appended.
    fn write<T>(writer: Writer<T>, value: T) -> Result<Vec<u8>, &'static str> {
        let mut out = vec![0xAA];
        let result = writer(value, &mut out);
        assert_eq!(out[0], 0xAA);
        if result.is_err() {
            assert_eq!(out, [0xAA], "a failed write appended bytes");
        }
        result.map(|()| out[1..].to_vec())
    }

    #[test]
    fn writers_give_the_documented_bytes() {
        let string16: &[(&str, &[u8])] = &[
            ("", &[0x00, 0x00, 0x00, 0x00]),
            ("hi", &[0x02, 0x00, b'h', b'i']),
            ("abc", &[0x03, 0x00, b'a', b'b', b'c', 0, 0, 0]),
            ("€", &[0x01, 0x00, 0x80, 0x00]),
            ("\u{81}ÿ", &[0x02, 0x00, 0x81, 0xFF]),
        ];
        for &(text, bytes) in string16 {
            assert_eq!(
                write(write_string16_le, text).as_deref(),
                Ok(bytes),
                "{text:?}"
            );
        }
        let wstring: &[(&str, &[u8])] = &[
            ("", &[0x00]),
            ("hi", &[0x02, b'h', 0x00, b'i', 0x00]),
            ("😀", &[0x02, 0x3D, 0xD8, 0x00, 0xDE]),
        ];
        for &(text, bytes) in wstring {
            assert_eq!(
                write(write_wstring_le, text).as_deref(),
                Ok(bytes),
                "{text:?}"
            );
        }
        let packed: &[(u32, &[u8])] = &[
            (0, &[0x00, 0x00]),
            (0x1234, &[0x34, 0x12]),
            (0x7FFF, &[0xFF, 0x7F]),
            (0x8000, &[0x00, 0x80, 0x00, 0x80]),
            (0x0001_5678, &[0x01, 0x80, 0x78, 0x56]),
            (0x7FFF_FFFF, &[0xFF, 0xFF, 0xFF, 0xFF]),
        ];
        for &(value, bytes) in packed {
            assert_eq!(
                write(write_packed_dword, value).as_deref(),
                Ok(bytes),
                "{value:#X}"
            );
        }
    }

    #[test]
    fn writers_refuse_what_the_wire_cannot_carry() {
        for text in ["\u{80}", "a\u{9F}", "\u{100}", "日本", "😀"] {
            assert_eq!(
                write(write_string16_le, text),
                Err("character outside Windows-1252 in string16"),
                "{text:?}"
            );
        }
        let long8 = "x".repeat(0x10000);
        assert_eq!(
            write(write_string16_le, &long8),
            Err("string16 longer than 65535 bytes")
        );
        assert_eq!(
            write(write_string16_le, &long8[1..]).map(|b| b.len()),
            Ok(0x10004)
        );
        let long16 = "w".repeat(0x8000);
        assert_eq!(
            write(write_wstring_le, &long16),
            Err("wstring longer than 32767 UTF-16 code units")
        );
        // A surrogate pair counts two units: 0x4000 emoji are 0x8000 units.
        assert!(write(write_wstring_le, &"😀".repeat(0x4000)).is_err());
        assert!(write(write_wstring_le, &"😀".repeat(0x3FFF)).is_ok());
        for value in [0x8000_0000, u32::MAX] {
            assert_eq!(
                write(write_packed_dword, value),
                Err("packed dword over 0x7FFF_FFFF")
            );
        }
    }

    /// Every value a writer accepts reads back as itself through the reader,
    /// which consumes exactly the written bytes; and every canonical encoding
    /// the reader accepts is written back byte for byte.
    #[test]
    fn writers_invert_readers() {
        // All 256 Windows-1252 characters, at every offset modulo four.
        let all: String = (0..=255u8).map(cp1252_char).collect();
        for cut in 0..8 {
            let text: String = all.chars().skip(cut * 37).take(cut * 11).collect();
            let bytes = write(write_string16_le, text.as_str()).unwrap();
            assert_eq!(run(read_string16_le, &bytes), Ok((text, bytes.len())));
        }
        for units in [0usize, 1, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF] {
            let text: String = (0..units)
                .map(|i| ['a', 'é', '€', '\u{FFFD}'][i % 4])
                .collect();
            let bytes = write(write_wstring_le, text.as_str()).unwrap();
            assert_eq!(bytes.len(), if units < 0x80 { 1 } else { 2 } + units * 2);
            assert_eq!(run(read_wstring_le, &bytes), Ok((text, bytes.len())));
        }
        // Canonical packed forms: both sizes and the boundaries of each bit width.
        for bit in 0..31 {
            let v = 1u32 << bit;
            for value in [v - 1, v, v + v / 2] {
                let bytes = write(write_packed_dword, value).unwrap();
                assert_eq!(bytes.len(), if value <= 0x7FFF { 2 } else { 4 });
                assert_eq!(run(read_packed_dword, &bytes), Ok((value, bytes.len())));
            }
        }
        for bytes in [
            [0x00u8, 0x80, 0x00, 0x80],
            [0x01, 0x80, 0x34, 0x12],
            [0xFF, 0xFF, 0x00, 0x00],
        ] {
            let (value, _) = run(read_packed_dword, &bytes).unwrap();
            assert_eq!(write(write_packed_dword, value).unwrap(), bytes);
        }
    }

    #[test]
    fn encode_error_names_struct_member_and_problem() {
        let e = EncodeError::new("S2C_Chat", "text", "string16 longer than 65535 bytes");
        assert_eq!(
            e.to_string(),
            "cannot encode S2C_Chat.text: string16 longer than 65535 bytes"
        );
        let _: &dyn std::error::Error = &e;
    }
}

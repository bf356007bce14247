//! Hand-made wire bytes for the generated decoders, and the checks that run a
//! decoder over them.
//!
//! A [`Wire`] is built field by field in wire order. Beside the bytes it keeps,
//! for every byte, the error the decoder must return when the input ends just
//! before that byte, and where the read that fails there begins, so one
//! builder gives both the well-formed message and the expected error (and
//! position) of each of its truncations.

#![allow(dead_code)]

use std::fmt::Debug;

/// The shape of every generated `read_from`.
pub type Decoder<T> = fn(&[u8], &mut usize) -> Result<T, &'static str>;

#[derive(Clone, Debug, Default)]
pub struct Wire {
    pub bytes: Vec<u8>,
    errors: Vec<&'static str>,
    starts: Vec<usize>,
}

impl Wire {
    pub fn new() -> Self {
        Self::default()
    }

    pub fn len(&self) -> usize {
        self.bytes.len()
    }

    /// The error of the input cut after `cut` bytes.
    pub fn error_at(&self, cut: usize) -> &'static str {
        self.errors[cut]
    }

    /// Where the read that fails on the input cut after `cut` bytes begins:
    /// the decoder's cursor when it gives up.
    pub fn read_start_at(&self, cut: usize) -> usize {
        self.starts[cut]
    }

    /// Appends `bytes` read by one read; an input that ends anywhere inside
    /// them fails with `error` at their first byte (fixed-width fields check
    /// all their bytes before reading).
    pub fn put(mut self, bytes: &[u8], error: &'static str) -> Self {
        let start = self.bytes.len();
        self.bytes.extend_from_slice(bytes);
        self.errors.extend(std::iter::repeat(error).take(bytes.len()));
        self.starts.extend(std::iter::repeat(start).take(bytes.len()));
        self
    }

    pub fn u8(self, v: u8, error: &'static str) -> Self {
        self.put(&[v], error)
    }
    pub fn u16(self, v: u16, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }
    pub fn u32(self, v: u32, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }
    pub fn u64(self, v: u64, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }
    pub fn i32(self, v: i32, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }
    pub fn f32(self, v: f32, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }
    pub fn f64(self, v: f64, error: &'static str) -> Self {
        self.put(&v.to_le_bytes(), error)
    }

    /// A packable hash table's header: the pair count and the maximum size,
    /// two u16 words checked as one four-byte read.
    pub fn hash_table_header(self, count: u16, max_size: u16, error: &'static str) -> Self {
        let mut bytes = count.to_le_bytes().to_vec();
        bytes.extend(max_size.to_le_bytes());
        self.put(&bytes, error)
    }

    /// A string16 of one-byte characters: u16 count, body, zero padding to a
    /// multiple of four counted from the field's own start.
    pub fn string16(mut self, body: &[u8]) -> Self {
        let n = u16::try_from(body.len()).expect("string16 body too long");
        let used = 2 + body.len();
        let pad = (4 - used % 4) % 4;
        let start = self.bytes.len();
        self.bytes.extend(n.to_le_bytes());
        self.bytes.extend_from_slice(body);
        self.bytes.extend(std::iter::repeat(0u8).take(pad));
        self.starts.extend(std::iter::repeat(start).take(used + pad));
        for i in 0..used + pad {
            self.errors.push(match i {
                0 | 1 => "truncated string16 length",
                _ if i < used => "truncated string16 body",
                _ => "truncated string16 padding",
            });
        }
        self
    }

    /// A wstring with the one-byte count form (fewer than 128 code units).
    pub fn wstring(mut self, text: &str) -> Self {
        let units: Vec<u16> = text.encode_utf16().collect();
        self.starts
            .extend(std::iter::repeat(self.bytes.len()).take(1 + 2 * units.len()));
        self.bytes.push(
            u8::try_from(units.len())
                .ok()
                .filter(|&n| n < 0x80)
                .expect("wstring too long"),
        );
        self.errors.push("truncated wstring length");
        for u in units {
            self.bytes.extend(u.to_le_bytes());
            self.errors.extend(["truncated wstring body"; 2]);
        }
        self
    }

    /// A packed dword: two bytes below 0x8000, else the high word (flagged
    /// with 0x8000) then the low word.
    pub fn packed(self, v: u32) -> Self {
        const E: &str = "truncated packed dword";
        assert!(v <= 0x7FFF_FFFF, "packed dword out of range");
        if v < 0x8000 {
            self.u16(v as u16, E)
        } else {
            let mut bytes = ((v >> 16) as u16 | 0x8000).to_le_bytes().to_vec();
            bytes.extend((v as u16).to_le_bytes());
            self.put(&bytes, E)
        }
    }

    /// Appends another builder's bytes and errors.
    pub fn then(mut self, other: Wire) -> Self {
        let shift = self.bytes.len();
        self.bytes.extend(other.bytes);
        self.errors.extend(other.errors);
        self.starts.extend(other.starts.iter().map(|s| s + shift));
        self
    }
}

/// Decodes `bytes` from cursor `start`, returning the value and the cursor.
pub fn decode_at<T>(
    decode: Decoder<T>,
    bytes: &[u8],
    start: usize,
) -> Result<(T, usize), &'static str> {
    let mut offset = start;
    decode(bytes, &mut offset).map(|v| (v, offset))
}

/// Decodes a well-formed message and returns its value, after checking that
/// the decoder stops exactly at the message's end, also when more bytes follow.
pub fn decode_all<T: Debug + PartialEq>(decode: Decoder<T>, wire: &Wire) -> T {
    let (value, end) = decode_at(decode, &wire.bytes, 0)
        .unwrap_or_else(|e| panic!("decoding {:02X?} failed: {e}", wire.bytes));
    assert_eq!(end, wire.len(), "cursor after {:02X?}", wire.bytes);
    let mut longer = wire.bytes.clone();
    longer.extend([0xA5; 9]);
    let (again, end) = decode_at(decode, &longer, 0).expect("decoding with trailing bytes failed");
    assert_eq!(
        end,
        wire.len(),
        "cursor with trailing bytes after {:02X?}",
        wire.bytes
    );
    assert_eq!(again, value, "trailing bytes changed the value");
    value
}

/// The error of decoding `bytes` from cursor 0.
pub fn decode_err<T: Debug>(decode: Decoder<T>, bytes: &[u8]) -> &'static str {
    match decode_at(decode, bytes, 0) {
        Ok((v, end)) => panic!("{bytes:02X?} decoded to {v:?} (cursor {end}), expected an error"),
        Err(e) => e,
    }
}

/// Every strict prefix of the message fails with the error recorded for the
/// first missing byte, the decoder's cursor left where the failing read
/// begins.
pub fn assert_truncations<T: Debug>(decode: Decoder<T>, wire: &Wire) {
    for cut in 0..wire.len() {
        let mut offset = 0;
        let got = decode(&wire.bytes[..cut], &mut offset);
        assert_eq!(
            got.as_ref().err(),
            Some(&wire.errors[cut]),
            "input cut after {cut} of {} bytes {:02X?}; got {got:?}",
            wire.len(),
            wire.bytes
        );
        assert_eq!(
            offset,
            wire.starts[cut],
            "cursor after the error {} at cut {cut} of {:02X?}",
            wire.errors[cut],
            wire.bytes
        );
    }
}

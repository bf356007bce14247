//! The variable-width wire readers the generated decoders call. Each takes
//! the message bytes and a cursor, decodes one value at the cursor and
//! advances the cursor past it; on failure it returns a short static error
//! text and leaves the cursor where it was, and it never panics, whatever the
//! bytes and whatever the cursor (even past the end of `data`).

/// The `n` bytes of `data` starting at `at`, or `None` when they run past the
/// end (or `at + n` overflows).
pub(crate) fn bytes_at(data: &[u8], at: usize, n: usize) -> Option<&[u8]> {
    data.get(at..at.checked_add(n)?)
}

fn u16_le_at(data: &[u8], at: usize) -> Option<u16> {
    bytes_at(data, at, 2).map(|b| u16::from_le_bytes([b[0], b[1]]))
}

/// Code points of the bytes 0x80..=0x9F in Windows-1252. The five bytes the
/// code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
/// control characters of the same value, so every byte decodes to something.
pub(crate) const CP1252_HIGH: [char; 32] = [
    '\u{20AC}', '\u{0081}', '\u{201A}', '\u{0192}', '\u{201E}', '\u{2026}', '\u{2020}',
    '\u{2021}', //
    '\u{02C6}', '\u{2030}', '\u{0160}', '\u{2039}', '\u{0152}', '\u{008D}', '\u{017D}',
    '\u{008F}', //
    '\u{0090}', '\u{2018}', '\u{2019}', '\u{201C}', '\u{201D}', '\u{2022}', '\u{2013}',
    '\u{2014}', //
    '\u{02DC}', '\u{2122}', '\u{0161}', '\u{203A}', '\u{0153}', '\u{009D}', '\u{017E}',
    '\u{0178}', //
];

/// Decodes one Windows-1252 byte. Bytes outside 0x80..=0x9F share their
/// value with their code point (ASCII and the Latin-1 range 0xA0..=0xFF).
pub(crate) fn cp1252_char(byte: u8) -> char {
    match byte {
        0x80..=0x9F => CP1252_HIGH[usize::from(byte - 0x80)],
        _ => char::from(byte),
    }
}

/// Reads a length-prefixed 8-bit string.
///
/// Wire format:
/// - a `u16` little-endian byte count `n`;
/// - `n` bytes of text in the Windows-1252 code page (one byte per
///   character; the bytes 0x80..=0x9F are the code page's punctuation and
///   letters, e.g. 0x80 is '€', and its five undefined bytes 0x81, 0x8D,
///   0x8F, 0x90, 0x9D decode to the C1 control characters U+0081 etc.);
/// - padding up to a multiple of four bytes, counted from the start of the
///   field (the two count bytes included). The padding bytes are skipped
///   whatever their value, but they must be present.
///
/// Examples (cursor at the first byte shown):
/// - `00 00 00 00` is "" (2 count bytes + 2 padding bytes), cursor +4;
/// - `02 00 68 69` is "hi" (no padding needed), cursor +4;
/// - `03 00 61 62 63 00 00 00` is "abc" (5 bytes + 3 padding), cursor +8;
/// - `01 00 80 00` is "€".
///
/// Errors: "truncated string16 length", "truncated string16 body",
/// "truncated string16 padding". On error the cursor is unchanged.
pub fn read_string16_le(data: &[u8], offset: &mut usize) -> Result<String, &'static str> {
    let start = *offset;
    let len = usize::from(u16_le_at(data, start).ok_or("truncated string16 length")?);
    // The count was read, so `start + 2` is within `data` and cannot overflow.
    let body = bytes_at(data, start + 2, len).ok_or("truncated string16 body")?;
    let used = 2 + len;
    let total = used + (4 - used % 4) % 4;
    bytes_at(data, start, total).ok_or("truncated string16 padding")?;
    let text = body.iter().copied().map(cp1252_char).collect();
    *offset = start + total;
    Ok(text)
}

/// Reads a length-prefixed UTF-16 string.
///
/// Wire format:
/// - a packed count of UTF-16 code units: one byte `b0` when its high bit is
///   clear (counts 0..=127); otherwise two bytes `b0 b1`, high part first,
///   giving `((b0 & 0x7F) << 8) | b1` (counts up to 32767). The two-byte form
///   is accepted for small counts too;
/// - that many code units, each a `u16` little-endian. There is no padding.
///
/// The units must form valid UTF-16: an unpaired surrogate is an error.
///
/// Examples (cursor at the first byte shown):
/// - `00` is "", cursor +1;
/// - `02 68 00 69 00` is "hi", cursor +5;
/// - `80 01 41 00` is "A" (two-byte count form), cursor +4;
/// - `81 00` followed by 256 code units is a 256-unit string;
/// - `02 3D D8 00 DE` is "😀" (the surrogate pair D83D DE00).
///
/// Errors: "truncated wstring length", "truncated wstring body",
/// "invalid UTF-16 in wstring". On error the cursor is unchanged.
pub fn read_wstring_le(data: &[u8], offset: &mut usize) -> Result<String, &'static str> {
    let start = *offset;
    let b0 = *data.get(start).ok_or("truncated wstring length")?;
    let (units, header) = if b0 & 0x80 == 0 {
        (usize::from(b0), 1)
    } else {
        // `start` indexes a byte, so `start + 1` cannot overflow.
        let b1 = *data.get(start + 1).ok_or("truncated wstring length")?;
        ((usize::from(b0 & 0x7F) << 8) | usize::from(b1), 2)
    };
    let body = bytes_at(data, start + header, units * 2).ok_or("truncated wstring body")?;
    let code_units = body
        .chunks_exact(2)
        .map(|u| u16::from_le_bytes([u[0], u[1]]));
    let text = char::decode_utf16(code_units)
        .collect::<Result<String, _>>()
        .map_err(|_| "invalid UTF-16 in wstring")?;
    *offset = start + header + units * 2;
    Ok(text)
}

/// Reads a packed 32-bit value of two or four bytes.
///
/// Wire format: a `u16` little-endian word `w`. When `w & 0x8000` is clear,
/// the value is `w` and two bytes are used (values 0..=0x7FFF). Otherwise a
/// second `u16` little-endian word `w2` follows and the value is
/// `((w & 0x7FFF) << 16) | w2`, four bytes in all (values up to 0x7FFF_FFFF).
///
/// Examples (cursor at the first byte shown):
/// - `34 12` is 0x1234, cursor +2;
/// - `FF 7F` is 0x7FFF;
/// - `01 80 78 56` is 0x0001_5678, cursor +4;
/// - `00 80 00 80` is 0x8000.
///
/// Error: "truncated packed dword". On error the cursor is unchanged.
pub fn read_packed_dword(data: &[u8], offset: &mut usize) -> Result<u32, &'static str> {
    let start = *offset;
    let w = u16_le_at(data, start).ok_or("truncated packed dword")?;
    if w & 0x8000 == 0 {
        *offset = start + 2;
        return Ok(u32::from(w));
    }
    let w2 = u16_le_at(data, start + 2).ok_or("truncated packed dword")?;
    *offset = start + 4;
    Ok((u32::from(w & 0x7FFF) << 16) | u32::from(w2))
}

#[cfg(test)]
mod tests {
    use super::*;

    type Reader<T> = fn(&[u8], &mut usize) -> Result<T, &'static str>;

    /// Runs a reader on `bytes` at cursor 0 and returns the value and the new
    /// cursor, or the error after checking the cursor did not move.
    fn run<T>(reader: Reader<T>, bytes: &[u8]) -> Result<(T, usize), &'static str> {
        let mut offset = 0;
        match reader(bytes, &mut offset) {
            Ok(v) => Ok((v, offset)),
            Err(e) => {
                assert_eq!(offset, 0, "cursor moved on error {e:?} for {bytes:02X?}");
                Err(e)
            }
        }
    }

    /// Every strict prefix of a well-formed encoding must fail without moving
    /// the cursor, with the error expected for how far it gets.
    fn assert_every_prefix_fails<T: std::fmt::Debug>(
        reader: Reader<T>,
        bytes: &[u8],
        error_at: impl Fn(usize) -> &'static str,
    ) {
        for cut in 0..bytes.len() {
            assert_eq!(
                run(reader, &bytes[..cut]).map(|(v, _)| v).unwrap_err(),
                error_at(cut),
                "prefix of {cut} bytes of {bytes:02X?}"
            );
        }
    }

    #[test]
    fn string16_decodes_and_pads_from_field_start() {
        let cases: &[(&[u8], &str, usize)] = &[
            (&[0x00, 0x00, 0x00, 0x00], "", 4),
            (&[0x01, 0x00, b'a', 0x00], "a", 4),
            (&[0x02, 0x00, b'h', b'i'], "hi", 4),
            (&[0x03, 0x00, b'a', b'b', b'c', 0, 0, 0], "abc", 8),
            (
                &[0x06, 0x00, b'a', b'b', b'c', b'd', b'e', b'f'],
                "abcdef",
                8,
            ),
            (
                &[
                    0x07, 0x00, b'a', b'b', b'c', b'd', b'e', b'f', b'g', 0xEE, 0xEE, 0xEE,
                ],
                "abcdefg",
                12,
            ),
            // Trailing bytes after the field are left for the next reader.
            (&[0x02, 0x00, b'o', b'k', 0xAA, 0xBB], "ok", 4),
        ];
        for &(bytes, text, next) in cases {
            assert_eq!(
                run(read_string16_le, bytes),
                Ok((text.to_string(), next)),
                "{bytes:02X?}"
            );
        }
    }

    #[test]
    fn string16_padding_is_relative_to_the_cursor_not_the_buffer() {
        // The field starts at offset 1: "abc" takes 2 + 3 bytes, padded to 8,
        // so the next field starts at 9 (not at 8, the next multiple of 4).
        let data = [0xFF, 0x03, 0x00, b'a', b'b', b'c', 0, 0, 0, 0x42];
        let mut offset = 1;
        assert_eq!(read_string16_le(&data, &mut offset).as_deref(), Ok("abc"));
        assert_eq!(offset, 9);
    }

    #[test]
    fn string16_decodes_windows_1252() {
        let cases: &[(u8, char)] = &[
            (0x41, 'A'),
            (0x7F, '\u{7F}'),
            (0x80, '€'),
            (0x81, '\u{81}'),
            (0x82, '‚'),
            (0x8A, 'Š'),
            (0x8D, '\u{8D}'),
            (0x8F, '\u{8F}'),
            (0x90, '\u{90}'),
            (0x91, '\u{2018}'),
            (0x97, '—'),
            (0x99, '™'),
            (0x9D, '\u{9D}'),
            (0x9F, 'Ÿ'),
            (0xA0, '\u{A0}'),
            (0xE9, 'é'),
            (0xFF, 'ÿ'),
        ];
        for &(byte, expected) in cases {
            let bytes = [0x01, 0x00, byte, 0x00];
            assert_eq!(
                run(read_string16_le, &bytes),
                Ok((expected.to_string(), 4)),
                "byte {byte:#04X}"
            );
        }
        // Every byte decodes to exactly one character, distinct from all others.
        let all: Vec<u8> = (0..=255u8).collect();
        let mut bytes = vec![0x00, 0x01];
        bytes.extend(&all);
        bytes.extend([0, 0]);
        let (text, next) = run(read_string16_le, &bytes).unwrap();
        assert_eq!(next, 260);
        let mut chars: Vec<char> = text.chars().collect();
        assert_eq!(chars.len(), 256);
        chars.sort_unstable();
        chars.dedup();
        assert_eq!(chars.len(), 256);
    }

    #[test]
    fn string16_truncated_at_every_byte() {
        let encoded = [0x03, 0x00, b'a', b'b', b'c', 0, 0, 0];
        assert_every_prefix_fails(read_string16_le, &encoded, |cut| match cut {
            0 | 1 => "truncated string16 length",
            2..=4 => "truncated string16 body",
            _ => "truncated string16 padding",
        });
        // The largest count: the body check must not be fooled by a big length.
        let mut big = vec![0xFF, 0xFF];
        big.resize(2 + 0xFFFF, b'x');
        assert_eq!(
            run(read_string16_le, &big).unwrap_err(),
            "truncated string16 padding"
        );
        big.extend([0, 0]);
        assert_eq!(
            run(read_string16_le, &big).unwrap_err(),
            "truncated string16 padding"
        );
        big.push(0);
        let (text, next) = run(read_string16_le, &big).unwrap();
        assert_eq!((text.len(), next), (0xFFFF, 0x10004));
    }

    #[test]
    fn wstring_decodes_both_count_forms() {
        let cases: &[(&[u8], &str, usize)] = &[
            (&[0x00], "", 1),
            (&[0x02, b'h', 0x00, b'i', 0x00], "hi", 5),
            (&[0x80, 0x00], "", 2),
            (&[0x80, 0x01, b'A', 0x00], "A", 4),
            (&[0x01, 0xE9, 0x00], "é", 3),
            (&[0x01, 0xAC, 0x20], "€", 3),
            (&[0x02, 0x3D, 0xD8, 0x00, 0xDE], "😀", 5),
            // No padding: the byte after the last unit is the next field's.
            (&[0x01, b'z', 0x00, 0x99], "z", 3),
        ];
        for &(bytes, text, next) in cases {
            assert_eq!(
                run(read_wstring_le, bytes),
                Ok((text.to_string(), next)),
                "{bytes:02X?}"
            );
        }
    }

    #[test]
    fn wstring_count_boundaries() {
        // (count bytes, units): the largest one-byte count, the smallest
        // counts that need the high part, and the largest count.
        let cases: &[(&[u8], usize)] = &[
            (&[0x7F], 0x7F),
            (&[0x80, 0x80], 0x80),
            (&[0x81, 0x00], 0x100),
            (&[0xFF, 0xFF], 0x7FFF),
        ];
        for &(count, units) in cases {
            let mut bytes = count.to_vec();
            for _ in 0..units {
                bytes.extend([b'w', 0x00]);
            }
            let (text, next) = run(read_wstring_le, &bytes).unwrap();
            assert_eq!(text, "w".repeat(units), "count {count:02X?}");
            assert_eq!(next, bytes.len());
            bytes.pop();
            assert_eq!(
                run(read_wstring_le, &bytes).unwrap_err(),
                "truncated wstring body",
                "count {count:02X?}"
            );
        }
    }

    #[test]
    fn wstring_rejects_invalid_utf16() {
        let cases: &[&[u8]] = &[
            &[0x01, 0x3D, 0xD8],             // lone high surrogate
            &[0x01, 0x00, 0xDE],             // lone low surrogate
            &[0x02, 0x00, 0xDE, 0x3D, 0xD8], // pair in the wrong order
            &[0x02, 0x3D, 0xD8, b'a', 0x00], // high surrogate before a plain unit
        ];
        for &bytes in cases {
            assert_eq!(
                run(read_wstring_le, bytes).unwrap_err(),
                "invalid UTF-16 in wstring",
                "{bytes:02X?}"
            );
        }
    }

    #[test]
    fn wstring_truncated_at_every_byte() {
        let one_byte_count = [0x02, b'h', 0x00, b'i', 0x00];
        assert_every_prefix_fails(read_wstring_le, &one_byte_count, |cut| {
            if cut == 0 {
                "truncated wstring length"
            } else {
                "truncated wstring body"
            }
        });
        let two_byte_count = [0x80, 0x02, b'h', 0x00, b'i', 0x00];
        assert_every_prefix_fails(read_wstring_le, &two_byte_count, |cut| {
            if cut < 2 {
                "truncated wstring length"
            } else {
                "truncated wstring body"
            }
        });
    }

    #[test]
    fn packed_dword_forms_and_boundaries() {
        let cases: &[(&[u8], u32, usize)] = &[
            (&[0x00, 0x00], 0, 2),
            (&[0x34, 0x12], 0x1234, 2),
            (&[0xFF, 0x7F], 0x7FFF, 2),
            (&[0x00, 0x80, 0x00, 0x00], 0, 4),
            (&[0x00, 0x80, 0x00, 0x80], 0x8000, 4),
            (&[0x01, 0x80, 0x78, 0x56], 0x0001_5678, 4),
            (&[0x34, 0x92, 0x78, 0x56], 0x1234_5678, 4),
            (&[0xFF, 0xFF, 0xFF, 0xFF], 0x7FFF_FFFF, 4),
            // Bytes after the value are the next field's.
            (&[0x05, 0x00, 0xFF, 0xFF], 5, 2),
        ];
        for &(bytes, value, next) in cases {
            assert_eq!(
                run(read_packed_dword, bytes),
                Ok((value, next)),
                "{bytes:02X?}"
            );
        }
    }

    #[test]
    fn packed_dword_truncated_at_every_byte() {
        assert_every_prefix_fails(read_packed_dword, &[0x34, 0x12], |_| {
            "truncated packed dword"
        });
        assert_every_prefix_fails(read_packed_dword, &[0x01, 0x80, 0x78, 0x56], |_| {
            "truncated packed dword"
        });
    }

    #[test]
    fn readers_fail_cleanly_with_cursor_at_or_past_the_end() {
        let data = [0x01, 0x00, 0x41, 0x00];
        for start in [4, 5, usize::MAX - 1, usize::MAX] {
            let mut offset = start;
            assert!(read_string16_le(&data, &mut offset).is_err());
            assert!(read_wstring_le(&data, &mut offset).is_err());
            assert!(read_packed_dword(&data, &mut offset).is_err());
            assert_eq!(offset, start);
        }
    }

    #[test]
    fn readers_chain_through_one_buffer() {
        let data = [
            0x01, 0x00, b'x', 0x00, // string16 "x"
            0x01, 0x80, 0x00, 0x00, // packed 0x10000
            0x01, b'y', 0x00, // wstring "y"
            0x07, 0x00, // packed 7
        ];
        let mut offset = 0;
        assert_eq!(read_string16_le(&data, &mut offset).as_deref(), Ok("x"));
        assert_eq!(read_packed_dword(&data, &mut offset), Ok(0x10000));
        assert_eq!(read_wstring_le(&data, &mut offset).as_deref(), Ok("y"));
        assert_eq!(read_packed_dword(&data, &mut offset), Ok(7));
        assert_eq!(offset, data.len());
    }
}

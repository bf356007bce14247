//! What the generated encoders call: the checks of what a layout takes from
//! earlier members, the errors that name both, and the wire writers with
//! their errors attached. Each is one plain function, so that every encoder
//! holds only a call where it checks or writes; the errors are built out of
//! line, since encoding seldom fails.

use super::EncodeError;

/// Scalars in their little-endian wire form: one call where the
/// encoders write a number.
macro_rules! scalar_writers {
    ($($ty:ident),*) => {$(
        pub fn $ty(out: &mut Vec<u8>, value: $ty) {
            out.extend_from_slice(&value.to_le_bytes());
        }
    )*};
}
scalar_writers!(u8, u16, u32, u64, i16, i32, i64, f32, f64);

/// A wire boolean: four bytes, 1 for true (any non-zero word reads as
/// true).
pub fn bool(out: &mut Vec<u8>, value: bool) {
    out.extend_from_slice(&u32::from(value).to_le_bytes());
}

/// Takes back what a failed encode appended after `start`.
pub fn finish(out: &mut Vec<u8>, start: usize, result: Result<(), EncodeError>) -> Result<(), EncodeError> {
    if result.is_err() {
        out.truncate(start);
    }
    result
}

#[cold]
#[inline(never)]
fn error(type_name: &'static str, member: &'static str, problem: String) -> EncodeError {
    EncodeError {
        type_name,
        member,
        problem,
    }
}

#[cold]
#[inline(never)]
fn count_error(
    type_name: &'static str,
    member: &'static str,
    held: usize,
    items: &str,
    length: &str,
    gives: usize,
) -> EncodeError {
    error(
        type_name,
        member,
        format!("holds {held} {items} but its length {length} gives {gives}"),
    )
}

/// A vector must hold as many elements as its length expression gives.
pub fn vector_len(
    type_name: &'static str,
    member: &'static str,
    held: usize,
    length: &'static str,
    gives: usize,
) -> Result<(), EncodeError> {
    if held == gives {
        return Ok(());
    }
    Err(count_error(type_name, member, held, "elements", length, gives))
}

/// A table must hold as many entries as its length expression gives.
pub fn table_len(
    type_name: &'static str,
    member: &'static str,
    held: usize,
    length: &'static str,
    gives: usize,
) -> Result<(), EncodeError> {
    if held == gives {
        return Ok(());
    }
    Err(count_error(type_name, member, held, "entries", length, gives))
}

/// An option of an `<if>` branch that the test selects, yet absent.
#[cold]
#[inline(never)]
pub fn absent_despite_test(type_name: &'static str, member: &'static str, test: &str, holds: bool) -> EncodeError {
    let verdict = if holds { "holds" } else { "fails" };
    error(type_name, member, format!("absent although the test `{test}` {verdict}"))
}

/// An option of the `<if>` branch the test does not select, yet present.
#[cold]
#[inline(never)]
pub fn present_despite_test(type_name: &'static str, member: &'static str, test: &str, holds: bool) -> EncodeError {
    let verdict = if holds { "holds" } else { "fails" };
    error(type_name, member, format!("present although the test `{test}` {verdict}"))
}

/// An option of a mask group whose mask is set, yet absent.
#[cold]
#[inline(never)]
pub fn absent_despite_mask(type_name: &'static str, member: &'static str, mask: &str, parent: &str) -> EncodeError {
    error(type_name, member, format!("absent although mask {mask} of `{parent}` selects it"))
}

/// An option of a mask group whose mask is clear, yet present.
#[cold]
#[inline(never)]
pub fn present_despite_mask(type_name: &'static str, member: &'static str, mask: &str, parent: &str) -> EncodeError {
    error(
        type_name,
        member,
        format!("present although mask {mask} of `{parent}` does not select it"),
    )
}

/// A switch holding another variant than its discriminator selects.
#[cold]
#[inline(never)]
pub fn variant_despite_discriminator(
    type_name: &'static str,
    member: &'static str,
    variant: &str,
    discriminator: &str,
    value: i128,
) -> EncodeError {
    error(
        type_name,
        member,
        format!("holds variant {variant} but the discriminator {discriminator} is {value}"),
    )
}

#[cold]
#[inline(never)]
fn wire_error(type_name: &'static str, member: &'static str, problem: &'static str) -> EncodeError {
    error(type_name, member, problem.to_string())
}

/// [`super::write_string16_le`], its error naming the member.
pub fn string16(
    out: &mut Vec<u8>,
    text: &str,
    type_name: &'static str,
    member: &'static str,
) -> Result<(), EncodeError> {
    super::write_string16_le(text, out).map_err(|e| wire_error(type_name, member, e))
}

/// [`super::write_wstring_le`], its error naming the member.
pub fn wstring(
    out: &mut Vec<u8>,
    text: &str,
    type_name: &'static str,
    member: &'static str,
) -> Result<(), EncodeError> {
    super::write_wstring_le(text, out).map_err(|e| wire_error(type_name, member, e))
}

/// [`super::write_packed_dword`], its error naming the member.
pub fn packed_dword(
    out: &mut Vec<u8>,
    value: u32,
    type_name: &'static str,
    member: &'static str,
) -> Result<(), EncodeError> {
    super::write_packed_dword(value, out).map_err(|e| wire_error(type_name, member, e))
}

/// A packable list's header: the item count as a u32.
pub fn list_header(
    out: &mut Vec<u8>,
    type_name: &'static str,
    member: &'static str,
    items: usize,
) -> Result<(), EncodeError> {
    let count = u32::try_from(items)
        .map_err(|_| wire_error(type_name, member, "more than 4294967295 items for a PackableList count"))?;
    out.extend_from_slice(&count.to_le_bytes());
    Ok(())
}

/// A packable hash table's header: the pair count as a u16, then a zero
/// u16 for the maximum size, which readers ignore.
pub fn hash_table_header(
    out: &mut Vec<u8>,
    type_name: &'static str,
    member: &'static str,
    pairs: usize,
) -> Result<(), EncodeError> {
    let count = u16::try_from(pairs)
        .map_err(|_| wire_error(type_name, member, "more than 65535 pairs for a PackableHashTable count"))?;
    out.extend_from_slice(&count.to_le_bytes());
    out.extend_from_slice(&[0, 0]);
    Ok(())
}

/// A P-hash table's header: the pair count in the low 24 bits of a u32,
/// whose high byte, which readers ignore, is zero.
pub fn p_hash_table_header(
    out: &mut Vec<u8>,
    type_name: &'static str,
    member: &'static str,
    pairs: usize,
) -> Result<(), EncodeError> {
    if pairs > 0xFF_FFFF {
        return Err(wire_error(
            type_name,
            member,
            "more than 16777215 pairs for a PHashTable packed size",
        ));
    }
    out.extend_from_slice(&(pairs as u32).to_le_bytes());
    Ok(())
}

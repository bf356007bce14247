//! Why decoding through the dispatch enums fails, and how the generated
//! dispatch code builds those failures.

use super::{dispatch, lookup_opcode, Kind};

/// Why a message could not be decoded through [`dispatch`].
#[derive(Debug, Clone, PartialEq, Eq, Hash)]
pub enum DecodeError {
    /// protocol.xml has no message with this opcode in this section.
    UnknownOpcode { kind: Kind, opcode: u32 },
    /// protocol.xml has one, but this build could not generate it; `reason`
    /// is the reason its `// SKIPPED` line gives.
    Skipped {
        kind: Kind,
        opcode: u32,
        name: &'static str,
        reason: &'static str,
    },
    /// The message's decoder refused the bytes with `error`, at byte `at`
    /// of the `len` bytes from the message's first byte to the end of the
    /// data (where its cursor stood when it gave up: the start of the read
    /// that failed). The cursor did not move.
    Malformed {
        kind: Kind,
        opcode: u32,
        name: &'static str,
        error: &'static str,
        at: usize,
        len: usize,
    },
    /// The message used `used` of the `len` bytes it was given, and had to
    /// use them all.
    TrailingBytes {
        kind: Kind,
        opcode: u32,
        name: &'static str,
        used: usize,
        len: usize,
    },
    /// A frame began with only `len` bytes left, too few for its 4-byte
    /// opcode. The cursor did not move.
    TruncatedFrame { kind: Kind, len: usize },
}

impl DecodeError {
    /// The error for an opcode that no generated message of `kind` has:
    /// `Skipped` with the first skipped message of that opcode, else
    /// `UnknownOpcode`.
    pub(crate) fn not_generated(kind: Kind, opcode: u32) -> Self {
        dispatch::SKIPPED
            .iter()
            .find(|item| item.kind == Some(kind) && item.opcode == Some(opcode))
            .map_or(DecodeError::UnknownOpcode { kind, opcode }, |item| {
                DecodeError::Skipped {
                    kind,
                    opcode,
                    name: item.name,
                    reason: item.reason,
                }
            })
    }

    /// The error of the decoder that `decode` chose for `opcode`: the first
    /// struct of that opcode in the section, which is also the first row of
    /// the opcode index.
    pub(crate) fn malformed(kind: Kind, opcode: u32, error: &'static str, at: usize, len: usize) -> Self {
        DecodeError::Malformed {
            kind,
            opcode,
            name: lookup_opcode(opcode, kind).unwrap_or(""),
            error,
            at,
            len,
        }
    }
}

impl std::fmt::Display for DecodeError {
    fn fmt(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
        match self {
            DecodeError::UnknownOpcode { kind, opcode } => {
                write!(f, "{kind} {opcode:#06X}: no such message in protocol.xml")
            }
            DecodeError::Skipped {
                kind,
                opcode,
                name,
                reason,
            } => write!(f, "{kind} {opcode:#06X} {name}: not generated: {reason}"),
            DecodeError::Malformed {
                kind,
                opcode,
                name,
                error,
                at,
                len,
            } => write!(f, "{kind} {opcode:#06X} {name}: {error} at byte {at} of {len}"),
            DecodeError::TrailingBytes {
                kind,
                opcode,
                name,
                used,
                len,
            } => write!(
                f,
                "{kind} {opcode:#06X} {name}: {} trailing bytes (the message used {used} of {len})",
                len.saturating_sub(*used)
            ),
            DecodeError::TruncatedFrame { kind, len } => write!(
                f,
                "{kind}: truncated frame: {len} bytes left, too few for its 4-byte opcode"
            ),
        }
    }
}

impl std::error::Error for DecodeError {}

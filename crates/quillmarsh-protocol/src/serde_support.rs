//! Serialize and Deserialize (the `serde` feature): the impls of the crate's
//! own types, and the helpers the generated impls in `serde_generated.rs`
//! call, so that each generated impl holds little more than its names.
//!
//! Every generated struct is a map of its members, keyed by their Rust names
//! (without `r#`), in declaration order; every protocol enum is its
//! variant's name; switch enums, the section enums and [`AnyMessage`] are
//! externally tagged (`{"Variant": ...}`, a unit variant as its name).
//! Reading is strict: a missing, unknown or repeated member, and a name that
//! is no variant, are errors that name it and the type.

use std::fmt;

use serde::de::{self, DeserializeSeed, Deserializer, EnumAccess, MapAccess, VariantAccess, Visitor};
use serde::ser::{SerializeStruct, Serializer};
use serde::{Deserialize, Serialize};

use super::typed::AnyMessage;
use super::{Kind, SkippedItem};

/// A member's name read as a key: its index among the type's members.
pub struct Member {
    pub type_name: &'static str,
    pub members: &'static [&'static str],
}

/// A variant's name read as a key: its index among the type's variants.
pub struct Variant {
    pub type_name: &'static str,
    pub variants: &'static [&'static str],
}

/// What a name is looked up among, for the error when it is none of them.
struct Names {
    what: &'static str,
    type_name: &'static str,
    names: &'static [&'static str],
}

impl Names {
    fn find<E: de::Error>(&self, name: &str) -> Result<usize, E> {
        match self.names.iter().position(|n| *n == name) {
            Some(i) => Ok(i),
            None => Err(unknown(self.what, name, self.type_name, self.names)),
        }
    }
}

#[cold]
fn unknown<E: de::Error>(what: &str, name: &str, type_name: &str, names: &[&str]) -> E {
    E::custom(format_args!(
        "unknown {what} `{name}` of {type_name}, expected {}",
        OneOf(names)
    ))
}

/// "one of `a`, `b`", or "no name at all".
struct OneOf<'a>(&'a [&'a str]);

impl fmt::Display for OneOf<'_> {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        if self.0.is_empty() {
            return f.write_str("none (it has no member)");
        }
        f.write_str("one of ")?;
        for (i, name) in self.0.iter().enumerate() {
            if i != 0 {
                f.write_str(", ")?;
            }
            write!(f, "`{name}`")?;
        }
        Ok(())
    }
}

impl<'de> Visitor<'de> for Names {
    type Value = usize;

    fn expecting(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        write!(f, "the name of a {} of {}", self.what, self.type_name)
    }

    fn visit_str<E: de::Error>(self, name: &str) -> Result<usize, E> {
        self.find(name)
    }

    fn visit_bytes<E: de::Error>(self, name: &[u8]) -> Result<usize, E> {
        match std::str::from_utf8(name) {
            Ok(name) => self.find(name),
            Err(_) => Err(E::invalid_value(de::Unexpected::Bytes(name), &self)),
        }
    }
}

impl<'de> DeserializeSeed<'de> for Member {
    type Value = usize;

    fn deserialize<D: Deserializer<'de>>(self, deserializer: D) -> Result<usize, D::Error> {
        deserializer.deserialize_identifier(Names {
            what: "member",
            type_name: self.type_name,
            names: self.members,
        })
    }
}

impl<'de> DeserializeSeed<'de> for Variant {
    type Value = usize;

    fn deserialize<D: Deserializer<'de>>(self, deserializer: D) -> Result<usize, D::Error> {
        deserializer.deserialize_identifier(Names {
            what: "variant",
            type_name: self.type_name,
            names: self.variants,
        })
    }
}

/// Reads the value of member `index` into its slot; a member given twice is
/// an error.
pub fn member<'de, A: MapAccess<'de>, T: Deserialize<'de>>(
    map: &mut A,
    slot: &mut Option<T>,
    type_name: &'static str,
    members: &'static [&'static str],
    index: usize,
) -> Result<(), A::Error> {
    if slot.is_some() {
        return Err(repeated(members[index], type_name));
    }
    *slot = Some(map.next_value()?);
    Ok(())
}

#[cold]
fn repeated<E: de::Error>(name: &str, type_name: &str) -> E {
    E::custom(format_args!("member `{name}` of {type_name} given twice"))
}

/// The error of a struct read without some member: names the first member
/// whose slot is still empty (`absent[i]` for member `i`).
#[cold]
pub fn absent<E: de::Error>(absent: &[bool], type_name: &'static str, members: &'static [&'static str]) -> E {
    let index = absent.iter().position(|a| *a).unwrap_or(0);
    missing(members[index], type_name)
}

#[cold]
fn missing<E: de::Error>(name: &str, type_name: &str) -> E {
    E::custom(format_args!("missing member `{name}` of {type_name}"))
}

/// The index of the variant named by a string, for the protocol enums.
pub fn variant_name<'de, D: Deserializer<'de>>(
    deserializer: D,
    type_name: &'static str,
    variants: &'static [&'static str],
) -> Result<usize, D::Error> {
    deserializer.deserialize_str(Names {
        what: "variant",
        type_name,
        names: variants,
    })
}

/// What a struct's visitor expects.
pub fn expecting_map(f: &mut fmt::Formatter<'_>, type_name: &str) -> fmt::Result {
    write!(f, "a map of the members of {type_name}")
}

/// What an externally tagged enum's visitor expects.
pub fn expecting_enum(f: &mut fmt::Formatter<'_>, type_name: &str) -> fmt::Result {
    write!(f, "a variant of {type_name}")
}

/// Reads the variant of an enum without variants (a section of protocol.xml
/// with no message): whatever its name, it names none.
#[allow(dead_code)]
pub fn no_variant<'de, A: EnumAccess<'de>, T>(data: A, type_name: &'static str) -> Result<T, A::Error> {
    let (index, _) = data.variant_seed(Variant {
        type_name,
        variants: &[],
    })?;
    // The seed finds no name among none, so this is never reached.
    Err(unknown("variant", &index.to_string(), type_name, &[]))
}

// ---- The crate's own types ---------------------------------------------------------

/// A section as its label ("messageC2S", ...).
impl Serialize for Kind {
    fn serialize<S: Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
        serializer.serialize_str(self.label())
    }
}

const KIND_LABELS: &[&str] = &["messageC2S", "messageS2C", "gameaction", "gameevent"];

impl<'de> Deserialize<'de> for Kind {
    fn deserialize<D: Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        let index = variant_name(deserializer, "Kind", KIND_LABELS)?;
        Ok(Kind::ALL[index])
    }
}

/// An item left out, for a log: its label, section, name, opcode and reason.
impl Serialize for SkippedItem {
    fn serialize<S: Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
        let mut s = serializer.serialize_struct("SkippedItem", 5)?;
        s.serialize_field("label", self.label)?;
        s.serialize_field("kind", &self.kind)?;
        s.serialize_field("name", self.name)?;
        s.serialize_field("opcode", &self.opcode)?;
        s.serialize_field("reason", self.reason)?;
        s.end()
    }
}

const ANY_VARIANTS: &[&str] = &["C2S", "S2C", "Action", "Event"];

/// The section's variant holding its section enum's value:
/// `{"S2C": {"Qualities_UpdateFloat": {...}}}`.
impl Serialize for AnyMessage {
    fn serialize<S: Serializer>(&self, serializer: S) -> Result<S::Ok, S::Error> {
        match self {
            AnyMessage::C2S(m) => serializer.serialize_newtype_variant("AnyMessage", 0, "C2S", m),
            AnyMessage::S2C(m) => serializer.serialize_newtype_variant("AnyMessage", 1, "S2C", m),
            AnyMessage::Action(m) => serializer.serialize_newtype_variant("AnyMessage", 2, "Action", m),
            AnyMessage::Event(m) => serializer.serialize_newtype_variant("AnyMessage", 3, "Event", m),
        }
    }
}

impl<'de> Deserialize<'de> for AnyMessage {
    fn deserialize<D: Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        struct Sections;
        impl<'de> Visitor<'de> for Sections {
            type Value = AnyMessage;
            fn expecting(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
                expecting_enum(f, "AnyMessage")
            }
            fn visit_enum<A: EnumAccess<'de>>(self, data: A) -> Result<AnyMessage, A::Error> {
                let (index, variant) = data.variant_seed(Variant {
                    type_name: "AnyMessage",
                    variants: ANY_VARIANTS,
                })?;
                Ok(match index {
                    0 => AnyMessage::C2S(variant.newtype_variant()?),
                    1 => AnyMessage::S2C(variant.newtype_variant()?),
                    2 => AnyMessage::Action(variant.newtype_variant()?),
                    _ => AnyMessage::Event(variant.newtype_variant()?),
                })
            }
        }
        deserializer.deserialize_enum("AnyMessage", ANY_VARIANTS, Sections)
    }
}

//! The JSON half of the property test's program, compiled in when the
//! generated code has its serde impls (`tools/property-test.sh --serde`).
//!
//! Every decoded value whose floats are all finite is written as JSON with
//! serde_json and read back: that must give an equal value, which must
//! encode to the same bytes as the value itself (so a sign of zero or a bit
//! of a float lost on the way shows even where `==` does not). serde_json
//! writes NaN and the infinities as `null`, which reads back as no float:
//! those values are counted apart, found by `all_finite`, a serializer that
//! only looks at the floats.

use std::fmt::{self, Debug, Display};

use serde::de::DeserializeOwned;
use serde::ser::{self, Serialize};

use super::fuzz::Json;

/// Writes `v` as JSON, reads it back and compares; `encode` writes a value's
/// bytes (or the error its encoder gives).
pub fn check<T: Serialize + DeserializeOwned + PartialEq + Debug>(
    v: &T,
    encode: fn(&T) -> Result<Vec<u8>, String>,
) -> Json {
    if !all_finite(v) {
        return Json::NonFinite;
    }
    let text = match serde_json::to_string(v) {
        Ok(text) => text,
        // serde_json before bool map keys: a table keyed by a bool.
        Err(e) if e.to_string() == "key must be a string" => return Json::KeyNotString,
        Err(e) => return Json::Failed(format!("{v:?} not written as JSON: {e}")),
    };
    let back: T = match serde_json::from_str(&text) {
        Ok(back) => back,
        Err(e) => return Json::Failed(format!("{text} not read back: {e}")),
    };
    if back != *v {
        return Json::Failed(format!("{text} read back as {back:?}"));
    }
    let (bytes, again) = (encode(v), encode(&back));
    if bytes != again {
        return Json::Failed(format!("{text}: the value encodes as {bytes:02X?}, read back as {again:02X?}"));
    }
    Json::Same
}

/// Whether every float in `v` is finite.
pub fn all_finite<T: Serialize>(v: &T) -> bool {
    v.serialize(Floats).is_ok()
}

/// The one error of `Floats`: a float that is not finite.
#[derive(Debug)]
pub struct NotFinite;

impl Display for NotFinite {
    fn fmt(&self, f: &mut fmt::Formatter<'_>) -> fmt::Result {
        f.write_str("a float is not finite")
    }
}

impl std::error::Error for NotFinite {}

impl ser::Error for NotFinite {
    fn custom<M: Display>(_: M) -> Self {
        NotFinite
    }
}

/// Walks a value, failing at the first float that is not finite.
pub struct Floats;

fn float(finite: bool) -> Result<(), NotFinite> {
    if finite {
        Ok(())
    } else {
        Err(NotFinite)
    }
}

macro_rules! ignore {
    ($($method:ident: $ty:ty),*) => {
        $(fn $method(self, _: $ty) -> Result<(), NotFinite> { Ok(()) })*
    };
}

impl ser::Serializer for Floats {
    type Ok = ();
    type Error = NotFinite;
    type SerializeSeq = Floats;
    type SerializeTuple = Floats;
    type SerializeTupleStruct = Floats;
    type SerializeTupleVariant = Floats;
    type SerializeMap = Floats;
    type SerializeStruct = Floats;
    type SerializeStructVariant = Floats;

    ignore!(serialize_bool: bool, serialize_i8: i8, serialize_i16: i16, serialize_i32: i32, serialize_i64: i64,
        serialize_u8: u8, serialize_u16: u16, serialize_u32: u32, serialize_u64: u64, serialize_char: char,
        serialize_str: &str, serialize_bytes: &[u8], serialize_unit_struct: &'static str);

    fn serialize_f32(self, v: f32) -> Result<(), NotFinite> {
        float(v.is_finite())
    }
    fn serialize_f64(self, v: f64) -> Result<(), NotFinite> {
        float(v.is_finite())
    }
    fn serialize_none(self) -> Result<(), NotFinite> {
        Ok(())
    }
    fn serialize_some<T: ?Sized + Serialize>(self, v: &T) -> Result<(), NotFinite> {
        v.serialize(Floats)
    }
    fn serialize_unit(self) -> Result<(), NotFinite> {
        Ok(())
    }
    fn serialize_unit_variant(self, _: &'static str, _: u32, _: &'static str) -> Result<(), NotFinite> {
        Ok(())
    }
    fn serialize_newtype_struct<T: ?Sized + Serialize>(self, _: &'static str, v: &T) -> Result<(), NotFinite> {
        v.serialize(Floats)
    }
    fn serialize_newtype_variant<T: ?Sized + Serialize>(
        self,
        _: &'static str,
        _: u32,
        _: &'static str,
        v: &T,
    ) -> Result<(), NotFinite> {
        v.serialize(Floats)
    }
    fn serialize_seq(self, _: Option<usize>) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_tuple(self, _: usize) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_tuple_struct(self, _: &'static str, _: usize) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_tuple_variant(self, _: &'static str, _: u32, _: &'static str, _: usize) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_map(self, _: Option<usize>) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_struct(self, _: &'static str, _: usize) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
    fn serialize_struct_variant(self, _: &'static str, _: u32, _: &'static str, _: usize) -> Result<Floats, NotFinite> {
        Ok(Floats)
    }
}

macro_rules! elements {
    ($($trait:ident: $method:ident),*) => {
        $(impl ser::$trait for Floats {
            type Ok = ();
            type Error = NotFinite;
            fn $method<T: ?Sized + Serialize>(&mut self, v: &T) -> Result<(), NotFinite> {
                v.serialize(Floats)
            }
            fn end(self) -> Result<(), NotFinite> {
                Ok(())
            }
        })*
    };
}

elements!(SerializeSeq: serialize_element, SerializeTuple: serialize_element,
    SerializeTupleStruct: serialize_field, SerializeTupleVariant: serialize_field);

macro_rules! fields {
    ($($trait:ident),*) => {
        $(impl ser::$trait for Floats {
            type Ok = ();
            type Error = NotFinite;
            fn serialize_field<T: ?Sized + Serialize>(&mut self, _: &'static str, v: &T) -> Result<(), NotFinite> {
                v.serialize(Floats)
            }
            fn end(self) -> Result<(), NotFinite> {
                Ok(())
            }
        })*
    };
}

fields!(SerializeStruct, SerializeStructVariant);

impl ser::SerializeMap for Floats {
    type Ok = ();
    type Error = NotFinite;
    fn serialize_key<T: ?Sized + Serialize>(&mut self, k: &T) -> Result<(), NotFinite> {
        k.serialize(Floats)
    }
    fn serialize_value<T: ?Sized + Serialize>(&mut self, v: &T) -> Result<(), NotFinite> {
        v.serialize(Floats)
    }
    fn end(self) -> Result<(), NotFinite> {
        Ok(())
    }
}

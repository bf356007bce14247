// Writing dispatch_generated.rs: trait impls, the section enums with their
// decoders by opcode, and the list of skipped items.

#include "structs/dispatch.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>

#include "text/text.hpp"

namespace qm {
namespace {

// One message section of the typed API.
struct Section {
  std::string_view label;      // the index label of its structs
  std::string_view enum_name;  // its enum in `dispatch`
  std::string_view kind;       // its `Kind` variant
  std::string_view banner;
  std::string_view what;  // its messages, for the documentation
};

constexpr std::array<Section, 4> kSections = {{
    {"messageC2S", "C2SMessage", "MessageC2S", "C2S MESSAGES", "A client-to-server message"},
    {"messageS2C", "S2CMessage", "MessageS2C", "S2C MESSAGES", "A server-to-client message"},
    {"gameaction", "GameAction", "GameAction", "GAMEACTIONS", "A game action (C2S inside 0xF7B1)"},
    {"gameevent", "GameEvent", "GameEvent", "GAMEEVENTS", "A game event (S2C inside 0xF7B0)"},
}};

// Items every section enum declares, which a variant of the same name would
// hide (`encode` and `write_framed` with the encode feature; reserved without
// it too, so that turning the feature on renames nothing).
constexpr std::array<std::string_view, 9> kEnumItems = {
    "decode", "decode_exact", "read_framed", "frames", "opcode", "name", "KIND", "encode", "write_framed"};

const Section* section_of(std::string_view label) {
  for (const Section& s : kSections) {
    if (s.label == label) return &s;
  }
  return nullptr;
}

std::string opcode_literal(std::uint32_t opcode) { return "0x" + to_hex_upper(opcode, 4); }

// The `Decode` impl of every struct, and the `Message` impl of every message
// with an opcode. The forwarding `read_from` is inline, so that only the
// impls a program calls are compiled, in that program.
void write_trait_impls(std::string& out, const WrittenStruct& item) {
  emit(out,
       R"(impl crate::Decode for crate::messages::$rust_name$ {
    #[inline]
    fn read_from(data: &[u8], offset: &mut usize) -> Result<Self, &'static str> {
        crate::messages::$rust_name$::read_from(data, offset)
    }
}

)",
       {{"rust_name", item.rust_name}});
  const Section* section = section_of(item.label);
  if (section == nullptr || !item.opcode) return;
  emit(out,
       R"(impl crate::Message for crate::messages::$rust_name$ {
    const KIND: crate::Kind = crate::Kind::$kind$;
    const OPCODE: u32 = $opcode$;
    const NAME: &'static str = $name$;
}

)",
       {{"rust_name", item.rust_name},
        {"kind", section->kind},
        {"opcode", opcode_literal(*item.opcode)},
        {"name", debug_str(item.name)}});
}

struct Variant {
  const WrittenStruct* item;
  std::string name;
  bool decoded;  // the first struct of its opcode, the one `decode` returns
};

// The variants of a section's enum: one per written struct of the section
// that has an opcode, in the order written.
std::vector<Variant> section_variants(const CodegenCtx& ctx, const Section& section) {
  std::vector<const WrittenStruct*> structs;
  for (const WrittenStruct& item : ctx.written) {
    if (item.label == section.label && item.opcode) structs.push_back(&item);
  }
  NameKeys rust_names;
  for (const WrittenStruct* item : structs) rust_names.insert(identifier_key(item->rust_name));
  // An opcode decodes to its first struct that the default tier wrote too,
  // else to its first recovered one: the extended feature adds structs to
  // opcodes that had none and never changes what an opcode decodes to, as
  // the opcode lookup (OPCODE_INDEX before EXTENDED_OPCODE_INDEX) says.
  std::set<std::uint32_t> opcodes;
  std::set<const WrittenStruct*> decoded;
  for (const bool recovered : {false, true}) {
    for (const WrittenStruct* item : structs) {
      if (item->recovered == recovered && opcodes.insert(*item->opcode).second) decoded.insert(item);
    }
  }
  std::vector<Variant> variants;
  for (const WrittenStruct* item : structs) {
    variants.push_back(Variant{item, dispatch_variant_name(*item, rust_names), decoded.count(item) != 0});
  }
  return variants;
}

void write_section(std::string& out, const Section& section, const std::vector<Variant>& variants) {
  // The enum's variants, and the arms of the matches in its methods.
  const Printer variant_line = Printer(out).in(1);
  const Printer arm = Printer(out).in(3);
  emit(out,
       R"(// === $banner$ ===

/// $what$ of protocol.xml, decoded by its opcode with `decode`.
#[derive(Debug, Clone, PartialEq)]
pub enum $enum$ {
)",
       {{"banner", section.banner}, {"what", section.what}, {"enum", section.enum_name}});
  for (const Variant& v : variants) {
    variant_line("$variant$(crate::messages::$rust_name$),\n", {{"variant", v.name}, {"rust_name", v.item->rust_name}});
  }
  emit(out,
       R"(}

impl $enum$ {
    /// The section of every message of this enum.
    pub const KIND: crate::Kind = crate::Kind::$kind$;

    /// Decodes the message with `opcode` from the bytes of `data` from
    /// `*offset` on, which are taken as the message (alignment padding counts
    /// from its first byte), and moves the cursor past it; on error the cursor
    /// stays where it was.
    pub fn decode(opcode: u32, data: &[u8], offset: &mut usize) -> Result<Self, crate::DecodeError> {
)",
       {{"enum", section.enum_name}, {"kind", section.kind}});
  if (variants.empty()) {
    out += R"(        let _ = (data, offset);
        Err(crate::DecodeError::not_generated(Self::KIND, opcode))
    }
)";
  } else {
    out += R"(        let message = crate::message_at(data, *offset);
        let mut at = 0;
        let decoded = match opcode {
)";
    for (const Variant& v : variants) {
      if (!v.decoded) continue;
      arm("$opcode$ => match crate::messages::$rust_name$::read_from(message, &mut at) { "
          "Ok(m) => Ok(Self::$variant$(m)), Err(e) => Err(e) },\n",
          {{"opcode", opcode_literal(*v.item->opcode)}, {"rust_name", v.item->rust_name}, {"variant", v.name}});
    }
    out += R"(            _ => return Err(crate::DecodeError::not_generated(Self::KIND, opcode)),
        };
        match decoded {
            Ok(decoded) => {
                *offset += at;
                Ok(decoded)
            }
            Err(error) => Err(crate::DecodeError::malformed(Self::KIND, opcode, error, at, message.len())),
        }
    }
)";
  }
  out += R"(
    /// Decodes the message with `opcode` from the whole of `data`: bytes left
    /// over after it are an error.
    pub fn decode_exact(opcode: u32, data: &[u8]) -> Result<Self, crate::DecodeError> {
        let mut offset = 0;
        let message = Self::decode(opcode, data, &mut offset)?;
        if offset == data.len() {
            return Ok(message);
        }
        Err(crate::DecodeError::TrailingBytes { kind: Self::KIND, opcode, name: message.name(), used: offset, len: data.len() })
    }

    /// Reads the framed message at `*offset` (its opcode as a little-endian
    /// u32, then its body) and moves the cursor past it; on error the cursor
    /// stays where it was.
    pub fn read_framed(data: &[u8], offset: &mut usize) -> Result<Self, crate::DecodeError> {
        let mut at = *offset;
        let opcode = crate::read_frame_opcode(Self::KIND, data, &mut at)?;
        let message = Self::decode(opcode, data, &mut at)?;
        *offset = at;
        Ok(message)
    }

    /// The framed messages of `data`, one after another from its first byte;
    /// the iteration ends at the end of `data`, or after the first error.
    pub fn frames(data: &[u8]) -> crate::Frames<'_, Self> {
        crate::Frames::new(data, Self::KIND, |_, data, offset| Self::read_framed(data, offset))
    }

    /// The wire opcode of this message.
    pub fn opcode(&self) -> u32 {
        match *self {
)";
  for (const Variant& v : variants) {
    arm("Self::$variant$(_) => $opcode$,\n", {{"variant", v.name}, {"opcode", opcode_literal(*v.item->opcode)}});
  }
  out += R"(        }
    }

    /// The bare protocol name of this message, as in `OPCODE_INDEX`.
    pub fn name(&self) -> &'static str {
        match *self {
)";
  for (const Variant& v : variants) {
    arm("Self::$variant$(_) => $name$,\n", {{"variant", v.name}, {"name", debug_str(v.item->name)}});
  }
  out += R"(        }
    }
}

)";
  for (const Variant& v : variants) {
    emit(out, R"(impl From<crate::messages::$rust_name$> for $enum$ {
    #[inline]
    fn from(message: crate::messages::$rust_name$) -> Self {
        Self::$variant$(message)
    }
}

)",
         {{"rust_name", v.item->rust_name}, {"enum", section.enum_name}, {"variant", v.name}});
  }
}

void write_skipped_list(std::string& out, const std::vector<SkippedItem>& skipped) {
  out += R"(// === SKIPPED ===

/// Every item of protocol.xml that was not generated, in file order, with the
/// reason its `// SKIPPED` line gives.
pub const SKIPPED: &[crate::SkippedItem] = &[
)";
  for (const SkippedItem& item : skipped) {
    const Section* section = section_of(item.label);
    const std::string kind = section ? "Some(crate::Kind::" + std::string(section->kind) + ")" : "None";
    Printer(out).in(1)(
        "crate::SkippedItem { label: $label$, kind: $kind$, name: $name$, opcode: $opcode$, reason: $reason$ },\n",
        {{"label", debug_str(item.label)},
         {"kind", kind},
         {"name", debug_str(item.name)},
         {"opcode", item.opcode ? "Some(" + opcode_literal(*item.opcode) + ")" : "None"},
         {"reason", debug_str(item.reason)}});
  }
  out += "];\n";
}

}  // namespace

std::string dispatch_variant_name(const WrittenStruct& item, const NameKeys& section_rust_names) {
  const auto usable = [&](std::string_view name) {
    if (!is_rust_identifier(name) || name.substr(0, 2) == "r#") return false;
    const std::string key = identifier_key(name);
    if (std::find(kEnumItems.begin(), kEnumItems.end(), key) != kEnumItems.end()) return false;
    return section_rust_names.count(key) == 0;
  };
  return usable(item.name) ? item.name : item.rust_name;
}

std::string write_dispatch_file(const CodegenCtx& ctx) {
  std::string path = ctx.protocol_path;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::string out;
  // About a quarter of the structs' text.
  out.reserve(ctx.out.size() / 4);
  emit(out,
       R"(// AUTOGENERATED from `Vellumite.BrenicProtocol/protocol.xml` by `build` — DO NOT EDIT BY HAND.
// Source: $path$
// The typed message API over messages_generated.rs, written by the same run:
// `Decode` and `Message` for its structs, one enum per message section that
// decodes a message by its opcode, and `SKIPPED`, what it left out.

// === TRAITS ===

)",
       {{"path", path}});
  for (const WrittenStruct& item : ctx.written) write_trait_impls(out, item);

  for (const Section& section : kSections) write_section(out, section, section_variants(ctx, section));
  write_skipped_list(out, ctx.skipped);
  return out;
}

void write_dispatch_encoders(const CodegenCtx& ctx, std::string& out) {
  for (const Section& section : kSections) {
    emit(out,
         R"(impl crate::dispatch::$enum$ {
    /// Encodes the body of this message (its opcode is `opcode()`), as its
    /// struct's `write_to` does: a message that starts at `out.len()`. On
    /// error `out` is left as it was.
    pub fn encode(&self, out: &mut Vec<u8>) -> Result<(), crate::EncodeError> {
)",
         {{"enum", section.enum_name}});
    // The body is written as part of a message that starts where `out`
    // ends; a failed write is taken back once, here.
    const std::vector<Variant> variants = section_variants(ctx, section);
    if (variants.empty()) {
      out += R"(        match *self {
        }
    }
)";
    } else {
      out += R"(        let start = out.len();
        let result = match *self {
)";
      for (const Variant& v : variants) {
        Printer(out).in(3)(
            "Self::$variant$(ref m) => <crate::messages::$rust_name$ as crate::Encode>::write_at(m, out, start),\n",
            {{"variant", v.name}, {"rust_name", v.item->rust_name}});
      }
      out += R"(        };
        crate::enc::finish(out, start, result)
    }
)";
    }
    out += R"(
    /// Appends this message framed: its opcode as a little-endian u32, then
    /// its body (alignment padding counts from the body's first byte). On
    /// error `out` is left as it was.
    pub fn write_framed(&self, out: &mut Vec<u8>) -> Result<(), crate::EncodeError> {
        let start = out.len();
        out.extend_from_slice(&self.opcode().to_le_bytes());
        let result = self.encode(out);
        crate::enc::finish(out, start, result)
    }
}

)";
  }
}

void write_dispatch_serde(const CodegenCtx& ctx, std::string& out) {
  for (const Section& section : kSections) {
    const std::vector<Variant> variants = section_variants(ctx, section);
    std::string names = "&[";
    for (std::size_t i = 0; i < variants.size(); ++i) {
      if (i != 0) names += ", ";
      names += debug_str(variants[i].name);
    }
    names += "]";
    const std::string type = debug_str(section.enum_name);
    // A section without messages has an enum without values: nothing to
    // serialize, and no use of the serializer.
    const std::string_view serializer = variants.empty() ? "_serializer" : "serializer";
    const TemplateVars vars = {
        {"enum", section.enum_name}, {"type", type}, {"names", names}, {"serializer", serializer}};
    emit(out, R"(impl serde::Serialize for crate::dispatch::$enum$ {
    fn serialize<S: serde::Serializer>(&self, $serializer$: S) -> Result<S::Ok, S::Error> {
        match *self {
)",
         vars);
    for (std::size_t i = 0; i < variants.size(); ++i) {
      Printer(out).in(3)(
          "Self::$variant$(ref m) => serializer.serialize_newtype_variant($type$, $index$, $name$, m),\n",
          {{"variant", variants[i].name},
           {"type", debug_str(section.enum_name)},
           {"index", std::to_string(i)},
           {"name", debug_str(variants[i].name)}});
    }
    emit(out, R"(        }
    }
}

impl<'de> serde::Deserialize<'de> for crate::dispatch::$enum$ {
    fn deserialize<D: serde::Deserializer<'de>>(deserializer: D) -> Result<Self, D::Error> {
        const VARIANTS: &[&str] = $names$;
        struct Messages;
        impl<'de> serde::de::Visitor<'de> for Messages {
            type Value = crate::dispatch::$enum$;
            fn expecting(&self, f: &mut std::fmt::Formatter<'_>) -> std::fmt::Result {
                crate::serde_support::expecting_enum(f, $type$)
            }
            fn visit_enum<A: serde::de::EnumAccess<'de>>(self, data: A) -> Result<Self::Value, A::Error> {
)",
         vars);
    if (variants.empty()) {
      // No name is a variant of an empty section: reading its name fails.
      emit(out, R"(                crate::serde_support::no_variant(data, $type$)
)",
           vars);
    } else {
      emit(
          out,
          R"(                let (__i, __v) = data.variant_seed(crate::serde_support::Variant { type_name: $type$, variants: VARIANTS })?;
                match __i {
)",
          vars);
      for (std::size_t i = 0; i < variants.size(); ++i) {
        Printer(out).in(5)(
            "$label$ => serde::de::VariantAccess::newtype_variant(__v).map(crate::dispatch::$enum$::$variant$),\n",
            {{"label", i + 1 == variants.size() ? std::string("_") : std::to_string(i)},
             {"enum", section.enum_name},
             {"variant", variants[i].name}});
      }
      out += "                }\n";
    }
    emit(out, R"(            }
        }
        deserializer.deserialize_enum($type$, VARIANTS, Messages)
    }
}

)",
         vars);
  }
}

}  // namespace qm

#pragma once
// Enum generation: each `enum` element becomes a Rust enum with its alias
// constants and decoder, registered for later field resolution.

#include <optional>
#include <string>
#include <string_view>

#include "schema/context.hpp"
#include "schema/registry.hpp"
#include "text/text.hpp"
#include "xml/xml.hpp"

namespace qm {

// Writes the ENUMS banner and every enum of one `enums` element.
void process_enums(CodegenCtx& ctx, const xml::Node& enums_section);
// Writes one enum (or its SKIPPED comment) and registers it.
void emit_enum(CodegenCtx& ctx, const xml::Node& enum_element);
// The discriminant text of a variant: "0x00FF" for unsigned representations,
// signed decimal for i32/i64; the value is first cut to the width.
std::string format_enum_literal(i128 value, EnumRepr repr);

}  // namespace qm

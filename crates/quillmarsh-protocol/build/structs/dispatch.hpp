#pragma once
// The typed message API written beside messages_generated.rs as
// dispatch_generated.rs: the `Decode` and `Message` impls of every struct
// written, one enum per message section that decodes a message by its opcode,
// and `SKIPPED`, the list of every item written as a SKIPPED line. It reads
// only what the generation context recorded while the output was written.

#include <string>
#include <string_view>
#include <vector>

#include "schema/context.hpp"

namespace qm {

// The variant name of a written message in its section's enum: its bare name
// when that can name a variant, else its Rust name. A bare name cannot when it
// is not a plain identifier, when it would hide one of the enum's own items
// (`decode`, `name`, ...), or when another struct of the section has it as
// its Rust name (the fallback of that struct could then meet it).
// `section_rust_names` holds the `identifier_key` of every Rust name of the
// section.
std::string dispatch_variant_name(const WrittenStruct& item, const NameKeys& section_rust_names);

// The whole text of dispatch_generated.rs for what `ctx` has recorded.
std::string write_dispatch_file(const CodegenCtx& ctx);
// Appends `encode` of each section enum to `out` (the encoders' text).
void write_dispatch_encoders(const CodegenCtx& ctx, std::string& out);
// Appends the serde impls of each section enum to `out` (the serde impls'
// text): externally tagged, `{"First": {...}}`.
void write_dispatch_serde(const CodegenCtx& ctx, std::string& out);

}  // namespace qm

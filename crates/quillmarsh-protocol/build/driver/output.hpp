#pragma once
// The frame of the output text: the fixed file header, the opcode index and
// the report line.

#include <string>

#include "schema/context.hpp"

namespace qm {

// Writes the fixed header (with the protocol path in display form).
void write_file_header(CodegenCtx& ctx);
// Writes the fixed header of the encoders' text.
void write_encoders_header(CodegenCtx& ctx);
// Writes the fixed header of the serde impls' text.
void write_serde_header(CodegenCtx& ctx);
// Writes the opcode index: banner, `OPCODE_INDEX` and one row per opcode.
void write_opcode_table(CodegenCtx& ctx);
// The whole of extended_generated.rs from the extended tier's run: the
// recovered structs under their sections' banners, and their opcode rows as
// `EXTENDED_OPCODE_INDEX`.
std::string write_extended_file(const CodegenCtx& ctx);
// The extended tier's report line: how many of the default tier's skipped
// items it recovered (ending in a line feed).
std::string extended_report_line(std::size_t recovered, std::size_t skipped);
// The final report directive line (ending in a line feed).
std::string report_line(const Stats& stats);

}  // namespace qm

#pragma once
// Struct and message generation: a body becomes an ordered list of emit steps
// with its sibling lookup; a struct is written with its members, accessors,
// opcode and decoder; each section is emitted in repeated passes so that a
// struct follows the data types it uses.

#include <string>
#include <string_view>
#include <vector>

#include "constructs/steps.hpp"
#include "schema/context.hpp"
#include "text/result.hpp"
#include "xml/xml.hpp"

namespace qm {

// The steps of a body, or the first reason it cannot be generated. A probe:
// reads the registry and enum values, writes nothing.
Result<std::vector<EmitStep>> collect_emit_steps(const CodegenCtx& ctx, const xml::Node& body, std::string_view owner);

// "mask" when the element has a direct `mask` child, else empty.
std::vector<std::string> collect_unsupported(const xml::Node& element);

// The section of a struct (the order of a table in kinds.cpp).
// The banners the messages text puts before its sections (and the
// extended tier's file before the same sections).
inline constexpr std::string_view kDatatypesBanner = "// === DATATYPES ===\n\n";
inline constexpr std::string_view kMessagesBanner = "// === MESSAGES (top-level C2S + S2C) ===\n\n";
inline constexpr std::string_view kC2sBanner = "// ---- C2S ----\n\n";
inline constexpr std::string_view kS2cBanner = "// ---- S2C ----\n\n";
inline constexpr std::string_view kGameActionsBanner = "// === GAMEACTIONS (C2S inside 0xF7B1) ===\n\n";
inline constexpr std::string_view kGameEventsBanner = "// === GAMEEVENTS (S2C inside 0xF7B0) ===\n\n";

enum class EmitKind { Datatype, MessageC2s, MessageS2c, GameAction, GameEvent };
std::string_view name_prefix(EmitKind kind);  // "", "C2S_", "S2C_", "Action_", "Event_"
std::string_view label(EmitKind kind);        // "datatype", "messageC2S", ...
// The banner of the kind's section, and of its part of the section ("" but
// for the message directions).
std::string_view section_banner(EmitKind kind);
std::string_view sub_banner(EmitKind kind);
void bump_emitted(Stats& stats, EmitKind kind);
void bump_skipped(Stats& stats, EmitKind kind);

// Writes one struct, or its SKIPPED comment, and keeps its bookkeeping.
void emit_message(CodegenCtx& ctx, const xml::Node& element, EmitKind kind);

void process_datatypes(CodegenCtx& ctx, const xml::Node& types_section);
void process_messages(CodegenCtx& ctx, const xml::Node& messages_section);
void process_gameactions(CodegenCtx& ctx, const xml::Node& section);
void process_gameevents(CodegenCtx& ctx, const xml::Node& section);
void emit_with_fixpoint(CodegenCtx& ctx, const xml::Node& container, EmitKind kind);

}  // namespace qm

// Section kinds and the pre-check for body features the generator does not
// support yet.

#include "structs/structs.hpp"

namespace qm {

std::vector<std::string> collect_unsupported(const xml::Node& element) {
  std::vector<std::string> tags;
  for (const xml::Node* child : element.children()) {
    if (child->tag() == "mask") push_unique(tags, "mask");
  }
  return tags;
}

std::string_view name_prefix(EmitKind kind) {
  switch (kind) {
    case EmitKind::Datatype:
      return "";
    case EmitKind::MessageC2s:
      return "C2S_";
    case EmitKind::MessageS2c:
      return "S2C_";
    case EmitKind::GameAction:
      return "Action_";
    case EmitKind::GameEvent:
      return "Event_";
  }
  return "";
}

std::string_view label(EmitKind kind) {
  switch (kind) {
    case EmitKind::Datatype:
      return "datatype";
    case EmitKind::MessageC2s:
      return "messageC2S";
    case EmitKind::MessageS2c:
      return "messageS2C";
    case EmitKind::GameAction:
      return "gameaction";
    case EmitKind::GameEvent:
      return "gameevent";
  }
  return "";
}

void bump_emitted(Stats& stats, EmitKind kind) {
  switch (kind) {
    case EmitKind::Datatype:
      ++stats.datatypes;
      return;
    case EmitKind::MessageC2s:
    case EmitKind::MessageS2c:
      ++stats.messages;
      return;
    case EmitKind::GameAction:
      ++stats.gameactions;
      return;
    case EmitKind::GameEvent:
      ++stats.gameevents;
      return;
  }
}

void bump_skipped(Stats& stats, EmitKind kind) {
  switch (kind) {
    case EmitKind::Datatype:
      ++stats.datatypes_skipped;
      return;
    case EmitKind::MessageC2s:
    case EmitKind::MessageS2c:
      ++stats.messages_skipped;
      return;
    case EmitKind::GameAction:
      ++stats.gameactions_skipped;
      return;
    case EmitKind::GameEvent:
      ++stats.gameevents_skipped;
      return;
  }
}

}  // namespace qm

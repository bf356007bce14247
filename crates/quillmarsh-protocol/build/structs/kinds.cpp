// Section kinds and the pre-check for body features the generator does not
// support yet.

#include <cstddef>

#include "structs/structs.hpp"

namespace qm {

std::vector<std::string> collect_unsupported(const xml::Node& element) {
  std::vector<std::string> tags;
  for (const xml::Node* child : element.children()) {
    if (child->tag() == "mask") push_unique(tags, "mask");
  }
  return tags;
}

namespace {

// Per section kind: the struct name prefix, the label, the banners of its
// section (and of its part of the section) and the counters.
struct KindInfo {
  std::string_view prefix;
  std::string_view label;
  std::string_view banner;
  std::string_view sub_banner;
  std::size_t Stats::*emitted;
  std::size_t Stats::*skipped;
};

const KindInfo& info(EmitKind kind) {
  static constexpr KindInfo kKinds[] = {
      {"", "datatype", kDatatypesBanner, "", &Stats::datatypes, &Stats::datatypes_skipped},
      {"C2S_", "messageC2S", kMessagesBanner, kC2sBanner, &Stats::messages, &Stats::messages_skipped},
      {"S2C_", "messageS2C", kMessagesBanner, kS2cBanner, &Stats::messages, &Stats::messages_skipped},
      {"Action_", "gameaction", kGameActionsBanner, "", &Stats::gameactions, &Stats::gameactions_skipped},
      {"Event_", "gameevent", kGameEventsBanner, "", &Stats::gameevents, &Stats::gameevents_skipped},
  };
  return kKinds[static_cast<std::size_t>(kind)];
}

}  // namespace

std::string_view name_prefix(EmitKind kind) { return info(kind).prefix; }
std::string_view label(EmitKind kind) { return info(kind).label; }
std::string_view section_banner(EmitKind kind) { return info(kind).banner; }
std::string_view sub_banner(EmitKind kind) { return info(kind).sub_banner; }
void bump_emitted(Stats& stats, EmitKind kind) { ++(stats.*info(kind).emitted); }
void bump_skipped(Stats& stats, EmitKind kind) { ++(stats.*info(kind).skipped); }

}  // namespace qm

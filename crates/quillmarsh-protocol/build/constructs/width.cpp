// Whether a decoder can finish without consuming a byte. A loop whose
// elements can would run as often as a hostile count says without ever
// running out of input, so vectors and packables refuse such elements.

#include <vector>

#include "constructs/constructs.hpp"

namespace qm {

bool kind_may_read_nothing(const FieldKind& kind, const TypeRegistry& registry) {
  // Every reader but a struct's consumes at least one byte.
  if (kind.tag != FieldKind::Struct) return false;
  const auto it = registry.find(kind.name);
  return it != registry.end() && it->second.may_read_nothing;
}

bool steps_may_read_nothing(const std::vector<EmitStep>& steps, const TypeRegistry& registry) {
  for (const EmitStep& step : steps) {
    // A packable always reads its header; any other block may read nothing
    // (but only follows a field that reads, which then decides).
    if (step.as<PackableField>() != nullptr) return false;
    const auto* field = step.as<SimpleField>();
    if (field != nullptr && !kind_may_read_nothing(field->kind, registry)) return false;
  }
  return true;
}

}  // namespace qm

#pragma once
// What the description generator tracks while it writes: the fields and
// subfields a body has declared so far and how later constructs may name
// them, the enums of the document, and the types it draws for fields.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vocabulary.hpp"

namespace qm::describe {

// How a field is visible to later constructs of its body.
enum class Vis {
  Plain,     // a local of the decoder holding the value
  Optional,  // declared in an <if> branch: read as the value inside the branch, as 0 when absent after it
  Gated,     // declared in a body-level <maskmap>: found only as a mask-map parent
  Hidden     // declared in a mask map inside a case: not visible at all
};

// Whether later lengths, tests, discriminators and parents can name the field.
inline bool readable(Vis vis) { return vis == Vis::Plain || vis == Vis::Optional; }

// A field declared in a body, as later constructs see it.
struct Known {
  std::string xml;
  Num num = Num::None;  // numeric kind as a sibling; None for strings, structs, plain enums
  int enum_index = -1;  // an ordinary (non-mask) enum field
  int mask_enum = -1;   // a field of a mask enum (numeric, declared as its raw integer)
  Vis vis = Vis::Plain;
};

// A subfield declared in a body.
struct SubRef {
  std::string xml;
  Num parent_num = Num::None;
  bool safe = false;  // its expression cannot fail at run time
  Vis vis = Vis::Plain;
};

// What a body has declared so far. A switch case works on a copy, so what
// it declares stays in the case; a mask map's fields come back to the body
// as `Gated` or `Hidden`.
struct Scope {
  std::vector<Known> fields;
  std::vector<SubRef> subs;
  std::set<std::string> members;  // member_key of every member (the realistic profile keeps them unique)
};

// Where a construct stands: in a struct body, an <if> branch, a switch case
// or a mask of a mask map.
enum class Site { Body, Branch, Case, Mask };

// An enum of the document that fields may use (one with a valid parent and
// at least one value).
struct EnumInfo {
  std::string name;
  Num repr = Num::None;
  bool mask = false;
  std::vector<std::pair<std::string, std::uint64_t>> variants;  // distinct values, first name wins
};

// A type drawn for a field, with what a field of it is as a sibling.
struct TypeRef {
  std::string name;
  Num num = Num::None;
  int enum_index = -1;
  int mask_enum = -1;
};

}  // namespace qm::describe

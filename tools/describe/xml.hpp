#pragma once
// A minimal XML element tree for the description generator. One top-level
// element is built at a time and written out as soon as it is complete.
// Attribute values are escaped by `escape_xml_attr` (describe.hpp).

#include <string>
#include <utility>
#include <vector>

namespace qm::describe {

struct Element {
  std::string tag;
  std::vector<std::pair<std::string, std::string>> attrs;
  std::vector<Element> children;

  explicit Element(std::string t) : tag(std::move(t)) {}
  // Sets an attribute, replacing an earlier value of the same name.
  Element& set(std::string key, std::string value) {
    for (auto& a : attrs) {
      if (a.first == key) {
        a.second = std::move(value);
        return *this;
      }
    }
    attrs.emplace_back(std::move(key), std::move(value));
    return *this;
  }
};

// Appends `e` and its children to `out`, two spaces of indentation per level
// from `depth`; an element without children is written as `<tag .../>`.
void serialize(const Element& e, std::string& out, int depth);

}  // namespace qm::describe

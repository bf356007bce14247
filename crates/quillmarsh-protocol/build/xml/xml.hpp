#pragma once
// A small read-only XML tree built from expat events. Only elements are kept:
// text, comments and processing instructions are dropped. Tag names are local
// names (a namespace prefix takes no part); attributes are found by plain,
// unprefixed name. A document type declaration is refused.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/result.hpp"

namespace qm::xml {

class Node {
 public:
  // Local tag name, for example "field".
  std::string_view tag() const { return tag_; }
  // Value of the unprefixed attribute `name` (XML entities decoded), or none.
  // An attribute that is present but empty is present.
  std::optional<std::string_view> attr(std::string_view name) const;
  bool has_attr(std::string_view name) const { return attr(name).has_value(); }
  // Element children in document order.
  const std::vector<const Node*>& children() const { return children_; }
  // Byte offset of the `<` that opens this element's start tag.
  std::size_t offset() const { return offset_; }

 private:
  friend class Document;
  friend struct Builder;
  std::string tag_;
  std::vector<std::pair<std::string, std::string>> attrs_;
  std::vector<const Node*> children_;
  std::size_t offset_ = 0;
};

class Document {
 public:
  Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;
  ~Document();  // frees the nodes without recursion
  const Node& root() const;

 private:
  friend struct Builder;
  struct Arena;
  std::unique_ptr<Arena> arena_;
};

// Parses a whole UTF-8 text. The reason of a failure is expat's message with
// its line and column, for example "syntax error at line 3, column 4".
Result<Document> parse(std::string_view text);

}  // namespace qm::xml

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

class Node;

// The element children of a node, in document order: a read-only view into
// the document that built them.
class Children {
 public:
  using const_iterator = const Node* const*;
  const_iterator begin() const { return data_; }
  const_iterator end() const { return data_ + size_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Node* operator[](std::size_t i) const { return data_[i]; }
  const Node* front() const { return data_[0]; }
  // Bounds-checked access; out of range throws std::out_of_range.
  const Node* at(std::size_t i) const;

 private:
  friend struct Builder;
  const Node* const* data_ = nullptr;
  std::size_t size_ = 0;
};

class Node {
 public:
  // Local tag name, for example "field".
  std::string_view tag() const { return tag_; }
  // Value of the unprefixed attribute `name` (XML entities decoded), or none.
  // An attribute that is present but empty is present.
  std::optional<std::string_view> attr(std::string_view name) const;
  bool has_attr(std::string_view name) const { return attr(name).has_value(); }
  // The same value as a text of its own, for models that outlive the document.
  std::optional<std::string> attr_copy(std::string_view name) const {
    const std::optional<std::string_view> value = attr(name);
    if (!value) return std::nullopt;
    return std::string(*value);
  }
  // Element children in document order.
  const Children& children() const { return children_; }
  // Byte offset of the `<` that opens this element's start tag.
  std::size_t offset() const { return offset_; }

 private:
  friend class Document;
  friend struct Builder;
  struct Attr {
    std::string_view name;
    std::string_view value;
  };
  // Names, values and the lists below live in the document's arena.
  std::string_view tag_;
  const Attr* attrs_ = nullptr;
  std::size_t attr_count_ = 0;
  Children children_;
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

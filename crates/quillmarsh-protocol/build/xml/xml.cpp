// The read-only XML tree, built from expat events.
//
// Nodes, tag names, attributes and children lists live in large blocks of
// one arena, whose addresses never move while the tree grows; parents hold
// plain pointers to their children. A node costs no allocation of its own and
// the tree is freed block by block. Building keeps an explicit stack of open elements, so nothing
// recurses however deep the document nests.

#include "xml/xml.hpp"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace qm::xml {

// Expat reports a namespaced name as "{uri}{sep}{local}". The separator is a
// control character that no well-formed XML 1.0 text can contain, so it never
// occurs inside a URI or a name.
constexpr char kNsSep = '\x01';

// The largest piece handed to expat at once: its length parameter is an int.
constexpr std::size_t kChunk = std::size_t{1} << 30;

struct Document::Arena {
  Node* root = nullptr;

  // A new node, default-constructed.
  Node* new_node() { return new (allocate<Node>(1)) Node(); }

  // Room for `count` objects of type T, trivially destructible (never destroyed).
  template <typename T>
  T* allocate(std::size_t count) {
    static_assert(std::is_trivially_destructible_v<T>);
    // T is a pointer type for children lists: its size is meant.
    return static_cast<T*>(allocate_bytes(count * sizeof(T), alignof(T)));  // NOLINT(bugprone-sizeof-expression)
  }

  std::string_view copy(std::string_view text) {
    if (text.empty()) return {};
    char* dest = allocate<char>(text.size());
    std::memcpy(dest, text.data(), text.size());
    return {dest, text.size()};
  }

 private:
  // Blocks double from the first size to the largest, so that a small
  // document takes little memory and a large one few blocks.
  static constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
  static constexpr std::size_t kLargestBlock = std::size_t{4} << 20;
  std::vector<std::unique_ptr<unsigned char[]>> blocks_;
  unsigned char* free_ = nullptr;
  std::size_t left_ = 0;
  std::size_t next_block_ = kFirstBlock;

  void* allocate_bytes(std::size_t bytes, std::size_t align) {
    const std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(free_) % align) % align;
    if (free_ == nullptr || pad + bytes > left_) [[unlikely]] {
      return allocate_in_new_block(bytes);
    }
    void* result = free_ + pad;
    free_ += pad + bytes;
    left_ -= pad + bytes;
    return result;
  }

  [[gnu::noinline]] void* allocate_in_new_block(std::size_t bytes) {
    if (bytes > kFirstBlock / 4) {  // a large piece gets a block of its own
      blocks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(bytes));
      return blocks_.back().get();
    }
    const std::size_t size = next_block_;
    next_block_ = std::min(2 * next_block_, kLargestBlock);
    blocks_.push_back(std::make_unique_for_overwrite<unsigned char[]>(size));
    // operator new[] aligns for every fundamental type.
    void* result = blocks_.back().get();
    free_ = blocks_.back().get() + bytes;
    left_ = size - bytes;
    return result;
  }
};

static_assert(std::is_trivially_destructible_v<Node>, "the arena never runs node destructors' work");

const Node* Children::at(std::size_t i) const {
  if (i >= size_) throw std::out_of_range("xml::Children::at");
  return data_[i];
}

std::optional<std::string_view> Node::attr(std::string_view name) const {
  for (std::size_t i = 0; i < attr_count_; ++i) {
    // Attribute names are short and mostly differ in length or first letter.
    const std::string_view key = attrs_[i].name;
    if (key.size() == name.size() && (key.empty() || key[0] == name[0]) && key == name) return attrs_[i].value;
  }
  return std::nullopt;
}

Document::Document() : arena_(std::make_unique<Arena>()) { arena_->root = arena_->new_node(); }
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

const Node& Document::root() const { return *arena_->root; }

struct Builder {
  XML_Parser parser = nullptr;
  std::unique_ptr<Document::Arena> arena = std::make_unique<Document::Arena>();
  std::vector<Node*> open;  // the elements whose end tag is still to come
  // The children seen so far of every open element, innermost last; where
  // each open element's list starts.
  std::vector<const Node*> pending;
  std::vector<std::size_t> pending_start;
  bool doctype_refused = false;
  XML_Index doctype_index = 0;  // where expat is when it reports the declaration

  // The finished tree.
  Document take() {
    Document doc;
    doc.arena_ = std::move(arena);
    return doc;
  }

  static std::string_view local_name(const XML_Char* name) {
    std::string_view full(name);
    const auto sep = full.rfind(kNsSep);
    return sep == std::string_view::npos ? full : full.substr(sep + 1);
  }

  static void XMLCALL on_start(void* user, const XML_Char* name, const XML_Char** atts) {
    auto& self = *static_cast<Builder*>(user);
    Document::Arena& arena = *self.arena;
    Node& node = *arena.new_node();
    if (arena.root == nullptr) arena.root = &node;  // the document element
    node.tag_ = arena.copy(local_name(name));
    node.offset_ = static_cast<std::size_t>(XML_GetCurrentByteIndex(self.parser));
    // A prefixed attribute arrives with its namespace URI; it never answers
    // to a plain name.
    const auto plain = [](const XML_Char* key) { return std::strchr(key, kNsSep) == nullptr; };
    std::size_t count = 0;
    for (const XML_Char** a = atts; *a != nullptr; a += 2) count += plain(a[0]) ? 1 : 0;
    if (count != 0) {
      Node::Attr* attrs = arena.allocate<Node::Attr>(count);
      std::size_t i = 0;
      for (const XML_Char** a = atts; *a != nullptr; a += 2) {
        if (plain(a[0])) attrs[i++] = Node::Attr{arena.copy(a[0]), arena.copy(a[1])};
      }
      node.attrs_ = attrs;
      node.attr_count_ = count;
    }
    if (!self.open.empty()) self.pending.push_back(&node);
    self.open.push_back(&node);
    self.pending_start.push_back(self.pending.size());
  }

  static void XMLCALL on_end(void* user, const XML_Char* /*name*/) {
    auto& self = *static_cast<Builder*>(user);
    Node& node = *self.open.back();
    const std::size_t start = self.pending_start.back();
    const std::size_t count = self.pending.size() - start;
    if (count != 0) {
      const Node** children = self.arena->allocate<const Node*>(count);
      std::copy(self.pending.begin() + static_cast<std::ptrdiff_t>(start), self.pending.end(), children);
      node.children_.data_ = children;
      node.children_.size_ = count;
      self.pending.resize(start);
    }
    self.pending_start.pop_back();
    self.open.pop_back();
  }

  static void XMLCALL on_doctype(void* user, const XML_Char* /*name*/, const XML_Char* /*sysid*/,
                                 const XML_Char* /*pubid*/, int /*has_internal_subset*/) {
    auto& self = *static_cast<Builder*>(user);
    self.doctype_refused = true;
    self.doctype_index = XML_GetCurrentByteIndex(self.parser);
    XML_StopParser(self.parser, XML_FALSE);
  }
};

namespace {

// Columns are reported 1-based, like lines.
std::string position(XML_Size line, XML_Size column) {
  return "line " + std::to_string(line) + ", column " + std::to_string(column + 1);
}

// The line and column of the "<!DOCTYPE" that opens the declaration expat
// is reporting from inside (it stands at the declared name by then). Only
// the prolog precedes it, so counting line feeds and characters is exact.
std::string doctype_position(std::string_view text, XML_Index index) {
  const auto limit = std::min(text.size(), static_cast<std::size_t>(std::max<XML_Index>(index, 0)));
  auto start = text.substr(0, limit).rfind("<!DOCTYPE");
  if (start == std::string_view::npos) start = limit;
  const auto before = text.substr(0, start);
  const auto line_start = before.rfind('\n') + 1;  // npos + 1 == 0
  XML_Size line = 1;
  for (const char c : before) line += c == '\n';
  XML_Size column = 0;
  auto line_text = before.substr(line_start);
  if (line_start == 0 && line_text.substr(0, 3) == "\xEF\xBB\xBF") line_text.remove_prefix(3);  // a BOM
  for (const char c : line_text) column += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return position(line, column);
}

struct ParserHandle {
  XML_Parser p;
  ~ParserHandle() { XML_ParserFree(p); }
};

}  // namespace

Result<Document> parse(std::string_view text) {
  Builder b;
  ParserHandle handle{XML_ParserCreateNS("UTF-8", kNsSep)};
  if (handle.p == nullptr) return fail("out of memory");
  b.parser = handle.p;
  XML_SetUserData(b.parser, &b);
  XML_SetElementHandler(b.parser, &Builder::on_start, &Builder::on_end);
  XML_SetStartDoctypeDeclHandler(b.parser, &Builder::on_doctype);

  std::size_t pos = 0;
  do {
    const std::size_t n = std::min(kChunk, text.size() - pos);
    const bool last = pos + n == text.size();
    if (XML_Parse(b.parser, text.data() + pos, static_cast<int>(n), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      if (b.doctype_refused) {
        return fail("document type declaration is not allowed at " + doctype_position(text, b.doctype_index));
      }
      return fail(std::string(XML_ErrorString(XML_GetErrorCode(b.parser))) + " at " +
                  position(XML_GetCurrentLineNumber(b.parser), XML_GetCurrentColumnNumber(b.parser)));
    }
    pos += n;
  } while (pos < text.size());

  return b.take();
}

}  // namespace qm::xml

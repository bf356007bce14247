// The read-only XML tree, built from expat events.
//
// Nodes live in one arena (a deque, so their addresses never move while the
// tree grows); parents hold plain pointers to their children. Building keeps
// an explicit stack of open elements and destruction frees the arena node by
// node, so neither recurses however deep the document nests.

#include "xml/xml.hpp"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <deque>
#include <string>

namespace qm::xml {

// Expat reports a namespaced name as "{uri}{sep}{local}". The separator is a
// control character that no well-formed XML 1.0 text can contain, so it never
// occurs inside a URI or a name.
constexpr char kNsSep = '\x01';

// The largest piece handed to expat at once: its length parameter is an int.
constexpr std::size_t kChunk = std::size_t{1} << 30;

struct Document::Arena {
  std::deque<Node> nodes;
};

std::optional<std::string_view> Node::attr(std::string_view name) const {
  for (const auto& [key, value] : attrs_) {
    if (key == name) return std::string_view(value);
  }
  return std::nullopt;
}

Document::Document() : arena_(std::make_unique<Arena>()) { arena_->nodes.emplace_back(); }
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

const Node& Document::root() const { return arena_->nodes.front(); }

struct Builder {
  XML_Parser parser = nullptr;
  std::unique_ptr<Document::Arena> arena = std::make_unique<Document::Arena>();
  std::vector<Node*> open;  // the elements whose end tag is still to come
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
    Node& node = self.arena->nodes.emplace_back();
    node.tag_ = local_name(name);
    node.offset_ = static_cast<std::size_t>(XML_GetCurrentByteIndex(self.parser));
    for (const XML_Char** a = atts; *a != nullptr; a += 2) {
      std::string_view key(a[0]);
      // A prefixed attribute arrives with its namespace URI; it never
      // answers to a plain name.
      if (key.find(kNsSep) != std::string_view::npos) continue;
      node.attrs_.emplace_back(std::string(key), std::string(a[1]));
    }
    if (!self.open.empty()) self.open.back()->children_.push_back(&node);
    self.open.push_back(&node);
  }

  static void XMLCALL on_end(void* user, const XML_Char* /*name*/) { static_cast<Builder*>(user)->open.pop_back(); }

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

// XML output: attribute escaping and the serialisation of element trees.

#include "xml.hpp"

#include <cstddef>
#include <string>
#include <string_view>

#include "describe.hpp"

namespace qm::describe {

std::string escape_xml_attr(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
      case '\t':
        out += "&#9;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void serialize(const Element& e, std::string& out, int depth) {
  out.append(static_cast<std::size_t>(2 * depth), ' ');
  out += '<';
  out += e.tag;
  for (const auto& [key, value] : e.attrs) {
    out += ' ';
    out += key;
    out += "=\"";
    out += escape_xml_attr(value);
    out += '"';
  }
  if (e.children.empty()) {
    out += "/>\n";
    return;
  }
  out += ">\n";
  for (const auto& child : e.children) serialize(child, out, depth + 1);
  out.append(static_cast<std::size_t>(2 * depth), ' ');
  out += "</";
  out += e.tag;
  out += ">\n";
}

}  // namespace qm::describe

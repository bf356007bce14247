// The template printer behind every emitter, plain and at an indentation.

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "text/text.hpp"

namespace qm {
namespace {

[[noreturn]] void template_bug(const char* problem, std::string_view name, std::string_view tmpl) {
  std::fprintf(stderr, "quillmarsh-codegen: internal error: template %s `%.*s` in template:\n%.*s\n", problem,
               static_cast<int>(name.size()), name.data(), static_cast<int>(tmpl.size()), tmpl.data());
  std::fflush(stderr);
  std::abort();
}

// The characters of placeholder names, as a table: every placeholder of every
// template is checked against it.
constexpr std::array<bool, 256> kNameChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  return table;
}();

bool is_name_char(char c) { return kNameChars[static_cast<unsigned char>(c)]; }

void reserve_for(std::string& out, std::string_view tmpl, TemplateVars vars, std::size_t extra) {
  for (const auto& v : vars) extra += v.second.size();
  // Grow geometrically: reserving the exact size on every call would make a
  // long run of small appends quadratic with some standard libraries.
  const std::size_t need = out.size() + tmpl.size() + extra;
  if (need > out.capacity()) out.reserve(need > 2 * out.capacity() ? need : 2 * out.capacity());
}

// The value of the placeholder that opens at `name` (just after its `$`)
// when its name is one of `vars` and it is closed; null otherwise.
const std::pair<std::string_view, std::string_view>* placeholder_at(const char* name, const char* end,
                                                                    TemplateVars vars) {
  const auto left = static_cast<std::size_t>(end - name);
  for (const auto& v : vars) {
    const std::size_t n = v.first.size();
    if (n == 0 || n >= left || name[n] != '$') continue;
    std::size_t i = 0;
    while (i < n && name[i] == v.first[i] && is_name_char(name[i])) ++i;
    if (i == n) return &v;
  }
  return nullptr;
}

// Appends `tmpl` with its placeholders replaced by their values.
void substitute(std::string& out, std::string_view tmpl, TemplateVars vars) {
  const char* pos = tmpl.data();
  const char* const end = pos + tmpl.size();
  while (pos < end) {
    const auto* open = static_cast<const char*>(std::memchr(pos, '$', static_cast<std::size_t>(end - pos)));
    if (open == nullptr) {
      out.append(pos, static_cast<std::size_t>(end - pos));
      return;
    }
    out.append(pos, static_cast<std::size_t>(open - pos));
    if (const auto* found = placeholder_at(open + 1, end, vars)) {
      out.append(found->second);
      pos = open + 1 + found->first.size() + 1;
      continue;
    }
    // `$$`, or a template that is itself wrong.
    const std::string_view rest(open, static_cast<std::size_t>(end - open));
    const std::size_t close = rest.find('$', 1);
    if (close == std::string_view::npos) template_bug("has an unclosed placeholder", rest, tmpl);
    if (close == 1) {
      out.push_back('$');
      pos = open + 2;
      continue;
    }
    const std::string_view placeholder = rest.substr(0, close + 1);
    for (char c : placeholder.substr(1, close - 1)) {
      if (!is_name_char(c)) template_bug("has a malformed placeholder", placeholder, tmpl);
    }
    template_bug("has no value for placeholder", placeholder, tmpl);
  }
}

}  // namespace

void emit(std::string& out, std::string_view tmpl, TemplateVars vars) {
  reserve_for(out, tmpl, vars, 0);
  substitute(out, tmpl, vars);
}

void emit_comment_line(std::string& out, std::string_view tmpl, TemplateVars vars) {
  std::string line;
  emit(line, tmpl, vars);
  out += one_line_comment_text(line);
  out += '\n';
}

void Printer::operator()(std::string_view tmpl, TemplateVars vars) const {
  std::string& out = *out_;
  if (indent_ == 0 && !flat_) {
    emit(out, tmpl, vars);
    return;
  }
  reserve_for(out, tmpl, vars, indent_ * 8);
  std::size_t pos = 0;
  while (pos < tmpl.size()) {
    const std::size_t lf = tmpl.find('\n', pos);
    const std::size_t end = lf == std::string_view::npos ? tmpl.size() : lf + 1;
    std::string_view line = tmpl.substr(pos, end - pos);
    pos = end;
    // Most lines of a template start with their text; only the others need
    // scanning for it.
    const std::size_t text = line.front() == ' ' ? line.find_first_not_of(' ') : 0;
    if (text == std::string_view::npos || line[text] == '\n') {  // a blank line
      if (line.back() == '\n') out.push_back('\n');
      continue;
    }
    out.append(indent_, ' ');
    if (flat_) line.remove_prefix(text);
    substitute(out, line, vars);
  }
}

}  // namespace qm

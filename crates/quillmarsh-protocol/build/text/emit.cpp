// The template printer behind every emitter, plain and at an indentation.

#include <cstdio>
#include <cstdlib>
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

bool is_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

void reserve_for(std::string& out, std::string_view tmpl, TemplateVars vars, std::size_t extra) {
  for (const auto& v : vars) extra += v.second.size();
  // Grow geometrically: reserving the exact size on every call would make a
  // long run of small appends quadratic with some standard libraries.
  const std::size_t need = out.size() + tmpl.size() + extra;
  if (need > out.capacity()) out.reserve(need > 2 * out.capacity() ? need : 2 * out.capacity());
}

// Appends `tmpl` with its placeholders replaced by their values.
void substitute(std::string& out, std::string_view tmpl, TemplateVars vars) {
  std::size_t pos = 0;
  while (pos < tmpl.size()) {
    const std::size_t open = tmpl.find('$', pos);
    if (open == std::string_view::npos) {
      out.append(tmpl.substr(pos));
      return;
    }
    out.append(tmpl.substr(pos, open - pos));
    const std::size_t close = tmpl.find('$', open + 1);
    if (close == std::string_view::npos) template_bug("has an unclosed placeholder", tmpl.substr(open), tmpl);
    const std::string_view name = tmpl.substr(open + 1, close - open - 1);
    pos = close + 1;
    if (name.empty()) {  // `$$`
      out.push_back('$');
      continue;
    }
    for (char c : name) {
      if (!is_name_char(c)) template_bug("has a malformed placeholder", tmpl.substr(open, close - open + 1), tmpl);
    }
    const std::pair<std::string_view, std::string_view>* found = nullptr;
    for (const auto& v : vars) {
      if (v.first == name) {
        found = &v;
        break;
      }
    }
    if (found == nullptr) template_bug("has no value for placeholder", tmpl.substr(open, close - open + 1), tmpl);
    out.append(found->second);
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
    const std::size_t text = line.find_first_not_of(' ');
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

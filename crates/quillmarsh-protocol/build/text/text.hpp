#pragma once
// Naming and text utilities: identifier case conversion, keyword escaping,
// documentation escaping, Rust debug forms, integer
// formatting and the template printer used by every emitter.
//
// The functions are pure and have no failures; texts are UTF-8. Only the
// template printer stops the process, on a template that is itself wrong.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/result.hpp"

namespace qm {

using i128 = __int128;
using u128 = unsigned __int128;

// ---- Identifiers -----------------------------------------------------------

// `ObjectId` -> `object_id`, `RGBColor` -> `rgb_color`; only ASCII capitals are
// lowered, an underscore goes before a capital that opens a new word.
std::string to_snake_case(std::string_view name);
// `foo_bar` -> `FooBar`: underscores dropped, the next character upper-cased
// with its full Unicode (root locale) mapping; nothing is lowered.
std::string pascalize_xml_name(std::string_view name);
// `type` -> `r#type`, `self` -> `self_v`, `data` -> `data_field`.
std::string sanitize_rust_keyword(std::string_view ident);
// The same, applied to `ident` where it stands.
void sanitize_rust_keyword_in(std::string& ident);
// `true` -> `true_alias`; `data`/`offset` are left as they are.
std::string sanitize_const_name(std::string_view name);
// Whether `text` can stand in Rust 2021 source where an identifier is
// declared: a non-keyword identifier (XID_Start or `_`, then XID_Continue;
// not `_` alone) or a raw identifier `r#word` (not `r#self`, `r#Self`,
// `r#super`, `r#crate`, `r#_`).
bool is_rust_identifier(std::string_view text);
// `ident` without a leading `r#`.
std::string_view without_raw_prefix(std::string_view ident);
// What an identifier declares, for comparing names: without `r#`, in
// Unicode Normalization Form C (as Rust compares them).
std::string identifier_key(std::string_view ident);
// The same without a copy in the usual case: an ASCII identifier's key is the
// identifier itself without `r#`. Any other key is built into `storage`,
// which the result then points into.
std::string_view identifier_key_view(std::string_view ident, std::string& storage);

// ---- Comments --------------------------------------------------------------

// Free text on one line: line breaks become spaces, runs of Unicode
// White_Space collapse to one space, no leading/trailing space; what is left
// that a comment cannot hold is escaped as by `one_line_comment_text`.
std::string escape_doc(std::string_view text);
// `<` -> `&lt;`, `>` -> `&gt;`, then `one_line_comment_text`.
std::string escape_xml_attr_for_doc(std::string_view value);
// Text to echo inside a `//` comment, kept on that one line: line feed and
// carriage return become `\n` and `\r`, other control characters, U+2028,
// U+2029 and the bidirectional controls (U+202A-U+202E, U+2066-U+2069) become
// `\u{...}` escapes as in Rust's debug form; invalid UTF-8 becomes U+FFFD.
// Everything else, backslashes included, is kept as it is.
std::string one_line_comment_text(std::string_view text);

// ---- Unicode helpers -------------------------------------------------------

// Byte length of the well-formed UTF-8 sequence that starts at byte `i`, or 0
// when the bytes there are not one (overlong forms, surrogates and values
// above U+10FFFF are not).
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);
// Whether all of `text` is well-formed UTF-8.
bool is_valid_utf8(std::string_view text);
// Whether every byte of `text` is ASCII.
bool is_ascii(std::string_view text);

// Trims leading and trailing Unicode White_Space characters.
std::string_view trim_unicode_ws(std::string_view text);

// ---- Rust debug forms (as Rust's `{:?}` shows them) ------------------------

// A text in double quotes with Rust's escapes: `"a\"b\n"`.
std::string debug_str(std::string_view text);
// One character (a Unicode scalar value) in single quotes: `'\''`, `'Ã'`.
std::string debug_char(char32_t c);
// `None` or `Some("...")`.
std::string debug_opt_str(const std::optional<std::string_view>& text);

// ---- Integer formatting ----------------------------------------------------

std::string to_decimal(i128 value);
std::string to_decimal(u128 value);
// Upper-case hexadecimal without prefix, zero-padded to at least `min_digits`.
std::string to_hex_upper(u128 value, std::size_t min_digits = 1);

// ---- Text pool -----------------------------------------------------------------

// Texts kept for as long as the pool, each seen through a view that never
// moves: they are copied into blocks of a few kilobytes, so keeping a text
// costs no allocation of its own, and an unused pool costs none at all.
class TextPool {
 public:
  // Keeps `head` followed by `tail`.
  std::string_view keep(std::string_view head, std::string_view tail = {});

 private:
  static constexpr std::size_t kBlock = 4096;
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  std::size_t left_ = 0;
};

// An identifier's key as `identifier_key_view` gives it, kept for as long as
// `ident` and `pool` both are: the identifier itself when it is ASCII, else a
// key built once and kept in `pool`.
std::string_view identifier_key_kept(std::string_view ident, TextPool& pool);

// ---- Hashing -----------------------------------------------------------------

// Hashes a text the same whether it is held as a string or seen through a
// view, so that a hash container keyed by strings (with `std::equal_to<>`)
// can be asked about a view without copying it. Not `noexcept`, as with the
// standard string hash: the standard library then keeps each key's hash beside
// it and compares texts only when the hashes agree.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// ---- Template printer --------------------------------------------------------

// Appends `tmpl` to `out`, replacing every `$name$` by the value of `name` in
// `vars`; `$$` writes one `$`. A placeholder without a value, or an unclosed
// `$`, is a bug in the generator: the process aborts at once with a message.
using TemplateVars = std::initializer_list<std::pair<std::string_view, std::string_view>>;
void emit(std::string& out, std::string_view tmpl, TemplateVars vars = {});
// The same for a `//` comment that must stay on its one line: the rendered
// text is passed through `one_line_comment_text`, then a line feed follows.
void emit_comment_line(std::string& out, std::string_view tmpl, TemplateVars vars = {});

// The template printer at an indentation level. Templates are written at
// their natural indentation (a block's first line at column 0); the printer
// puts `indent` spaces before every line that is not blank and keeps the
// template's own indentation after them. A flat printer drops the template's
// indentation instead, so that every line starts at exactly `indent`, nested
// blocks included (the layout of blocks decoded inside if branches and switch
// cases). Placeholder values never hold a line feed.
class Printer {
 public:
  explicit Printer(std::string& out, std::size_t indent = 0, bool flat = false)
      : out_(&out), indent_(indent), flat_(flat) {}

  void operator()(std::string_view tmpl, TemplateVars vars = {}) const;

  // A printer `levels` steps of four spaces further in (a flat printer stays
  // where it is), and the same printer flat.
  Printer in(std::size_t levels = 1) const { return Printer(*out_, flat_ ? indent_ : indent_ + 4 * levels, flat_); }
  Printer flat() const { return Printer(*out_, indent_, true); }

  std::string& out() const { return *out_; }
  std::size_t indent() const { return indent_; }
  bool is_flat() const { return flat_; }

 private:
  std::string* out_;
  std::size_t indent_;
  bool flat_;
};

}  // namespace qm

#include "yaml.h"

#include <array>
#include <cstdint>

#include "unicode.h"

namespace quendra::yaml {
namespace {

// The characters that give a plain scalar a special meaning when they start
// it.
constexpr std::string_view kIndicators = "-?:,[]{}#&*!|>'\"%@`";

// Texts that some YAML reader (1.1 or 1.2) takes for a null, a boolean or a
// merge key, compared after ASCII lowercasing.
constexpr std::array<std::string_view, 12> kReservedWords = {
    "n", "y", "~", "=", "no", "on", "<<", "yes", "off", "null", "true", "false"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool printable(char32_t c) {
  if (c < 0x20) return false;
  if (c <= 0x7E) return true;
  if (c < 0xA0) return false;
  if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return false;
  if (c <= 0xD7FF) return true;
  if (c < 0xE000) return false;
  if (c <= 0xFFFD) return true;
  return c >= 0x10000;
}

bool reserved_word(std::string_view s) {
  if (s.size() > 5) return false;
  char lower[5];
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  std::string_view word(lower, s.size());
  for (std::string_view r : kReservedWords) {
    if (word == r) return true;
  }
  return false;
}

// The last character of non-empty valid UTF-8 text.
char32_t last_char(std::string_view s) {
  std::size_t pos = s.size() - 1;
  while (pos > 0 && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) --pos;
  return unicode::decode(s, pos);
}

bool needs_quotes(std::string_view s) {
  if (s.empty()) return true;
  char c0 = s[0];
  if (kIndicators.find(c0) != std::string_view::npos) return true;
  // Anything that starts like a number is quoted, so that no reader takes it
  // for an int or a float.
  if (c0 == '.' || is_digit(c0)) return true;
  if ((c0 == '+' || c0 == '-') && s.size() > 1 &&
      (s[1] == '.' || is_digit(s[1]))) {
    return true;
  }
  if (reserved_word(s)) return true;
  std::size_t pos = 0;
  if (unicode::is_white_space(unicode::decode(s, pos))) return true;
  char32_t last = last_char(s);
  if (last == ':' || unicode::is_white_space(last)) return true;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) return true;
      if (i + 1 < s.size()) {
        if (b == ':' && s[i + 1] == ' ') return true;
        if (b == ' ' && s[i + 1] == '#') return true;
      }
      ++i;
    } else if (!printable(unicode::decode(s, i))) {
      return true;
    }
  }
  return false;
}

void append_quoted(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < s.size();) {
    std::size_t start = i;
    unsigned char b = static_cast<unsigned char>(s[i]);
    char32_t c = b;
    if (b < 0x80) {
      ++i;
      if (b >= 0x20 && b != 0x7F && b != '"' && b != '\\') continue;
    } else {
      c = unicode::decode(s, i);
      if (printable(c)) continue;
    }
    out.append(s.substr(run, start - run));
    run = i;
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default: {
        // Non-printable characters all lie below U+10000.
        char esc[6] = {'\\', 'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF],
                       kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
        out.append(esc, sizeof esc);
      }
    }
  }
  out.append(s.substr(run));
  out += '"';
}

void append_scalar(std::string& out, std::string_view s) {
  if (needs_quotes(s)) {
    append_quoted(out, s);
  } else {
    out.append(s);
  }
}

void append_inline(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += value.as_bool() ? "true" : "false"; break;
    case Kind::Number: out += value.text(); break;
    case Kind::String: append_scalar(out, value.text()); break;
    case Kind::Array: out += "[]"; break;
    case Kind::Object: out += "{}"; break;
  }
}

bool non_empty_container(const Value& v) {
  return (v.is_array() && !v.items().empty()) ||
         (v.is_object() && !v.members().empty());
}

bool literal_string(const Value& v) {
  return v.is_string() && literal_ok(v.text());
}

void append_literal(std::string& out, std::string_view text, std::size_t depth,
                    std::size_t indent) {
  out += literal_header(text);
  out += '\n';
  literal_body_at(out, text, depth, indent);
}

}  // namespace

std::string inline_form(const Value& value) {
  std::string out;
  append_inline(out, value);
  return out;
}

std::string scalar_string(std::string_view text) {
  std::string out;
  append_scalar(out, text);
  return out;
}

bool literal_ok(std::string_view text) {
  if (text.find('\n') == std::string_view::npos) return false;
  bool seen_content = false;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view piece = text.substr(begin, end - begin);
    begin = end + 1;
    if (piece.empty()) continue;
    if (!seen_content && (piece[0] == ' ' || piece[0] == '\t')) return false;
    seen_content = true;
    bool blank = true;
    for (std::size_t i = 0; i < piece.size();) {
      unsigned char b = static_cast<unsigned char>(piece[i]);
      if (b < 0x80) {
        ++i;
        if (b == '\t' || b == ' ') continue;
        if (b < 0x20 || b == 0x7F) return false;
        blank = false;
      } else {
        char32_t c = unicode::decode(piece, i);
        if (!printable(c)) return false;
        if (!unicode::is_white_space(c)) blank = false;
      }
    }
    if (blank) return false;
  }
  return seen_content;
}

std::string_view literal_header(std::string_view text) {
  if (text.ends_with("\n\n")) return "|+";
  if (text.ends_with('\n')) return "|";
  return "|-";
}

void literal_body_at(std::string& out, std::string_view text, std::size_t depth,
                     std::size_t indent) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  std::size_t pad = depth * indent;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    if (end > begin) {
      out.append(pad, ' ');
      out.append(text.substr(begin, end - begin));
    }
    out += '\n';
    begin = end + 1;
  }
}

void block(std::string& out, const Value& value, std::size_t depth,
           std::size_t indent) {
  std::size_t pad = depth * indent;
  if (value.is_object()) {
    for (const Member& m : value.members()) {
      out.append(pad, ' ');
      append_scalar(out, m.key);
      const Value& v = m.value;
      if (literal_string(v)) {
        out += ": ";
        append_literal(out, v.text(), depth + 1, indent);
      } else if (non_empty_container(v)) {
        out += ":\n";
        block(out, v, depth + 1, indent);
      } else {
        out += ": ";
        append_inline(out, v);
        out += '\n';
      }
    }
    return;
  }
  for (const Value& e : value.items()) {
    if (literal_string(e)) {
      out.append(pad, ' ');
      out += "- ";
      append_literal(out, e.text(), depth + 1, indent);
    } else if (non_empty_container(e)) {
      // The nested block's first line starts with (depth + 1) * indent
      // spaces; turning the first space past this level's padding into the
      // dash puts the container on the dash line with its lines aligned.
      std::size_t first_line = out.size();
      block(out, e, depth + 1, indent);
      out[first_line + pad] = '-';
    } else {
      out.append(pad, ' ');
      out += "- ";
      append_inline(out, e);
      out += '\n';
    }
  }
}

std::string render(const Value& value, std::size_t indent) {
  std::string out;
  if (literal_string(value)) {
    append_literal(out, value.text(), 1, indent);
  } else if (non_empty_container(value)) {
    block(out, value, 0, indent);
  } else {
    append_inline(out, value);
    out += '\n';
  }
  return out;
}

}  // namespace quendra::yaml

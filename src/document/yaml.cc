#include "document/yaml.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "document/json.h"
#include "unicode/unicode.h"

namespace quendra::yaml {

// literal_body_at writing to any Out.
template <typename Out>
void literal_body(Out& out, std::string_view text, std::size_t depth, std::size_t indent);

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

template <typename Out>
void append_quoted(Out& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out.push_back('"');
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
      case '\t': out.append("\\t", 2); break;
      case '\n': out.append("\\n", 2); break;
      case '\r': out.append("\\r", 2); break;
      case '"': out.append("\\\"", 2); break;
      case '\\': out.append("\\\\", 2); break;
      default: {
        // Non-printable characters all lie below U+10000.
        char esc[6] = {'\\', 'u', kHex[(c >> 12) & 0xF], kHex[(c >> 8) & 0xF],
                       kHex[(c >> 4) & 0xF], kHex[c & 0xF]};
        out.append(esc, sizeof esc);
      }
    }
  }
  out.append(s.substr(run));
  out.push_back('"');
}

template <typename Out>
void append_scalar(Out& out, std::string_view s) {
  if (needs_quotes(s)) {
    append_quoted(out, s);
  } else {
    out.append(s);
  }
}

template <typename Out>
void append_inline(Out& out, const Value& value) {
  switch (value.kind()) {
    case Kind::Null: out.append("null"); break;
    case Kind::Bool: out.append(value.as_bool() ? "true" : "false"); break;
    case Kind::Number: out.append(value.text()); break;
    case Kind::String: append_scalar(out, value.text()); break;
    case Kind::Array: out.append("[]"); break;
    case Kind::Object: out.append("{}"); break;
  }
}

bool non_empty_container(const Value& v) {
  return (v.is_array() && !v.items().empty()) ||
         (v.is_object() && !v.members().empty());
}

bool literal_string(const Value& v) {
  return v.is_string() && literal_ok(v.text());
}

// Writes YAML block text to `Out`, line by line and front to back, so that
// `Out` may be a stream that cannot go back (the inside of a JSON string).
template <typename Out>
class Writer {
 public:
  Writer(Out& out, std::size_t indent) : out_(out), indent_(indent) {}

  void document(const Value& value) {
    if (literal_string(value)) {
      literal(value.text(), 1);
    } else if (non_empty_container(value)) {
      block(value, 0);
    } else {
      append_inline(out_, value);
      out_.push_back('\n');
    }
  }

  // The lines of a non-empty container at `depth`.
  void block(const Value& value, std::size_t depth) {
    const std::size_t pad = depth * indent_;
    if (value.is_object()) {
      for (const Member& m : value.members()) {
        padding(pad);
        append_scalar(out_, m.key.text());
        const Value& v = m.value;
        if (literal_string(v)) {
          out_.append(": ");
          literal(v.text(), depth + 1);
        } else if (non_empty_container(v)) {
          out_.append(":\n");
          block(v, depth + 1);
        } else {
          out_.append(": ");
          append_inline(out_, v);
          out_.push_back('\n');
        }
      }
      return;
    }
    for (const Value& e : value.items()) {
      if (literal_string(e)) {
        padding(pad);
        out_.append("- ");
        literal(e.text(), depth + 1);
      } else if (non_empty_container(e)) {
        // The nested block's first line starts with (depth + 1) * indent
        // spaces; the first space past this level's padding becomes the
        // dash, which puts the container on the dash line with its lines
        // aligned.
        dashes_.push_back(pad);
        block(e, depth + 1);
      } else {
        padding(pad);
        out_.append("- ");
        append_inline(out_, e);
        out_.push_back('\n');
      }
    }
  }

  void literal(std::string_view text, std::size_t depth) {
    out_.append(literal_header(text));
    out_.push_back('\n');
    literal_body(out_, text, depth, indent_);
  }

 private:
  // `pad` spaces at the start of a line, with the dashes that the
  // enclosing array items put on it.
  void padding(std::size_t pad) {
    if (dashes_.empty()) {
      out_.append(pad, ' ');
      return;
    }
    std::sort(dashes_.begin(), dashes_.end());
    std::size_t at = 0;
    for (std::size_t d : dashes_) {
      out_.append(d - at, ' ');
      out_.push_back('-');
      at = d + 1;
    }
    out_.append(pad - at, ' ');
    dashes_.clear();
  }

  Out& out_;
  std::size_t indent_;
  std::vector<std::size_t> dashes_;  // dash positions of the next line
};

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

template <typename Out>
void literal_body(Out& out, std::string_view text, std::size_t depth, std::size_t indent) {
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
    out.push_back('\n');
    begin = end + 1;
  }
}

void literal_body_at(std::string& out, std::string_view text, std::size_t depth,
                     std::size_t indent) {
  literal_body(out, text, depth, indent);
}

void block(std::string& out, const Value& value, std::size_t depth, std::size_t indent) {
  Writer<std::string>(out, indent).block(value, depth);
}

template <typename Out>
void write(Out& out, const Value& value, std::size_t indent) {
  Writer<Out>(out, indent).document(value);
}

std::string render(const Value& value, std::size_t indent) {
  std::string out;
  write(out, value, indent);
  return out;
}

template void write(std::string&, const Value&, std::size_t);
template void write(json::Escaped<Buffer>&, const Value&, std::size_t);

}  // namespace quendra::yaml

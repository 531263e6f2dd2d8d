#include "json.h"

#include <array>
#include <cstring>

#include "unicode.h"

namespace quendra {

std::string ParseError::to_string() const {
  return message + " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

namespace json {
namespace {

constexpr std::array<bool, 256> kWhitespace = [] {
  std::array<bool, 256> t{};
  t[' '] = t['\t'] = t['\n'] = t['\r'] = true;
  return t;
}();

// Bytes that end a plain run inside a string: quote, backslash, controls.
constexpr std::array<bool, 256> kStringStop = [] {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = true;
  t['"'] = t['\\'] = true;
  return t;
}();

inline bool has_byte_below(std::uint64_t x, std::uint64_t n) {
  return ((x - 0x0101010101010101ULL * n) & ~x & 0x8080808080808080ULL) != 0;
}

inline bool has_byte(std::uint64_t x, unsigned char b) {
  return has_byte_below(x ^ (0x0101010101010101ULL * b), 1);
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Result<Value, ParseError> run() {
    if (text_.size() >= 3 && std::memcmp(text_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    skip_ws();
    Value value;
    if (!parse_value(value, 0)) return std::move(error_);
    skip_ws();
    if (pos_ < text_.size()) return err("unexpected trailing characters");
    return value;
  }

 private:
  void skip_ws() {
    while (pos_ < text_.size() && kWhitespace[static_cast<unsigned char>(text_[pos_])]) ++pos_;
  }

  ParseError err(const char* message) {
    std::size_t end = pos_ < text_.size() ? pos_ : text_.size();
    std::string_view before = text_.substr(0, end);
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < before.size(); ++i) {
      if (before[i] == '\n') ++line, line_start = i + 1;
    }
    return ParseError{message, line, 1 + unicode::count_chars(before.substr(line_start))};
  }

  bool fail(const char* message) {
    error_ = err(message);
    return false;
  }

  bool parse_value(Value& out, std::size_t depth) {
    if (depth > kMaxDepth) return fail("nesting too deep");
    if (pos_ >= text_.size()) return fail("unexpected end of input");
    switch (text_[pos_]) {
      case 'n': return literal("null", Value::null(), out);
      case 't': return literal("true", Value::boolean(true), out);
      case 'f': return literal("false", Value::boolean(false), out);
      case '"': {
        std::string s;
        if (!parse_string(s)) return false;
        out = Value::string(std::move(s));
        return true;
      }
      case '[': return parse_array(out, depth);
      case '{': return parse_object(out, depth);
      default:
        if (text_[pos_] == '-' || (text_[pos_] >= '0' && text_[pos_] <= '9')) return parse_number(out);
        return fail("unexpected character");
    }
  }

  bool literal(std::string_view word, Value value, Value& out) {
    if (text_.substr(pos_, word.size()) != word) return fail("invalid literal");
    pos_ += word.size();
    out = std::move(value);
    return true;
  }

  bool digit_at(std::size_t i) const { return i < text_.size() && text_[i] >= '0' && text_[i] <= '9'; }

  bool parse_number(Value& out) {
    std::size_t start = pos_;
    if (text_[pos_] == '-') ++pos_;
    if (!digit_at(pos_)) return fail("invalid number");
    if (text_[pos_] == '0') {
      ++pos_;
    } else {
      while (digit_at(pos_)) ++pos_;
    }
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      if (!digit_at(pos_)) return fail("invalid number");
      while (digit_at(pos_)) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      ++pos_;
      if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
      if (!digit_at(pos_)) return fail("invalid number");
      while (digit_at(pos_)) ++pos_;
    }
    out = Value::number(std::string(text_.substr(start, pos_ - start)));
    return true;
  }

  // Reads four hex digits at pos_ into `unit`.
  bool hex4(std::uint32_t& unit) {
    if (text_.size() - pos_ < 4) return fail("truncated \\u escape");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_ + i];
      std::uint32_t d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        d = (c | 0x20) - 'a' + 10;
      } else {
        return fail("invalid \\u escape");
      }
      unit = unit << 4 | d;
    }
    pos_ += 4;
    return true;
  }

  bool parse_string(std::string& out) {
    ++pos_;  // opening quote
    const char* data = text_.data();
    const std::size_t n = text_.size();
    for (;;) {
      std::size_t run = pos_;
      while (n - run >= 8) {
        std::uint64_t w;
        std::memcpy(&w, data + run, 8);
        if (has_byte_below(w, 0x20) || has_byte(w, '"') || has_byte(w, '\\')) break;
        run += 8;
      }
      while (run < n && !kStringStop[static_cast<unsigned char>(data[run])]) ++run;
      out.append(data + pos_, run - pos_);
      pos_ = run;
      if (pos_ >= n) return fail("unterminated string");
      char c = data[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c != '\\') return fail("control character in string");
      ++pos_;
      if (pos_ >= n) return fail("unterminated escape");
      char e = data[pos_];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          ++pos_;
          if (!unicode_escape(out)) return false;
          continue;
        }
        default: return fail("invalid escape");
      }
      ++pos_;
    }
  }

  // pos_ is just after "\u".
  bool unicode_escape(std::string& out) {
    std::uint32_t unit;
    if (!hex4(unit)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (text_.size() - pos_ >= 2 && text_[pos_] == '\\' && text_[pos_ + 1] == 'u') {
        std::size_t second = pos_;
        pos_ += 2;
        std::uint32_t low;
        if (!hex4(low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          unicode::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          return true;
        }
        // Not a low surrogate: the high one stands alone and the second
        // escape is read again on its own.
        pos_ = second;
      }
      unicode::append_utf8(out, 0xFFFD);
      return true;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) unit = 0xFFFD;
    unicode::append_utf8(out, unit);
    return true;
  }

  bool parse_array(Value& out, std::size_t depth) {
    ++pos_;
    skip_ws();
    std::vector<Value> items;
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      out = Value::array();
      return true;
    }
    for (;;) {
      items.emplace_back();
      if (!parse_value(items.back(), depth + 1)) return false;
      skip_ws();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        skip_ws();
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        out = Value::array(std::move(items));
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool parse_object(Value& out, std::size_t depth) {
    ++pos_;
    skip_ws();
    std::vector<Member> members;
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      out = Value::object();
      return true;
    }
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected string key");
      members.emplace_back();
      Member& m = members.back();
      if (!parse_string(m.key)) return false;
      skip_ws();
      if (pos_ >= text_.size() || text_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      skip_ws();
      if (!parse_value(m.value, depth + 1)) return false;
      skip_ws();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        skip_ws();
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        out = Value::object(std::move(members));
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  ParseError error_;
};

constexpr char kHex[] = "0123456789abcdef";

void newline(std::string& out, std::size_t spaces) {
  out.push_back('\n');
  out.append(spaces, ' ');
}

}  // namespace

Result<Value, ParseError> parse(std::string_view text) { return Parser(text).run(); }

void write_string(std::string& out, std::string_view text) {
  out.push_back('"');
  const char* data = text.data();
  const std::size_t n = text.size();
  std::size_t pos = 0;
  while (pos < n) {
    std::size_t run = pos;
    while (n - run >= 8) {
      std::uint64_t w;
      std::memcpy(&w, data + run, 8);
      if (has_byte_below(w, 0x20) || has_byte(w, '"') || has_byte(w, '\\')) break;
      run += 8;
    }
    while (run < n && !kStringStop[static_cast<unsigned char>(data[run])]) ++run;
    out.append(data + pos, run - pos);
    if (run >= n) break;
    auto c = static_cast<unsigned char>(data[run]);
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\b': out.append("\\b"); break;
      case '\t': out.append("\\t"); break;
      case '\n': out.append("\\n"); break;
      case '\f': out.append("\\f"); break;
      case '\r': out.append("\\r"); break;
      default: {
        char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out.append(esc, 6);
      }
    }
    pos = run + 1;
  }
  out.push_back('"');
}

void write_value(std::string& out, const Value& value, Layout layout, std::size_t depth) {
  const bool pretty = layout.pretty();
  const std::size_t indent = layout.indent;
  switch (value.kind()) {
    case Kind::Null: out.append("null"); return;
    case Kind::Bool: out.append(value.as_bool() ? "true" : "false"); return;
    case Kind::Number: out.append(value.text()); return;
    case Kind::String: write_string(out, value.text()); return;
    case Kind::Array: {
      const auto& items = value.items();
      if (items.empty()) {
        out.append("[]");
        return;
      }
      out.push_back('[');
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out.push_back(',');
        if (pretty) newline(out, (depth + 1) * indent);
        write_value(out, items[i], layout, depth + 1);
      }
      if (pretty) newline(out, depth * indent);
      out.push_back(']');
      return;
    }
    case Kind::Object: {
      const auto& members = value.members();
      if (members.empty()) {
        out.append("{}");
        return;
      }
      out.push_back('{');
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out.push_back(',');
        if (pretty) newline(out, (depth + 1) * indent);
        write_string(out, members[i].key);
        out.append(pretty ? ": " : ":");
        write_value(out, members[i].value, layout, depth + 1);
      }
      if (pretty) newline(out, depth * indent);
      out.push_back('}');
      return;
    }
  }
}

}  // namespace json
}  // namespace quendra

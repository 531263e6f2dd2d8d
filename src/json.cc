#include "json.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>
#include <vector>

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
  Parser(std::string_view text, Arena& arena) : text_(text), arena_(arena) {}

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
      case '"': return parse_string(out);
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
    out = value;
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
    out = Value::number(text_.substr(start, pos_ - start));
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

  // A string without escapes views the text: its characters are its bytes
  // less the UTF-8 continuation bytes, and nothing in it needs escaping
  // again. One with escapes is decoded into the arena.
  bool parse_string(Value& out) {
    ++pos_;  // opening quote
    const char* data = text_.data();
    const std::size_t n = text_.size();
    const std::size_t start = pos_;
    std::uint64_t high = 0;  // high bits of the bytes seen
    std::size_t run = pos_;
    while (n - run >= 8) {
      std::uint64_t w;
      std::memcpy(&w, data + run, 8);
      if (has_byte_below(w, 0x20) || has_byte(w, '"') || has_byte(w, '\\')) break;
      high |= w;
      run += 8;
    }
    while (run < n && !kStringStop[static_cast<unsigned char>(data[run])]) {
      high |= static_cast<unsigned char>(data[run]);
      ++run;
    }
    if (run < n && data[run] == '"') {
      pos_ = run + 1;
      std::string_view text(data + start, run - start);
      std::size_t chars = (high & 0x8080808080808080ull) == 0 ? text.size()
                                                               : unicode::count_chars(text);
      out = Value::string_view(arena_, text, chars, chars + 2);
      return true;
    }
    scratch_.assign(data + start, run - start);
    pos_ = run;
    if (!decode_rest(scratch_)) return false;
    out = Value::string(arena_, scratch_);
    return true;
  }

  // Decodes the rest of a string whose plain start is in `out`, from pos_
  // up to and past its closing quote.
  bool decode_rest(std::string& out) {
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

  // Children are read onto a scratch stack shared by all containers and
  // copied to the arena once, at their exact count, when the container
  // closes.
  bool parse_array(Value& out, std::size_t depth) {
    ++pos_;
    skip_ws();
    if (pos_ < text_.size() && text_[pos_] == ']') {
      ++pos_;
      out = Value::array();
      return true;
    }
    const std::size_t base = items_.size();
    for (;;) {
      Value item;
      if (!parse_value(item, depth + 1)) return false;
      items_.push_back(item);
      skip_ws();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        skip_ws();
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        out = Value::array(arena_, std::span(items_).subspan(base));
        items_.resize(base);
        return true;
      }
      return fail("expected ',' or ']'");
    }
  }

  bool parse_object(Value& out, std::size_t depth) {
    ++pos_;
    skip_ws();
    if (pos_ < text_.size() && text_[pos_] == '}') {
      ++pos_;
      out = Value::object();
      return true;
    }
    const std::size_t base = members_.size();
    for (;;) {
      if (pos_ >= text_.size() || text_[pos_] != '"') return fail("expected string key");
      Member m;
      if (!parse_string(m.key)) return false;
      skip_ws();
      if (pos_ >= text_.size() || text_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      skip_ws();
      if (!parse_value(m.value, depth + 1)) return false;
      members_.push_back(m);
      skip_ws();
      if (pos_ < text_.size() && text_[pos_] == ',') {
        ++pos_;
        skip_ws();
        continue;
      }
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        out = Value::object(arena_, std::span(members_).subspan(base));
        members_.resize(base);
        return true;
      }
      return fail("expected ',' or '}'");
    }
  }

  std::string_view text_;
  Arena& arena_;
  std::size_t pos_ = 0;
  ParseError error_;
  std::vector<Value> items_;     // elements of the open arrays
  std::vector<Member> members_;  // members of the open objects
  std::string scratch_;          // a string being decoded
};

constexpr char kHex[] = "0123456789abcdef";

// The bytes that need escaping inside a JSON string: quote, backslash and
// the control characters.
inline bool plain_word(std::uint64_t w) {
  return !has_byte_below(w, 0x20) && !has_byte(w, '"') && !has_byte(w, '\\');
}

template <typename Out>
void escape_into(Out& out, const char* data, std::size_t n) {
  std::size_t pos = 0;
  while (pos < n) {
    std::size_t run = pos;
    while (n - run >= 8) {
      std::uint64_t w;
      std::memcpy(&w, data + run, 8);
      if (!plain_word(w)) break;
      run += 8;
    }
    while (run < n && !kStringStop[static_cast<unsigned char>(data[run])]) ++run;
    out.append(data + pos, run - pos);
    if (run >= n) break;
    auto c = static_cast<unsigned char>(data[run]);
    switch (c) {
      case '"': out.append("\\\"", 2); break;
      case '\\': out.append("\\\\", 2); break;
      case '\b': out.append("\\b", 2); break;
      case '\t': out.append("\\t", 2); break;
      case '\n': out.append("\\n", 2); break;
      case '\f': out.append("\\f", 2); break;
      case '\r': out.append("\\r", 2); break;
      default: {
        char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out.append(esc, 6);
      }
    }
    pos = run + 1;
  }
}

template <typename Out>
void newline(Out& out, std::size_t spaces) {
  out.push_back('\n');
  out.append(spaces, ' ');
}

}  // namespace

Result<Value, ParseError> parse(std::string_view text, Arena& arena) {
  return Parser(text, arena).run();
}

template <typename Out>
void Escaped<Out>::append(const char* p, std::size_t n) {
  chars_ += unicode::count_chars(std::string_view(p, n));
  escape_into(out_, p, n);
}

template <typename Out>
void Escaped<Out>::append(std::size_t count, char c) {
  // Only spaces of indentation come this way: nothing to escape.
  chars_ += count;
  out_.append(count, c);
}

template <typename Out>
void write_string(Out& out, std::string_view text) {
  out.push_back('"');
  escape_into(out, text.data(), text.size());
  out.push_back('"');
}

template <typename Out>
void write_value(Out& out, const Value& value, Layout layout, std::size_t depth) {
  const bool pretty = layout.pretty();
  const std::size_t indent = layout.indent;
  switch (value.kind()) {
    case Kind::Null: out.append("null", 4); return;
    case Kind::Bool:
      if (value.as_bool()) {
        out.append("true", 4);
      } else {
        out.append("false", 5);
      }
      return;
    case Kind::Number: out.append(value.text().data(), value.text().size()); return;
    case Kind::String: write_string(out, value.text()); return;
    case Kind::Array: {
      const auto items = value.items();
      if (items.empty()) {
        out.append("[]", 2);
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
      const auto members = value.members();
      if (members.empty()) {
        out.append("{}", 2);
        return;
      }
      out.push_back('{');
      for (std::size_t i = 0; i < members.size(); ++i) {
        if (i > 0) out.push_back(',');
        if (pretty) newline(out, (depth + 1) * indent);
        write_string(out, members[i].key.text());
        if (pretty) {
          out.append(": ", 2);
        } else {
          out.push_back(':');
        }
        write_value(out, members[i].value, layout, depth + 1);
      }
      if (pretty) newline(out, depth * indent);
      out.push_back('}');
      return;
    }
  }
}

template class Escaped<Buffer>;
template class Escaped<std::string>;
template void write_value(std::string&, const Value&, Layout, std::size_t);
template void write_value(Buffer&, const Value&, Layout, std::size_t);
template void write_value(Escaped<Buffer>&, const Value&, Layout, std::size_t);
template void write_value(Escaped<std::string>&, const Value&, Layout, std::size_t);
template void write_string(std::string&, std::string_view);
template void write_string(Buffer&, std::string_view);
template void write_string(Escaped<Buffer>&, std::string_view);

}  // namespace json

Buffer::Buffer(std::size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {
  data_ = static_cast<char*>(std::malloc(capacity_));
  if (data_ == nullptr) throw std::bad_alloc();
}

void Buffer::grow(std::size_t more) {
  std::size_t need = size_ + more;
  if (need < size_) throw std::bad_alloc();
  std::size_t next = std::max(need, capacity_ + capacity_ / 2);
  char* p = static_cast<char*>(std::realloc(data_, next));
  if (p == nullptr) throw std::bad_alloc();
  data_ = p;
  capacity_ = next;
}

char* Buffer::release() {
  std::size_t n = size_ > 0 ? size_ : 1;
  char* p = static_cast<char*>(std::realloc(data_, n));
  if (p == nullptr) p = data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return p;
}

}  // namespace quendra

#include "document/json.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "unicode/unicode.h"

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

// Reads four hex digits at `pos` of `text` into `unit`; false when they are
// missing or not hex.
bool hex4(std::string_view text, std::size_t& pos, std::uint32_t& unit, const char*& error) {
  if (text.size() - pos < 4) {
    error = "truncated \\u escape";
    return false;
  }
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    char c = text[pos + i];
    std::uint32_t d;
    if (c >= '0' && c <= '9') {
      d = c - '0';
    } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
      d = (c | 0x20) - 'a' + 10;
    } else {
      error = "invalid \\u escape";
      return false;
    }
    unit = unit << 4 | d;
  }
  pos += 4;
  return true;
}

// Decodes a \u escape; `pos` is just after "\u". A lone surrogate becomes
// U+FFFD.
bool unicode_escape(std::string_view text, std::size_t& pos, std::string& out,
                    const char*& error) {
  std::uint32_t unit;
  if (!hex4(text, pos, unit, error)) return false;
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    if (text.size() - pos >= 2 && text[pos] == '\\' && text[pos + 1] == 'u') {
      std::size_t second = pos;
      pos += 2;
      std::uint32_t low;
      if (!hex4(text, pos, low, error)) return false;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unicode::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        return true;
      }
      // Not a low surrogate: the high one stands alone and the second
      // escape is read again on its own.
      pos = second;
    }
    unicode::append_utf8(out, 0xFFFD);
    return true;
  }
  if (unit >= 0xDC00 && unit <= 0xDFFF) unit = 0xFFFD;
  unicode::append_utf8(out, unit);
  return true;
}

// The bytes that need escaping inside a JSON string: quote, backslash and
// the control characters.
inline bool plain_word(std::uint64_t w) {
  return !has_byte_below(w, 0x20) && !has_byte(w, '"') && !has_byte(w, '\\');
}

// The end of the run of bytes from `pos` that need no escaping.
inline std::size_t plain_run(const char* data, std::size_t n, std::size_t pos) {
  while (n - pos >= 8) {
    std::uint64_t w;
    std::memcpy(&w, data + pos, 8);
    if (!plain_word(w)) break;
    pos += 8;
  }
  while (pos < n && !kStringStop[static_cast<unsigned char>(data[pos])]) ++pos;
  return pos;
}

// Decodes the string body of `text` from `pos` up to and past its closing
// quote, appending to `out`. On failure `error` says why and `pos` is where.
bool decode_body(std::string_view text, std::size_t& pos, std::string& out, const char*& error) {
  const char* data = text.data();
  const std::size_t n = text.size();
  for (;;) {
    const std::size_t run = plain_run(data, n, pos);
    out.append(data + pos, run - pos);
    pos = run;
    if (pos >= n) {
      error = "unterminated string";
      return false;
    }
    char c = data[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      error = "control character in string";
      return false;
    }
    ++pos;
    if (pos >= n) {
      error = "unterminated escape";
      return false;
    }
    switch (data[pos]) {
      case '"': out.push_back('"'); break;
      case '\\': out.push_back('\\'); break;
      case '/': out.push_back('/'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u':
        ++pos;
        if (!unicode_escape(text, pos, out, error)) return false;
        continue;
      default:
        error = "invalid escape";
        return false;
    }
    ++pos;
  }
}

// The text of a string body with escapes (its closing quote included), read
// once already without error: the bytes of a deferred string, written
// straight to `out` between the escapes.
void decode_escaped(std::string_view source, char* out) {
  std::size_t pos = 0;
  const std::size_t end = source.size() - 1;  // the closing quote
  while (pos < end) {
    const void* found = std::memchr(source.data() + pos, '\\', end - pos);
    const std::size_t escape =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - source.data()) : end;
    std::memcpy(out, source.data() + pos, escape - pos);
    out += escape - pos;
    pos = escape;
    if (pos == end) break;
    char c = source[pos + 1];
    switch (c) {
      case 'b': c = '\b'; break;
      case 'f': c = '\f'; break;
      case 'n': c = '\n'; break;
      case 'r': c = '\r'; break;
      case 't': c = '\t'; break;
      case 'u': {
        std::string character;  // at most 4 bytes: no allocation
        const char* error = nullptr;
        pos += 2;
        unicode_escape(source, pos, character, error);
        std::memcpy(out, character.data(), character.size());
        out += character.size();
        continue;
      }
      default: break;  // '"', '\\' and '/' stand for themselves
    }
    *out++ = c;
    pos += 2;
  }
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

  // A string without escapes views the text: its characters are its bytes
  // less the UTF-8 continuation bytes, and nothing in it needs escaping
  // again.
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
      if (!plain_word(w)) break;
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
    // Escapes: the text is decoded once here, to check it and measure it,
    // and again from the source only if it is ever read.
    scratch_.assign(data + start, run - start);
    pos_ = run;
    const char* error = nullptr;
    if (!decode_body(text_, pos_, scratch_, error)) return fail(error);
    const TextMeasure m = measure_text(scratch_);
    out = Value::deferred_string(arena_, text_.substr(start, pos_ - start), decode_escaped,
                                 scratch_.size(), m.chars, m.json_size);
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

template <typename Out>
void escape_into(Out& out, const char* data, std::size_t n) {
  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t run = plain_run(data, n, pos);
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
  if (count_) {
    chars_ += unicode::count_chars(std::string_view(p, n));
    bytes_ += n;
    astral_ += unicode::count_astral(std::string_view(p, n));
  }
  escape_into(out_, p, n);
}

template <typename Out>
void Escaped<Out>::append(std::size_t count, char c) {
  // Only spaces of indentation come this way: nothing to escape.
  if (count_) {
    chars_ += count;
    bytes_ += count;
  }
  out_.append(count, c);
}

template <typename Out>
void Escaped<Out>::push_back(char c) {
  if (kStringStop[static_cast<unsigned char>(c)]) {
    append(&c, 1);
    return;
  }
  if (count_) {
    chars_ += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    astral_ += static_cast<unsigned char>(c) >= 0xF0;
    ++bytes_;
  }
  out_.push_back(c);
}

namespace {

// What each byte of a string's text becomes when the string is written as
// JSON and that JSON is written again inside a JSON string: a quote becomes
// \\\" (backslash, backslash, backslash, quote), a newline \\n, another
// control character \\u00XX; other bytes stay as they are (empty here).
struct TwiceEscaped {
  char bytes[8];
  unsigned char size;
};
constexpr std::array<TwiceEscaped, 256> kTwiceEscaped = [] {
  std::array<TwiceEscaped, 256> t{};
  for (int b = 0; b < 0x20; ++b) {
    t[b] = TwiceEscaped{{'\\', '\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 15], 0}, 7};
  }
  auto two = [&t](char b, char letter) { t[static_cast<unsigned char>(b)] = TwiceEscaped{{'\\', '\\', letter}, 3}; };
  two('\b', 'b');
  two('\t', 't');
  two('\n', 'n');
  two('\f', 'f');
  two('\r', 'r');
  t['"'] = TwiceEscaped{{'\\', '\\', '\\', '"'}, 4};
  t['\\'] = TwiceEscaped{{'\\', '\\', '\\', '\\'}, 4};
  return t;
}();

}  // namespace

template <typename Out>
void write_string(Out& out, std::string_view text) {
  out.push_back('"');
  escape_into(out, text.data(), text.size());
  out.push_back('"');
}

// A string written as JSON into the inside of another JSON string, in one
// pass over its text.
template <typename Out>
void write_string(Escaped<Out>& escaped, std::string_view text) {
  if (escaped.counting()) {
    escaped.push_back('"');
    escape_into(escaped, text.data(), text.size());
    escaped.push_back('"');
    return;
  }
  Out& out = escaped.out();
  out.append("\\\"", 2);
  const char* data = text.data();
  const std::size_t n = text.size();
  std::size_t pos = 0;
  while (pos < n) {
    const std::size_t run = plain_run(data, n, pos);
    out.append(data + pos, run - pos);
    if (run >= n) break;
    const TwiceEscaped& e = kTwiceEscaped[static_cast<unsigned char>(data[run])];
    out.append(e.bytes, e.size);
    pos = run + 1;
  }
  out.append("\\\"", 2);
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

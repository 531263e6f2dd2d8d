// Building document trees in tests: every value lives in one arena that
// lasts as long as the test program; Generator makes random ones.
#ifndef QUENDRA_TESTS_TREE_H_
#define QUENDRA_TESTS_TREE_H_

#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "document/json.h"
#include "document/value.h"

namespace quendra::testing {

inline Arena& test_arena() {
  static Arena arena;
  return arena;
}

// A key and a value, for obj().
struct Entry {
  std::string_view key;
  Value value;
};

inline Value str(std::string_view s) { return Value::string(test_arena(), s); }
inline Value num(std::string_view s) { return Value::number(test_arena(), s); }
inline Value arr(const std::vector<Value>& items) { return Value::array(test_arena(), items); }
inline Value obj(const std::vector<Member>& members) {
  return Value::object(test_arena(), members);
}
inline Value obj(std::initializer_list<Entry> entries) {
  std::vector<Member> members;
  for (const Entry& e : entries) members.push_back(Member{str(e.key), e.value});
  return obj(members);
}

// The JSON text `text` read into the test arena (which keeps a copy of it).
inline Result<Value, ParseError> parse_json(std::string_view text) {
  return json::parse(test_arena().copy(text), test_arena());
}

inline Value parse(std::string_view text) {
  auto parsed = parse_json(text);
  return parsed.ok() ? parsed.value() : str("<not JSON: " + std::string(text) + ">");
}

inline std::string render(const Value& value, std::size_t indent = 0) {
  std::string out;
  json::write_value(out, value, Layout{indent});
  return out;
}

// "[" or "{", then item(0) to item(n - 1) separated by commas, then the
// closing bracket.
template <typename Item>
std::string list(std::string_view open, std::size_t n, Item item) {
  std::string out(open);
  for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + item(i);
  return out + (open == "[" ? "]" : "}");
}

inline std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// Seeded random documents of web-API flavour: arrays of records, long texts
// in sentences, lines and paragraphs, escapes and non-ASCII characters, and
// words that YAML would read as something else.
class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
  template <std::size_t N>
  const char* pick(const char* const (&list)[N]) { return list[below(N)]; }

  std::string text() {
    static constexpr const char* kPieces[] = {
        "alpha", "beta", "word", " ", " ", ". ", "! ", "? ", "\n", "\n\n", "\r\n", "\"", "\\",
        "\t", "\x01", "\x7f", "\u00e9t\u00e9", "\u4e2d\u6587", "\U0001F600", "\u2026", "\u2028",
        "\u00a0", "0123", "yes", "~", "- x", "a: b", "#c", "&a", "[a]", "1.5", "null"};
    std::size_t parts = chance(20) ? 20 + below(120) : below(12);
    std::string out;
    for (std::size_t i = 0; i < parts; ++i) out += pick(kPieces);
    return out;
  }

  Value value(std::size_t depth) {
    static constexpr const char* kNumbers[] = {"0", "-12", "3.5e10", "42", "1.50",
                                               "12345678901234567890", "-0.5E-7"};
    switch (below(depth >= 4 ? 4 : 7)) {
      case 0: return chance(50) ? Value::null() : Value::boolean(chance(50));
      case 1: return num(pick(kNumbers));
      case 2:
      case 3: return str(text());
      case 4:
      case 5: {
        std::vector<Value> items(chance(15) ? 20 + below(60) : below(8));
        const bool records = chance(50);
        for (Value& item : items) item = records && !chance(10) ? record(depth + 1) : value(depth + 1);
        return arr(items);
      }
      default: return record(depth);
    }
  }

  Value record(std::size_t depth) {
    static constexpr const char* kKeys[] = {
        "id", "name", "a", "items", "data", "user_id", "title", "description", "tags",
        "url", "status", "created_at", "avatar_url", "owner", "yes", ""};
    std::vector<Member> members(chance(10) ? 10 + below(20) : below(7));
    for (std::size_t i = 0; i < members.size(); ++i) {
      members[i] = Member{str(pick(kKeys)), value(depth + 1)};
    }
    return obj(members);
  }

 private:
  std::mt19937_64 rng_;
};

}  // namespace quendra::testing

#endif  // QUENDRA_TESTS_TREE_H_

// Building document trees in tests: every value lives in one arena that
// lasts as long as the test program.
#ifndef QUENDRA_TESTS_TREE_H_
#define QUENDRA_TESTS_TREE_H_

#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

#include "json.h"
#include "value.h"

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
inline Value arr(std::initializer_list<Value> items) {
  return Value::array(test_arena(), std::vector<Value>(items));
}
inline Value arr(const std::vector<Value>& items) { return Value::array(test_arena(), items); }
inline Value obj(std::initializer_list<Entry> entries) {
  std::vector<Member> members;
  for (const Entry& e : entries) members.push_back(Member{str(e.key), e.value});
  return Value::object(test_arena(), members);
}
inline Value obj(const std::vector<Member>& members) {
  return Value::object(test_arena(), members);
}
inline Member member(std::string_view key, Value value) { return Member{str(key), value}; }

// The JSON text `text` read into the test arena (which keeps a copy of it).
inline Result<Value, ParseError> parse_json(std::string_view text) {
  return json::parse(test_arena().copy(text), test_arena());
}

}  // namespace quendra::testing

#endif  // QUENDRA_TESTS_TREE_H_

// JSON text: a strict reader (leading byte-order mark skipped, numbers kept
// as source text, nesting limited to 512) and the compact and pretty writers.
#ifndef QUENDRA_JSON_H_
#define QUENDRA_JSON_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "result.h"
#include "value.h"

namespace quendra {

struct ParseError {
  std::string message;
  std::size_t line = 1;    // from 1
  std::size_t column = 1;  // from 1, in characters

  // "<message> at line <line>, column <column>".
  std::string to_string() const;
};

namespace json {

inline constexpr std::size_t kMaxDepth = 512;

// REQUIRES: `text` is valid UTF-8.
Result<Value, ParseError> parse(std::string_view text);

// Appends the text of `value` standing at nesting level `depth`: compact when
// `pretty` is false, else one element per line indented by `indent` spaces a
// level. No trailing newline.
void write_value(std::string& out, const Value& value, bool pretty,
                 std::size_t indent, std::size_t depth = 0);

// Appends `text` as a quoted JSON string.
void write_string(std::string& out, std::string_view text);

}  // namespace json
}  // namespace quendra

#endif  // QUENDRA_JSON_H_

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

// How JSON text is laid out: compact when `indent` is 0, otherwise one
// element per line with `indent` spaces per nesting level.
struct Layout {
  std::size_t indent = 0;

  bool pretty() const { return indent != 0; }
  // Characters between a key and its value: ":" compact, ": " indented.
  std::size_t key_separator() const { return pretty() ? 2 : 1; }
};

namespace json {

inline constexpr std::size_t kMaxDepth = 512;

// REQUIRES: `text` is valid UTF-8.
Result<Value, ParseError> parse(std::string_view text);

// Appends the text of `value` standing at nesting level `depth` in `layout`.
// No trailing newline.
void write_value(std::string& out, const Value& value, Layout layout,
                 std::size_t depth = 0);

// Appends `text` as a quoted JSON string.
void write_string(std::string& out, std::string_view text);

}  // namespace json
}  // namespace quendra

#endif  // QUENDRA_JSON_H_

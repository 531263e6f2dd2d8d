// Fuzzes the JSON reader and writers. Any valid UTF-8 input either fails with
// one of the reader's fixed messages at a position inside the text, or reads
// into a tree that the compact and the pretty writer both write back to text
// that reads into the same tree again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/json.h"
#include "document/value.h"
#include "unicode/unicode.h"

namespace {

constexpr std::string_view kMessages[] = {
    "unexpected end of input", "unexpected character", "invalid literal",
    "invalid number",          "expected ',' or ']'",  "expected ',' or '}'",
    "expected ':'",            "expected string key",  "unterminated string",
    "unterminated escape",     "invalid escape",       "invalid \\u escape",
    "truncated \\u escape",    "control character in string",
    "nesting too deep",        "unexpected trailing characters",
};

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "json_fuzz: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

void check_error(std::string_view text, const quendra::ParseError& e) {
  bool known = false;
  for (std::string_view m : kMessages) known = known || e.message == m;
  if (!known) fail("unknown error message", e.message);
  std::size_t lines = 1;
  for (char c : text) lines += c == '\n';
  if (e.line < 1 || e.line > lines || e.column < 1) fail("error position outside the text", e.to_string());
}

// Writes `value`, reads the text back and requires the same tree.
void round_trip(const quendra::Value& value, bool pretty, std::size_t indent) {
  std::string written;
  quendra::json::write_value(written, value, quendra::Layout{pretty ? indent : 0});
  if (!quendra::unicode::valid_utf8(written)) fail("writer produced invalid UTF-8", written);
  quendra::Arena arena;
  auto again = quendra::json::parse(written, arena);
  if (!again.ok()) fail("written text does not read back", again.error().to_string());
  if (!(again.value() == value)) fail("tree changed in a round trip", written);
  std::string rewritten;
  quendra::json::write_value(rewritten, again.value(), quendra::Layout{pretty ? indent : 0});
  if (rewritten != written) fail("second writing differs", rewritten);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quendra::unicode::valid_utf8(text)) return 0;
  quendra::Arena arena;
  auto parsed = quendra::json::parse(text, arena);
  if (!parsed.ok()) {
    check_error(text, parsed.error());
    return 0;
  }
  round_trip(parsed.value(), false, 0);
  round_trip(parsed.value(), true, 2);
  round_trip(parsed.value(), true, 1 + size % 5);
  return 0;
}

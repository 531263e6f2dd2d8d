#include "document/json.h"
#include "tree.h"

#include <gtest/gtest.h>

#include <string>

namespace quendra {
namespace {

using namespace quendra::testing;

std::string error_of(std::string_view text) {
  auto r = parse_json(text);
  return r.ok() ? "ok" : r.error().to_string();
}

std::string roundtrip(std::string_view text) {
  auto r = parse_json(text);
  return r.ok() ? render(r.value()) : "error: " + r.error().to_string();
}

TEST(JsonRead, RejectsWithExactMessageAndPosition) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"", "unexpected end of input at line 1, column 1"},
      {"[1,]", "unexpected character at line 1, column 4"},
      {"{\"a\":1,}", "expected string key at line 1, column 8"},
      {"{", "expected string key at line 1, column 2"},
      {"{\"a\"}", "expected ':' at line 1, column 5"},
      {"[1 2]", "expected ',' or ']' at line 1, column 4"},
      {"{\"a\":1 \"b\"}", "expected ',' or '}' at line 1, column 8"},
      {"01", "unexpected trailing characters at line 1, column 2"},
      {"-", "invalid number at line 1, column 2"},
      {"1.e5", "invalid number at line 1, column 3"},
      {"nul", "invalid literal at line 1, column 1"},
      {"truex", "unexpected trailing characters at line 1, column 5"},
      {"\"a\nb\"", "control character in string at line 1, column 3"},
      {"\"abc", "unterminated string at line 1, column 5"},
      {"\"\\", "unterminated escape at line 1, column 3"},
      {"\"\\x\"", "invalid escape at line 1, column 3"},
      {"\"\\u12x4\"", "invalid \\u escape at line 1, column 4"},
      {"\n\nab?", "unexpected character at line 3, column 1"},
      {"[\n\"é\" ?]", "expected ',' or ']' at line 2, column 5"},
      {"\xEF\xBB\xBF\xEF\xBB\xBF{}", "unexpected character at line 1, column 2"},
      // Columns count characters.
      {"{\"a\":1,\n\"b\":2,\nab", "expected string key at line 3, column 1"},
      {"[\"x\",\n\"é\"?", "expected ',' or ']' at line 2, column 4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(error_of(c.text), c.error);
  }
}

TEST(JsonRead, KeepsNumberTextAndRepeatedKeys) {
  EXPECT_EQ(roundtrip("[1.50,-0,1E+2,0.0e-0]"), "[1.50,-0,1E+2,0.0e-0]");
  EXPECT_EQ(roundtrip("{\"a\":1,\"a\":2}"), "{\"a\":1,\"a\":2}");
  EXPECT_EQ(roundtrip("\xEF\xBB\xBF {\"\":[]}"), "{\"\":[]}");
}

TEST(JsonRead, DecodesEscapesAndSurrogates) {
  struct Case {
    const char* text;
    std::string value;
  } cases[] = {
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\ude00")", "\xEF\xBF\xBD"},
      {R"("\ud83dx")", "\xEF\xBF\xBDx"},
      {R"("\ud83d\u0041")", "\xEF\xBF\xBD" "A"},
      {R"("\ud83d\ud83d\ude00")", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
      {R"("\u00E9\/\b\f\n\r\t\"\\")", "\xC3\xA9/\b\f\n\r\t\"\\"},
      {R"("\u0000")", std::string(1, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto r = parse_json(c.text);
    ASSERT_TRUE(r.ok()) << r.error().to_string();
    EXPECT_EQ(r.value().text(), c.value);
  }
}

TEST(JsonRead, LimitsNesting) {
  EXPECT_EQ(error_of(repeat("[", 512) + "1" + repeat("]", 512)), "ok");
  EXPECT_EQ(error_of(repeat("[", 513) + "1" + repeat("]", 513)), "nesting too deep at line 1, column 514");
  // Far deeper input fails at the limit without recursing further.
  EXPECT_EQ(error_of(repeat("[", 1000000)), "nesting too deep at line 1, column 514");
}

TEST(JsonWrite, EscapesExactly) {
  std::string out;
  json::write_string(out, std::string("\"\\\b\t\n\f\r\x01\x1b\x7f/\xE2\x80\xA8", 14));
  EXPECT_EQ(out, "\"\\\"\\\\\\b\\t\\n\\f\\r\\u0001\\u001b\x7f/\xE2\x80\xA8\"");
}

}  // namespace
}  // namespace quendra

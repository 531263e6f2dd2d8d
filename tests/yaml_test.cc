#include "document/yaml.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

TEST(YamlScalar, PlainWhenSafeAndEscapedInQuotes) {
  // What a reader would mistake reads back the same: yaml_in_test's round trip.
  const std::pair<std::string, std::string> kCases[] = {
      {"\u3000a", "\"\u3000a\""},
      {"+a", "+a"},
      {"a:b", "a:b"},
      {"a#b", "a#b"},
      {"hello world", "hello world"},
      {"caf\u00e9 \u00fc", "caf\u00e9 \u00fc"},
      {"\U0001F600", "\U0001F600"},
      // Escapes inside double quotes; printable characters stay as they are.
      {"a\tb", "\"a\\tb\""},
      {"a\r\nb", "\"a\\r\\nb\""},
      {"say \"hi\" \\ ", "\"say \\\"hi\\\" \\\\ \""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"a\x7f", "\"a\\u007F\""},
      {"a\u0085b", "\"a\\u0085b\""},
      {"a\u2028b\u2029", "\"a\\u2028b\\u2029\""},
      {"x\uffff", "\"x\\uFFFF\""},
      {"1 \u00e9\"", "\"1 \u00e9\\\"\""},
  };
  for (const auto& [text, written] : kCases) EXPECT_EQ(yaml::scalar_string(text), written) << text;
}

TEST(YamlLiteral, DecidesWhichStringsBecomeBlocks) {
  const std::pair<std::string, bool> kCases[] = {
      {"a\nb", true},         {"a\nb\n", true},     {"\na", true},         {"a\n  b", true},
      {"a\tb\nc", true},      {"ab", false},        {"\n", false},         {"\n\n", false},
      {"a\r\nb", false},      {" a\nb", false},     {"\ta\nb", false},     {"\n a", false},
      {"a\n  \nb", false},    {"a\n\u3000\nb", false}, {"a\nb\x01", false}, {"a\nb\u2028", false},
  };
  for (const auto& [text, ok] : kCases) EXPECT_EQ(yaml::literal_ok(text), ok) << text;
}

TEST(YamlRender, Documents) {
  const std::tuple<const char*, std::size_t, const char*> kCases[] = {
      {R"("x")", 2, "x\n"},
      {R"("yes")", 2, "\"yes\"\n"},
      {"[]", 2, "[]\n"},
      {"{}", 2, "{}\n"},
      {"1E+2", 2, "1E+2\n"},
      {R"([true,false,-0,null,"null"])", 2, "- true\n- false\n- -0\n- null\n- \"null\"\n"},
      {R"("l1\nl2")", 2, "|-\n  l1\n  l2\n"},
      {R"("a\nb\n\n")", 2, "|+\n  a\n  b\n\n"},
      {R"({"name":"x","tags":["a","b"],"items":[{"id":1,"ok":true}],"note":"l1\nl2\n",)"
       R"("text":"a\n\n  b\n","empty":{}})",
       2,
       "name: x\ntags:\n  - a\n  - b\nitems:\n  - id: 1\n    ok: true\nnote: |\n  l1\n  l2\n"
       "text: |\n  a\n\n    b\nempty: {}\n"},
      {R"({"items":[{"id":1,"tags":["a"]},[1,2],"x\ny",[]],"true":null,"":"v"})", 4,
       "items:\n    -   id: 1\n        tags:\n            - a\n    -   - 1\n        - 2\n    - |-\n"
       "        x\n        y\n    - []\n\"true\": null\n\"\": v\n"},
      // Nested arrays start on the dash's line.
      {"[[1,2],[[3]]]", 2, "- - 1\n  - 2\n- - - 3\n"},
      {"[[1,2],[[3]]]", 3, "-  - 1\n   - 2\n-  -  - 3\n"},
      // Keys are quoted as values are.
      {R"({"a: b":1,"x\ny":"a\r\nb"," k":" a\nb"})", 2, "\"a: b\": 1\n\"x\\ny\": \"a\\r\\nb\"\n\" k\": \" a\\nb\"\n"},
  };
  for (auto [json, indent, text] : kCases) EXPECT_EQ(yaml::render(parse(json), indent), text) << json;
}

}  // namespace
}  // namespace quendra

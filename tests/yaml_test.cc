#include "yaml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "value.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;


TEST(YamlScalar, QuotesWhatAReaderWouldMistake) {
  struct Case {
    const char* name;
    std::string text;
    std::string written;
  };
  const Case kCases[] = {
      {"empty", "", "\"\""},
      {"yes", "yes", "\"yes\""},
      {"No", "No", "\"No\""},
      {"tilde", "~", "\"~\""},
      {"merge key", "<<", "\"<<\""},
      {"TRUE", "TRUE", "\"TRUE\""},
      {"float", "1.5", "\"1.5\""},
      {"leading dot", ".5", "\".5\""},
      {"plus digit", "+1", "\"+1\""},
      {"minus letter", "-x", "\"-x\""},
      {"minus dot", "-.inf", "\"-.inf\""},
      {"colon space", "a: b", "\"a: b\""},
      {"space hash", "a #b", "\"a #b\""},
      {"trailing colon", "x:", "\"x:\""},
      {"leading space", " a", "\" a\""},
      {"trailing space", "a ", "\"a \""},
      {"leading ideographic space", "\u3000a", "\"\u3000a\""},
      {"indicator", "&x", "\"&x\""},
      {"percent", "%x", "\"%x\""},
      {"plus letter", "+a", "+a"},
      {"inner colon", "a:b", "a:b"},
      {"inner hash", "a#b", "a#b"},
      {"words", "hello world", "hello world"},
      {"yesterday", "yesterday", "yesterday"},
      {"non-ASCII", "caf\u00e9 \u00fc", "caf\u00e9 \u00fc"},
      {"astral", "\U0001F600", "\U0001F600"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(yaml::scalar_string(c.text), c.written);
  }
}

TEST(YamlScalar, EscapesInsideDoubleQuotes) {
  EXPECT_EQ(yaml::scalar_string("a\tb"), "\"a\\tb\"");
  EXPECT_EQ(yaml::scalar_string("a\r\nb"), "\"a\\r\\nb\"");
  EXPECT_EQ(yaml::scalar_string("\n"), "\"\\n\"");
  EXPECT_EQ(yaml::scalar_string("say \"hi\" \\ "), "\"say \\\"hi\\\" \\\\ \"");
  EXPECT_EQ(yaml::scalar_string(std::string("a\0b", 3)), "\"a\\u0000b\"");
  EXPECT_EQ(yaml::scalar_string("a\x7f"), "\"a\\u007F\"");
  EXPECT_EQ(yaml::scalar_string("a\u0085b"), "\"a\\u0085b\"");
  EXPECT_EQ(yaml::scalar_string("a\u2028b\u2029"), "\"a\\u2028b\\u2029\"");
  EXPECT_EQ(yaml::scalar_string("\ufeffx"), "\"\\uFEFFx\"");
  EXPECT_EQ(yaml::scalar_string("x\uffff"), "\"x\\uFFFF\"");
  // A quoted string keeps its printable characters as they are.
  EXPECT_EQ(yaml::scalar_string("1 \u00e9\""), "\"1 \u00e9\\\"\"");
}

TEST(YamlScalar, InlineForms) {
  EXPECT_EQ(yaml::inline_form(Value::null()), "null");
  EXPECT_EQ(yaml::inline_form(Value::boolean(true)), "true");
  EXPECT_EQ(yaml::inline_form(Value::boolean(false)), "false");
  EXPECT_EQ(yaml::inline_form(num("1E+2")), "1E+2");
  EXPECT_EQ(yaml::inline_form(num("-0")), "-0");
  EXPECT_EQ(yaml::inline_form(str("null")), "\"null\"");
  EXPECT_EQ(yaml::inline_form(arr({})), "[]");
  EXPECT_EQ(yaml::inline_form(obj({})), "{}");
}

TEST(YamlLiteral, DecidesWhichStringsBecomeBlocks) {
  struct Case {
    const char* name;
    std::string text;
    bool ok;
  };
  const Case kCases[] = {
      {"two lines", "a\nb", true},
      {"final newline", "a\nb\n", true},
      {"leading empty line", "\na", true},
      {"indented later line", "a\n  b", true},
      {"tab inside", "a\tb\nc", true},
      {"one line", "ab", false},
      {"lone newline", "\n", false},
      {"only newlines", "\n\n", false},
      {"carriage return", "a\r\nb", false},
      {"leading space", " a\nb", false},
      {"leading tab", "\ta\nb", false},
      {"leading space after empty line", "\n a", false},
      {"blank line of spaces", "a\n  \nb", false},
      {"blank line of ideographic space", "a\n\u3000\nb", false},
      {"control character", "a\nb\x01", false},
      {"line separator", "a\nb\u2028", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(yaml::literal_ok(c.text), c.ok);
  }
  EXPECT_EQ(yaml::literal_header("a\nb"), "|-");
  EXPECT_EQ(yaml::literal_header("a\nb\n"), "|");
  EXPECT_EQ(yaml::literal_header("a\nb\n\n"), "|+");
  EXPECT_EQ(yaml::literal_header("a\nb\n\n\n"), "|+");
}

TEST(YamlLiteral, BodyLines) {
  std::string out;
  yaml::literal_body_at(out, "a\n\n  b\n", 2, 3);
  EXPECT_EQ(out, "      a\n\n        b\n");
  out.clear();
  yaml::literal_body_at(out, "a\n\n", 1, 2);
  EXPECT_EQ(out, "  a\n\n");
}

TEST(YamlRender, DocumentWithIndentTwo) {
  Value doc = obj({
      {"name", str("x")},
      {"tags", arr({str("a"), str("b")})},
      {"items", arr({obj({{"id", num("1")}, {"ok", Value::boolean(true)}})})},
      {"note", str("l1\nl2\n")},
      {"empty", obj({})},
  });
  EXPECT_EQ(yaml::render(doc, 2),
            "name: x\n"
            "tags:\n"
            "  - a\n"
            "  - b\n"
            "items:\n"
            "  - id: 1\n"
            "    ok: true\n"
            "note: |\n"
            "  l1\n"
            "  l2\n"
            "empty: {}\n");
}

TEST(YamlRender, DocumentWithIndentFour) {
  Value doc = obj({
      {"items", arr({obj({{"id", num("1")}, {"tags", arr({str("a")})}}),
                     arr({num("1"), num("2")}), str("x\ny"), arr({})})},
      {"true", Value::null()},
      {"", str("v")},
  });
  EXPECT_EQ(yaml::render(doc, 4),
            "items:\n"
            "    -   id: 1\n"
            "        tags:\n"
            "            - a\n"
            "    -   - 1\n"
            "        - 2\n"
            "    - |-\n"
            "        x\n"
            "        y\n"
            "    - []\n"
            "\"true\": null\n"
            "\"\": v\n");
}

TEST(YamlRender, NestedArraysStartOnTheDashLine) {
  Value doc = arr({arr({num("1"), num("2")}), arr({arr({num("3")})})});
  EXPECT_EQ(yaml::render(doc, 2), "- - 1\n  - 2\n- - - 3\n");
  EXPECT_EQ(yaml::render(doc, 3), "-  - 1\n   - 2\n-  -  - 3\n");
}

TEST(YamlRender, TopLevelForms) {
  EXPECT_EQ(yaml::render(str("x"), 2), "x\n");
  EXPECT_EQ(yaml::render(str("yes"), 2), "\"yes\"\n");
  EXPECT_EQ(yaml::render(arr({}), 2), "[]\n");
  EXPECT_EQ(yaml::render(obj({}), 2), "{}\n");
  EXPECT_EQ(yaml::render(Value::null(), 2), "null\n");
  EXPECT_EQ(yaml::render(num("1E+2"), 2), "1E+2\n");
  EXPECT_EQ(yaml::render(str("l1\nl2"), 2), "|-\n  l1\n  l2\n");
  EXPECT_EQ(yaml::render(str("a\nb\n\n"), 2), "|+\n  a\n  b\n\n");
}

TEST(YamlRender, KeysAreQuotedLikeValues) {
  Value doc = obj({{"a: b", num("1")}, {"x\ny", str("a\r\nb")}, {" k", str(" a\nb")}});
  EXPECT_EQ(yaml::render(doc, 2),
            "\"a: b\": 1\n"
            "\"x\\ny\": \"a\\r\\nb\"\n"
            "\" k\": \" a\\nb\"\n");
}

}  // namespace
}  // namespace quendra

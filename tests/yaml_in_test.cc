#include "document/yaml_in.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <tuple>
#include <string>
#include <vector>

#include "document/json.h"
#include "document/value.h"
#include "document/yaml.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

// The reader's own message, without the pipeline's prefix.
std::string message(const Error& e) { return std::get<Error::InputNotYaml>(e.record).message; }

// The compact JSON text of what `yaml` reads as, or "error: <message>".
std::string read(std::string_view yaml) {
  Result<Value, Error> r = yaml_in::parse(test_arena().copy(yaml), test_arena());
  if (!r.ok()) return "error: " + message(r.error());
  std::string out;
  json::write_value(out, r.value(), Layout{});
  return out;
}

struct Case {
  const char* name;
  std::string yaml;
  std::string expected;
};

// The reader's message for a key repeated at that place.
std::string duplicated(std::size_t byte, std::size_t line, std::size_t column) {
  return "error: duplicated key in mapping at byte " + std::to_string(byte) + " line " + std::to_string(line) +
         " column " + std::to_string(column);
}

void check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read(c.yaml), c.expected);
  }
}

TEST(YamlRead, Documents) {
  check({
      {"mapping", "a: 1\nb: [x, 2.50]", R"({"a":1,"b":["x",2.50]})"},
      {"two documents", "---\na: 1\n---\nb: 2", R"([{"a":1},{"b":2}])"},
      {"empty text", "", "null"},
      {"comment only", "  \n# nothing here\n", "null"},
      {"empty documents", "---\n---\n", "[null,null]"},
      {"explicit end", "a\n...\n---\nb\n", R"(["a","b"])"},
      {"byte-order mark", "\xEF\xBB\xBF" "a: 1", R"({"a":1})"},
      {"block scalars", "a: |\n  x\n  y\nb: >-\n  x\n  y\n", R"({"a":"x\ny\n","b":"x y"})"},
      {"escapes", R"(a: "\u00e9\t\x41")", "{\"a\":\"\u00e9\\tA\"}"},
      {"empty value", "a:\nb: ''", R"({"a":null,"b":""})"},
      {"crlf", "a: 1\r\nb: x\r\n", R"({"a":1,"b":"x"})"},
  });
  EXPECT_EQ(read(std::string_view()), "null");
}

// Scalar texts (libfyaml 0.7.12 reads the first ones wrong), the core schema
// and tags.
TEST(YamlRead, Scalars) {
  check({
      {"doubled quotes", "a: 'it''''s'", R"({"a":"it''s"})"},
      {"quoted quotes", "a: '''a'''", R"({"a":"'a'"})"},
      {"single-quoted folding", "a: 'x''\n  ''y'\nb: 'a\n\n  b  \n c'\nc: ' a '\nd: 'a\n '",
       R"({"a":"x' 'y","b":"a\nb c","c":" a ","d":"a "})"},
      {"single-quoted crlf", "a: 'x\r\n  y'", R"({"a":"x y"})"},
      {"literal at end of text", "a: |\n  x", R"({"a":"x"})"},
      {"folded at end of text", "a: >\n  x\n  y", R"({"a":"x y"})"},
      {"top-level literal at end", "|\n x", R"("x")"},
      {"comment-like last line", "a: |\n  x\n  # c", R"({"a":"x\n# c"})"},
      {"kept at end of text", "a: |+\n  x", R"({"a":"x"})"},
      {"empty kept block", "a: |+\n", R"({"a":""})"},
      {"literal with final newline", "a: |\n  x\n", R"({"a":"x\n"})"},
      {"block that libfyaml over-reads",
       "users:\n >\n - id: 1\n    name: Ann\n    email: a@example.com\n  - id: 2\n    name: Bo\n    tags: [a, b]\n",
       R"({"users":"- id: 1\n   name: Ann\n   email: a@example.com\n - id: 2\n)"
       R"(   name: Bo\n   tags: [a, b]\n"})"},
      {"folded before a more indented line", "a: >\n  x\n\n   y\n", R"({"a":"x\n\n y\n"})"},
      {"folded lines and paragraphs", "a: >-\n  x\n   y\n  z\nb: >\n  x\n  y\n\n  z\n",
       R"({"a":"x\n y\nz","b":"x y\nz\n"})"},
      {"explicit indentation", "- |2-\n   x\n  y\n- >2\n   x\n  y\n", R"([" x\ny"," x\ny\n"])"},
      {"headers after quoted keys and before comments",
       "\"k #1\": |+\n  x\n\n'it''s': >- # not |+\n  y\n\n", R"({"k #1":"x\n\n","it's":"y"})"},
      {"header after a quoted key holding an indicator", "\"a > #b\": |-\n  x\n", R"({"a > #b":"x"})"},
      {"blank blocks", "a: |+\n\n\nb: |\n\n\nc: 1", R"({"a":"\n\n","b":"","c":1})"},
      // yaml-test-suite L24T/01 and JEF9/02: a last line of spaces ends with a break.
      {"last line of spaces", "foo: |\n  x\n   ", R"({"foo":"x\n \n"})"},
      {"kept last line of spaces", "- |+\n   ", R"(["\n"])"},
      {"stripped last line of spaces", "a: |-\n  x\n     ", R"({"a":"x\n   "})"},
      {"double-quoted escapes and folding",
       "a: \"x\\\"\\\"y\"\nb: \"a\\\n   b\"\nc: \"a\n\n  b\"\nd: \"\\N\\_\\L\\P\\/\"",
       "{\"a\":\"x\\\"\\\"y\",\"b\":\"ab\",\"c\":\"a\\nb\",\"d\":\"\u0085\u00a0\u2028\u2029/\"}"},
      {"escaped line breaks after escapes",
       "e: \"x\\n\\\n  y\"\nf: \"x\\\\\\\n  y\"\ng: \"a \\\n  \\ b\"\nh: \"  \n  a  \"",
       R"({"e":"x\ny","f":"x\\y","g":"a  b","h":" a  "})"},
  });
  check({
      {"nulls", "[~, null, Null, NULL, nULL]", R"([null,null,null,null,"nULL"])"},
      {"bools", "[true, True, TRUE, false, False, FALSE, tRUE, yes, on]",
       R"([true,true,true,false,false,false,"tRUE","yes","on"])"},
      {"decimal ints", "[012, -0, +5, 00, -12]", "[12,0,5,0,-12]"},
      {"radix ints", "[0o17, 0x1F, 0xff, 0o8, 0x, 0X1]", R"([15,31,255,"0o8","0x","0X1"])"},
      {"64-bit edges", "[9223372036854775807, -9223372036854775808, 9223372036854775808, -9223372036854775809, "
       "0x7fffffffffffffff, 0x8000000000000000, 0o1000000000000000000000]",
       "[9223372036854775807,-9223372036854775808,9223372036854775808,-9223372036854775809,"
       "9223372036854775807,\"0x8000000000000000\",\"0o1000000000000000000000\"]"},
      {"long decimal not in JSON form", "[+123456789012345678901234]", "[123456789012345685803008]"},
      {"floats kept as written", "[1.50, 1e3, 1E+2, -0.0, 0.1e-2, 12e03]", "[1.50,1e3,1E+2,-0.0,0.1e-2,12e03]"},
      {"floats normalised", "[.5, 5., +1.5, -.5, 01.5, 1.e5, -0.]", "[0.5,5,1.5,-0.5,1.5,100000,-0]"},
      {"not finite", "[.inf, -.Inf, +.INF, .nan, .NaN, 1e400, -1e400]",
       R"([".inf","-.Inf","+.INF",".nan",".NaN","1e400","-1e400"])"},
      {"near misses", "[1_000, 1.2.3, 1e, .e5, '12', \"null\", 0x1p3]",
       R"(["1_000","1.2.3","1e",".e5","12","null","0x1p3"])"},
      {"block scalars are strings", "- |-\n  12\n- >-\n  true\n", R"(["12","true"])"},
  });
  check({
      {"str", "[!!str 12, !!str true, !!str ~, !!str]", R"(["12","true","~",""])"},
      {"non-specific", "[! 12, ! true]", R"(["12","true"])"},
      {"verbatim", "!<tag:yaml.org,2002:int> '7'", "7"},
      {"int", "[!!int '12', !!int 0x10, !!int 99999999999999999999]", "[12,16,99999999999999999999]"},
      {"float", "[!!float 3, !!float '1.5', !!float .inf]", R"([3,1.5,".inf"])"},
      {"null and bool", "[!!null '', !!null ~, !!bool 'true', !!bool False]", "[null,null,true,false]"},
      {"collections", "a: !!seq [1]\nb: !!map {c: 2}\nd: ! [3]", R"({"a":[1],"b":{"c":2},"d":[3]})"},
      {"tag directive", "%TAG !e! tag:yaml.org,2002:\n---\n!e!int '5'", "5"},
      {"local tag", "a: !foo x", "error: invalid value"},
      {"binary", "!!binary aGk=", "error: invalid value"},
      {"hex beyond 64 bits", "!!int 0x8000000000000000", "error: invalid value"},
      {"custom collection", "a: !pairs [1]", "error: invalid value"},
  });
}

TEST(YamlRead, MappingsAndAnchors) {
  check({
      {"scalar keys", "1: a\ntrue: b\n~: c\n1.50: d\n0x10: e\n.5: f",
       R"({"1":"a","true":"b","null":"c","1.50":"d","16":"e",".5":"f"})"},
      {"empty key", "? \n: g", R"({"null":"g"})"},
      {"same key text replaces in place", "1: a\nx: 0\n'1': b", R"({"1":"b","x":0})"},
      {"bool and its text", "true: 1\n'true': 2", R"({"true":2})"},
      {"int and float are different keys", "1: a\n1.0: b", R"({"1":"a","1.0":"b"})"},
      {"sequence key", "[a, b]: c", "error: complex mapping keys are not supported"},
      {"mapping key", "? {a: 1}\n: c", "error: complex mapping keys are not supported"},
      {"alias of a collection as key", "a: &s [1]\n*s : 2", "error: complex mapping keys are not supported"},
  });
  check({
      {"plain", "a: 1\na: 2", duplicated(5, 2, 1)},
      {"quoted styles", "'a': 1\n\"a\": 2", duplicated(8, 2, 2)},
      {"ints by value", "0x10: a\n16: b", duplicated(8, 2, 1)},
      {"floats by value", "1.0: a\n1.00: b", duplicated(7, 2, 1)},
      {"alias key", "&k a: 1\n*k : 2", duplicated(9, 2, 2)},
      {"flow", "{b: 1, a: 2, b: 3}", duplicated(13, 1, 14)},
      {"nested maps keep their own keys", "a:\n  a: 1\n  b: 2\nb:\n  a: 3", R"({"a":{"a":1,"b":2},"b":{"a":3}})"},
      {"string and int differ", "1: a\n'1': b", R"({"1":"b"})"},
      {"infinities by text", ".inf: a\n.Inf: b", R"({".inf":"a",".Inf":"b"})"},
  });
  check({
      {"sequence copy", "a: &x [1, 2]\nb: *x", R"({"a":[1,2],"b":[1,2]})"},
      {"scalar copy keeps its type", "a: &n 0x10\nb: *n\nc: &s '1'\nd: *s", R"({"a":16,"b":16,"c":"1","d":"1"})"},
      {"nested copies", "a: &a {x: 1}\nb: &b [*a, *a]\nc: *b",
       R"({"a":{"x":1},"b":[{"x":1},{"x":1}],"c":[{"x":1},{"x":1}]})"},
      {"redefined anchor", "- &a 1\n- *a\n- &a 2\n- *a", "[1,1,2,2]"},
      {"block scalar copied as a key", "a: &x |-\n  k\n*x : 1", R"({"a":"k","k":1})"},
      {"block scalar key repeating a key", "k: 0\na: &x |-\n  k\n*x : 1", duplicated(19, 4, 2)},
      {"undefined", "a: *x", "error: unresolved alias"},
      {"anchors reset per document", "--- &a 1\n--- *a", "error: unresolved alias"},
      {"no merge keys", "a: &d {x: 1}\nb:\n  <<: *d\n  y: 2", R"({"a":{"x":1},"b":{"<<":{"x":1},"y":2}})"},
  });
}

TEST(YamlRead, Errors) {
  check({
      {"unclosed flow", "a: [1, 2", "error: flow sequence without a closing bracket at byte 8 line 2 column 1"},
      {"unterminated quote", "key: \"unterminated",
       "error: double-quoted scalar without closing quote at byte 6 line 1 column 7"},
      {"nested block mapping", "a: b: c",
       "error: invalid nested block mapping on the same line at byte 4 line 1 column 5"},
      {"lone comma", ",", "error: did not find expected node content at byte 0 line 1 column 1"},
      {"columns count characters", "\u00e9\u00e9: \"x",
       "error: double-quoted scalar without closing quote at byte 7 line 1 column 6"},
      {"warning before the error", "%\u00e9\n--- [",
       "error: flow sequence without a closing bracket at byte 9 line 3 column 1"},
      {"version only printed", "%YAML 2.0\n--- a", "error: unsupport version number 2.0 at byte 0 line 1 column 1"},
      {"NUL byte", std::string("a: b\0c", 6), "error: NUL character is not allowed at byte 4 line 1 column 5"},
      {"invalid UTF-8", "a: \xFF", "error: input is not valid UTF-8"},
      {"percent and invalid byte", "%\xC3", "error: input is not valid UTF-8"},
      // libfyaml 0.7.12 frees its parser twice after this one.
      {"tab indentation", "? a:\t:", "error: cannot use tab for indentation of block entry at byte 4 line 1 column 5"},
  });
  check({
      {"syntax after unresolved alias", "a: *x\nb: [1",
       "error: flow sequence without a closing bracket at byte 11 line 3 column 1"},
      {"duplicate after complex key", "[a]: 1\nb: 1\nb: 2", duplicated(12, 3, 1)},
      {"later document", "--- !foo x\n--- [1",
       "error: flow sequence without a closing bracket at byte 17 line 3 column 1"},
      {"conversion error in the second document", "--- 1\n--- !foo x", "error: invalid value"},
  });
}

TEST(YamlRead, Limits) {
  // 512 levels of nesting, and an empty collection inside them.
  EXPECT_EQ(read(repeat("[", 512) + "1" + repeat("]", 512)), repeat("[", 512) + "1" + repeat("]", 512));
  EXPECT_EQ(read(repeat("[", 512) + "{}" + repeat("]", 512)), repeat("[", 512) + "{}" + repeat("]", 512));
  EXPECT_EQ(read(repeat("[", 513) + "1" + repeat("]", 513)), "error: nesting deeper than 512 levels");
  EXPECT_EQ(read(repeat("{a: ", 513) + "1" + repeat("}", 513)), "error: nesting deeper than 512 levels");
  EXPECT_EQ(read(repeat("[", 1'000'000)).substr(0, 48), "error: flow sequence without a closing bracket a");
  // Aliases: nine levels of ten copies would make a billion nodes; 999 and
  // 1000 copies of a sequence of 1000 items are just within and beyond the
  // limit; few nodes may still copy too much text.
  std::string bomb = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char c = 'b'; c <= 'j'; ++c) {
    const std::string copy = std::string("*") + static_cast<char>(c - 1);
    bomb += std::string(1, c) + ": &" + c + " [" + copy + repeat(", " + copy, 9) + "]\n";
  }
  const std::string nodes = "error: aliases expand to more than 1000000 nodes at byte";
  EXPECT_EQ(read(bomb).substr(0, 56), nodes);
  const std::string thousand = "a: &a [" + repeat("x, ", 999) + "x]\nb: [*a";
  EXPECT_EQ(read(thousand + repeat(", *a", 998) + "]").substr(0, 6), "{\"a\":[");
  EXPECT_EQ(read(thousand + repeat(", *a", 999) + "]").substr(0, 56), nodes);
  EXPECT_EQ(read("a: &a " + std::string(100'000, 'x') + "\nb: [*a" + repeat(", *a", 699) + "]\n").substr(0, 57),
            "error: aliases expand to more than 67108864 bytes of text");
  // Duplicate keys and same-text replacement in large mappings are found in
  // linear time.
  std::string keys;
  for (int i = 0; i < 100'000; ++i) keys += std::to_string(i) + ": " + std::to_string(i) + "\n";
  EXPECT_EQ(read(keys + "7: x\n"), duplicated(keys.size(), 100001, 1));
  const Value merged = yaml_in::parse(test_arena().copy(keys + "'12345': b\n"), test_arena()).value();
  EXPECT_EQ(merged.members().size(), 100'000u);
  EXPECT_EQ(merged.members()[12345].value.text(), "b");
}

TEST(YamlNumber, JsonNumberText) {
  const std::tuple<const char*, double, const char*> kCases[] = {
      {"1.50", 1.5, "1.50"}, {"1e3", 1000, "1e3"},   {".5", 0.5, "0.5"},       {"5.", 5, "5"},
      {"+1.5", 1.5, "1.5"},  {"-.5", -0.5, "-0.5"}, {"+1e-7", 1e-7, "0.0000001"}, {"00.1", 0.1, "0.1"},
  };
  for (auto [text, value, json] : kCases) EXPECT_EQ(yaml_in::json_number(text, value), json) << text;
}

// Strings that a YAML writer must quote or write as blocks to read back.
const std::vector<std::string>& tricky_strings() {
  static const std::vector<std::string> kStrings = {
      "", "x", "hello world", "yes", "No", "~", "null", "1.5", ".5", "+1", "-x", "a: b",
      "a #b", "x:", " lead", "trail ", "+a", "a:b", "a#b", "-", "?", "- x", "[a]", "{b}",
      "#c", "&a", "*a", "!t", "|", ">", "'q'", "\"q\"", "%d", "@", "`", "0x1F", "0o7",
      "1e3", ".inf", "<<", "=", "a\tb", "a\nb", "a\nb\n", "a\nb\n\n", "a\nb\n\n\n",
      "\na", "a\n\nb", "a\n  b\n", "a\r\nb", " a\nb", "\n", "\n\n", "a\n \nb",
      "caf\u00e9", "\u00a0x", "x\u00a0", "\u0085", "a\u2028b", "\ufeff", "\U0001F600",
      std::string("nul\0x", 5), "\x7f", "tab\tend\t", "---", "...", "a\n---\nb",
      "a\n...\n", "# not a comment\nx", "key: value\nk2: v2\n", "- item\n- item\n",
      "long " + std::string(300, 'w'), "\\", "\\n"};
  return kStrings;
}

// Each tricky string as a value, an item and a key, then random trees of
// them, written at several indents, read back the same (ints in decimal,
// floats in JSON form, unique keys: the reader's own forms).
TEST(YamlRoundTrip, WrittenYamlReadsBackTheSame) {
  std::vector<Value> leaves = {Value::null(), Value::boolean(false), num("-12"), num("1.50"), num("1E+2"),
                               num("99999999999999999999"), Value::array(), Value::object()};
  std::vector<Value> docs;
  for (const std::string& s : tricky_strings()) {
    leaves.push_back(str(s));
    docs.push_back(str(s));
    docs.push_back(arr({str(s), num("1")}));
    docs.push_back(obj({{s, str(s)}, {"k", arr({str(s)})}}));
  }
  std::uint64_t seed = 42;
  std::function<Value(int)> tree = [&](int depth) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    const std::uint64_t r = seed >> 33;
    if (depth > 4 || r % 3 == 0) return leaves[r % leaves.size()];
    std::vector<Value> items((r / 3) % 5);
    for (Value& item : items) item = tree(depth + 1);
    if (r % 2 == 0) return arr(items);
    std::vector<Member> members;
    for (const Value& item : items) {
      const Value& key = leaves[(r >> 7) % leaves.size()];
      const std::string name = key.is_string() ? std::string(key.text()) : "k";
      members.push_back(Member{str(name + std::to_string(members.size())), item});
    }
    return obj(members);
  };
  for (int i = 0; i < 2000; ++i) docs.push_back(tree(0));
  for (std::size_t i = 0; i < docs.size(); ++i) {
    const std::string text = yaml::render(docs[i], 2 + i % 3);
    Result<Value, Error> back = yaml_in::parse(test_arena().copy(text), test_arena());
    ASSERT_TRUE(back.ok()) << message(back.error()) << "\n" << text;
    ASSERT_TRUE(back.value() == docs[i]) << text;
  }
}

}  // namespace
}  // namespace quendra

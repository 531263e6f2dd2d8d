#include "lib.h"

#include <gtest/gtest.h>

#include "shrink_check.h"

namespace quendra {
namespace {

std::string error_of(std::string_view doc, std::string_view options) {
  auto v = json::parse(shrink(doc, options)).value();
  return v.members()[0].value.as_bool() ? "ok" : v.members()[1].value.text();
}

// The "text" and report member `key` of a success envelope.
struct Shrunk {
  std::string text;
  Value report;
  std::string field(std::string_view key) const {
    for (const Member& m : report.members()) {
      if (m.key == key) {
        if (m.value.is_bool()) return m.value.as_bool() ? "true" : "false";
        return m.value.text();
      }
    }
    return "<missing>";
  }
};

Shrunk run(std::string_view doc, std::string_view options) {
  std::string env = shrink(doc, options);
  auto v = json::parse(env).value();
  EXPECT_TRUE(v.members()[0].value.as_bool()) << env;
  if (v.members().size() < 3) return {};
  return {v.members()[1].value.text(), v.members()[2].value};
}

TEST(Envelope, SuccessBytesExactly) {
  EXPECT_EQ(shrink(R"({"a":1})", R"({"indent":0})"),
            R"({"ok":true,"text":"{\"a\":1}","report":{"input_chars":7,"output_chars":7,)"
            R"("max_chars":10000,"format":"json","input_format":"json","pruned":false,"fits":true,)"
            R"("strings_truncated":0,"arrays_sampled":0,"items_omitted":0,"objects_trimmed":0,)"
            R"("keys_omitted":0,"containers_collapsed":0,"arrays_condensed":0,"protected_omitted":0,)"
            R"("field_decisions":[],"fields_dropped":0,"dropped_fields":[]}})");
  EXPECT_EQ(envelope_err("a \"b\"\x01"), R"({"ok":false,"error":"a \"b\"\u0001"})");
}

TEST(Pipeline, ReportsTheFirstFailingStep) {
  struct Case {
    const char* doc;
    const char* options;
    const char* error;
  } cases[] = {
      {"\xC3", "\xC3", "input is not valid UTF-8"},
      {"{}", "\xED\xA0\x80", "options are not valid UTF-8"},
      {"{}", "", "invalid options JSON: unexpected end of input at line 1, column 1"},
      {"{}", "[]", "invalid options: options must be a JSON object"},
      {"[1,", R"({"indent": -1})", "invalid options: indent must be a non-negative integer"},
      {"", "{}", "invalid JSON input: unexpected end of input at line 1, column 1"},
      {"[1, 2", "{}", "invalid JSON input: expected ',' or ']' at line 1, column 6"},
      {"\xEF\xBB\xBF  {", "{}", "invalid JSON input: expected string key at line 1, column 5"},
      {"\xE2\x80\x83\"a", "{}", "invalid JSON input: unexpected character at line 1, column 1"},
      {"key: value", R"({"input_format": "json"})",
       "invalid JSON input: unexpected character at line 1, column 1"},
      {"{", R"({"input_format": "yaml"})", "invalid YAML input:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    std::string got = error_of(c.doc, c.options);
    EXPECT_EQ(got.substr(0, std::string_view(c.error).size()), c.error);
  }
}

TEST(Pipeline, DetectsAndResolvesFormats) {
  Shrunk s = run("key: value", "{}");
  EXPECT_EQ(s.text, "key: value\n");
  EXPECT_EQ(s.field("format"), "yaml");
  EXPECT_EQ(s.field("input_format"), "yaml");

  s = run("key: [1, 2]", R"({"indent": 0})");  // YAML output raises indent to 2
  EXPECT_EQ(s.field("format"), "yaml");
  EXPECT_EQ(s.text, "key:\n  - 1\n  - 2\n");

  s = run(R"({"a": [1]})", R"({"format": "yaml"})");
  EXPECT_EQ(s.text, "a:\n  - 1\n");
  EXPECT_EQ(s.field("input_format"), "json");

  s = run("a: 1", R"({"format": "json", "indent": 0})");
  EXPECT_EQ(s.text, R"({"a":1})");
}

TEST(Pipeline, ReturnsDocumentWithinBudgetUnpruned) {
  Shrunk s = run("[1, 2, 3]", R"({"indent": 0, "max_chars": 7})");
  EXPECT_EQ(s.text, "[1,2,3]");
  EXPECT_EQ(s.field("pruned"), "false");
  EXPECT_EQ(s.field("fits"), "true");
  EXPECT_EQ(s.field("input_chars"), "7");
}

TEST(BudgetSearch, FitsOrReturnsSmallestOverflow) {
  std::string doc = "[";
  for (int i = 0; i < 200; ++i) doc += (i ? ",\"item " : "\"item ") + std::to_string(i) + "\"";
  doc += "]";
  for (const char* options : {R"({"indent":0,"max_chars":100})", R"({"max_chars":100})",
                              R"({"max_chars":150,"format":"yaml"})"}) {
    SCOPED_TRACE(options);
    Shrunk s = run(doc, options);
    EXPECT_EQ(s.field("pruned"), "true");
    EXPECT_EQ(s.field("fits"), "true");
    EXPECT_LE(std::stoul(s.field("output_chars")), std::stoul(s.field("max_chars")));
    EXPECT_GT(std::stoul(s.field("items_omitted")), 0u);
  }
  Shrunk tiny = run(doc, R"({"indent":0,"max_chars":3})");
  EXPECT_EQ(tiny.field("fits"), "false");
  EXPECT_GT(std::stoul(tiny.field("output_chars")), 3u);
  Shrunk zero = run(doc, R"({"indent":0,"max_chars":0})");
  EXPECT_EQ(zero.field("fits"), "false");
}

TEST(BudgetSearch, KeepsInvariantsOverVariedRequests) {
  const char* docs[] = {
      R"({"users":[{"id":1,"name":"Ann","bio":"A long biography that goes on and on about many things."},{"id":2,"name":"Bob","bio":"short"}],"next":"https://example.com/page/2"})",
      R"(["a","b",{"c":[1,2,3,4,5,6,7,8,9,10]},"d",null,true,false,1.50])",
      "title: Report\nitems:\n  - one\n  - two\n  - three\nnotes: |\n  line one\n  line two\n",
  };
  const char* options[] = {
      R"({"max_chars":0})",          R"({"max_chars":20,"indent":0})",
      R"({"max_chars":60})",         R"({"max_chars":60,"format":"yaml"})",
      R"({"max_chars":80,"array_strategy":"condense","explain":true})",
      R"({"max_chars":50,"protect":["id","/title"],"keep_last_item":false})",
  };
  for (const char* doc : docs) {
    for (const char* opt : options) {
      SCOPED_TRACE(std::string(doc) + " " + opt);
      std::string env;
      EXPECT_EQ(testing::shrink_violation(doc, opt, &env), "") << env;
    }
  }
}

}  // namespace
}  // namespace quendra

#include "lib.h"

#include <gtest/gtest.h>

#include "shrink_check.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

TEST(Pipeline, ReportsTheFirstFailingStep) {
  struct Case {
    const char *doc, *options, *error;
  } const kCases[] = {
      {"\xC3", "\xC3", "input is not valid UTF-8"},
      {"{}", "\xED\xA0\x80", "options are not valid UTF-8"},
      {"{}", "", "invalid options JSON: unexpected end of input at line 1, column 1"},
      {"{}", "[]", "invalid options: options must be a JSON object"},
      {"[1,", R"({"indent": -1})", "invalid options: indent must be a non-negative integer"},
      {"", "{}", "invalid JSON input: unexpected end of input at line 1, column 1"},
      // Text that starts like JSON after White_Space keeps its JSON error.
      {"\xE2\x80\x83\"a", "{}", "invalid JSON input: unexpected character at line 1, column 1"},
      {"\v{\"a\":", "{}", "invalid JSON input: unexpected character at line 1, column 1"},
      {"\f\r[1,", "{}", "invalid JSON input: unexpected character at line 1, column 1"},
      {"key: value", R"({"input_format": "json"})", "invalid JSON input: unexpected character at line 1, column 1"},
      {"{", R"({"input_format": "yaml"})",
       "invalid YAML input: did not find expected node content at byte 1 line 2 column 1"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.doc);
    EXPECT_EQ(run(c.doc, c.options).error, c.error);
  }
}

TEST(ShrinkExamples, ExactOutputs) {
  const std::string hundred =
      list("[", 100, [](std::size_t i) { return "\"" + std::string(4, 'a' + i % 26) + "\""; });
  struct Case {
    const char *name;
    std::string doc;
    const char* options;
    std::string text, summary;
  } const kCases[] = {
      {"fits unchanged", "[1, 2, 3]", R"({"indent":0,"max_chars":7})", "[1,2,3]", "whole"},
      {"YAML in, YAML out at indent 2", "key: [1, 2]", R"({"indent":0})", "key:\n  - 1\n  - 2\n", "yaml whole"},
      {"JSON written as YAML", R"({"a": [1]})", R"({"format":"yaml"})", "a:\n  - 1\n", "yaml whole"},
      {"YAML written as JSON", "a: 1", R"({"format":"json","indent":0})", R"({"a":1})", "whole"},
      {"array sampled without last item", hundred, R"({"indent":0,"max_chars":60,"keep_last_item":false})",
       R"(["aaaa","bbbb","cccc","dddd","eeee","…[95 items omitted]"])", "arrays_sampled=1 items_omitted=95"},
      {"YAML sampled", hundred, R"({"max_chars":60,"format":"yaml"})",
       "- aaaa\n- bbbb\n- cccc\n- dddd\n- …[95 items omitted]\n- vvvv\n",
       "yaml arrays_sampled=1 items_omitted=95"},
      {"seven item shapes come before the last item",
       "[[0],[1],1,\"s\",true,null,{},{\"key\":\"value\"},[2],[3],[4],[5],[6],[7],[8],[9]]",
       R"({"indent":0,"max_chars":70})",
       R"([[0],"…[1 items omitted]",1,"s",true,null,{},"…[9 items omitted]"])",
       "arrays_sampled=1 items_omitted=10"},
      {"a partial item gets exactly min_partial_chars", list("[", 6, [](std::size_t) {
         return std::string("\"alpha beta gamma delta epsilon zeta eta theta\"");
       }), R"({"indent":0,"max_chars":111})",
       R"(["alpha beta gamma delta epsilon zeta eta theta","…[4 items omitted]",)"
       R"("alpha beta gamma delta…[+23 chars]"])",
       "strings_truncated=1 arrays_sampled=1 items_omitted=4"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Shrunk s = run(c.doc, c.options);
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.text, c.text);
    EXPECT_EQ(s.summary, c.summary);
  }
}

// Over generated documents, options and budgets, every envelope keeps its
// invariants, and a JSON text holds only what the document holds, with
// markers that count what the report says was left out.
TEST(ShrinkProperties, GeneratedDocuments) {
  const char* const kOptions[] = {
      R"({"indent":0,"max_chars":%})",
      R"({"max_chars":%})",
      R"({"max_chars":%,"array_strategy":"condense","arguments":"name url","explain":true})",
      R"({"max_chars":%,"format":"yaml","budget_unit":"UTF16"})",
      R"({"max_chars":%,"indent":0,"protect":["id"],"max_samples":1,"keep_last_item":false})",
      R"({"indent":0,"max_chars":%,"budget_unit":"utf16","array_strategy":"condense"})",
      R"({"max_chars":%,"format":"yaml","budget_unit":"Bytes"})",
      R"({"indent":0,"max_chars":%,"budget_unit":"Tokens","array_strategy":"condense"})",
      R"({"max_chars":%,"format":"yaml","budget_unit":"tokens","array_strategy":"condense"})",
  };
  int pruned = 0;
  Generator gen(7);
  for (int round = 0; round < 40; ++round) {
    const Value doc = gen.value(0);
    const std::string text = render(doc);
    for (const char* shape : kOptions) {
      for (std::size_t budget : {0, 40, 200, 1000, 5000}) {
        std::string options = shape;
        options.replace(options.find('%'), 1, std::to_string(budget));
        SCOPED_TRACE("round " + std::to_string(round) + " " + options + "\n" + text);
        // Token budgets are counted by two unlike counters in turn.
        const quendra_counter count = round % 2 ? word_tokens : byte_quads;
        std::string envelope;
        ASSERT_EQ(shrink_violation(text, options, &envelope, count), "") << envelope;
        const Shrunk s = run(text, options, count);
        pruned += s.summary.find("whole") == std::string::npos;
        if (s.summary.starts_with("yaml")) continue;
        Omitted omitted;
        EXPECT_EQ(derived(parse(s.text), doc, omitted), "") << s.text;
        EXPECT_EQ(s.count("items_omitted"), omitted.items) << s.summary;
        EXPECT_EQ(s.count("keys_omitted"), omitted.keys) << s.summary;
      }
    }
  }
  EXPECT_GT(pruned, 500);
}

}  // namespace
}  // namespace quendra

namespace quendra {
namespace {

using namespace quendra::testing;

// A counter that finds every text one token over the budget of `budget`.
struct AlwaysOver {
  int calls = 0;
  std::size_t budget = 0;
  static std::size_t count(const std::uint8_t*, std::size_t, void* context) {
    AlwaysOver& self = *static_cast<AlwaysOver*>(context);
    ++self.calls;
    return self.budget + 1;
  }
};

TEST(TokenSearch, StartsWhereTheDocumentsCharactersPerTokenPutTheBudget) {
  // Text of three bytes a character: a start from bytes instead of
  // characters would begin three times too high and take more attempts.
  std::string doc = "{\"notes\":[";
  for (int i = 0; i < 40; ++i) {
    doc += (i ? ",\"" : "\"") + std::to_string(i) + " 日本語のテキストを短くする例です。長い文章が続きます\"";
  }
  doc += "]}";
  Counting seen;
  const std::string env = shrink(doc, R"({"max_chars":300,"budget_unit":"tokens","indent":0})",
                                 {byte_quads, &seen});
  EXPECT_EQ(seen.calls, 3);
  EXPECT_NE(env.find(R"("output_chars":280,"max_chars":300)"), std::string::npos) << env;
}

TEST(TokenSearch, AsksTheCounterAtMostOncePerAttempt) {
  std::string doc = "[";
  for (int i = 0; i < 3000; ++i) doc += (i ? ",\"item " : "\"item ") + std::to_string(i) + "\"";
  doc += "]";
  AlwaysOver over{0, 1000};
  const std::string env =
      shrink(doc, R"({"max_chars":1000,"budget_unit":"tokens"})", {AlwaysOver::count, &over});
  // The whole document, then 24 attempts that never fit.
  EXPECT_EQ(over.calls, 25);
  EXPECT_NE(env.find(R"("fits":false)"), std::string::npos);
}

}  // namespace
}  // namespace quendra

#include "options.h"

#include <gtest/gtest.h>

#include "json.h"
#include "protect.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

// "ok" or the options message.
std::string build(std::string_view text, Options* out = nullptr) {
  auto v = parse_json(text);
  if (!v.ok()) return "json: " + v.error().to_string();
  auto o = Options::from_value(v.value());
  if (!o.ok()) return std::get<Error::BadOptions>(o.error().record).message;
  if (out) *out = o.value();
  return "ok";
}

TEST(OptionsBuild, RefusesWithExactMessages) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"[]", "options must be a JSON object"},
      {R"({"Max_Chars": 10})", "unknown option: Max_Chars"},
      {R"({"x": 1, "max_chars": -1})", "unknown option: x"},
      {R"({"max_chars": -1, "x": 1})", "max_chars must be a non-negative integer"},
      {R"({"max_chars": 1.5})", "max_chars must be a non-negative integer"},
      {R"({"max_chars": 1e3})", "max_chars must be a non-negative integer"},
      {R"({"indent": "2"})", "indent must be a non-negative integer"},
      {R"({"max_samples": 18446744073709551616})", "max_samples must be a non-negative integer"},
      {R"({"explain": 1})", "explain must be a boolean"},
      {R"({"keep_last_item": null})", "keep_last_item must be a boolean"},
      {R"({"format": "xml"})", R"(format must be "auto", "json" or "yaml")"},
      {R"({"input_format": 1})", R"(input_format must be "auto", "json" or "yaml")"},
      {R"({"array_strategy": "all"})", R"(array_strategy must be "sample" or "condense")"},
      {R"({"field_scorer": 0})", "field_scorer must be a string"},
      {R"({"field_scorer": "best"})",
       R"(field_scorer must be one of ["heuristic", "compact", "key_order"])"},
      {R"({"protect": ["a", 1]})", "protect must be a list of strings"},
      {R"({"protect": {}})", "protect must be a list of strings"},
      {R"({"budget_unit": "utf-16"})", R"(budget_unit must be "chars", "bytes" or "utf16")"},
      {R"({"budget_unit": "utf8"})", R"(budget_unit must be "chars", "bytes" or "utf16")"},
      {R"({"budget_unit": " bytes"})", R"(budget_unit must be "chars", "bytes" or "utf16")"},
      {R"({"budget_unit": 8})", R"(budget_unit must be "chars", "bytes" or "utf16")"},
      {R"({"budget_unit": "bytes", "x": 1})", "unknown option: x"},
      {R"({"format": "yaml", "indent": 1})", "YAML indent must be at least 2"},
      {R"({"indent": 0, "format": "YAML"})", "YAML indent must be at least 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(build(c.text), c.message);
  }
}

TEST(OptionsBuild, AcceptsAndNormalises) {
  Options o;
  ASSERT_EQ(build("{}", &o), "ok");
  EXPECT_EQ(o.max_chars, 10000u);
  EXPECT_EQ(o.indent, 2u);
  EXPECT_EQ(o.max_samples, 3u);
  EXPECT_TRUE(o.keep_last_item);
  EXPECT_EQ(o.string_head_chars, 500u);
  EXPECT_EQ(o.min_partial_chars, 40u);
  EXPECT_EQ(o.budget_unit, BudgetUnit::Chars);
  EXPECT_FALSE(o.arguments.has_value());

  ASSERT_EQ(build(R"({"max_chars": 0, "format": "YML", "field_scorer": "Key-Order",
                      "array_strategy": "CONDENSE", "max_samples": 18446744073709551615,
                      "budget_unit": "UTF16"})",
                  &o),
            "ok");
  EXPECT_EQ(o.max_chars, 0u);
  EXPECT_EQ(o.format, Format::Yaml);
  EXPECT_EQ(o.field_scorer, ScorerKind::KeyOrder);
  EXPECT_EQ(o.array_strategy, ArrayStrategy::Condense);
  EXPECT_EQ(o.max_samples, 18446744073709551615u);
  EXPECT_EQ(o.budget_unit, BudgetUnit::Utf16);

  ASSERT_EQ(build(R"({"protect": ["a"], "protect": "/", "max_chars": 5, "max_chars": 7})", &o), "ok");
  EXPECT_EQ(o.protect, std::vector<std::string>{"/"});
  EXPECT_EQ(o.max_chars, 7u);
  EXPECT_TRUE(compile_patterns(o.protect).empty());
}

TEST(OptionsBuild, QueryFromArguments) {
  struct Case {
    const char* text;
    const char* query;  // nullptr: absent
  } cases[] = {
      {R"({"arguments": {"q": ["find", 42], "flag": true}})", "find 42"},
      {R"({"arguments": ["  ", ""]})", nullptr},
      {R"({"arguments": [" a", "b "]})", " a b "},
      {R"({"arguments": null})", nullptr},
      {R"({"arguments": "x", "arguments": 1.5e3})", "1.5e3"},
      {R"({"arguments": "x", "arguments": []})", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Options o;
    ASSERT_EQ(build(c.text, &o), "ok");
    if (c.query) {
      EXPECT_EQ(o.arguments.value_or("<absent>"), c.query);
    } else {
      EXPECT_FALSE(o.arguments.has_value());
    }
  }
}

TEST(ProtectPattern, CompilesAndMatches) {
  auto p = compile_patterns({"/users/*/email", "email", "a//b", "", "//", "users/0/email"});
  ASSERT_EQ(p.size(), 4u);
  EXPECT_TRUE(p[0].anchored);
  EXPECT_EQ(p[0].segments, (std::vector<std::string>{"users", "*", "email"}));
  EXPECT_FALSE(p[2].anchored);
  EXPECT_EQ(p[2].segments, (std::vector<std::string>{"a", "b"}));

  using Path = std::vector<std::string_view>;
  EXPECT_TRUE(matches(p[0], Path{"users", "*", "email"}));
  EXPECT_FALSE(matches(p[0], Path{"x", "users", "*", "email"}));
  EXPECT_TRUE(matches(p[1], Path{"x", "users", "*", "email"}));
  EXPECT_FALSE(matches(p[1], Path{"email", "x"}));
  EXPECT_TRUE(matches(compile_patterns({"users/*/email"})[0], Path{"a", "users", "k", "email"}));
  EXPECT_FALSE(matches(p[3], Path{"users", "*", "email"}));
  EXPECT_TRUE(matches(p[3], Path{"users", "0", "email"}));
  EXPECT_FALSE(matches(p[1], Path{}));
}

}  // namespace
}  // namespace quendra

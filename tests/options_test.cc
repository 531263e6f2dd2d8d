#include "options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

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
  EXPECT_EQ(compile_patterns({"/users/*/email", "email", "a//b", "", "//"}).size(), 3u);
  struct Case {
    const char* pattern;
    std::vector<std::string_view> path;
    bool match;
  } const kCases[] = {
      {"/users/*/email", {"users", "*", "email"}, true},
      {"/users/*/email", {"x", "users", "*", "email"}, false},
      {"email", {"x", "users", "*", "email"}, true},
      {"email", {"email", "x"}, false},
      {"email", {}, false},
      {"users/*/email", {"a", "users", "k", "email"}, true},
      {"users/0/email", {"users", "*", "email"}, false},
      {"users/0/email", {"users", "0", "email"}, true},
      {"a//b", {"a", "b"}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(matches(compile_patterns({c.pattern})[0], c.path), c.match);
  }
}

}  // namespace
}  // namespace quendra

namespace quendra {
namespace {

// The text of running `command`.
std::string output_of(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// The default the command's help gives for `flag`: the parenthesis that
// ends the flag's description, which may run over several lines.
std::string help_default(const std::string& help, const std::string& flag) {
  std::istringstream lines(help);
  std::string line, block;
  bool in_block = false;
  while (std::getline(lines, line)) {
    const std::size_t text = line.find_first_not_of(' ');
    if (in_block && text != std::string::npos && text >= 30) {
      block += ' ' + line.substr(text);
      continue;
    }
    if (in_block) break;
    if (text != std::string::npos && line.compare(text, flag.size() + 1, flag + " ") == 0) {
      block = line;
      in_block = true;
    }
  }
  const std::size_t close = block.rfind(')');
  const std::size_t open = block.rfind('(', close);
  if (close == std::string::npos || open == std::string::npos) return "<none>";
  return block.substr(open + 1, close - open - 1);
}

// The default the README's options table gives for `key`.
std::string readme_default(const std::string& readme, const std::string& key) {
  const std::string start = "| `" + key + "` |";
  const std::size_t row = readme.find(start);
  if (row == std::string::npos) return "<none>";
  std::size_t cell = readme.find('|', row + start.size());  // end of the flag cell
  std::size_t end = readme.find('|', cell + 1);
  std::string value = readme.substr(cell + 1, end - cell - 1);
  value.erase(0, value.find_first_not_of(' '));
  value.erase(value.find_last_not_of(' ') + 1);
  return value;
}

// The help of the command and the README's table state the defaults that
// the options record holds.
TEST(OptionsDefaults, HelpAndReadmeAgreeWithTheRecord) {
  const Options o;
  auto word = [](std::size_t n) { return std::to_string(n); };
  auto choice = [](auto value, std::initializer_list<const char*> names) {
    return std::string(names.begin()[static_cast<std::size_t>(value)]);
  };
  const struct {
    std::string key, flag, value, help_value;
  } rows[] = {
      {"max_chars", "--max-chars", word(o.max_chars), word(o.max_chars)},
      {"budget_unit", "--budget-unit", choice(o.budget_unit, {"chars", "bytes", "utf16"}), ""},
      {"indent", "--indent", word(o.indent), word(o.indent)},
      {"format", "--format", choice(o.format, {"auto", "json", "yaml"}), ""},
      {"input_format", "--input-format", choice(o.input_format, {"auto", "json", "yaml"}), ""},
      {"array_strategy", "--strategy", choice(o.array_strategy, {"sample", "condense"}), ""},
      {"field_scorer", "--scorer", std::string(kScorerNames[static_cast<std::size_t>(o.field_scorer)]),
       ""},
      {"max_samples", "--max-samples", word(o.max_samples), ""},
      {"keep_last_item", "--keep-last-item", o.keep_last_item ? "true" : "false",
       o.keep_last_item ? "on" : "off"},
      {"min_partial_chars", "--min-partial-chars", word(o.min_partial_chars), ""},
      {"string_head_chars", "--string-head-chars", word(o.string_head_chars), ""},
      {"string_section_chars", "--string-section-chars", word(o.string_section_chars), ""},
      {"string_min_section_chars", "--string-min-section-chars",
       word(o.string_min_section_chars), ""},
      {"explain", "--explain,", o.explain ? "true" : "false", o.explain ? "on" : "off"},
  };
  std::ifstream file(QUENDRA_README);
  const std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string help = output_of(std::string(QUENDRA_CLI) + " --help");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(help.empty());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.key);
    EXPECT_EQ(readme_default(readme, row.key), row.value);
    EXPECT_EQ(help_default(help, row.flag), row.help_value.empty() ? row.value : row.help_value);
  }
}

}  // namespace
}  // namespace quendra

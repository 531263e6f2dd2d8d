#include "document/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <tuple>

#include "document/json.h"
#include "document/protect.h"
#include "quendra/flags.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

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
      {R"({"indent": "2"})", "indent must be a non-negative integer"},
      {R"({"max_samples": 18446744073709551616})", "max_samples must be a non-negative integer"},
      {R"({"explain": 1})", "explain must be a boolean"},
      {R"({"format": "xml"})", R"(format must be "auto", "json" or "yaml")"},
      {R"({"array_strategy": "all"})", R"(array_strategy must be "sample" or "condense")"},
      {R"({"field_scorer": 0})", "field_scorer must be a string"},
      {R"({"field_scorer": "best"})", R"(field_scorer must be one of ["heuristic", "compact", "key_order"])"},
      {R"({"protect": ["a", 1]})", "protect must be a list of strings"},
      {R"({"budget_unit": "utf-16"})", R"(budget_unit must be "chars", "bytes", "utf16" or "tokens")"},
      {R"({"budget_unit": " bytes"})", R"(budget_unit must be "chars", "bytes", "utf16" or "tokens")"},
      {R"({"redact": "yes"})", "redact must be true or false"},
      {R"({"exclude": {"a": 1}})", "exclude must be a list of strings"},
      {R"({"redact_paths": ["a", null]})", "redact_paths must be a list of strings"},
      {R"({"root": "data/0"})", "root must be a JSON Pointer"},
      {R"({"root": ["/a"]})", "root must be a JSON Pointer"},
      {R"({"root": 1, "redact": 1})", "root must be a JSON Pointer"},
      {R"({"redact": 1, "root": 1})", "redact must be true or false"},
      {R"({"format": "yaml", "indent": 1})", "YAML indent must be at least 2"},
      {R"({"indent": 0, "format": "YAML"})", "YAML indent must be at least 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(build(c.text), c.message);
  }
}

// Defaults are checked against the README and the help below.
TEST(OptionsBuild, AcceptsAndNormalises) {
  Options o;
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
  EXPECT_FALSE(o.reports_rules);
  // The rules; naming any of exclude, redact and redact_paths asks for their
  // counts, whatever the value (path_rules_test: each alone).
  ASSERT_EQ(build(R"({"root": "", "exclude": "a", "redact_paths": [], "redact": false})", &o), "ok");
  EXPECT_EQ((std::tuple{o.root, o.exclude, o.redact_paths, o.redact, o.reports_rules}),
            (std::tuple{std::optional<std::string>(""), std::vector<std::string>{"a"},
                        std::vector<std::string>{}, false, true}));
  ASSERT_EQ(build(R"({"root": "/a~1b/0"})", &o), "ok");
  EXPECT_EQ(o.root, "/a~1b/0");
  EXPECT_FALSE(o.reports_rules);
  // The query is the texts of the arguments joined by spaces ("": none).
  const std::pair<const char*, const char*> kQueries[] = {
      {R"({"arguments": {"q": ["find", 42], "flag": true}})", "find 42"},
      {R"({"arguments": ["  ", ""]})", ""},
      {R"({"arguments": [" a", "b "]})", " a b "},
      {R"({"arguments": null})", ""},
      {R"({"arguments": "x", "arguments": 1.5e3})", "1.5e3"},
      {R"({"arguments": "x", "arguments": []})", ""},
  };
  for (auto [text, query] : kQueries) {
    ASSERT_EQ(build(text, &o), "ok");
    EXPECT_EQ(o.arguments.value_or(""), query) << text;
    EXPECT_EQ(o.arguments.has_value(), *query != 0) << text;
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

// The first group of `pattern`'s first match in `text`.
std::string found(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "<none>";
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
      {"field_scorer", "--scorer", std::string(kScorerNames[static_cast<std::size_t>(o.field_scorer)]), ""},
      {"max_samples", "--max-samples", word(o.max_samples), ""},
      {"keep_last_item", "--keep-last-item", o.keep_last_item ? "true" : "false", o.keep_last_item ? "on" : "off"},
      {"min_partial_chars", "--min-partial-chars", word(o.min_partial_chars), ""},
      {"string_head_chars", "--string-head-chars", word(o.string_head_chars), ""},
      {"string_section_chars", "--string-section-chars", word(o.string_section_chars), ""},
      {"string_min_section_chars", "--string-min-section-chars", word(o.string_min_section_chars), ""},
      {"explain", "--explain", o.explain ? "true" : "false", o.explain ? "on" : "off"},
      {"redact", "--redact", o.redact ? "true" : "false", o.redact ? "on" : "off"},
  };
  std::ifstream file(QUENDRA_README);
  const std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string help = output_of(std::string(QUENDRA_CLI) + " --help");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(help.empty());
  for (const auto& row : rows) {
    SCOPED_TRACE(row.key);
    // The table's third cell; the parenthesis that ends the flag's help,
    // which goes on over lines indented by 30.
    EXPECT_EQ(found(readme, "\\| `" + row.key + "` \\|[^|]*\\| *([^|]*?) *\\|"), row.value);
    EXPECT_EQ(found(help, "\n +" + row.flag + "[ ,](?:[^\n]|\n {30})*\\(([^()]*)\\)(?=\n(?! {30})|$)"),
              row.help_value.empty() ? row.value : row.help_value);
  }
}

// The README's options table names, for each option, exactly the flags that
// the command's table has for it, and each of those options is one the
// library knows.
TEST(OptionsDefaults, ReadmeAndLibraryAgreeWithTheFlags) {
  std::ifstream file(QUENDRA_README);
  const std::string readme((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::map<std::string, std::string> readme_flags;
  const std::regex row("\n\\| `([a-z_]+)` \\| ([^|\n]*`--[^|\n]*?) *\\|");
  for (std::sregex_iterator m(readme.begin(), readme.end(), row), end; m != end; ++m) {
    readme_flags[(*m)[1]] = (*m)[2];
  }
  std::map<std::string, std::string> table_flags;
  for (const quendra_cli::Flag& f : quendra_cli::kFlags) {
    if (!quendra_cli::sets_option(f.kind)) continue;
    const std::string key(f.key), name(f.name);
    EXPECT_NE(build("{\"" + key + "\": null}"), "unknown option: " + key);
    std::string& cell = table_flags[key];
    cell += (cell.empty() ? "`--" : ", `--") + name + (f.arg.empty() ? "" : " ") +
            std::string(f.arg) + "`";
    if (f.kind == quendra_cli::Kind::Boolean) cell += ", `--no-" + name + "`";
    if (f.kind == quendra_cli::Kind::List) cell += " (repeatable)";
  }
  EXPECT_EQ(readme_flags, table_flags);
}

}  // namespace
}  // namespace quendra

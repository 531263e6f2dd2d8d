#include "engine/prune.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/options.h"
#include "shrink_check.h"
#include "tree.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

using namespace quendra::testing;

Options options_of(std::string_view json) { return Options::from_value(parse(json)).value(); }

// The nonzero counters, e.g. "arrays_sampled=1 items_omitted=95".
std::string counters(const Stats& s) {
  std::string out;
  for (auto [name, n] : {std::pair{"strings_truncated", s.strings_truncated},
                         {"arrays_sampled", s.arrays_sampled},
                         {"items_omitted", s.items_omitted},
                         {"objects_trimmed", s.objects_trimmed},
                         {"keys_omitted", s.keys_omitted},
                         {"containers_collapsed", s.containers_collapsed},
                         {"arrays_condensed", s.arrays_condensed},
                         {"fields_dropped", s.fields_dropped},
                         {"protected_omitted", s.protected_omitted}}) {
    if (n > 0) out += (out.empty() ? "" : " ") + std::string(name) + "=" + std::to_string(n);
  }
  return out;
}

Meta analyze(Value doc, const Request& request) {
  Pruner pruner(request, test_arena());
  Path path;
  return pruner.analyze_at(doc, 0, path, false);
}

struct Outcome {
  std::string text;
  std::size_t size = 0;
  std::string counters;
};

// Analyses `doc` and fits it with a fresh pruner, as one attempt of the
// budget search does.
Outcome fit(const Value& doc, std::size_t budget, const Options& options, std::size_t indent = 0) {
  const Request request(options, Layout{indent});
  const Meta meta = analyze(doc, request);
  Pruner pruner(request, test_arena());
  Fitted fitted = pruner.fit_sized(doc, meta, budget, 0);
  EXPECT_TRUE(pruner.path.empty());
  return {render(fitted.value, indent), fitted.size, counters(pruner.stats)};
}

std::string words(std::size_t n) {
  return list("[", n, [](std::size_t i) { return "\"w" + std::to_string(1000 + i).substr(1) + "\""; });
}

TEST(PruneFit, ExactOutputs) {
  const std::string a100 = std::string(100, 'a'), n24 = std::string(24, '1');
  const std::string two_long = "[\"" + std::string(30, 'a') + "\",\"" + std::string(200, 'b') + "\"]";
  const std::string thirty = list("[", 30, [](std::size_t i) { return std::to_string(i); });
  const std::string forty =
      list("{", 40, [](std::size_t i) { return "\"k" + std::to_string(i) + "\":" + std::to_string(i % 10); });
  struct Case {
    const char* name;
    std::string doc;
    std::size_t budget;
    const char* options;
    std::string text;
    std::size_t size;
    const char* counters;
  } const kCases[] = {
      {"minimal form larger than budget", R"({"a":[1,2,3]})", 0, "{}", R"({"a":[1,2,3]})", 13, ""},
      {"new shape offered early",
       "[{\"a\":" + n24 + "},{\"a\":" + n24 + "},{\"b\":" + n24 + "},{\"a\":" + n24 + "},{\"a\":" + n24 + "}]",
       110, "{}", "[{\"a\":" + n24 + "},\"…[1 items omitted]\",{\"b\":" + n24 + "},\"…[2 items omitted]\"]",
       105, "arrays_sampled=1 items_omitted=3"},
      {"partial item", two_long, 100, "{}",
       "[\"" + std::string(30, 'a') + "\",\"" + std::string(50, 'b') + "\u2026[+150 chars]\"]", 100,
       "strings_truncated=1 arrays_sampled=1"},
      {"partial item without enough room", two_long, 100, R"({"min_partial_chars":70})",
       "[\"" + std::string(30, 'a') + "\",\"…[1 items omitted]\"]", 55, "arrays_sampled=1 items_omitted=1"},
      {"samples when no item fits whole", "[\"" + a100 + "\",\"" + std::string(100, 'b') + "\"]", 40, "{}",
       "[\"aaa…[+97 chars]\",\"…[1 items omitted]\"]", 40,
       "strings_truncated=1 arrays_sampled=1 items_omitted=1"},
      {"collapsed array", "[\"" + a100 + "\",\"" + std::string(100, 'b') + "\"]", 37, "{}",
       R"(["…[2 items omitted]"])", 22, "items_omitted=2 containers_collapsed=1"},
      {"indented", words(100), 120, R"({"indent":2})",
       "[\n  \"w000\",\n  \"w001\",\n  \"w002\",\n  \"w003\",\n  \"w004\",\n  \"w005\",\n  \"w006\",\n"
       "  \"w007\",\n  \"…[91 items omitted]\",\n  \"w099\"\n]",
       117, "arrays_sampled=1 items_omitted=91"},
      {"trimmed object", "{\"a\":\"" + a100 + "\",\"b\":\"" + a100 + "\",\"c\":\"" + a100 + "\"}", 50, "{}",
       R"({"a":"aaaaaaaaa…[+91 chars]","2 keys omitted":"…"})", 50,
       "strings_truncated=1 objects_trimmed=1 keys_omitted=2"},
      {"object never skips a member", "{\"a\":" + std::string(60, '7') + ",\"b\":1,\"c\":2}", 40, "{}",
       R"({"3 keys omitted":"…"})", 22, "keys_omitted=3 containers_collapsed=1"},
      {"condense mode skips a member", "{\"a\":" + std::string(60, '7') + ",\"b\":1,\"c\":2}", 40,
       R"({"array_strategy":"condense","field_scorer":"key_order"})", R"({"b":1,"2 keys omitted":"…"})", 28,
       "objects_trimmed=1 keys_omitted=2"},
      {"collapsed object", forty, 0, "{}", R"({"40 keys omitted":"…"})", 23, "keys_omitted=40 containers_collapsed=1"},
      {"all members at minimum", "{\"a\":\"" + a100 + "\",\"b\":\"" + a100 + "\"}", 60, "{}",
       R"({"a":"aaaaaaaaaa…[+90 chars]","b":"aaaaaaaaaaa…[+89 chars]"})", 60, "strings_truncated=2"},
      {"small values leave room to large ones",
       "{\"large\":\"" + std::string(100, 'l') + "\",\"small\":\"" + std::string(20, 's') + "\"}", 80, "{}",
       "{\"large\":\"" + std::string(25, 'l') + "\u2026[+75 chars]\",\"small\":\"" +
           std::string(20, 's') + "\"}",
       80, "strings_truncated=1"},
      {"protected member survives minimal form",
       "{\"keep\":{\"id\":7,\"junk\":\"" + a100 + "\"},\"other\":[1,2]}", 0, R"({"protect":["id"]})",
       R"({"keep":{"id":7,"1 keys omitted":"…"},"1 keys omitted":"…"})", 59,
       "keys_omitted=2 containers_collapsed=2"},
      {"protected member kept last", "{\"a\":1,\"b\":\"" + a100 + "\",\"c\":2,\"id\":12345}", 40,
       R"({"protect":["id"]})", R"({"a":1,"id":12345,"2 keys omitted":"…"})", 39,
       "objects_trimmed=1 keys_omitted=2"},
      {"protected array kept whole", "{\"x\":" + thirty + ",\"y\":\"" + std::string(20, 'y') + "\"}", 0,
       R"({"protect":["/x"]})", "{\"x\":" + thirty + ",\"1 keys omitted\":\"…\"}", 108,
       "keys_omitted=1 containers_collapsed=1"},
      {"protected items lost with their array",
       R"({"x":[{"id":1,"t":"zzzzzzzzzzzzzzzzzzzz"},{"id":2,"t":"zzzzzzzzzzzzzzzzzzzz"}]})", 30,
       R"({"protect":["id"]})", R"({"x":["…[2 items omitted]"]})", 28,
       "items_omitted=2 containers_collapsed=1 protected_omitted=2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Options options = options_of(c.options);
    // Compact unless the row's options give an indent.
    const bool indented = std::string_view(c.options).find("indent") != std::string_view::npos;
    Outcome out = fit(parse(c.doc), c.budget, options, indented ? options.indent : 0);
    EXPECT_EQ(out.text, c.text);
    EXPECT_EQ(out.size, c.size);
    EXPECT_EQ(out.counters, c.counters);
  }
}

TEST(PruneSelectKeys, ScoreThresholdsAndQuery) {
  // Heuristic scores: title 0.95, id 0.94, description 0.595 (long prose),
  // foo 0.5; a query naming foo lifts it to 0.9.
  const Value doc = parse("{\"foo\":\"abcdefghij\",\"title\":\"Hello\",\"description\":\"" +
                          std::string(500, 'd') + "\",\"id\":42}");
  const char* condense = R"({"array_strategy":"condense"})";
  struct Case {
    std::size_t budget;
    const char* options;
    const char* text;
  } const kCases[] = {
      {72, "{}", R"({"foo":"abcdefghij","title":"Hello","2 keys omitted":"…"})"},
      {72, condense, R"({"title":"Hello","id":42,"2 keys omitted":"…"})"},
      {73, condense, R"({"foo":"abcdefghij","title":"Hello","id":42,"1 keys omitted":"…"})"},
      {72, R"({"array_strategy":"condense","arguments":"foo"})",
       R"({"foo":"abcdefghij","title":"Hello","id":42,"1 keys omitted":"…"})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.options) + " " + std::to_string(c.budget));
    EXPECT_EQ(fit(doc, c.budget, options_of(c.options)).text, c.text);
  }
}

Options random_options(Generator& gen) {
  Options o;
  o.keep_last_item = gen.chance(70);
  o.max_samples = gen.below(5);
  static constexpr std::size_t kPartial[] = {0, 10, 40, 200};
  o.min_partial_chars = kPartial[gen.below(4)];
  o.array_strategy = gen.chance(30) ? ArrayStrategy::Condense : ArrayStrategy::Sample;
  o.field_scorer = static_cast<ScorerKind>(gen.below(3));
  static const std::vector<std::string> kProtect[] = {{},         {},         {"id"},
                                                      {"/items"}, {"*/name"}, {"title", "/data/*"}};
  o.protect = kProtect[gen.below(std::size(kProtect))];
  if (gen.chance(20)) o.arguments = "name status alpha order by created";
  o.string_head_chars = gen.chance(50) ? 500 : 20 + gen.below(100);
  o.string_section_chars = 1 + gen.below(120);
  o.string_min_section_chars = gen.below(30);
  return o;
}

// Over generated documents, options and budgets: sizes are the rendered
// lengths, budgets are met whenever they can be, the output only holds
// content of the input, its markers count what the report counts, and a
// second attempt gives the same output.
TEST(PruneProperty, SizesBudgetsAndProvenance) {
  Generator gen(20240601);
  std::size_t condensed = 0, sampled = 0;
  for (int round = 0; round < 300; ++round) {
    Value doc = gen.value(0);
    const Options options = random_options(gen);
    const std::size_t indent = gen.chance(50) ? 0 : 1 + gen.below(4);
    const Request request(options, Layout{indent});
    const Meta meta = analyze(doc, request);
    ASSERT_EQ(meta.size, unicode::count_chars(render(doc, indent)));
    ASSERT_LE(meta.min_size, meta.size);

    std::vector<std::size_t> budgets = {0, meta.min_size, meta.min_size + 1,
                                        (meta.min_size + meta.size) / 2, meta.size - 1, meta.size};
    for (int i = 0; i < 6; ++i) budgets.push_back(gen.below(meta.size + 20));
    for (std::size_t budget : budgets) {
      SCOPED_TRACE("round " + std::to_string(round) + " budget " + std::to_string(budget) +
                   " indent " + std::to_string(indent) + "\n" + render(doc));
      Pruner pruner(request, test_arena());
      Fitted fitted = pruner.fit_sized(doc, meta, budget, 0);
      const std::string text = render(fitted.value, indent);
      ASSERT_EQ(fitted.size, unicode::count_chars(text)) << text;
      if (budget >= meta.min_size) {
        EXPECT_LE(fitted.size, budget) << text;
      }
      EXPECT_TRUE(pruner.path.empty());

      Omitted omitted;
      EXPECT_EQ(derived(fitted.value, doc, omitted), "") << text;
      EXPECT_EQ(omitted.items, pruner.stats.items_omitted) << text;
      EXPECT_EQ(omitted.keys, pruner.stats.keys_omitted) << text;

      Pruner again(request, test_arena());
      EXPECT_EQ(render(again.fit(doc, meta, budget, 0), indent), text);
      condensed += pruner.stats.arrays_condensed;
      sampled += pruner.stats.arrays_sampled;
    }
  }
  // The generated documents reach both array strategies.
  EXPECT_GT(condensed, 0u);
  EXPECT_GT(sampled, 0u);
}

}  // namespace
}  // namespace quendra

#include "prune.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fields.h"
#include "json.h"
#include "options.h"
#include "size.h"
#include "unicode.h"
#include "value.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

Value Parse(std::string_view text) {
  auto parsed = parse_json(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? std::move(parsed).value() : Value();
}

std::string Render(const Value& value, std::size_t indent) {
  std::string out;
  json::write_value(out, value, Layout{indent});
  return out;
}

// The nonzero counters, e.g. "arrays_sampled=1 items_omitted=95".
std::string Counters(const Stats& s) {
  std::string out;
  auto put = [&](const char* name, std::size_t n) {
    if (n == 0) return;
    if (!out.empty()) out += ' ';
    out += name;
    out += '=';
    out += std::to_string(n);
  };
  put("strings_truncated", s.strings_truncated);
  put("arrays_sampled", s.arrays_sampled);
  put("items_omitted", s.items_omitted);
  put("objects_trimmed", s.objects_trimmed);
  put("keys_omitted", s.keys_omitted);
  put("containers_collapsed", s.containers_collapsed);
  put("arrays_condensed", s.arrays_condensed);
  put("fields_dropped", s.fields_dropped);
  put("protected_omitted", s.protected_omitted);
  return out;
}

// Analyses `doc` in place, as the budget search does before its attempts.
Meta Analyze(Value doc, const Options& options, std::size_t indent) {
  Request request(options, Layout{indent});
  Pruner pruner(request, test_arena());
  Path path;
  return pruner.analyze_at(doc, 0, path, false);
}

// The analysis of the node of analysed `doc` reached by taking child
// indices[0], then child indices[1] of that, and so on.
Meta At(const Value& doc, std::initializer_list<std::size_t> indices) {
  Value v = doc;
  for (std::size_t i : indices) v = v.is_array() ? v.items()[i] : v.members()[i].value;
  return meta_of(v);
}

struct Outcome {
  std::string text;
  std::size_t size = 0;
  std::string counters;
};

// Analyses `doc` once and fits it with a fresh pruner, as the budget search
// does for one attempt.
Outcome Shrink(const Value& doc, std::size_t budget, const Options& options,
               std::size_t indent = 0) {
  Meta meta = Analyze(doc, options, indent);
  Request request(options, Layout{indent});
  Pruner pruner(request, test_arena());
  Fitted fitted = pruner.fit_sized(doc, meta, budget, 0);
  EXPECT_TRUE(pruner.path.empty());
  return {Render(fitted.value, indent), fitted.size, Counters(pruner.stats)};
}

Options Protecting(std::vector<std::string> protect) {
  Options options;
  options.protect = std::move(protect);
  return options;
}

std::string Letters(char c, std::size_t n) { return std::string(n, c); }

// The array of `n` strings "w000", "w001", ...
std::string Words(std::size_t n) {
  std::string doc = "[";
  for (std::size_t i = 0; i < n; ++i) {
    std::string digits = std::to_string(1000 + i).substr(1);
    doc += (i ? ",\"w" : "\"w") + digits + "\"";
  }
  return doc + "]";
}

TEST(PruneAnalysis, SizesAndMinimalSizes) {
  struct Case {
    const char* name;
    std::string doc;
    std::size_t indent;
    std::size_t size;
    std::size_t min_size;
  };
  const Case kCases[] = {
      {"member compact", R"({"a":1})", 0, 7, 7},
      {"member indented", R"({"a":1})", 2, 12, 12},
      {"empty array", "[]", 0, 2, 2},
      {"empty object indented", "{}", 4, 2, 2},
      {"escaped quote", R"("a\"b")", 0, 6, 6},
      {"control character", R"("\u0001")", 0, 8, 8},
      {"two-byte character", "\"\u00e9\"", 0, 3, 3},
      {"long string", "\"" + Letters('x', 1000) + "\"", 0, 1002, 16},
      {"short string", R"("abc")", 0, 5, 5},
      {"five items", "[1,2,3,4,5]", 0, 11, 11},
      {"five long items", "[11111,22222,33333,44444,55555]", 0, 31, 22},
      {"three keys", R"({"a":1000,"b":2000,"c":3000})", 0, 28, 22},
      {"collapse would grow", R"({"a":[1,2,3]})", 0, 13, 13},
      {"indented collapse", "[11111,22222,33333,44444,55555]", 2, 47, 26},
      {"nested object, indented", R"({"k":{"a":"xxxxxxxxxxxxxxxxxxxxxxxx"}})",
       2, 52, 27},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Meta meta = Analyze(Parse(c.doc), Options(), c.indent);
    EXPECT_EQ(meta.size, c.size);
    EXPECT_EQ(meta.min_size, c.min_size);
  }
}

TEST(PruneAnalysis, ProtectionFlags) {
  Value doc = Parse(
      R"({"items":[{"v":"aaaaaaaaaaaaaaaaaaaaaaaa"},2],)"
      R"("list":[{"id":1,"x":"bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"},{"y":2}],"id":3})");

  Meta by_root = Analyze(doc, Protecting({"/items"}), 0);
  const Meta items = At(doc, {0});
  EXPECT_TRUE(items.is_protected);
  EXPECT_TRUE(At(doc, {0, 0, 0}).is_protected);
  EXPECT_EQ(items.min_size, items.size);
  EXPECT_EQ(items.protected_leaves, 2u);
  EXPECT_FALSE(by_root.is_protected);
  EXPECT_TRUE(by_root.has_protected);
  EXPECT_FALSE(At(doc, {1}).has_protected);

  Meta by_key = Analyze(doc, Protecting({"id"}), 0);
  const Meta list = At(doc, {1});
  EXPECT_TRUE(At(doc, {1, 0, 0}).is_protected);
  EXPECT_TRUE(At(doc, {1, 0}).has_protected);
  EXPECT_FALSE(At(doc, {1, 0}).is_protected);
  EXPECT_FALSE(list.has_protected);  // arrays only carry their own flag
  EXPECT_EQ(list.protected_leaves, 1u);
  EXPECT_EQ(by_key.protected_leaves, 2u);
  EXPECT_TRUE(by_key.has_protected);
  // {"id":3,"2 keys omitted":"…"}: the list is not kept by its items.
  EXPECT_EQ(by_key.min_size, 3u + (4 + 1 + 1) + 20);
}

TEST(PruneAnalysis, PinnedPathsProtect) {
  Value doc = Parse(R"({"a":{"b":"cccccccccccccccccccccccccccccc"},"b":"x"})");
  Options options;
  Request request(options, Layout{});
  Pruner pruner(request, test_arena());
  PathSet pinned{Path{"a", "b"}};
  Path path;
  pruner.analyze_at(doc, 0, path, false, &pinned);
  EXPECT_TRUE(path.empty());
  EXPECT_TRUE(At(doc, {0, 0}).is_protected);
  EXPECT_TRUE(At(doc, {0}).has_protected);
  EXPECT_FALSE(At(doc, {1}).is_protected);
}

TEST(PruneAnalysis, ManyPinnedPathsAndViews) {
  Value doc = Parse(R"({"a":{"b":"cccccccccccccccccccccccccccccc"},"b":"x"})");
  Options options;
  Request request(options, Layout{});
  Pruner pruner(request, test_arena());
  const std::string numbers[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
                                 "10", "11", "12", "13", "14", "15", "16", "17", "18", "19"};
  PathSet pinned;
  for (const std::string& n : numbers) pinned.insert(Path{"z", n});
  pinned.insert(Path{"a", "b"});
  Path path;
  pruner.analyze_at(doc, 0, path, false, &pinned);
  EXPECT_TRUE(At(doc, {0, 0}).is_protected);
  EXPECT_FALSE(At(doc, {1}).is_protected);

  // Sets of paths are searched with views of the segments.
  const std::string_view view[] = {"a", "b"};
  EXPECT_EQ(pinned.count(PathView(view)), 1u);
  EXPECT_EQ(pinned.count(PathView(view).first(1)), 0u);
  EXPECT_EQ(PathHash()(Path{"a", "b"}), PathHash()(PathView(view)));
}

// Records repeat their key lists and analysis reuses the shape it computed
// for a list. Lists with the same number of keys and alike first and last
// keys ({"ab"}, {"ax"}) compete for one slot.
TEST(PruneAnalysis, ShapesAndSizesOfRepeatedKeyLists) {
  Value doc = Parse(
      R"([{"ab":{"ax":1},"cd":2},{"ab":{"ax":1},"cd":2},{"cd":2,"ab":{"ax":10}},)"
      R"({"ax":1},{"ab":[]},{},{"ab":{"ab":{"ax":"y"}}},"s",1,[1]])");
  for (std::size_t indent : {0, 2}) {
    SCOPED_TRACE(indent);
    Analyze(doc, Options(), indent);
    const std::span<const Value> items = doc.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(At(doc, {i}).shape, shape_of(items[i]));
      EXPECT_EQ(At(doc, {i}).size, size::of(items[i], Layout{indent}, 1));
    }
    EXPECT_EQ(At(doc, {0}).shape, At(doc, {2}).shape);
    EXPECT_NE(At(doc, {3}).shape, At(doc, {4}).shape);
  }
}

TEST(PruneSelection, GapBookkeeping) {
  Selection s(Layout{}, 10, 0);
  EXPECT_EQ(s.cost(), 2u + 21u);  // ["…[10 items omitted]"]
  EXPECT_EQ(Selection::gap_cost(0), 0u);
  EXPECT_EQ(s.cost_if_add(0, 5), 3u + 5 + 20);
  s.add(0, 5);
  EXPECT_EQ(s.cost_if_add(9, 5), 4u + 10 + 20);
  s.add(9, 5);
  EXPECT_EQ(s.split(5), std::make_pair(std::size_t{2}, std::size_t{40}));
  EXPECT_EQ(s.cost_if_add(5, 5), 6u + 15 + 40);
  EXPECT_EQ(s.split(1), std::make_pair(std::size_t{1}, std::size_t{20}));
  s.add(5, 5);
  EXPECT_EQ(s.cost(), 6u + 15 + 40);
  EXPECT_EQ(s.markers(), 2u);
}

TEST(PruneFit, ExactOutputs) {
  const std::string s100 = Letters('a', 100);
  struct Case {
    const char* name;
    std::string doc;
    std::size_t budget;
    Options options;
    std::string text;
    std::size_t size;
    std::string counters;
  };
  Options no_last;
  no_last.keep_last_item = false;
  Options partial_70;
  partial_70.min_partial_chars = 70;
  Options condense_by_order;
  condense_by_order.array_strategy = ArrayStrategy::Condense;
  condense_by_order.field_scorer = ScorerKind::KeyOrder;
  const std::string n60 = Letters('7', 60);
  const std::string n24 = Letters('1', 24);
  const Case kCases[] = {
      {"fits whole", R"({"a":[1,"x",null]})", 100, {}, R"({"a":[1,"x",null]})", 18, ""},
      {"minimal form larger than budget", R"({"a":[1,2,3]})", 0, {},
       R"({"a":[1,2,3]})", 13, ""},
      {"string marker", "\"" + Letters('q', 1000) + "\"", 10, {},
       "\"\u2026[+1000 chars]\"", 16, "strings_truncated=1"},
      {"first, last and the run that fits", Words(100), 60, {},
       R"(["w000","w001","w002","w003","…[95 items omitted]","w099"])", 58,
       "arrays_sampled=1 items_omitted=95"},
      {"without the last item", Words(100), 60, no_last,
       R"(["w000","w001","w002","w003","w004","…[95 items omitted]"])", 58,
       "arrays_sampled=1 items_omitted=95"},
      {"new shape offered early",
       "[{\"a\":" + n24 + "},{\"a\":" + n24 + "},{\"b\":" + n24 + "},{\"a\":" + n24 +
           "},{\"a\":" + n24 + "}]",
       110, {},
       "[{\"a\":" + n24 + "},\"…[1 items omitted]\",{\"b\":" + n24 +
           "},\"…[2 items omitted]\"]",
       105, "arrays_sampled=1 items_omitted=3"},
      {"partial item", "[\"" + Letters('a', 30) + "\",\"" + Letters('b', 200) + "\"]",
       100, {},
       "[\"" + Letters('a', 30) + "\",\"" + Letters('b', 50) + "\u2026[+150 chars]\"]",
       100, "strings_truncated=1 arrays_sampled=1"},
      {"partial item without enough room",
       "[\"" + Letters('a', 30) + "\",\"" + Letters('b', 200) + "\"]", 100,
       partial_70, "[\"" + Letters('a', 30) + "\",\"…[1 items omitted]\"]", 55,
       "arrays_sampled=1 items_omitted=1"},
      {"samples when no item fits whole",
       "[\"" + s100 + "\",\"" + Letters('b', 100) + "\"]", 40, {},
       "[\"aaa…[+97 chars]\",\"…[1 items omitted]\"]", 40,
       "strings_truncated=1 arrays_sampled=1 items_omitted=1"},
      {"collapsed array", "[\"" + s100 + "\",\"" + Letters('b', 100) + "\"]", 37, {},
       R"(["…[2 items omitted]"])", 22, "items_omitted=2 containers_collapsed=1"},
      {"trimmed object",
       "{\"a\":\"" + s100 + "\",\"b\":\"" + s100 + "\",\"c\":\"" + s100 + "\"}", 50, {},
       R"({"a":"aaaaaaaaa…[+91 chars]","2 keys omitted":"…"})", 50,
       "strings_truncated=1 objects_trimmed=1 keys_omitted=2"},
      {"object never skips a member", "{\"a\":" + n60 + ",\"b\":1,\"c\":2}", 40, {},
       R"({"3 keys omitted":"…"})", 22, "keys_omitted=3 containers_collapsed=1"},
      {"condense mode skips a member", "{\"a\":" + n60 + ",\"b\":1,\"c\":2}", 40,
       condense_by_order, R"({"b":1,"2 keys omitted":"…"})", 28,
       "objects_trimmed=1 keys_omitted=2"},
      {"all members at minimum", "{\"a\":\"" + s100 + "\",\"b\":\"" + s100 + "\"}", 60, {},
       R"({"a":"aaaaaaaaaa…[+90 chars]","b":"aaaaaaaaaaa…[+89 chars]"})", 60,
       "strings_truncated=2"},
      {"protected member survives minimal form",
       "{\"keep\":{\"id\":7,\"junk\":\"" + s100 + "\"},\"other\":[1,2]}", 0,
       Protecting({"id"}), R"({"keep":{"id":7,"1 keys omitted":"…"},"1 keys omitted":"…"})",
       59, "keys_omitted=2 containers_collapsed=2"},
      {"protected member kept last",
       "{\"a\":1,\"b\":\"" + s100 + "\",\"c\":2,\"id\":12345}", 40,
       Protecting({"id"}), R"({"a":1,"id":12345,"2 keys omitted":"…"})", 39,
       "objects_trimmed=1 keys_omitted=2"},
      {"protected items lost with their array",
       R"({"x":[{"id":1,"t":"zzzzzzzzzzzzzzzzzzzz"},{"id":2,"t":"zzzzzzzzzzzzzzzzzzzz"}]})", 30,
       Protecting({"id"}), R"({"x":["…[2 items omitted]"]})", 28,
       "items_omitted=2 containers_collapsed=1 protected_omitted=2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Outcome out = Shrink(Parse(c.doc), c.budget, c.options);
    EXPECT_EQ(out.text, c.text);
    EXPECT_EQ(out.size, c.size);
    EXPECT_EQ(out.counters, c.counters);
  }
}

TEST(PruneSelectKeys, ScoreThresholdsAndQuery) {
  // Heuristic scores: title 0.95, id 0.94, description 0.595 (long prose),
  // foo 0.5; a query naming foo lifts it to 0.9.
  const std::string doc = "{\"foo\":\"abcdefghij\",\"title\":\"Hello\",\"description\":\"" +
                          Letters('d', 500) + "\",\"id\":42}";
  Options condense;
  condense.array_strategy = ArrayStrategy::Condense;
  Options query = condense;
  query.arguments = "foo";
  struct Case {
    const char* name;
    std::size_t budget;
    Options options;
    std::string text;
  };
  const Case kCases[] = {
      {"document order", 72, {}, R"({"foo":"abcdefghij","title":"Hello","2 keys omitted":"…"})"},
      {"score 0.5 needs 90 percent", 72, condense, R"({"title":"Hello","id":42,"2 keys omitted":"…"})"},
      {"at 90 percent", 73, condense,
       R"({"foo":"abcdefghij","title":"Hello","id":42,"1 keys omitted":"…"})"},
      {"query relevance", 72, query,
       R"({"foo":"abcdefghij","title":"Hello","id":42,"1 keys omitted":"…"})"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Shrink(Parse(doc), c.budget, c.options).text, c.text);
  }
}

TEST(PruneFit, CondensedArraysSkipSampling) {
  std::string doc = "[";
  for (int i = 0; i < 6; ++i) {
    doc += std::string(i ? "," : "") + "{\"id\":" + std::to_string(i) +
           ",\"title\":\"Entry number " + std::to_string(i) +
           " of the list\",\"avatar_url\":\"https://example.com/a/" + Letters('x', 40) +
           "\"}";
  }
  Options condense;
  condense.array_strategy = ArrayStrategy::Condense;
  Value records = Parse(doc + "]");
  Outcome out = Shrink(records, 250, condense);
  EXPECT_LE(out.size, 250u);
  EXPECT_EQ(out.size, unicode::count_chars(out.text));
  EXPECT_NE(out.counters.find("arrays_condensed=1"), std::string::npos) << out.counters;
  EXPECT_EQ(out.counters.find("arrays_sampled"), std::string::npos) << out.counters;

  Outcome sampled = Shrink(records, 250, Options());
  EXPECT_NE(sampled.counters.find("arrays_sampled=1"), std::string::npos) << sampled.counters;
}

TEST(PruneFit, ObjectOfFortyKeysCollapses) {
  std::string doc = "{";
  for (int i = 0; i < 40; ++i) {
    doc += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i % 10);
  }
  Outcome out = Shrink(Parse(doc + "}"), 0, Options());
  EXPECT_EQ(out.text, R"({"40 keys omitted":"…"})");
  EXPECT_EQ(out.size, 23u);
  EXPECT_EQ(out.counters, "keys_omitted=40 containers_collapsed=1");
}

TEST(PruneFit, IndentedOutputs) {
  Outcome out = Shrink(Parse(Words(100)), 120, Options(), 2);
  EXPECT_EQ(out.text,
            "[\n  \"w000\",\n  \"w001\",\n  \"w002\",\n  \"w003\",\n  \"w004\",\n"
            "  \"w005\",\n  \"w006\",\n  \"w007\",\n"
            "  \"…[91 items omitted]\",\n  \"w099\"\n]");
  EXPECT_EQ(out.size, 117u);
  EXPECT_EQ(out.size, unicode::count_chars(out.text));
}

TEST(PruneWaterFill, SmallChildrenLeaveRoomToLargeOnes) {
  Options options;
  Request request(options, Layout{});
  Pruner analysis(request, test_arena());
  Value small = str(Letters('s', 20));   // size 22, min 14
  Value large = str(Letters('l', 100));  // size 102, min 15
  Path path;
  Meta small_meta = analysis.analyze_at(small, 1, path, false);
  Meta large_meta = analysis.analyze_at(large, 1, path, false);

  Pruner pruner(request, test_arena());
  Filled filled = pruner.water_fill({{large, large_meta}, {small, small_meta}}, 40, 1, {"large"});
  ASSERT_EQ(filled.values.size(), 2u);
  EXPECT_EQ(filled.values[1], small);  // spare room 8 of an even share of 20
  EXPECT_EQ(filled.values[0].text(), Letters('l', 33) + "\u2026[+67 chars]");
  EXPECT_EQ(filled.total, 22u + 47u);
  EXPECT_TRUE(pruner.path.empty());
}

TEST(PruneFit, MillionItemArraysStayLinear) {
  std::vector<Value> items;
  items.reserve(1000000);
  for (int i = 0; i < 1000000; ++i) items.push_back(str("s" + std::to_string(i % 97)));
  Value doc = arr(std::move(items));
  Outcome out = Shrink(doc, 1000, Options());
  EXPECT_LE(out.size, 1000u);
  EXPECT_EQ(out.size, unicode::count_chars(out.text));
}

}  // namespace
}  // namespace quendra

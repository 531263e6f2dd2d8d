#include "condense.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fields.h"
#include "json.h"
#include "lexical.h"
#include "options.h"
#include "prune.h"
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

// A request and one attempt's pruner over it, as the budget search makes
// them, with the pruner seen as condensing sees it.
struct Engine {
  Engine(const Options& options, std::size_t indent)
      : request(options, Layout{indent}), pruner(request, test_arena()), fitter(pruner) {}
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  Request request;
  Pruner pruner;
  PrunerFitter fitter;
};

// Analyses `doc` in place, as the budget search does before its attempts.
Meta Analyze(Value doc, const Options& options, std::size_t indent) {
  Engine engine(options, indent);
  Path path;
  return engine.pruner.analyze_at(doc, 0, path, false);
}

Options Condensing() {
  Options options;
  options.array_strategy = ArrayStrategy::Condense;
  return options;
}

// "path:items" entries joined by spaces.
std::string Dropped(const Stats& stats) {
  std::string out;
  for (const DroppedField& d : stats.dropped_fields) {
    if (!out.empty()) out += ' ';
    out += d.path + ":" + std::to_string(d.items);
  }
  return out;
}

// "path score kept|dropped relevance" entries joined by "; ".
std::string Decisions(const Stats& stats) {
  std::string out;
  for (const FieldDecision& d : stats.field_decisions) {
    if (!out.empty()) out += "; ";
    out += d.path + " " + std::to_string(d.score) + (d.kept ? " kept " : " dropped ") +
           std::to_string(d.relevance);
  }
  return out;
}

struct Outcome {
  std::string text;
  std::size_t size = 0;
  Stats stats;
};

// Fits `doc` as one attempt of the budget search does, and checks that the
// key path is back at the root.
Outcome FitDoc(const Value& doc, std::size_t budget, const Options& options,
               std::size_t indent) {
  Meta meta = Analyze(doc, options, indent);
  Engine engine(options, indent);
  Fitted fitted = engine.pruner.fit_sized(doc, meta, budget, 0);
  EXPECT_TRUE(engine.pruner.path.empty());
  return {Render(fitted.value, indent), fitted.size, engine.pruner.stats};
}

Outcome Fit(std::string_view doc, std::size_t budget, const Options& options,
            std::size_t indent = 0) {
  return FitDoc(Parse(doc), budget, options, indent);
}

// The records {"<key>": "<prefix>0"}, {"<key>": "<prefix>1"}, ...
std::string Records(std::size_t n, std::string_view body) {
  std::string doc = "[";
  for (std::size_t i = 0; i < n; ++i) {
    std::string record(body);
    std::string index = std::to_string(i);
    for (std::size_t at; (at = record.find('#')) != std::string::npos;) {
      record.replace(at, 1, index);
    }
    doc += (i ? "," : "") + record;
  }
  return doc + "]";
}

std::string Repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

TEST(CondensePathString, Texts) {
  EXPECT_EQ(path_string({"data", "items"}, {"user", "name"}),
            "/data/items/*/user/name");
  EXPECT_EQ(path_string({}, {"user", "name"}), "/*/user/name");
  EXPECT_EQ(path_string({}, {}), "/*");
  EXPECT_EQ(path_string({"*", "a/b"}, {""}), "/*/a/b/*/");
}

TEST(CondenseFloor, Cells) {
  std::string s40(40, 'x');
  std::string s41(41, 'x');
  std::string e41 = Repeat("\u00e9", 41);
  struct Case {
    const char* name;
    std::string doc;
    std::size_t head;
    std::size_t indent;
    std::size_t floor;
  };
  const Case kCases[] = {
      {"40 characters stay whole", "\"" + s40 + "\"", 24, 0, 42},
      // 24 characters quoted (26) plus the marker for 17 (12)
      {"41 characters previewed", "\"" + s41 + "\"", 24, 0, 38},
      {"shorter head", "\"" + s41 + "\"", 12, 0, 26},
      {"characters, not bytes", "\"" + e41 + "\"", 24, 0, 38},
      {"escapes count", "\"" + Repeat("\\t", 41) + "\"", 24, 0, 62},
      {"object keeps every key", R"({"a":")" + s41 + R"(","b":1})", 24, 0, 50},
      {"object indented", R"({"a":")" + s41 + R"(","b":1})", 24, 2, 59},
      {"empty object", "{}", 24, 0, 2},
      {"array at its min_size", "[11111,22222,33333,44444,55555]", 24, 0, 22},
      {"number", "12345", 24, 0, 5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Options options;
    Value value = Parse(c.doc);
    Meta meta = Analyze(value, options, c.indent);
    EXPECT_EQ(floor(Layout{c.indent}, value, meta, 0, c.head), c.floor);
  }

  // A node that cannot shrink floors at its size.
  Options options;
  options.protect = {"s"};
  Value doc = Parse(R"({"s":")" + s41 + R"("})");
  Analyze(doc, options, 0);
  EXPECT_EQ(floor(Layout{}, doc.members()[0].value, meta_of(doc.members()[0].value), 1, 24),
            43u);
}

Discovery Scan(const Value& array, const Options& options, std::size_t indent,
               std::optional<Query> query = std::nullopt) {
  Analyze(array, options, indent);
  Discovery discovery;
  discovery.query = std::move(query);
  Path path;
  for (std::size_t row = 0; row < array.items().size(); ++row) {
    visit(Layout{indent}, discovery, array.items()[row].members(), std::nullopt, path, 1, row,
          24);
    EXPECT_TRUE(path.empty());
  }
  return discovery;
}

std::string PathText(const Path& path) {
  std::string out;
  for (std::string_view s : path) out += (out.empty() ? "" : ".") + std::string(s);
  return out;
}

TEST(CondenseVisit, ColumnsAndStatistics) {
  Value records = Parse(
      R"([{"a":1,"x":{"a":"s","b":null}},{"a":2,"x":"text"},{"b":true,"x":{}}])");
  Discovery d = Scan(records, Options(), 0);
  ASSERT_EQ(d.columns.size(), 5u);
  std::vector<std::string> paths;
  for (const Column& c : d.columns) paths.push_back(PathText(c.path));
  EXPECT_EQ(paths, (std::vector<std::string>{"a", "x", "x.a", "x.b", "b"}));
  EXPECT_EQ(d.index.at(Path{"x", "b"}), 3u);

  const Column& a = d.columns[0];
  EXPECT_FALSE(a.parent);
  EXPECT_EQ(a.present, 2u);
  EXPECT_EQ(a.numbers, 2u);
  EXPECT_EQ(a.key_chars, 8u);
  EXPECT_EQ(a.scalars, 2u);
  EXPECT_EQ(a.value_hashes.size(), 2u);
  EXPECT_FALSE(a.constant);
  EXPECT_FALSE(a.not_numeric);
  EXPECT_TRUE(a.not_date);

  const Column& x = d.columns[1];
  EXPECT_EQ(x.present, 3u);
  EXPECT_EQ(x.nested, 1u);  // the empty object is not scanned
  EXPECT_EQ(x.objects, 2u);
  EXPECT_EQ(x.strings, 1u);
  EXPECT_EQ(x.empty, 1u);
  EXPECT_EQ(x.position_sum, 3u);
  EXPECT_EQ(x.full_chars, 18u + 6u + 2u);
  EXPECT_EQ(x.floor_chars, 26u);
  EXPECT_EQ(x.scalars, 1u);

  EXPECT_EQ(d.columns[2].parent, std::optional<std::size_t>(1));
  EXPECT_EQ(d.columns[2].present, 1u);
  EXPECT_EQ(d.columns[3].nulls, 1u);
  EXPECT_EQ(d.columns[3].empty, 1u);
  EXPECT_EQ(d.columns[4].bools, 1u);
  EXPECT_EQ(d.columns[4].position_sum, 0u);

  // Indented keys carry the space after the colon.
  EXPECT_EQ(Scan(records, Options(), 2).columns[0].key_chars, 10u);
}

TEST(CondenseVisit, FourthLevelObjectsStayClosed) {
  Discovery d = Scan(Parse(R"([{"a":{"b":{"c":{"d":{"e":1}}}}},{"a":{"b":{"c":{"d":2}}}}])"),
                     Options(), 0);
  ASSERT_EQ(d.columns.size(), 4u);
  const Column& deepest = d.columns[3];
  EXPECT_EQ(PathText(deepest.path), "a.b.c.d");
  EXPECT_EQ(deepest.objects, 1u);
  EXPECT_EQ(deepest.numbers, 1u);
  EXPECT_EQ(deepest.nested, 0u);
  EXPECT_EQ(d.columns[2].nested, 2u);
}

TEST(CondenseVisit, Classification) {
  Discovery d = Scan(Parse(R"([
      {"d":"2024-01-01","h":"0123456789abcdef0123456789abcdef","t":"plain words",
       "n":123456789,"m":"-12.5","u":"550e8400-e29b-41d4-a716-446655440000"},
      {"d":"2024-02-29T10:00:00Z","h":"fedcba9876543210fedcba9876543210","t":"description",
       "n":12345678,"m":"3","u":"Ab3xxxxxxxxx"}])"),
                     Options(), 0);
  auto col = [&](const char* key) -> const Column& {
    return d.columns[d.index.at(Path{key})];
  };
  EXPECT_FALSE(col("d").not_date);
  EXPECT_TRUE(col("d").not_numeric);
  EXPECT_EQ(col("d").id_likes, 1u);  // only the bare date is hex-and-dash
  EXPECT_EQ(col("h").id_likes, 2u);
  EXPECT_EQ(col("t").id_likes, 0u);
  EXPECT_EQ(col("n").id_likes, 1u);  // more than 8 digits
  EXPECT_FALSE(col("n").not_numeric);
  EXPECT_FALSE(col("m").not_numeric);
  EXPECT_TRUE(col("m").not_date);
  EXPECT_EQ(col("u").id_likes, 2u);
}

TEST(CondenseVisit, FingerprintsFollowRecords) {
  Discovery d = Scan(
      Parse(R"([{"p":1,"r":1,"s":2,"c":0},{"p":2,"r":2,"s":1,"c":0},{"p":3,"r":3,"s":3,"c":0}])"),
      Options(), 0);
  EXPECT_EQ(d.columns[0].fingerprint, d.columns[1].fingerprint);
  EXPECT_NE(d.columns[0].fingerprint, d.columns[2].fingerprint);
  EXPECT_TRUE(d.columns[3].constant);
  EXPECT_EQ(d.columns[3].value_hashes.size(), 1u);

  EXPECT_EQ(value_hash(num("1")), value_hash(Parse("1")));
  EXPECT_NE(value_hash(num("1")), value_hash(str("1")));
  EXPECT_NE(value_hash(Value::boolean(true)), value_hash(Value::boolean(false)));
  EXPECT_NE(value_hash(Value::null()), value_hash(str("")));
}

TEST(CondenseHashSet, CountsDistinctHashes) {
  HashSet set;
  EXPECT_TRUE(set.empty());
  EXPECT_TRUE(set.insert(0));
  EXPECT_FALSE(set.insert(0));
  // Equal low bits: every hash starts from the same slot.
  for (std::uint64_t i = 1; i <= 2000; ++i) EXPECT_TRUE(set.insert(i << 32));
  EXPECT_FALSE(set.insert(std::uint64_t{7} << 32));
  EXPECT_EQ(set.size(), 2001u);
  EXPECT_TRUE(set.contains(0));
  EXPECT_TRUE(set.contains(std::uint64_t{2000} << 32));
  EXPECT_FALSE(set.contains(1));
}

TEST(CondenseVisit, CapsAndQueryHits) {
  Value many = Parse(Records(2000, R"({"v":#})"));
  EXPECT_EQ(Scan(many, Options(), 0).columns[0].value_hashes.size(),
            kMaxValueHashes);

  // Three new tokens per record: the set stops taking values once it holds
  // 256 entries, so the value that crosses the mark still goes in whole.
  Value worded = Parse(Records(100, R"({"v":"alpha# beta# gamma#"})"));
  Discovery d = Scan(worded, Options(), 0, Query::from_text("beta5"));
  EXPECT_EQ(d.columns[0].cell_tokens.size(), 258u);
  EXPECT_EQ(d.columns[0].hits, 1u);

  // Without a query neither tokens nor hits are collected.
  Discovery plain = Scan(worded, Options(), 0);
  EXPECT_TRUE(plain.columns[0].cell_tokens.empty());
  EXPECT_EQ(plain.columns[0].hits, 0u);
}

TEST(CondenseProject, KeepsChosenPathsInRecordOrder) {
  Value records = Parse(R"([{"b":1,"u":{"n":"x","e":"y","z":{"q":1}},"a":2,"u":{"e":3},"w":{"n":1}}])");
  Discovery d = Scan(records, Options(), 0);
  std::vector<bool> keep(d.columns.size(), false);
  std::vector<bool> open(d.columns.size(), false);
  for (const Path& p : {Path{"a"}, Path{"b"}, Path{"u", "n"}}) keep[d.index.at(p)] = true;
  open[d.index.at(Path{"u"})] = true;
  Value projected = obj(project(records.items()[0].members(), d, keep, open, test_arena()));
  EXPECT_EQ(Render(projected, 0), R"({"b":1,"u":{"n":"x"},"a":2,"u":{}})");
}

TEST(CondenseSizeModel, MatchesRenderingAtFloors) {
  Value ids = Parse(R"([{"id":1},{"id":2},{"id":3}])");
  for (std::size_t indent : {0, 2}) {
    SCOPED_TRACE(indent);
    Discovery d = Scan(ids, Options(), indent);
    SizeModel model{Layout{indent}, 0, 3};
    ColumnCost cost = column_cost(model, d.columns, 0, false, {});
    EXPECT_EQ(model.skeleton(), indent ? 26u : 7u);
    EXPECT_EQ(cost.size, indent ? 39u : 21u);
    EXPECT_TRUE(cost.containers.empty());
    std::size_t total = selection_cost(model, d.columns, {0}, {false});
    EXPECT_EQ(total, indent ? 65u : 28u);
    EXPECT_EQ(total, unicode::count_chars(Render(ids, indent)));
  }

  // Enclosing objects are paid for once, by the first column that needs them.
  Value users = Parse(
      R"([{"title":"First post","user":{"name":"ann","email":"ann@example.com"}},)"
      R"({"title":"Second post","user":{"name":"bob","email":"bob@example.com"}},)"
      R"({"title":"Third post","user":{"name":"cy","email":"cy@example.com"}}])");
  for (std::size_t indent : {0, 3}) {
    SCOPED_TRACE(indent);
    Discovery d = Scan(users, Options(), indent);
    ASSERT_EQ(d.columns.size(), 4u);  // title, user, user.name, user.email
    SizeModel model{Layout{indent}, 0, 3};
    ColumnCost name = column_cost(model, d.columns, 2, false, {});
    EXPECT_EQ(name.containers, std::vector<std::size_t>{1});
    ColumnCost email = column_cost(model, d.columns, 3, false, {1});
    EXPECT_TRUE(email.containers.empty());
    if (indent == 0) {
      EXPECT_EQ(name.size, 38u + 27u);
      EXPECT_EQ(email.size, 77u);
    }
    EXPECT_EQ(selection_cost(model, d.columns, {0, 2, 3}, {}),
              unicode::count_chars(Render(users, indent)));
  }
}

TEST(CondenseDiscount, SharedRolesAndDuplicates) {
  Value records = Parse(
      R"([{"p":1,"r":1,"s":2,"c":0,"t":7},{"p":2,"r":2,"s":1,"c":0,"t":8},)"
      R"({"p":3,"r":3,"s":3,"c":0}])");
  Discovery d = Scan(records, Options(), 0);
  struct Case {
    const char* name;
    std::vector<ScoredColumn> scored;
    std::vector<std::optional<std::string>> roles;
    std::vector<double> expected;
  };
  const std::optional<std::string> kNone;
  const Case kCases[] = {
      {"shared role, ties by column number",
       {{2, 0.8}, {4, 0.6}, {3, 0.8}},
       {"title", "title", "title"},
       {0.8, 0.3375, 0.6}},
      {"roles apart",
       {{2, 0.8}, {4, 0.6}, {3, 0.8}},
       {"title", "link", kNone},
       {0.8, 0.6, 0.8}},
      {"duplicate keeps 15 %", {{0, 0.5}, {1, 0.7}}, {kNone, kNone}, {0.075, 0.7}},
      {"equal duplicates: lower column wins", {{1, 0.5}, {0, 0.5}}, {kNone, kNone},
       {0.075, 0.5}},
      {"constant and rare columns are no duplicates", {{3, 0.5}, {4, 0.5}},
       {kNone, kNone}, {0.5, 0.5}},
      {"duplicate discount before role discount",
       {{0, 0.9}, {1, 0.8}, {2, 0.6}},
       {"time", "time", kNone},
       {0.9, 0.8 * 0.15 * 0.75, 0.6}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<ScoredColumn> scored = c.scored;
    discount_redundant(d, scored, c.roles);
    for (std::size_t i = 0; i < scored.size(); ++i) {
      EXPECT_DOUBLE_EQ(scored[i].score, c.expected[i]) << i;
    }
  }
}

PlanOutcome::Kind PlanKind(std::string_view doc, std::size_t budget, bool first,
                           const Options& options = Condensing()) {
  Value array = Parse(doc);
  Analyze(array, options, 0);
  Engine engine(options, 0);
  return plan(engine.fitter, array.items(), budget, 0, first, 24,
              engine.request.query)
      .kind;
}

TEST(CondensePlan, UniformityGate) {
  using K = PlanOutcome::Kind;
  const std::string kRare = R"([{"a":1,"b":1},{"a":2,"c":1},{"a":3,"d":1},{"a":4,"e":1}])";
  EXPECT_EQ(PlanKind("[{},{}]", 100, true), K::kRefused);
  EXPECT_EQ(PlanKind(kRare, 100, true), K::kRefused);  // 5.6 > 4
  EXPECT_EQ(PlanKind(kRare, 100, false), K::kAccepted);  // gate not asked
  EXPECT_EQ(PlanKind(R"([{"a":1,"b":1},{"a":2},{"a":3}])", 100, true),
            K::kAccepted);  // 0.7 * 4 = 2.8 <= 3
  // Only identifiers: nothing informative to show.
  EXPECT_EQ(PlanKind(R"([{"id":1},{"id":2},{"id":3}])", 100, true), K::kNoPlan);
  // Repetitive short values: not worth a table either.
  EXPECT_EQ(PlanKind(R"([{"v":1},{"v":1},{"v":2},{"v":1},{"v":1}])", 100, true),
            K::kNoPlan);
}

TEST(CondensePlan, ScoreSharesOfTheBudget) {
  // key_order: t scores 1.0, u 0.5. t at its floor makes the estimate 136;
  // u brings it to 154, which must be within 90 % of the budget. Its full
  // values would not fit the whole budget, so the fill-in cannot take u.
  Options options = Condensing();
  options.field_scorer = ScorerKind::KeyOrder;
  std::string doc = Records(3, R"({"t":"#)" + std::string(59, 'y') + R"(","u":#})");
  for (std::size_t budget : {171, 172}) {
    SCOPED_TRACE(budget);
    Value array = Parse(doc);
    Analyze(array, options, 0);
    Engine engine(options, 0);
    PlanOutcome outcome = plan(engine.fitter, array.items(), budget, 0, true, 24,
                               engine.request.query);
    ASSERT_EQ(outcome.kind, PlanOutcome::Kind::kAccepted);
    const Plan& plan = *outcome.plan;
    EXPECT_TRUE(plan.selected[0]);
    EXPECT_EQ(plan.selected[1], budget == 172);
    EXPECT_EQ(plan.slack, budget - (budget == 172 ? 154 : 136));
    EXPECT_EQ(plan.head, 24u);
    EXPECT_TRUE(plan.complete);
  }
}

TEST(CondensePlan, RelevanceOfNamesAndValues) {
  Options options = Condensing();
  options.arguments = "profile meta owner login release";
  Value array = Parse(Records(
      3, R"({"title":"Post #","owner":{"id":#,"login_name":"ann#"},)"
         R"("user":{"profile":{"name":"n#"}},"meta":{"data":{"id":#}},"note":"release #"})"));
  Analyze(array, options, 0);
  Engine engine(options, 0);
  PlanOutcome outcome = plan(engine.fitter, array.items(), 10000, 0, true, 24,
                             engine.request.query);
  ASSERT_EQ(outcome.kind, PlanOutcome::Kind::kAccepted);
  const Plan& plan = *outcome.plan;
  struct Case {
    Path path;
    double relevance;
  };
  const Case kCases[] = {
      {{"title"}, 0.0},
      {{"owner", "id"}, 1.0},             // generic leaf: the owner names it
      {{"owner", "login_name"}, 0.75},    // half the words, owner as context
      {{"user", "profile", "name"}, 1.0},
      {{"meta", "data", "id"}, 1.0},      // container word skipped
      {{"note"}, 0.6},                    // one of five terms in the values
      {{"owner"}, 0.0},                   // not a candidate
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(PathText(c.path));
    EXPECT_DOUBLE_EQ(plan.relevances[plan.discovery->index.at(c.path)], c.relevance);
  }
}

TEST(CondensePlan, ProtectedColumnsMustFit) {
  Options options = Condensing();
  options.protect = {"u"};
  std::string doc = Records(3, R"({"title":"Title #","u":")" + std::string(40, 'z') + R"("})");
  EXPECT_EQ(PlanKind(doc, 100, true, options), PlanOutcome::Kind::kNoPlan);
  EXPECT_EQ(PlanKind(doc, 200, true, options), PlanOutcome::Kind::kAccepted);
}

TEST(CondenseTryCondense, Declines) {
  Options options = Condensing();
  for (const char* doc : {R"([{"title":"a b c d e f g"}])",
                          R"([{"title":"a b c d e f g"},"s"])",
                          R"([{},{}])"}) {
    SCOPED_TRACE(doc);
    Value array = Parse(doc);
    Analyze(array, options, 0);
    Engine engine(options, 0);
    EXPECT_FALSE(condense(engine.fitter, array.items(), 5, 0));
    EXPECT_TRUE(engine.pruner.stats.dropped_fields.empty());
  }
}

// One column of short distinct titles: its cost is exactly the array's
// size, so condensing takes the array at that budget and declines one
// character below, before and after reading the values alike.
TEST(CondenseTryCondense, DeclinesOneBelowTheCheapestColumn) {
  Options options = Condensing();
  for (std::size_t n : {2, 7, 40}) {
    for (std::size_t indent : {0, 2}) {
      SCOPED_TRACE(::testing::Message() << n << " records, indent " << indent);
      Value array = Parse(Records(n, R"({"title":"t#"})"));
      Meta meta = Analyze(array, options, indent);
      Engine engine(options, indent);
      EXPECT_FALSE(condense(engine.fitter, array.items(), meta.size - 1, 0));
      std::optional<Fitted> fitted = condense(engine.fitter, array.items(), meta.size, 0);
      ASSERT_TRUE(fitted);
      EXPECT_EQ(fitted->size, meta.size);
    }
  }
}

const char kPosts[] =
    R"([{"id":1,"title":"Alpha release notes","avatar_url":"https://example.com/a/1.png"},)"
    R"({"id":2,"title":"Beta","avatar_url":"https://example.com/a/2.png"},)"
    R"({"id":3,"title":"Gamma","avatar_url":"https://example.com/a/3.png"}])";

const char kUsers[] =
    R"([{"title":"First post","user":{"name":"ann","email":"ann@example.com"}},)"
    R"({"title":"Second post","user":{"name":"bob","email":"bob@example.com"}},)"
    R"({"title":"Third post","user":{"name":"cy","email":"cy@example.com"}}])";

const char kStories[] =
    R"([{"title":"One","description":"The first entry describes a long story about nothing in particular at all, really."},)"
    R"({"title":"Two","description":"Second text is short."},)"
    R"({"title":"Three","description":"The third entry goes on and on about how the weather was that day in the valley."}])";

const char kStatuses[] =
    R"([{"status":"open","description":"The first entry describes a long story about nothing in particular at all, really."},)"
    R"({"status":"closed","description":"Second text is short."},)"
    R"({"status":"open","description":"The third entry goes on and on about how the weather was that day in the valley."}])";

const char kTitles[] =
    R"([{"name":"ann","title":"Quarterly planning notes for the platform team and guests"},)"
    R"({"name":"bob","title":"Incident review of the storage outage in the eastern region"},)"
    R"({"name":"cy","title":"Roadmap draft for next year with milestones and owners too"}])";

const char kUsersIndented[] = R"([
  {
    "user": {
      "name": "ann",
      "email": "ann@example.com"
    }
  },
  {
    "user": {
      "name": "bob",
      "email": "bob@example.com"
    }
  },
  {
    "user": {
      "name": "cy",
      "email": "cy@example.com"
    }
  }
])";

TEST(CondensePlan, CompletenessByPreviewLength) {
  Options options = Condensing();
  Value array = Parse(kTitles);
  Analyze(array, options, 0);
  Engine engine(options, 0);
  for (std::size_t head : {24, 12}) {
    SCOPED_TRACE(head);
    PlanOutcome outcome = plan(engine.fitter, array.items(), 160, 0, true, head,
                               engine.request.query);
    ASSERT_EQ(outcome.kind, PlanOutcome::Kind::kAccepted);
    EXPECT_EQ(outcome.plan->complete, head == 12);
    EXPECT_EQ(outcome.plan->selected[0], head == 12);  // name
    EXPECT_EQ(outcome.plan->slack, head == 12 ? 10u : 12u);
  }
}

TEST(CondenseFit, ExactOutputs) {
  Options explain = Condensing();
  explain.explain = true;
  Options query = explain;
  query.arguments = "email";
  Options protect = explain;
  protect.protect = {"email"};
  Options values_query = explain;
  values_query.arguments = "weather valley story";
  struct Case {
    const char* name;
    std::string doc;
    std::size_t budget;
    Options options;
    std::string text;
    std::size_t size;
    std::string dropped;
    std::string decisions;
  };
  const Case kCases[] = {
      {"noise column dropped", kPosts, 100, explain,
       R"([{"id":1,"title":"Alpha release notes"},{"id":2,"title":"Beta"},{"id":3,"title":"Gamma"}])",
       89, "/*/avatar_url:3",
       "/*/title 950 kept 0; /*/id 940 kept 0; /*/avatar_url 100 dropped 0"},
      // Rows 0 and 2 keep every field and are the items themselves.
      {"one record cut, the others whole",
       R"([{"id":1,"title":"Alpha release notes"},)"
       R"({"id":2,"title":"Beta","avatar_url":"https://example.com/a/2.png"},)"
       R"({"id":3,"title":"Gamma"}])",
       100, explain,
       R"([{"id":1,"title":"Alpha release notes"},{"id":2,"title":"Beta"},{"id":3,"title":"Gamma"}])",
       89, "/*/avatar_url:1",
       "/*/title 950 kept 0; /*/id 940 kept 0; /*/avatar_url 14 dropped 0"},
      {"whole enclosing object dropped once", kUsers, 120, explain,
       R"([{"title":"First post"},{"title":"Second post"},{"title":"Third post"}])",
       71, "/*/user:3",
       "/*/title 950 kept 0; /*/user/name 792 dropped 0; /*/user/email 495 dropped 0"},
      {"sibling kept, field dropped", kUsers, 150, Condensing(),
       R"([{"title":"First post","user":{"name":"ann"}},{"title":"Second post","user":{"name":"bob"}},{"title":"Third post","user":{"name":"cy"}}])",
       136, "/*/user/email:3", ""},
      {"nested array names its path", std::string(R"({"data":{"items":)") + kUsers + "}}",
       170, explain,
       R"({"data":{"items":[{"title":"First post","user":{"name":"ann"}},{"title":"Second post","user":{"name":"bob"}},{"title":"Third post","user":{"name":"cy"}}]}})",
       155, "/data/items/*/user/email:3",
       "/data/items/*/title 950 kept 0; /data/items/*/user/name 792 kept 0; "
       "/data/items/*/user/email 495 dropped 0"},
      // The query lifts email above title; name then ranks second in the
      // user group and enters by the fill-in.
      {"query relevance", kUsers, 150, query,
       R"([{"user":{"name":"ann","email":"ann@example.com"}},{"user":{"name":"bob","email":"bob@example.com"}},{"user":{"name":"cy","email":"cy@example.com"}}])",
       149, "/*/title:3",
       "/*/user/email 1000 kept 1000; /*/title 950 dropped 0; /*/user/name 594 kept 0"},
      {"protected column listed at 2000, indented", kUsers, 250, protect,
       kUsersIndented, 249, "/*/title:3",
       "/*/user/email 2000 kept 0; /*/title 950 dropped 0; /*/user/name 792 kept 0"},
      // With the query the descriptions score 0.9 and become the column that
      // must be shown, which does not fit: the pass without the query plans.
      {"second pass without the query", kStatuses, 100, values_query,
       R"([{"status":"open"},{"status":"closed"},{"status":"open"}])", 57,
       "/*/description:3", "/*/status 850 kept 0; /*/description 700 dropped 0"},
      // Previews of 24 characters leave name out (incomplete); previews of 12
      // keep both columns, and the spare 10 characters lengthen the titles.
      {"shorter previews complete the choice", kTitles, 160, explain,
       R"([{"name":"ann","title":"Quarterly plann…[+42 chars]"},)"
       R"({"name":"bob","title":"Incident review of…[+41 chars]"},)"
       R"({"name":"cy","title":"Roadmap draft…[+45 chars]"}])",
       160, "", "/*/title 950 kept 0; /*/name 900 kept 0"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Outcome out = Fit(c.doc, c.budget, c.options, c.options.protect.empty() ? 0 : 2);
    EXPECT_EQ(out.text, c.text);
    EXPECT_EQ(out.size, c.size);
    EXPECT_EQ(out.size, unicode::count_chars(out.text));
    EXPECT_EQ(Dropped(out.stats), c.dropped);
    EXPECT_EQ(Decisions(out.stats), c.decisions);
    EXPECT_EQ(out.stats.arrays_condensed, 1u);
    EXPECT_EQ(out.stats.fields_dropped, out.stats.dropped_fields.size());
    EXPECT_EQ(out.stats.arrays_sampled, 0u);
  }
}

TEST(CondenseFit, RowsShareTheSpareBudget) {
  // The records at their floors measure 195; the 35 spare characters go to
  // the rows wanting least first: row 1 is whole, row 2 gets 17 and leaves
  // one unused character to row 0, which gets 19.
  Outcome out = Fit(kStories, 230, Condensing());
  EXPECT_EQ(out.text,
            R"([{"title":"One","description":"The first entry describes a long story…[+44 chars]"},)"
            R"({"title":"Two","description":"Second text is short."},)"
            R"({"title":"Three","description":"The third entry goes on and on about how…[+40 chars]"}])");
  EXPECT_EQ(out.size, 225u);
  EXPECT_EQ(out.stats.strings_truncated, 2u);
  EXPECT_EQ(out.stats.fields_dropped, 0u);
  EXPECT_EQ(Dropped(out.stats), "");

  // Under 90 % of a smaller budget the prose column does not fit at all.
  Outcome narrow = Fit(kStories, 200, Condensing());
  EXPECT_EQ(narrow.text, R"([{"title":"One"},{"title":"Two"},{"title":"Three"}])");
  EXPECT_EQ(Dropped(narrow.stats), "/*/description:3");
}

TEST(CondenseFit, RefusedArraysAreSampled) {
  Outcome out = Fit(R"([{"a":1,"b":1},{"a":2,"c":1},{"a":3,"d":1},{"a":4,"e":1}])", 40,
                    Condensing());
  EXPECT_EQ(out.stats.arrays_condensed, 0u);
  EXPECT_EQ(out.stats.arrays_sampled, 1u);
}

// Records {"title": "Post i", "k00": ..., "k29": ...}.
std::string WideRecords(std::size_t keys) {
  std::string body = R"({"title":"Post #")";
  for (std::size_t k = 0; k < keys; ++k) {
    body += ",\"k" + std::to_string(100 + k).substr(1) + "\":" + std::to_string(k + 1) + "#";
  }
  return Records(3, body + "}");
}

TEST(CondenseReport, DroppedFieldsAreSortedAndCappedPerAttempt) {
  Options options = Condensing();
  Engine engine(options, 0);
  Pruner& pruner = engine.pruner;
  for (std::size_t keys : {20, 10}) {
    Value array = Parse(WideRecords(keys));
    Analyze(array, options, 0);
    ASSERT_TRUE(condense(engine.fitter, array.items(), 90, 0));
  }
  // title and k00 stay in each array: 19 + 9 fields dropped, 24 listed.
  EXPECT_EQ(pruner.stats.fields_dropped, 28u);
  ASSERT_EQ(pruner.stats.dropped_fields.size(), 24u);
  EXPECT_EQ(pruner.stats.dropped_fields[0].path, "/*/k01");
  EXPECT_EQ(pruner.stats.dropped_fields[18].path, "/*/k19");
  EXPECT_EQ(pruner.stats.dropped_fields[19].path, "/*/k01");
  EXPECT_EQ(pruner.stats.dropped_fields[23].path, "/*/k05");
  EXPECT_EQ(pruner.stats.arrays_condensed, 2u);
  EXPECT_TRUE(pruner.stats.field_decisions.empty());  // explain is off
}

// Generated record arrays of web-API flavour.
class RecordMaker {
 public:
  explicit RecordMaker(unsigned seed) : rng_(seed) {}

  std::string Array(std::size_t n) {
    std::string doc = "[";
    for (std::size_t i = 0; i < n; ++i) doc += (i ? "," : "") + Record(i);
    return doc + "]";
  }

 private:
  bool Chance(int percent) { return Pick(100) < static_cast<std::size_t>(percent); }
  std::size_t Pick(std::size_t n) { return rng_() % n; }

  std::string Text(std::size_t words) {
    static const char* kWords[] = {"alpha", "beta",  "release", "notes", "weather",
                                   "valley", "story", "user",   "active", "long"};
    std::string out;
    for (std::size_t i = 0; i < words; ++i) out += (i ? " " : "") + std::string(kWords[Pick(10)]);
    return "\"" + out + "\"";
  }

  std::string Record(std::size_t i) {
    std::vector<std::string> members;
    auto add = [&](const std::string& key, const std::string& value) {
      members.push_back("\"" + key + "\":" + value);
    };
    if (Chance(95)) add("id", std::to_string(1000 + i));
    if (Chance(90)) add("title", Text(1 + Pick(4)));
    if (Chance(60)) add("description", Text(Pick(40)));
    if (Chance(70)) add("status", Chance(50) ? "\"open\"" : "\"closed\"");
    if (Chance(50)) add("url", "\"https://example.com/items/" + std::to_string(i) + "\"");
    if (Chance(80)) {
      add("user", Chance(85) ? "{\"name\":" + Text(1) + ",\"email\":\"u" +
                                   std::to_string(Pick(50)) + "@example.com\"}"
                             : "null");
    }
    if (Chance(50)) add("meta", R"({"a":{"b":{"c":{"d":1}}},"n":)" + std::to_string(Pick(9)) + "}");
    if (Chance(40)) add("tags", "[" + Text(1) + "," + Text(1) + "]");
    if (Chance(10)) add("extra" + std::to_string(Pick(5)), "true");
    for (std::size_t k = members.size(); k > 1; --k) {
      if (Chance(15)) std::swap(members[k - 1], members[Pick(k)]);
    }
    std::string out = "{";
    for (std::size_t k = 0; k < members.size(); ++k) out += (k ? "," : "") + members[k];
    return out + "}";
  }

  std::mt19937 rng_;
};

// Whether every member of `out` has a key of `source`, in source order, and
// kept objects are cut down the same way.
bool KeptInOrder(const Value& out, const Value& source) {
  if (!out.is_object() || !source.is_object()) return false;
  std::size_t j = 0;
  const std::span<const Member> from = source.members();
  for (const Member& m : out.members()) {
    while (j < from.size() && from[j].key.text() != m.key.text()) ++j;
    if (j == from.size()) return false;
    if (m.value.is_object() && from[j].value.is_object() &&
        !KeptInOrder(m.value, from[j].value)) {
      return false;
    }
    ++j;
  }
  return true;
}

// The report paths of the candidate columns: key paths of the records (not
// opening objects at 4 keys) that are not always non-empty objects, under
// keys that always are.
std::set<std::string> CandidatePaths(const Value& array) {
  std::map<Path, std::pair<std::size_t, std::size_t>> seen;  // present, opened
  std::function<void(const Value&, Path&)> walk = [&](const Value& object, Path& path) {
    for (const Member& m : object.members()) {
      path.push_back(m.key.text());
      auto& [present, opened] = seen[path];
      ++present;
      if (m.value.is_object() && !m.value.members().empty() && path.size() < 4) {
        ++opened;
        walk(m.value, path);
      }
      path.pop_back();
    }
  };
  Path path;
  for (const Value& record : array.items()) walk(record, path);
  auto pure = [&](const Path& p) { return seen[p].first == seen[p].second; };
  std::set<std::string> out;
  for (const auto& [p, counts] : seen) {
    bool under_pure = true;
    for (std::size_t len = 1; len < p.size(); ++len) {
      under_pure = under_pure && pure(Path(p.begin(), p.begin() + len));
    }
    if (under_pure && !pure(p)) out.insert(path_string({}, p));
  }
  return out;
}

TEST(CondenseProperties, GeneratedRecordArrays) {
  std::size_t condensed = 0;
  std::size_t runs = 0;
  for (unsigned seed = 1; seed <= 60; ++seed) {
    RecordMaker maker(seed);
    std::size_t n = 2 + seed % 17;
    Value array = Parse(maker.Array(n));
    for (std::size_t indent : {0, 2}) {
      Options options = Condensing();
      options.explain = true;
      if (seed % 3 == 0) options.arguments = "active user email";
      Meta meta = Analyze(array, options, indent);
      std::mt19937 rng(seed * 7 + indent);
      for (int trial = 0; trial < 4; ++trial) {
        std::size_t budget = meta.min_size + 1 + rng() % (meta.size - meta.min_size - 1);
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " indent " << indent
                                        << " budget " << budget);
        ++runs;
        Engine engine(options, indent);
        Pruner& pruner = engine.pruner;
        std::optional<Fitted> result = condense(engine.fitter, array.items(), budget, 0);
        EXPECT_TRUE(pruner.path.empty());
        if (!result) continue;
        ++condensed;

        EXPECT_EQ(result->size, unicode::count_chars(Render(result->value, indent)));
        const std::span<const Value> rows = result->value.items();
        ASSERT_EQ(rows.size(), n);
        for (std::size_t i = 0; i < n; ++i) {
          EXPECT_TRUE(KeptInOrder(rows[i], array.items()[i])) << i;
        }

        const std::vector<DroppedField>& dropped = pruner.stats.dropped_fields;
        EXPECT_LE(dropped.size(), 24u);
        EXPECT_EQ(pruner.stats.fields_dropped, dropped.size());  // one array
        for (std::size_t k = 1; k < dropped.size(); ++k) {
          const DroppedField& a = dropped[k - 1];
          const DroppedField& b = dropped[k];
          EXPECT_TRUE(a.items > b.items || (a.items == b.items && a.path < b.path));
        }

        std::set<std::string> decided;
        std::set<std::string> kept;
        for (const FieldDecision& d : pruner.stats.field_decisions) {
          decided.insert(d.path);
          if (d.kept) kept.insert(d.path);
        }
        EXPECT_EQ(decided.size(), pruner.stats.field_decisions.size());
        EXPECT_EQ(decided, CandidatePaths(array));
        for (const DroppedField& d : dropped) EXPECT_EQ(kept.count(d.path), 0u) << d.path;
      }
    }
  }
  EXPECT_GT(condensed * 3, runs) << condensed << " of " << runs;
}

// Whether planning as condense() runs it (both passes with a query, the
// second without it, both preview lengths, stopping at a refusal or an
// accepted plan) finds a plan, without condense()'s early checks on the
// budget.
bool SomePlanAccepted(Engine& engine, const Value& array,
                      std::size_t budget, std::size_t passes) {
  for (std::size_t pass = 0; pass < passes; ++pass) {
    for (std::size_t head : {24, 12}) {
      PlanOutcome outcome = plan(engine.fitter, array.items(), budget, 0,
                                 head == 24, head,
                                 pass == 0 ? engine.request.query : std::nullopt);
      if (outcome.kind == PlanOutcome::Kind::kNoPlan) continue;
      return outcome.kind == PlanOutcome::Kind::kAccepted;
    }
  }
  return false;
}

// condense() declines without scanning values when the records are too
// many for the budget; over budgets around that point its answer must be
// the one planning gives.
TEST(CondenseProperties, EarlyDeclinesMatchPlanning) {
  std::size_t accepted = 0;
  std::size_t declined = 0;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    RecordMaker maker(seed);
    std::size_t n = 2 + seed % 23;
    Value array = Parse(maker.Array(n));
    for (std::size_t indent : {0, 2}) {
      Options options = Condensing();
      if (seed % 2 == 0) options.arguments = "active user email";
      Analyze(array, options, indent);
      SizeModel model{Layout{indent}, 0, n};
      for (std::size_t budget = model.skeleton(); budget < model.skeleton() + 400;
           budget += 9) {
        SCOPED_TRACE(::testing::Message() << "seed " << seed << " indent " << indent
                                        << " budget " << budget);
        Engine reference(options, indent);
        bool planned = SomePlanAccepted(reference, array, budget,
                                        options.arguments ? 2 : 1);
        Engine engine(options, indent);
        EXPECT_EQ(condense(engine.fitter, array.items(), budget, 0).has_value(), planned);
        ++(planned ? accepted : declined);
      }
    }
  }
  EXPECT_GT(accepted, 100u);
  EXPECT_GT(declined, 100u);
}

}  // namespace
}  // namespace quendra

#include "engine/fields.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

using Words = std::vector<std::string>;

// A field to score: owns its path and lends it to the profile.
struct Field {
  std::vector<std::string> path;
  FieldProfile p;
  std::vector<std::string_view> segments;

  const FieldProfile& profile() {
    segments.assign(path.begin(), path.end());
    p.path = segments;
    return p;
  }
};

// A column of `present` strings over `rows` records, changed by `edit`.
Field column(std::vector<std::string> path, std::uint64_t rows = 1, std::uint64_t present = 1,
             std::uint64_t distinct = 1, double avg_size = 7,
             const std::function<void(FieldProfile&)>& edit = {}) {
  Field f{std::move(path), {}, {}};
  f.p.rows = rows;
  f.p.strings = f.p.present = f.p.scalars = present;
  f.p.distinct = distinct;
  f.p.avg_size = avg_size;
  if (edit) edit(f.p);
  return f;
}

// One member of one object holding a short string, changed by `edit`.
Field key(std::vector<std::string> path, const std::function<void(FieldProfile&)>& edit = {}) {
  return column(std::move(path), 1, 1, 1, 7, edit);
}

TEST(FieldWords, SplitsKeysAndFindsTiers) {
  struct Case {
    const char* text;
    Words want;
  } const kCases[] = {
      {"firstName", {"first", "name"}},
      {"XMLParser", {"xmlparser"}},
      {"$ref", {"ref"}},
      {"--", {}},
      {"a.b-c d", {"a", "b", "c", "d"}},
      {"caf\u00e9\u00c9tat", {"caf\u00e9", "\u00e9tat"}},  // split before É
      {"\u03b1\u0392\u03b3", {"\u03b1", "\u03b2\u03b3"}},  // Greek αΒγ
      {"\u0130d", {"i\u0307d"}},  // İ lowers to two characters
      {"\u212Aey", {"key"}},      // the Kelvin sign lowers to k
      {"x\u00b2y", {"x\u00b2y"}},  // superscript two is numeric
      {"a\u00a0b", {"a", "b"}},
      {"a1B2", {"a1", "b2"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(words(c.text), c.want);
  }
  // The first tier whose vocabulary holds a word decides.
  struct Tier {
    Words words;
    bool matched;
    double prior;
  } const kTiers[] = {
      {{}, false, 0.55},           {{"foo"}, false, 0.55},     {{"id"}, true, 0.98},
      {{"user", "id"}, true, 0.98},  // identifier beats people
      {{"caption"}, true, 0.95},   {{"first", "name"}, true, 0.9}, {{"status"}, true, 0.85},
      {{"email"}, true, 0.75},     {{"value"}, true, 0.7},     {{"from"}, true, 0.65},
      {{"views"}, true, 0.6},      {{"href"}, true, 0.6},      {{"created", "at"}, true, 0.55},
      {{"avatar"}, false, 0.55},
  };
  for (const Tier& c : kTiers) {
    const TierMatch m = tier_of(c.words);
    EXPECT_EQ(m.matched, c.matched) << ::testing::PrintToString(c.words);
    EXPECT_DOUBLE_EQ(m.prior, c.prior) << ::testing::PrintToString(c.words);
  }
  EXPECT_TRUE(any(Words{"foo", "logo"}, Vocabulary::Image));
}

TEST(FieldClassify, SingleValues) {
  struct Case {
    const char* text;
    bool numeric, date, id;
  } const kCases[] = {
      {"-1.5", true, false, false},
      {"5.", true, false, false},
      {"1.2.3", false, false, false},
      {"1e5", false, false, false},
      {"2024-01-01", false, true, true},
      {"2024-1-01x", false, false, false},
      {"2024-010-1", false, false, true},
      {"d41d8cd98f00b204e9800998ecf8427e", false, false, true},
      {"AbCdEfGh1234", false, false, true},
      {"AbCdEfGh123", false, false, false},  // 11 bytes, not hexadecimal
      {"deadbeef", false, false, false},     // no digit
      {"1234567", true, false, false},
      {"12345678", true, false, true},
      {"Ab1\u00e9\u00e9\u00e9\u00e9\u00e9", false, false, true},  // 13 bytes
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const ValueTraits t = classify(str(c.text));
    EXPECT_EQ(t.numeric, c.numeric);
    EXPECT_EQ(t.date_like, c.date);
    EXPECT_EQ(t.id_like, c.id);
  }
  EXPECT_TRUE(classify(num("42")).numeric);
  EXPECT_FALSE(classify(num("12345678901")).id_like);
  EXPECT_FALSE(classify(Value::boolean(true)).numeric);
}

TEST(FieldNamePrior, KeysAndPaths) {
  struct Case {
    const char* name;
    Field field;
    double prior;
    bool decisive;
  } cases[] = {
      {"created_at", key({"created_at"}, [](FieldProfile& p) { p.date_like = true; }), 0.55, true},
      {"first_name", key({"first_name"}), 0.9, true},
      {"title_text", key({"title_text"}), 0.78, true},
      {"opaque user_id", key({"user_id"}, [](FieldProfile& p) { p.id_like = true, p.avg_size = 26; }), 0.2, true},
      {"numeric user_id", key({"user_id"}, [](FieldProfile& p) { p.numeric = true, p.avg_size = 3; }), 0.72, true},
      {"_links", key({"_links"}), 0.08, true},
      {"empty segment", key({"", "name"}), 0.08, true},
      {"_id", key({"_id"}), 0.98, true},
      {"under _embedded", key({"_embedded", "name"}), 0.08, true},
      {"under _source", key({"_source", "name"}), 0.9, true},
      {"avatar_url", key({"avatar_url"}), 0.1, true},
      {"joined noise", key({"type_name"}), 0.1, true},
      {"metadata", key({"metadata"}), 0.25, true},
      {"two hyphens, dates", key({"--"}, [](FieldProfile& p) { p.date_like = true; }), 0.55, true},
      {"empty path", key({}), 0.5, false},
      {"viewcount", key({"viewcount"}), 0.6, true},
      {"named parent", key({"user", "name"}), 0.9 * 0.88, true},
      {"named parent of id", key({"user", "id"}), 0.98 * 0.6, true},
      {"$ref under author", key({"author", "$ref"}), 0.65, true},
      {"unique links", column({"url"}, 5, 5, 5, 30), 0.8, true},
      {"repeated links", column({"url"}, 5, 5, 1, 30), 0.6, true},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const NamePrior got = name_prior(c.field.profile());
    EXPECT_NEAR(got.prior, c.prior, 1e-12);
    EXPECT_EQ(got.decisive, c.decisive);
  }
}

TEST(FieldHeuristic, Scores) {
  struct Case {
    const char* name;
    Field field;
    double score;
  } cases[] = {
      {"id 42", key({"id"}, [](FieldProfile& p) { p.strings = 0, p.numbers = 1, p.numeric = true, p.avg_size = 2; }),
       0.94},
      {"long description", key({"description"}, [](FieldProfile& p) { p.avg_size = 502; }), 0.595},
      {"status in half the rows", column({"status"}, 10, 5, 2, 8), 0.78625},
      {"all empty", column({"name"}, 4, 4, 1, 2, [](FieldProfile& p) { p.empty = 4; }), 0.9 * 0.03},
      {"half empty", column({"name"}, 10, 10, 6, 8, [](FieldProfile& p) { p.empty = 5; }), 0.9 * 0.65},
      {"unique short texts", column({"foo"}, 10, 10, 10, 12), 0.7},
      {"opaque identifiers", column({"foo"}, 10, 10, 10, 30, [](FieldProfile& p) { p.id_like = true; }), 0.3},
      {"few categories", column({"foo"}, 10, 10, 2, 6), 0.65},
      {"constant", column({"foo"}, 5, 5, 1, 6, [](FieldProfile& p) { p.constant = true; }), 0.1},
      {"value hit", key({"foo"}, [](FieldProfile& p) { p.value_relevance = p.relevance = p.hit_rate = 1; }), 0.9},
      // f = 2 * 0.5 * 0.5 = 0.5; s = 0.65 + 0.4 * 1 * 0.5 * 0.6 = 0.77.
      {"categorical value hit", column({"foo"}, 10, 10, 2, 6, [](FieldProfile& p) {
         p.value_relevance = p.relevance = 0.6, p.hit_rate = 0.5;
       }),
       0.77},
      {"object value", key({"foo"}, [](FieldProfile& p) { p.strings = p.scalars = p.distinct = 0, p.objects = 1; }),
       0.425},
      {"huge value", key({"title"}, [](FieldProfile& p) { p.avg_size = 2001; }), 0.95 * 0.7},
  };
  const HeuristicScorer scorer;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(scorer.score(c.field.profile()), c.score, 1e-12);
  }
}

TEST(FieldHeuristic, ExactnessAndRoles) {
  struct Case {
    const char* name;
    Field field;
    bool exact;
  } exact[] = {
      {"identifier", key({"user_id"}), true},
      {"constant identifier", column({"id"}, 5, 5, 1, 4, [](FieldProfile& p) { p.constant = true; }), false},
      {"unique links", column({"html_url"}, 5, 5, 5, 40), true},
      {"repeated links", column({"html_url"}, 5, 5, 2, 40), false},
      {"unique opaque values", column({"foo"}, 5, 5, 5, 30, [](FieldProfile& p) { p.id_like = true; }), true},
      {"unique plain values", column({"foo"}, 5, 5, 5, 30), false},
      {"too long", key({"id"}, [](FieldProfile& p) { p.avg_size = 301; }), false},
      {"not all numbers or strings", column({"id"}, 5, 5, 4, 4, [](FieldProfile& p) { p.strings = 4, p.nulls = 1; }),
       false},
      {"absent", column({"id"}, 5, 0, 0, 0), false},
  };
  const HeuristicScorer scorer;
  for (Case& c : exact) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scorer.exact(c.field.profile()), c.exact);
  }
  struct Role {
    std::vector<std::string> path;
    std::optional<std::string> role;
  } const kRoles[] = {
      {{"title"}, "title"},
      {{"author", "name"}, "group:author"},
      {{"user", "profile", "name"}, "group:user/profile"},
      {{"id"}, "identity"},
      {{"created_at"}, "time"},
      {{"html_url"}, "link"},
      {{"foo"}, std::nullopt},
      {{"author", "$ref"}, std::nullopt},
  };
  for (const Role& c : kRoles) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    Field f = key(c.path);
    EXPECT_EQ(scorer.role(f.profile()), c.role);
  }
}

TEST(FieldPlainScorers, ScoreBySizeAndPosition) {
  const FieldScorer& compact = scorer_for(ScorerKind::Compact);
  const FieldScorer& key_order = scorer_for(ScorerKind::KeyOrder);
  struct Case {
    Field field;
    double compact, key_order;
  } cases[] = {
      {key({"id"}, [](FieldProfile& p) { p.avg_size = 40; }), 0.5, 1.0},
      {key({"id"}, [](FieldProfile& p) { p.avg_size = 40, p.empty = 1; }), 0.05, 1.0},
      {key({"id"}, [](FieldProfile& p) { p.avg_size = 40, p.constant = true, p.position = 1; }), 0.05, 0.5},
      {key({"id"}, [](FieldProfile& p) { p.position = 3; }), 1 / (1 + 7 / 40.0), 0.25},
  };
  for (Case& c : cases) {
    EXPECT_DOUBLE_EQ(compact.score(c.field.profile()), c.compact);
    EXPECT_DOUBLE_EQ(key_order.score(c.field.profile()), c.key_order);
    EXPECT_FALSE(compact.exact(c.field.profile()));
    EXPECT_FALSE(key_order.role(c.field.profile()).has_value());
  }
}

}  // namespace
}  // namespace quendra

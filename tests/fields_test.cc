#include "fields.h"
#include "tree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quendra {
namespace {

using namespace quendra::testing;

using Words = std::vector<std::string>;

// A field to score: owns its path and lends it to the profile.
struct Field {
  std::vector<std::string> path;
  std::vector<std::string_view> segments;
  FieldProfile p;

  const FieldProfile& profile() {
    segments.assign(path.begin(), path.end());
    p.path = segments;
    return p;
  }
};

// One member of one object holding a short string.
Field key(std::vector<std::string> path) {
  Field f{std::move(path), {}, {}};
  f.p.strings = f.p.rows = f.p.present = f.p.scalars = f.p.distinct = 1;
  f.p.avg_size = 7;
  return f;
}

// A column of `present` strings over `rows` records.
Field column(std::vector<std::string> path, std::uint64_t rows,
             std::uint64_t present, std::uint64_t distinct, double avg_size) {
  Field f{std::move(path), {}, {}};
  f.p.rows = rows;
  f.p.strings = f.p.present = f.p.scalars = present;
  f.p.distinct = distinct;
  f.p.avg_size = avg_size;
  return f;
}

TEST(FieldWords, SplitsKeys) {
  struct Case {
    const char* text;
    Words want;
  } const kCases[] = {
      {"firstName", {"first", "name"}},
      {"first_name", {"first", "name"}},
      {"XMLParser", {"xmlparser"}},
      {"item2Name", {"item2", "name"}},
      {"2fa", {"2fa"}},
      {"$ref", {"ref"}},
      {"", {}},
      {"--", {}},
      {"a.b-c d", {"a", "b", "c", "d"}},
      {"HTTPStatus_code", {"httpstatus", "code"}},
      {"caf\u00e9\u00c9tat", {"caf\u00e9", "\u00e9tat"}},  // split before É
      {"\u03b1\u0392\u03b3", {"\u03b1", "\u03b2\u03b3"}},  // Greek αΒγ
      {"stra\u00dfeName", {"stra\u00dfe", "name"}},
      {"\u0130d", {"i\u0307d"}},  // İ lowers to two characters
      {"\u212Aey", {"key"}},      // the Kelvin sign lowers to k
      {"x\u00b2y", {"x\u00b2y"}},  // superscript two is numeric
      {"a\u00a0b", {"a", "b"}},
      {"\u00e9Name", {"\u00e9", "name"}},  // non-ASCII lowercase, then ASCII
      {"caf\u00c9", {"caf", "\u00e9"}},    // ASCII lowercase, then É
      {"ABc", {"abc"}},
      {"a1B2", {"a1", "b2"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(words(c.text), c.want);
  }
}

TEST(FieldWords, ReaderStopsAndResumes) {
  WordReader reader("oneTwo three");
  std::string w;
  ASSERT_TRUE(reader.next(w));
  EXPECT_EQ(w, "one");
  ASSERT_TRUE(reader.next(w));
  EXPECT_EQ(w, "two");
  ASSERT_TRUE(reader.next(w));
  EXPECT_EQ(w, "three");
  EXPECT_FALSE(reader.next(w));
  EXPECT_EQ(w, "");
}

TEST(FieldTiers, FirstMatchingTierDecides) {
  struct Case {
    Words words;
    bool matched;
    double prior;
  } const kCases[] = {
      {{}, false, 0.55},
      {{"foo"}, false, 0.55},
      {{"id"}, true, 0.98},
      {{"user", "id"}, true, 0.98},  // identifier beats people
      {{"caption"}, true, 0.95},
      {{"first", "name"}, true, 0.9},
      {{"status"}, true, 0.85},
      {{"email"}, true, 0.75},
      {{"value"}, true, 0.7},
      {{"from"}, true, 0.65},
      {{"views"}, true, 0.6},
      {{"href"}, true, 0.6},
      {{"created", "at"}, true, 0.55},
      {{"avatar"}, false, 0.55},
  };
  for (const Case& c : kCases) {
    const TierMatch m = tier_of(c.words);
    EXPECT_EQ(m.matched, c.matched) << ::testing::PrintToString(c.words);
    EXPECT_DOUBLE_EQ(m.prior, c.prior) << ::testing::PrintToString(c.words);
  }
  EXPECT_TRUE(in_vocabulary("lastmodifiedby", Vocabulary::People));
  EXPECT_TRUE(in_vocabulary("restrictions", Vocabulary::Structural));
  EXPECT_TRUE(in_vocabulary("nick", Vocabulary::NameQualifier));
  EXPECT_FALSE(in_vocabulary("Id", Vocabulary::Identifier));
  EXPECT_TRUE(any(Words{"foo", "logo"}, Vocabulary::Image));
}

TEST(FieldClassify, SingleValues) {
  EXPECT_TRUE(looks_numeric("-1.5"));
  EXPECT_TRUE(looks_numeric("007"));
  EXPECT_TRUE(looks_numeric("5."));
  EXPECT_FALSE(looks_numeric("1.2.3"));
  EXPECT_FALSE(looks_numeric("-"));
  EXPECT_FALSE(looks_numeric(""));
  EXPECT_FALSE(looks_numeric("."));
  EXPECT_FALSE(looks_numeric("--1"));
  EXPECT_FALSE(looks_numeric("1e5"));

  EXPECT_TRUE(looks_date("2024-01-01"));
  EXPECT_TRUE(looks_date("2024-01-01T10:00:00Z"));
  EXPECT_FALSE(looks_date("2024-1-01x"));
  EXPECT_FALSE(looks_date("2024-01-0"));
  EXPECT_FALSE(looks_date("2024/01/01"));

  EXPECT_TRUE(looks_id("d41d8cd98f00b204e9800998ecf8427e"));
  EXPECT_TRUE(looks_id("123e4567-e89b-12d3-a456-426614174000"));
  EXPECT_TRUE(looks_id("2024-01-01"));
  EXPECT_TRUE(looks_id("AbCdEfGh1234"));
  EXPECT_FALSE(looks_id("AbCdEfGh123"));  // 11 bytes, not hexadecimal
  EXPECT_FALSE(looks_id("deadbeef"));     // no digit
  EXPECT_FALSE(looks_id("description"));
  EXPECT_FALSE(looks_id("Ab1 CdEfGhIjK"));
  EXPECT_FALSE(looks_id("1234567"));
  EXPECT_TRUE(looks_id("Ab1\u00e9\u00e9\u00e9\u00e9\u00e9"));  // 13 bytes
  EXPECT_FALSE(looks_id("\u00e9\u00e9\u00e9\u00e91234"));      // not hexadecimal

  const ValueTraits number = classify(num("42"));
  EXPECT_TRUE(number.numeric);
  EXPECT_FALSE(number.date_like || number.id_like);
  const ValueTraits date = classify(str("2024-01-01"));
  EXPECT_FALSE(date.numeric);
  EXPECT_TRUE(date.date_like && date.id_like);
  const ValueTraits boolean = classify(Value::boolean(true));
  EXPECT_FALSE(boolean.numeric || boolean.date_like || boolean.id_like);
  EXPECT_FALSE(classify(num("12345678901")).id_like);
}

TEST(FieldNamePrior, KeysAndPaths) {
  struct Case {
    const char* name;
    Field field;
    double prior;
    bool decisive;
  };
  Field created_at = key({"created_at"});
  created_at.p.date_like = true;
  Field opaque_user_id = key({"user_id"});
  opaque_user_id.p.id_like = true;
  opaque_user_id.p.avg_size = 26;
  Field numeric_user_id = key({"user_id"});
  numeric_user_id.p.numeric = true;
  numeric_user_id.p.avg_size = 3;
  Field dashes_date = key({"--"});
  dashes_date.p.date_like = true;
  Field urls = column({"url"}, 5, 5, 5, 30);
  Field repeated_urls = column({"url"}, 5, 5, 1, 30);
  Field empty_path = key({});

  Case cases[] = {
      {"created_at", created_at, 0.55, true},
      {"first_name", key({"first_name"}), 0.9, true},
      {"project_name", key({"project_name"}), 0.78, true},
      {"last_login", key({"last_login"}), 0.55, true},
      {"title_text", key({"title_text"}), 0.78, true},
      {"opaque user_id", opaque_user_id, 0.2, true},
      {"numeric user_id", numeric_user_id, 0.72, true},
      {"_links", key({"_links"}), 0.08, true},
      {"under _meta", key({"_meta", "name"}), 0.08, true},
      {"empty segment", key({"", "name"}), 0.08, true},
      {"_id", key({"_id"}), 0.98, true},
      // "_embedded" is no internal segment, but its word is a noise word.
      {"under _embedded", key({"_embedded", "name"}), 0.08, true},
      {"under _source", key({"_source", "name"}), 0.9, true},
      {"under noise", key({"links", "href"}), 0.08, true},
      {"under avatarUrls", key({"avatarUrls", "48x48"}), 0.08, true},
      {"avatar_url", key({"avatar_url"}), 0.1, true},
      {"base_url", key({"base_url"}), 0.6, true},
      {"joined noise", key({"type_name"}), 0.1, true},
      {"metadata", key({"metadata"}), 0.25, true},
      {"two hyphens", key({"--"}), 0.5, false},
      {"two hyphens, dates", dashes_date, 0.55, true},
      {"empty path", empty_path, 0.5, false},
      {"foo", key({"foo"}), 0.5, false},
      {"pagetitle", key({"pagetitle"}), 0.95, true},
      {"viewcount", key({"viewcount"}), 0.6, true},
      {"named parent", key({"user", "name"}), 0.9 * 0.88, true},
      {"named parent of id", key({"user", "id"}), 0.98 * 0.6, true},
      {"wrapper parent", key({"data", "attributes", "name"}), 0.9, true},
      {"$ref under author", key({"author", "$ref"}), 0.65, true},
      {"lone $ref", key({"$ref"}), 0.98, true},
      {"unique links", urls, 0.8, true},
      {"repeated links", repeated_urls, 0.6, true},
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
  };
  Field id = key({"id"});
  id.p.strings = 0;
  id.p.numbers = 1;
  id.p.numeric = true;
  id.p.avg_size = 2;
  Field description = key({"description"});
  description.p.avg_size = 502;
  Field status = column({"status"}, 10, 5, 2, 8);
  Field all_empty = column({"name"}, 4, 4, 1, 2);
  all_empty.p.empty = 4;
  Field half_empty = column({"name"}, 10, 10, 6, 8);
  half_empty.p.empty = 5;
  Field unique_texts = column({"foo"}, 10, 10, 10, 12);
  Field opaque = column({"foo"}, 10, 10, 10, 30);
  opaque.p.id_like = true;
  Field categories = column({"foo"}, 10, 10, 2, 6);
  Field constant = column({"foo"}, 5, 5, 1, 6);
  constant.p.constant = true;
  Field named_by_query = key({"foo"});
  named_by_query.p.name_relevance = named_by_query.p.relevance = 1;
  Field value_hit = key({"foo"});
  value_hit.p.value_relevance = value_hit.p.relevance = 1;
  value_hit.p.hit_rate = 1;
  Field categorical_hit = column({"foo"}, 10, 10, 2, 6);
  categorical_hit.p.value_relevance = categorical_hit.p.relevance = 0.6;
  categorical_hit.p.hit_rate = 0.5;
  Field container = key({"foo"});
  container.p.strings = container.p.scalars = container.p.distinct = 0;
  container.p.objects = 1;
  Field huge = key({"title"});
  huge.p.avg_size = 2001;

  Case cases[] = {
      {"id 42", id, 0.94},
      {"short title", key({"title"}), 0.95},
      {"long description", description, 0.595},
      {"unknown key", key({"foo"}), 0.5},
      {"status in half the rows", status, 0.78625},
      {"all empty", all_empty, 0.9 * 0.03},
      {"half empty", half_empty, 0.9 * 0.65},
      {"unique short texts", unique_texts, 0.7},
      {"opaque identifiers", opaque, 0.3},
      {"few categories", categories, 0.65},
      {"constant", constant, 0.1},
      {"name hit", named_by_query, 0.9},
      {"value hit", value_hit, 0.9},
      // f = 2 * 0.5 * 0.5 = 0.5; s = 0.65 + 0.4 * 1 * 0.5 * 0.6 = 0.77.
      {"categorical value hit", categorical_hit, 0.77},
      {"object value", container, 0.425},
      {"huge value", huge, 0.95 * 0.7},
  };
  const HeuristicScorer scorer;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(scorer.score(c.field.profile()), c.score, 1e-12);
  }
}

TEST(FieldHeuristic, Exactness) {
  struct Case {
    const char* name;
    Field field;
    bool exact;
  };
  Field constant_id = column({"id"}, 5, 5, 1, 4);
  constant_id.p.constant = true;
  Field opaque = column({"foo"}, 5, 5, 5, 30);
  opaque.p.id_like = true;
  Field long_id = key({"id"});
  long_id.p.avg_size = 301;
  Field with_nulls = column({"id"}, 5, 5, 4, 4);
  with_nulls.p.strings = 4;
  with_nulls.p.nulls = 1;
  Field absent = column({"id"}, 5, 0, 0, 0);

  Case cases[] = {
      {"identifier", key({"user_id"}), true},
      {"$ref under identifier", key({"id", "$ref"}), true},
      {"constant identifier", constant_id, false},
      {"unique links", column({"html_url"}, 5, 5, 5, 40), true},
      {"repeated links", column({"html_url"}, 5, 5, 2, 40), false},
      {"unique opaque values", opaque, true},
      {"unique plain values", column({"foo"}, 5, 5, 5, 30), false},
      {"single link", key({"url"}), false},
      {"too long", long_id, false},
      {"not all numbers or strings", with_nulls, false},
      {"absent", absent, false},
  };
  const HeuristicScorer scorer;
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scorer.exact(c.field.profile()), c.exact);
  }
}

TEST(FieldHeuristic, Roles) {
  struct Case {
    std::vector<std::string> path;
    std::optional<std::string> role;
  } const kCases[] = {
      {{"title"}, "title"},
      {{"author", "name"}, "group:author"},
      {{"data", "attributes", "title"}, "title"},
      {{"user", "profile", "name"}, "group:user/profile"},
      {{"data", "User Info", "name"}, "group:User Info"},
      {{"id"}, "identity"},
      {{"_embedded", "id"}, "identity"},
      {{"created_at"}, "time"},
      {{"html_url"}, "link"},
      {{"foo"}, std::nullopt},
      {{"author", "$ref"}, std::nullopt},
      {{}, std::nullopt},
  };
  const HeuristicScorer scorer;
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    Field f = key(c.path);
    EXPECT_EQ(scorer.role(f.profile()), c.role);
  }
}

TEST(FieldPlainScorers, ScoreBySizeAndPosition) {
  const FieldScorer& compact = scorer_for(ScorerKind::Compact);
  const FieldScorer& key_order = scorer_for(ScorerKind::KeyOrder);
  EXPECT_EQ(compact.name(), "compact");
  EXPECT_EQ(key_order.name(), "key_order");
  EXPECT_EQ(scorer_for(ScorerKind::Heuristic).name(), "heuristic");
  EXPECT_EQ(&scorer_for(ScorerKind::Compact), &compact);

  Field f = key({"id"});
  f.p.avg_size = 40;
  EXPECT_DOUBLE_EQ(compact.score(f.profile()), 0.5);
  f.p.empty = 1;
  EXPECT_DOUBLE_EQ(compact.score(f.profile()), 0.05);
  f.p.empty = 0;
  f.p.constant = true;
  EXPECT_DOUBLE_EQ(compact.score(f.profile()), 0.05);

  f.p.position = 0;
  EXPECT_DOUBLE_EQ(key_order.score(f.profile()), 1.0);
  f.p.position = 1;
  EXPECT_DOUBLE_EQ(key_order.score(f.profile()), 0.5);
  f.p.position = 3;
  EXPECT_DOUBLE_EQ(key_order.score(f.profile()), 0.25);

  EXPECT_FALSE(compact.exact(f.profile()));
  EXPECT_FALSE(key_order.role(f.profile()).has_value());
}

}  // namespace
}  // namespace quendra

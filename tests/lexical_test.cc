#include "engine/lexical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/fields.h"

namespace quendra {
namespace {

using Strings = std::vector<std::string>;

Strings entries(const TokenSet& set) {
  Strings out(set.begin(), set.end());
  std::sort(out.begin(), out.end());
  return out;
}

TokenSet tokens_of(std::string_view text) {
  TokenSet set;
  value_tokens(text, set);
  return set;
}

constexpr const char* kExample =
    "select name, email from users where status = 'active' order by created_at desc limit 10";

TEST(LexicalWords, InformativeAndNorm) {
  using namespace std::literals;
  for (std::string_view word : {"ab"sv, "x1"sv, "2024"sv, "users"sv, "\u00e9\u00e9"sv, "of\0"sv}) {
    EXPECT_TRUE(informative(word)) << word;
  }
  for (std::string_view word : {"a", "\u00e9", "the", "user", "10", "123"}) EXPECT_FALSE(informative(word)) << word;
  const std::pair<const char*, const char*> kNorms[] = {
      {"users", "user"}, {"status", "statu"}, {"class", "class"}, {"bus", "bus"}, {"news", "new"}, {"s", "s"}};
  for (auto [word, normed] : kNorms) EXPECT_EQ(norm(word), normed) << word;
}

TEST(LexicalTokens, ValueTokens) {
  struct Case {
    std::string text;
    Strings want;
  } const kCases[] = {
      {"Active users", {"active", "user"}},
      {"42 the user of it", {}},
      {"createdAt 2024-01-05", {"2024", "created"}},
      {"Stra\u00dfen", {"stra\u00dfen"}},
  };
  for (const Case& c : kCases) EXPECT_EQ(entries(tokens_of(c.text)), c.want) << c.text;
  std::string many;
  for (int i = 0; i < 300; ++i) many += "w" + std::to_string(i) + " ";
  const TokenSet capped = tokens_of(many);
  EXPECT_EQ(capped.size(), kMaxValueTokens);
  EXPECT_TRUE(capped.contains("w255"));
  EXPECT_FALSE(capped.contains("w256"));
}

TEST(LexicalTokenHit, ExactAndOneEdit) {
  struct Case {
    const char* name;
    const char* token;
    Strings set;
    bool hit;
  } const kCases[] = {
      {"empty set", "", {}, false},
      {"exact", "active", {"user", "active"}, true},
      {"one insertion", "active", {"activee"}, true},
      {"one replacement", "active", {"octive"}, true},
      {"transposition", "active", {"actvie"}, false},
      {"two insertions", "active", {"activeee"}, false},
      {"token too short", "actie", {"active"}, false},
      {"shortest entry", "abcdef", {"abcde"}, true},
      {"entry too short", "\u00e9\u00e9\u00e9", {"\u00e9\u00e9"}, false},
      // Counted in characters: ü for u is one replacement.
      {"accent replaced", "m\u00fcnchen", {"munchen"}, true},
      {"multibyte deletion", "\u00e9\u00e9\u00e9\u00e9\u00e9", {"\u00e9\u00e9\u00e9\u00e9"}, true},
      {"sharp s for ss", "stra\u00dfe", {"strasse"}, false},
      {"sharp s for s", "gr\u00f6\u00dfe", {"gr\u00f6se"}, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TokenSet set;
    for (const std::string& t : c.set) set.insert(t);
    EXPECT_EQ(token_hit(c.token, set), c.hit);
  }
}

// hits_value must agree with collecting the value's tokens first and
// matching the query against them, including past the 256-token cap.
TEST(LexicalQuery, HitsValueAgreesWithTokenSets) {
  std::string distinct, repeated;
  for (int i = 0; i < 300; ++i) distinct += "w" + std::to_string(i) + " ";
  for (int i = 0; i < 300; ++i) repeated += "alpha beta ";
  const std::string texts[] = {"", "Active users", "activee", "nothing relevant", "Stra\u00dfen m\u00fcnchen",
                               distinct, repeated + "gamma", "w3 https://example.com/releases/v2"};
  for (const char* query_text :
       {"active users", "release munchen gamma", "w300 w5", "w299", "example releases"}) {
    const std::optional<Query> q = Query::from_text(query_text);
    ASSERT_TRUE(q.has_value());
    for (const std::string& text : texts) {
      SCOPED_TRACE(std::string(query_text) + " / " + text.substr(0, 40));
      TokenSet expected = tokens_of(text), cell, scratch;
      cell.insert("earlier");
      EXPECT_EQ(q->hits_value(text, &cell, scratch), q->any_hit(expected));
      EXPECT_EQ(q->hits_value(text, nullptr, scratch), q->any_hit(expected));
      expected.insert("earlier");
      EXPECT_EQ(entries(cell), entries(expected));
    }
  }
}

TEST(LexicalQuery, OrderByClause) {
  struct Case {
    const char* text;
    Strings tokens, order_terms;
  } const kCases[] = {
      {kExample, {"name", "email", "user", "statu", "active"}, {"created"}},
      {"foo order by bar having baz", {"foo", "baz"}, {"bar"}},
      {"name order by name, rank", {"name"}, {"rank"}},
      {"order by rank", {}, {"rank"}},
      {"foo order by bar order by baz", {"foo"}, {"bar", "baz"}},
      // Lowercasing changes these characters' byte lengths; the clause must
      // still start and end at the same characters.
      {"\u212Aelvin order by size limit 5000", {"kelvin", "5000"}, {"size"}},
      {"\u0130\u0130 \u0130\u0130 ORDER BY weight LIMIT 5000", {"i\u0307i\u0307", "5000"}, {"weight"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<Query> q = Query::from_text(c.text);
    ASSERT_TRUE(q.has_value());
    EXPECT_EQ(q->tokens, c.tokens);
    EXPECT_EQ(entries(q->order_terms), c.order_terms);
  }
  for (const char* text : {"", "select * from the x where 10 = 7", "order by a desc limit 5"}) {
    EXPECT_FALSE(Query::from_text(text).has_value()) << text;
  }
}

TEST(LexicalQuery, NameAndValueRelevance) {
  const std::optional<Query> q = Query::from_text(kExample);
  ASSERT_TRUE(q.has_value());
  struct Case {
    const char* key;
    Strings context;
    double want;
  } const kCases[] = {
      {"user_status", {}, 1.0},           {"status_code", {}, 0.25},       {"status_code", {"users"}, 0.75},
      {"status_code", {"team"}, 0.25},    {"title", {"name"}, 0.0},        {"created", {}, 0.175},
      {"createdAt", {}, 0.5 * (0.35 / 2)}, {"emails", {}, 1.0},          {"", {"name"}, 0.0},
  };
  for (const Case& c : kCases) EXPECT_NEAR(q->name_match(words(c.key), c.context), c.want, 1e-12) << c.key;
  const std::optional<Query> order = Query::from_text("order by created");
  EXPECT_NEAR(order->name_match(words("created"), Strings{"created"}), 0.175, 1e-12);

  EXPECT_EQ(q->hit_count(tokens_of("Active users")), 2u);
  EXPECT_EQ(q->hit_count(tokens_of("activee")), 1u);
  EXPECT_FALSE(q->any_hit(tokens_of("nothing relevant")));
  EXPECT_DOUBLE_EQ(q->value_relevance(2), 0.7);
  EXPECT_DOUBLE_EQ(q->value_relevance(0), 0.0);
}

}  // namespace
}  // namespace quendra

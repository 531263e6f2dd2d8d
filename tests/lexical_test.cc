#include "lexical.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fields.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

using Strings = std::vector<std::string>;

// The entries of `set` in byte order.
Strings entries(const TokenSet& set) {
  Strings out(set.begin(), set.end());
  std::sort(out.begin(), out.end());
  return out;
}

TokenSet set_of(const Strings& tokens) {
  TokenSet set;
  for (const std::string& t : tokens) set.insert(t);
  return set;
}

constexpr const char* kExample =
    "select name, email from users where status = 'active' "
    "order by created_at desc limit 10";

TEST(LexicalWords, InformativeAndNorm) {
  EXPECT_TRUE(informative("ab"));
  EXPECT_TRUE(informative("x1"));
  EXPECT_TRUE(informative("2024"));
  EXPECT_TRUE(informative("users"));
  EXPECT_TRUE(informative("\u00e9\u00e9"));
  EXPECT_FALSE(informative("a"));
  EXPECT_FALSE(informative("\u00e9"));  // two bytes, one character
  EXPECT_FALSE(informative("the"));
  EXPECT_FALSE(informative("user"));
  EXPECT_FALSE(informative("10"));
  EXPECT_FALSE(informative("123"));
  EXPECT_TRUE(informative(std::string_view("of\0", 3)));  // not "of"

  EXPECT_EQ(norm("users"), "user");
  EXPECT_EQ(norm("status"), "statu");
  EXPECT_EQ(norm("class"), "class");
  EXPECT_EQ(norm("bus"), "bus");
  EXPECT_EQ(norm("news"), "new");
  EXPECT_EQ(norm("s"), "s");
  EXPECT_EQ(norm(""), "");
}

TEST(LexicalTokenSet, Unique) {
  TokenSet set;
  EXPECT_TRUE(set.insert("b"));
  EXPECT_TRUE(set.insert("a"));
  EXPECT_FALSE(set.insert("b"));
  EXPECT_TRUE(set.contains("a"));
  EXPECT_FALSE(set.contains("c"));
  set.insert_all(set_of({"c", "a"}));
  EXPECT_EQ(entries(set), (Strings{"a", "b", "c"}));
}

TEST(LexicalTokenSet, GrowsAndClears) {
  TokenSet set;
  for (int i = 0; i < 1000; ++i) EXPECT_TRUE(set.insert("t" + std::to_string(i)));
  EXPECT_EQ(set.size(), 1000u);
  for (int i = 0; i < 1000; ++i) EXPECT_FALSE(set.insert("t" + std::to_string(i)));
  EXPECT_TRUE(set.contains("t999"));
  EXPECT_FALSE(set.contains("t1000"));
  set.clear();
  EXPECT_TRUE(set.empty());
  EXPECT_FALSE(set.contains("t0"));
  EXPECT_TRUE(set.insert("t0"));
  EXPECT_EQ(entries(set), (Strings{"t0"}));
}

TEST(LexicalValueTokens, CollectsInformativeWords) {
  struct Case {
    const char* text;
    Strings want;
  } const kCases[] = {
      {"Active users", {"active", "user"}},
      {"2024", {"2024"}},
      {"42", {}},
      {"the user of it", {}},
      {"createdAt 2024-01-05", {"2024", "created"}},
      {"Stra\u00dfen", {"stra\u00dfen"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    TokenSet set;
    value_tokens(c.text, set);
    EXPECT_EQ(entries(set), c.want);
  }
}

TEST(LexicalValueTokens, CapsAt256) {
  std::string text;
  for (int i = 0; i < 300; ++i) text += "w" + std::to_string(i) + " ";
  TokenSet set;
  value_tokens(text, set);
  EXPECT_EQ(set.size(), kMaxValueTokens);
  EXPECT_TRUE(set.contains("w255"));
  EXPECT_FALSE(set.contains("w256"));
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
      {"exact short", "ab", {"ab"}, true},
      {"one insertion", "active", {"activee"}, true},
      {"one deletion", "active", {"activ"}, true},
      {"one replacement", "active", {"octive"}, true},
      {"transposition", "active", {"actvie"}, false},
      {"two insertions", "active", {"activeee"}, false},
      {"token too short", "actie", {"active"}, false},
      {"shortest entry", "abcdef", {"abcde"}, true},
      {"entry too short", "\u00e9\u00e9\u00e9", {"\u00e9\u00e9"}, false},
      // Counted in characters: ü for u is one replacement even though the
      // byte lengths differ.
      {"accent replaced", "m\u00fcnchen", {"munchen"}, true},
      {"accent deleted", "caf\u00e912", {"caf12"}, true},
      {"multibyte deletion", "\u00e9\u00e9\u00e9\u00e9\u00e9",
       {"\u00e9\u00e9\u00e9\u00e9"}, true},
      {"sharp s for ss", "stra\u00dfe", {"strasse"}, false},
      {"sharp s for s", "gr\u00f6\u00dfe", {"gr\u00f6se"}, true},
      {"accent added", "munchen", {"m\u00fcnchen"}, true},
      {"ASCII, two edits", "munchen", {"mxnchxn"}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(token_hit(c.token, set_of(c.set)), c.hit);
  }
}

// hits_value must agree with collecting the value's token set first and
// matching the query against it, including values whose distinct tokens
// pass the 256 cap (a term after the cap does not count).
TEST(LexicalQuery, HitsValueAgreesWithTokenSets) {
  std::string distinct;
  for (int i = 0; i < 300; ++i) distinct += "w" + std::to_string(i) + " ";
  std::string repeated;
  for (int i = 0; i < 300; ++i) repeated += "alpha beta ";
  const std::string texts[] = {
      "",
      "Active users",
      "activee",
      "nothing relevant",
      "Stra\u00dfen m\u00fcnchen",
      distinct,
      repeated + "gamma",
      "w3 https://example.com/releases/v2",
  };
  const char* const queries[] = {"active users", "release munchen gamma",
                                 "w300 w5", "w299", "beta", "example releases"};
  for (const char* query_text : queries) {
    std::optional<Query> q = Query::from_text(query_text);
    ASSERT_TRUE(q.has_value());
    for (const std::string& text : texts) {
      SCOPED_TRACE(std::string(query_text) + " / " + text.substr(0, 40));
      TokenSet expected;
      value_tokens(text, expected);
      TokenSet cell;
      cell.insert("earlier");
      TokenSet scratch;
      EXPECT_EQ(q->hits_value(text, &cell, scratch), q->any_hit(expected));
      EXPECT_EQ(q->hits_value(text, nullptr, scratch), q->any_hit(expected));
      expected.insert("earlier");
      EXPECT_EQ(entries(cell), entries(expected));
    }
  }
}

TEST(LexicalQuery, SplitsOrderByClause) {
  const std::optional<Query> q = Query::from_text(kExample);
  ASSERT_TRUE(q.has_value());
  EXPECT_EQ(q->tokens, (Strings{"name", "email", "user", "statu", "active"}));
  EXPECT_EQ(entries(q->terms),
            (Strings{"active", "email", "name", "statu", "user"}));
  EXPECT_EQ(entries(q->order_terms), (Strings{"created"}));
}

TEST(LexicalQuery, ClauseBoundaries) {
  struct Case {
    const char* text;
    Strings tokens;
    Strings order_terms;
  } const kCases[] = {
      {"Title ORDER BY Created", {"title"}, {"created"}},
      {"foo order by bar having baz", {"foo", "baz"}, {"bar"}},
      {"foo order by bar offset 1000 limit 2000",
       {"foo", "1000", "2000"},
       {"bar"}},
      {"foo order by bar group by team", {"foo", "team"}, {"bar"}},
      {"name order by name, rank", {"name"}, {"rank"}},
      {"order by rank", {}, {"rank"}},
      {"foo order by bar order by baz", {"foo"}, {"bar", "baz"}},
      // Lowercasing changes these characters' byte lengths (the Kelvin
      // sign shrinks, the dotted capital I grows); the clause must still
      // start and end at the same characters.
      {"\u212Aelvin order by size limit 5000", {"kelvin", "5000"}, {"size"}},
      {"\u0130\u0130 \u0130\u0130 ORDER BY weight LIMIT 5000",
       {"i\u0307i\u0307", "5000"},
       {"weight"}},
      {"\u2126mega order by \u0130zmir", {"\u03c9mega"}, {"i\u0307zmir"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    const std::optional<Query> q = Query::from_text(c.text);
    ASSERT_TRUE(q.has_value());
    EXPECT_EQ(q->tokens, c.tokens);
    EXPECT_EQ(entries(q->order_terms), c.order_terms);
  }
}

TEST(LexicalQuery, NoInformativeWordsGiveNoQuery) {
  EXPECT_FALSE(Query::from_text("").has_value());
  EXPECT_FALSE(Query::from_text("select * from the x where 10 = 7").has_value());
  EXPECT_FALSE(Query::from_text("order by a desc limit 5").has_value());
}

TEST(LexicalQuery, NameMatch) {
  const std::optional<Query> q = Query::from_text(kExample);
  ASSERT_TRUE(q.has_value());
  struct Case {
    const char* key;
    Strings context;
    double want;
  } const kCases[] = {
      {"user_status", {}, 1.0},
      {"status_code", {}, 0.25},
      {"status_code", {"users"}, 0.75},
      {"status_code", {"team"}, 0.25},
      {"title", {"name"}, 0.0},
      {"created", {}, 0.175},
      {"createdAt", {}, 0.5 * (0.35 / 2)},
      {"emails", {}, 1.0},
      {"", {"name"}, 0.0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.key);
    EXPECT_NEAR(q->name_match(words(c.key), c.context), c.want, 1e-12);
  }

  const std::optional<Query> order_only = Query::from_text("order by created");
  ASSERT_TRUE(order_only.has_value());
  EXPECT_NEAR(order_only->name_match(words("created"), Strings{"created"}),
              0.175, 1e-12);
}

TEST(LexicalQuery, ValueRelevance) {
  const std::optional<Query> q = Query::from_text(kExample);
  ASSERT_TRUE(q.has_value());
  TokenSet set;
  value_tokens("Active users", set);
  EXPECT_EQ(q->hit_count(set), 2u);
  EXPECT_TRUE(q->any_hit(set));
  EXPECT_DOUBLE_EQ(q->value_relevance(2), 0.7);
  EXPECT_DOUBLE_EQ(q->value_relevance(0), 0.0);

  TokenSet fuzzy;
  value_tokens("activee", fuzzy);
  EXPECT_EQ(q->hit_count(fuzzy), 1u);

  TokenSet none;
  value_tokens("nothing relevant", none);
  EXPECT_FALSE(q->any_hit(none));
  EXPECT_EQ(q->hit_count(TokenSet()), 0u);
}

}  // namespace
}  // namespace quendra

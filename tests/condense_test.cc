#include "engine/condense.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shrink_check.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

// The array of `n` records `body` with each '#' replaced by the index.
std::string records(std::size_t n, std::string_view body) {
  return list("[", n, [&](std::size_t i) {
    std::string record(body);
    for (std::size_t at; (at = record.find('#')) != std::string::npos;) record.replace(at, 1, std::to_string(i));
    return record;
  });
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
    R"([{"title":"One","description":"The first entry describes a long story about nothing in )"
    R"(particular at all, really."},)"
    R"({"title":"Two","description":"Second text is short."},)"
    R"({"title":"Three","description":"The third entry goes on and on about how the weather )"
    R"(was that day in the valley."}])";
const char kTitles[] =
    R"([{"name":"ann","title":"Quarterly planning notes for the platform team and guests"},)"
    R"({"name":"bob","title":"Incident review of the storage outage in the eastern region"},)"
    R"({"name":"cy","title":"Roadmap draft for next year with milestones and owners too"}])";

TEST(CondenseShrink, ExactOutputs) {
  const std::string statuses =
      R"([{"status":"open","description":"The first entry describes a long story about nothing )"
      R"(in particular at all, really."},)"
      R"({"status":"closed","description":"Second text is short."},)"
      R"({"status":"open","description":"The third entry goes on and on about how the weather )"
      R"(was that day in the valley."}])";
  const std::string zs = records(3, R"({"title":"Title #","u":")" + std::string(40, 'z') + R"("})");
  const std::string shares = records(3, R"({"t":"#)" + std::string(59, 'y') + R"(","u":#})");
  const std::string posts = records(4, R"({"id":#,"title":"Title number #",)"
                                       R"("body":"A long body text that goes on for a while, number #.",)"
                                       R"("url":"https://example.com/posts/#"})");
  struct Case {
    const char* name;
    std::string doc;
    std::string options;  // besides {"array_strategy":"condense","indent":0,"explain":true}
    std::string text, summary, dropped, decisions;
  } const kCases[] = {
      {"noise column dropped", kPosts, R"("max_chars":100)",
       R"([{"id":1,"title":"Alpha release notes"},{"id":2,"title":"Beta"},{"id":3,"title":"Gamma"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/avatar_url:3",
       "/*/title 0.950, /*/id 0.940, /*/avatar_url 0.100 dropped"},
      {"dropped columns most present first",
       R"([{"id":0,"title":"Zero","art_url":"https://example.com/t/0.png"},)" + std::string(kPosts + 1),
       R"("max_chars":100)",
       R"([{"title":"Zero"},{"title":"Alpha release notes"},{"title":"Beta"},{"title":"Gamma"}])",
       "arrays_condensed=1 fields_dropped=3", "/*/id:4 /*/avatar_url:3 /*/art_url:1",
       "/*/title 0.950, /*/id 0.940 dropped, /*/avatar_url 0.089 dropped, /*/art_url 0.060 dropped"},
      {"one record cut, the others whole", R"([{"id":1,"title":"Alpha release notes"},)"
       R"({"id":2,"title":"Beta","avatar_url":"https://example.com/a/2.png"},)"
       R"({"id":3,"title":"Gamma"}])",
       R"("max_chars":100)",
       R"([{"id":1,"title":"Alpha release notes"},{"id":2,"title":"Beta"},{"id":3,"title":"Gamma"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/avatar_url:1",
       "/*/title 0.950, /*/id 0.940, /*/avatar_url 0.014 dropped"},
      {"whole enclosing object dropped once", kUsers, R"("max_chars":120)",
       R"([{"title":"First post"},{"title":"Second post"},{"title":"Third post"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/user:3",
       "/*/title 0.950, /*/user/name 0.792 dropped, /*/user/email 0.495 dropped"},
      {"sibling kept, field dropped", kUsers, R"("max_chars":150)",
       R"([{"title":"First post","user":{"name":"ann"}},{"title":"Second post","user":{"name":"bob"}},)"
       R"({"title":"Third post","user":{"name":"cy"}}])",
       "arrays_condensed=1 fields_dropped=1", "/*/user/email:3",
       "/*/title 0.950, /*/user/name 0.792, /*/user/email 0.495 dropped"},
      // The query lifts email above title; name then ranks second in the
      // user group and enters by the fill-in.
      {"query relevance", kUsers, R"("max_chars":150,"arguments":"email")",
       R"([{"user":{"name":"ann","email":"ann@example.com"}},)"
       R"({"user":{"name":"bob","email":"bob@example.com"}},)"
       R"({"user":{"name":"cy","email":"cy@example.com"}}])",
       "arrays_condensed=1 fields_dropped=1", "/*/title:3",
       "/*/user/email 1.000 relevance 1.000, /*/title 0.950 dropped, /*/user/name 0.594"},
      {"protected column listed at 2, indented", kUsers, R"("max_chars":250,"indent":2,"protect":["email"])",
       "[\n  {\n    \"user\": {\n      \"name\": \"ann\",\n      \"email\": \"ann@example.com\"\n    }\n  },\n"
       "  {\n    \"user\": {\n      \"name\": \"bob\",\n      \"email\": \"bob@example.com\"\n    }\n  },\n"
       "  {\n    \"user\": {\n      \"name\": \"cy\",\n      \"email\": \"cy@example.com\"\n    }\n  }\n]",
       "arrays_condensed=1 fields_dropped=1", "/*/title:3",
       "/*/user/email 2.000, /*/title 0.950 dropped, /*/user/name 0.792"},
      // With the query the descriptions score 0.9 and become the column that
      // must be shown, which does not fit: the pass without the query plans.
      {"second pass without the query", statuses, R"("max_chars":100,"arguments":"weather valley story")",
       R"([{"status":"open"},{"status":"closed"},{"status":"open"}])", "arrays_condensed=1 fields_dropped=1",
       "/*/description:3", "/*/status 0.850, /*/description 0.700 dropped"},
      // Previews of 24 characters leave name out (incomplete); previews of 12
      // keep both columns, and the spare 10 characters lengthen the titles.
      {"shorter previews complete the choice", kTitles, R"("max_chars":160)",
       R"([{"name":"ann","title":"Quarterly plann…[+42 chars]"},)"
       R"({"name":"bob","title":"Incident review of…[+41 chars]"},)"
       R"({"name":"cy","title":"Roadmap draft…[+45 chars]"}])",
       "strings_truncated=3 arrays_condensed=1", "", "/*/title 0.950, /*/name 0.900"},
      // At their floors the records measure 195; the 35 spare characters go
      // to the rows wanting least first.
      {"rows share the spare budget", kStories, R"("max_chars":230)",
       R"([{"title":"One","description":"The first entry describes a long story…[+44 chars]"},)"
       R"({"title":"Two","description":"Second text is short."},)"
       R"({"title":"Three","description":"The third entry goes on and on about how…[+40 chars]"}])",
       "strings_truncated=2 arrays_condensed=1", "", "/*/title 0.950, /*/description 0.700"},
      // key_order: t scores 1, u 0.5; u must fit within 90 % of the budget.
      {"a half score needs 90 % of the budget", shares, R"("max_chars":171,"field_scorer":"key_order")",
       "[{\"t\":\"0" + std::string(34, 'y') + "\u2026[+25 chars]\"},{\"t\":\"1" + std::string(35, 'y') +
           "\u2026[+24 chars]\"},{\"t\":\"2" + std::string(35, 'y') + "\u2026[+24 chars]\"}]",
       "strings_truncated=3 arrays_condensed=1 fields_dropped=1", "/*/u:3", "/*/t 1.000, /*/u 0.500 dropped"},
      {"a half score within 90 % of the budget", shares, R"("max_chars":172,"field_scorer":"key_order")",
       "[{\"t\":\"0" + std::string(29, 'y') + "\u2026[+30 chars]\",\"u\":0},{\"t\":\"1" + std::string(29, 'y') +
           "\u2026[+30 chars]\",\"u\":1},{\"t\":\"2" + std::string(29, 'y') + "\u2026[+30 chars]\",\"u\":2}]",
       "strings_truncated=3 arrays_condensed=1", "", "/*/t 1.000, /*/u 0.500"},
      {"of two equal scores the smaller column first",
       R"([{"a":"x0","b":"a longer text 0"},{"b":"a longer text 1","a":"x1"},)"
       R"({"a":"x2","b":"a longer text 2"},{"b":"a longer text 3","a":"x3"}])",
       R"("max_chars":108,"field_scorer":"key_order")", R"([{"a":"x0"},{"a":"x1"},{"a":"x2"},{"a":"x3"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/b:4", "/*/a 0.667, /*/b 0.667 dropped"},
      {"fill-in only when every chosen column fits in full",
       R"([{"description":"weather notes valley beta active long long long beta","user":{"name":"alpha",)"
       R"("email":"u49@example.com"}},{"user":{"name":"weather","email":"u31@example.com"}},)"
       R"({"description":"weather"}])",
       R"("max_chars":186)",
       R"([{"description":"weather notes valley beta active long long long beta","user":{"name":"alpha"}},)"
       R"({"user":{"name":"weather"}},{"description":"weather"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/user/email:2",
       "/*/user/name 0.673, /*/description 0.595, /*/user/email 0.421 dropped"},
      {"a duplicate column keeps 15 % of its score",
       R"([{"id":1001,"user_id":1001},{"id":1002,"description":"valley","user_id":1002},)"
       R"({"id":1003,"description":"notes","user_id":1003}])",
       R"("max_chars":82,"arguments":"weather story")",
       R"([{"id":1001},{"id":1002,"description":"valley"},{"id":1003,"description":"notes"}])",
       "arrays_condensed=1 fields_dropped=1", "/*/user_id:3",
       "/*/id 0.940, /*/description 0.595, /*/user_id 0.081 dropped"},
      {"scores rounded to thousandths", R"([{"description":"user story notes beta user alpha story"},{}])",
       R"("max_chars":52)", R"([{"description":"user story notes…[+22 chars]"},{}])",
       "strings_truncated=1 arrays_condensed=1", "", "/*/description 0.543"},
      {"names and values the query mentions",
       records(3, R"({"title":"Post #","owner":{"id":#,"login_name":"ann#"},"user":{"profile":{"name":"n#"}},)"
                  R"("meta":{"data":{"id":#}},"note":"release #"})"),
       R"("max_chars":300,"arguments":"profile meta owner login release")",
       R"([{"title":"Post 0","owner":{"id":0,"login_name":"ann0"},"user":{"profile":{"name":"n0"}}},)"
       R"({"title":"Post 1","owner":{"id":1,"login_name":"ann1"},"user":{"profile":{"name":"n1"}}},)"
       R"({"title":"Post 2","owner":{"id":2,"login_name":"ann2"},"user":{"profile":{"name":"n2"}}}])",
       "arrays_condensed=1 fields_dropped=2", "/*/meta:3 /*/note:3",
       "/*/owner/login_name 1.000 relevance 0.750, /*/user/profile/name 1.000 relevance 1.000, /*/title 0.950, "
       "/*/note 0.900 dropped relevance 0.600, /*/owner/id 0.723 relevance 1.000, "
       "/*/meta/data/id 0.145 dropped relevance 1.000"},
      {"a protected column that does not fit: sampled", zs, R"("max_chars":100,"protect":["u"])",
       R"([{"title":"Title 0","u":")" + std::string(40, 'z') + R"("},"…[2 items omitted]"])",
       "arrays_sampled=1 items_omitted=2 protected_omitted=2", "", ""},
      {"a protected column that fits", zs, R"("max_chars":200,"protect":["u"])",
       R"([{"u":")" + std::string(40, 'z') + R"("},{"u":")" + std::string(40, 'z') + R"("},{"u":")" +
           std::string(40, 'z') + R"("}])",
       "arrays_condensed=1 fields_dropped=1", "/*/title:3", "/*/u 2.000, /*/title 0.950 dropped"},
      {"two protected columns, one fits: sampled", posts, R"("max_chars":154,"protect":["body","url"])",
       R"([{"id":0,"title":"Title number 0","body":"A long body text that goes on for a while, number 0.",)"
       R"("url":"https://example.com/posts/0"},"…[3 items omitted]"])",
       "arrays_sampled=1 items_omitted=3 protected_omitted=6", "", ""},
      {"records without common keys: sampled", R"([{"a":1,"b":1},{"a":2,"c":1},{"a":3,"d":1},{"a":4,"e":1}])",
       R"("max_chars":40)", R"([{"a":1,"b":1},"…[3 items omitted]"])", "arrays_sampled=1 items_omitted=3",
       "", ""},
      {"common keys in 70 % of the occurrences", R"([{"a":1,"b":1},{"a":2},{"a":3}])", R"("max_chars":28)",
       R"([{"a":1},{"a":2},{"a":3}])", "arrays_condensed=1 fields_dropped=1", "/*/b:1",
       "/*/a 0.500, /*/b 0.070 dropped"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Shrunk s = run(c.doc, R"({"array_strategy":"condense","indent":0,"explain":true,)" + c.options + "}");
    EXPECT_EQ(s.text, c.text);
    EXPECT_EQ(s.summary, c.summary);
    EXPECT_EQ(s.dropped, c.dropped);
    EXPECT_EQ(s.decisions, c.decisions);
  }
}

}  // namespace
}  // namespace quendra

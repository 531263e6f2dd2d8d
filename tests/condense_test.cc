#include "engine/condense.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "document/options.h"
#include "engine/prune.h"
#include "shrink_check.h"
#include "tree.h"
#include "unicode/unicode.h"

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

// A request and one attempt's pruner over it, as the budget search makes
// them, with the pruner seen as condensing sees it.
struct Engine {
  Engine(const Options& options, std::size_t indent)
      : request(options, Layout{indent}), pruner(request, test_arena()), fitter(pruner) {}
  Meta analyze(Value doc) {
    Pruner analysis(request, test_arena());
    Path path;
    return analysis.analyze_at(doc, 0, path, false);
  }
  Request request;
  Pruner pruner;
  PrunerFitter fitter;
};

Options condensing(bool explain = false) {
  Options options;
  options.array_strategy = ArrayStrategy::Condense;
  options.explain = explain;
  return options;
}

// One column of short distinct titles costs exactly the array's size:
// condensing takes the array at that budget and declines one character
// below, whether or not it reads the values to tell.
TEST(CondenseDeclines, OneBelowTheCheapestColumn) {
  for (std::size_t n : {2, 7, 40}) {
    for (std::size_t indent : {0, 2}) {
      SCOPED_TRACE(std::to_string(n) + " records, indent " + std::to_string(indent));
      Engine engine(condensing(), indent);
      const Value array = parse(records(n, R"({"title":"t#"})"));
      const Meta meta = engine.analyze(array);
      EXPECT_FALSE(condense(engine.fitter, array.items(), meta.size - 1, 0));
      std::optional<Fitted> fitted = condense(engine.fitter, array.items(), meta.size, 0);
      ASSERT_TRUE(fitted);
      EXPECT_EQ(fitted->size, meta.size);
    }
  }
}

// Records of web-API flavour, with fields present in most records or few.
std::string record_array(Generator& gen, std::size_t n) {
  static constexpr const char* kWords[] = {"alpha", "beta", "release", "notes", "weather",
                                           "valley", "story", "user", "active", "long"};
  auto text = [&](std::size_t words) {
    std::string out;
    for (std::size_t i = 0; i < words; ++i) out += (i ? " " : "") + std::string(gen.pick(kWords));
    return "\"" + out + "\"";
  };
  std::string doc = "[";
  for (std::size_t i = 0; i < n; ++i) {
    std::vector<std::string> members;
    auto add = [&](int percent, const std::string& key, const std::string& value) {
      if (gen.chance(percent)) members.push_back("\"" + key + "\":" + value);
    };
    add(95, "id", std::to_string(1000 + i));
    add(90, "title", text(1 + gen.below(4)));
    add(60, "description", text(gen.below(40)));
    add(70, "status", gen.chance(50) ? "\"open\"" : "\"closed\"");
    add(50, "url", "\"https://example.com/items/" + std::to_string(i) + "\"");
    add(80, "user", gen.chance(85) ? "{\"name\":" + text(1) + ",\"email\":\"u" + std::to_string(gen.below(50)) +
                                         "@example.com\"}"
                                   : "null");
    add(50, "meta", R"({"a":{"b":{"c":{"d":1}}},"n":)" + std::to_string(gen.below(9)) + "}");
    add(40, "tags", "[" + text(1) + "," + text(1) + "]");
    add(10, "extra" + std::to_string(gen.below(5)), "true");
    for (std::size_t k = members.size(); k > 1; --k) {
      if (gen.chance(15)) std::swap(members[k - 1], members[gen.below(k)]);
    }
    doc += i ? ",{" : "{";
    for (std::size_t k = 0; k < members.size(); ++k) doc += (k ? "," : "") + members[k];
    doc += "}";
  }
  return doc + "]";
}

// The report paths of the candidate columns: key paths of the records (not
// opening objects at 4 keys) that are not always non-empty objects, under
// keys that always are.
std::set<std::string> candidate_paths(const Value& array) {
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

// Over generated record arrays and budgets: a condensed array keeps every
// record, each with members of its own in order, measures what it says, and
// reports one decision per candidate column and the dropped ones (kept
// columns never among them) most present first.
TEST(CondenseProperties, GeneratedRecordArrays) {
  std::size_t condensed = 0, runs = 0;
  Generator gen(1);
  for (unsigned seed = 1; seed <= 60; ++seed) {
    const std::size_t n = 2 + seed % 17;
    const Value array = parse(record_array(gen, n));
    for (std::size_t indent : {0, 2}) {
      Options options = condensing(true);
      if (seed % 3 == 0) options.arguments = "active user email";
      Engine analysis(options, indent);
      const Meta meta = analysis.analyze(array);
      for (int trial = 0; trial < 4; ++trial, ++runs) {
        const std::size_t budget = meta.min_size + 1 + gen.below(meta.size - meta.min_size - 1);
        SCOPED_TRACE("seed " + std::to_string(seed) + " indent " + std::to_string(indent) + " budget " +
                     std::to_string(budget));
        Engine engine(options, indent);
        const Stats& stats = engine.pruner.stats;
        std::optional<Fitted> result = condense(engine.fitter, array.items(), budget, 0);
        EXPECT_TRUE(engine.pruner.path.empty());
        if (!result) continue;
        ++condensed;
        EXPECT_EQ(result->size, unicode::count_chars(render(result->value, indent)));
        Omitted omitted;
        EXPECT_EQ(derived(result->value, array, omitted), "");
        EXPECT_EQ(omitted.items, 0u);
        ASSERT_LE(stats.dropped_fields.size(), 24u);
        EXPECT_EQ(stats.fields_dropped, stats.dropped_fields.size());
        for (std::size_t k = 1; k < stats.dropped_fields.size(); ++k) {
          const DroppedField& a = stats.dropped_fields[k - 1];
          const DroppedField& b = stats.dropped_fields[k];
          EXPECT_TRUE(a.items > b.items || (a.items == b.items && a.path < b.path));
        }
        std::set<std::string> decided, kept;
        for (const FieldDecision& d : stats.field_decisions) {
          decided.insert(d.path);
          if (d.kept) kept.insert(d.path);
        }
        EXPECT_EQ(decided.size(), stats.field_decisions.size());
        EXPECT_EQ(decided, candidate_paths(array));
        for (const DroppedField& d : stats.dropped_fields) EXPECT_EQ(kept.count(d.path), 0u) << d.path;
      }
    }
  }
  EXPECT_GT(condensed * 3, runs) << condensed << " of " << runs;
}

}  // namespace
}  // namespace quendra

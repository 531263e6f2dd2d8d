#include "lib.h"

#include <gtest/gtest.h>

#include "shrink_check.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

std::string error_of(std::string_view doc, std::string_view options) {
  auto v = parse_json(shrink(doc, options)).value();
  return v.members()[0].value.as_bool() ? "ok" : std::string(v.members()[1].value.text());
}

// The "text" and report member `key` of a success envelope.
struct Shrunk {
  std::string text;
  Value report;
  std::string field(std::string_view key) const {
    for (const Member& m : report.members()) {
      if (m.key.text() == key) {
        if (m.value.is_bool()) return m.value.as_bool() ? "true" : "false";
        return std::string(m.value.text());
      }
    }
    return "<missing>";
  }
};

Shrunk run(std::string_view doc, std::string_view options) {
  std::string env = shrink(doc, options);
  auto v = parse_json(env).value();
  EXPECT_TRUE(v.members()[0].value.as_bool()) << env;
  if (v.members().size() < 3) return {};
  return {std::string(v.members()[1].value.text()), v.members()[2].value};
}

TEST(Envelope, SuccessBytesExactly) {
  EXPECT_EQ(shrink(R"({"a":1})", R"({"indent":0})"),
            R"({"ok":true,"text":"{\"a\":1}","report":{"input_chars":7,"output_chars":7,)"
            R"("max_chars":10000,"format":"json","input_format":"json","pruned":false,"fits":true,)"
            R"("strings_truncated":0,"arrays_sampled":0,"items_omitted":0,"objects_trimmed":0,)"
            R"("keys_omitted":0,"containers_collapsed":0,"arrays_condensed":0,"protected_omitted":0,)"
            R"("field_decisions":[],"fields_dropped":0,"dropped_fields":[]}})");
  EXPECT_EQ(envelope_err("a \"b\"\x01"), R"({"ok":false,"error":"a \"b\"\u0001"})");
}

TEST(Pipeline, ReportsTheFirstFailingStep) {
  struct Case {
    const char* doc;
    const char* options;
    const char* error;
  } cases[] = {
      {"\xC3", "\xC3", "input is not valid UTF-8"},
      {"{}", "\xED\xA0\x80", "options are not valid UTF-8"},
      {"{}", "", "invalid options JSON: unexpected end of input at line 1, column 1"},
      {"{}", "[]", "invalid options: options must be a JSON object"},
      {"[1,", R"({"indent": -1})", "invalid options: indent must be a non-negative integer"},
      {"", "{}", "invalid JSON input: unexpected end of input at line 1, column 1"},
      {"[1, 2", "{}", "invalid JSON input: expected ',' or ']' at line 1, column 6"},
      {"\xEF\xBB\xBF  {", "{}", "invalid JSON input: expected string key at line 1, column 5"},
      {"\xE2\x80\x83\"a", "{}", "invalid JSON input: unexpected character at line 1, column 1"},
      {"key: value", R"({"input_format": "json"})",
       "invalid JSON input: unexpected character at line 1, column 1"},
      {"{", R"({"input_format": "yaml"})", "invalid YAML input:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.doc);
    std::string got = error_of(c.doc, c.options);
    EXPECT_EQ(got.substr(0, std::string_view(c.error).size()), c.error);
  }
}

TEST(Pipeline, DetectsAndResolvesFormats) {
  Shrunk s = run("key: value", "{}");
  EXPECT_EQ(s.text, "key: value\n");
  EXPECT_EQ(s.field("format"), "yaml");
  EXPECT_EQ(s.field("input_format"), "yaml");

  s = run("key: [1, 2]", R"({"indent": 0})");  // YAML output raises indent to 2
  EXPECT_EQ(s.field("format"), "yaml");
  EXPECT_EQ(s.text, "key:\n  - 1\n  - 2\n");

  s = run(R"({"a": [1]})", R"({"format": "yaml"})");
  EXPECT_EQ(s.text, "a:\n  - 1\n");
  EXPECT_EQ(s.field("input_format"), "json");

  s = run("a: 1", R"({"format": "json", "indent": 0})");
  EXPECT_EQ(s.text, R"({"a":1})");
}

TEST(Pipeline, ReturnsDocumentWithinBudgetUnpruned) {
  Shrunk s = run("[1, 2, 3]", R"({"indent": 0, "max_chars": 7})");
  EXPECT_EQ(s.text, "[1,2,3]");
  EXPECT_EQ(s.field("pruned"), "false");
  EXPECT_EQ(s.field("fits"), "true");
  EXPECT_EQ(s.field("input_chars"), "7");
}

TEST(BudgetSearch, FitsOrReturnsSmallestOverflow) {
  std::string doc = "[";
  for (int i = 0; i < 200; ++i) doc += (i ? ",\"item " : "\"item ") + std::to_string(i) + "\"";
  doc += "]";
  for (const char* options : {R"({"indent":0,"max_chars":100})", R"({"max_chars":100})",
                              R"({"max_chars":150,"format":"yaml"})"}) {
    SCOPED_TRACE(options);
    Shrunk s = run(doc, options);
    EXPECT_EQ(s.field("pruned"), "true");
    EXPECT_EQ(s.field("fits"), "true");
    EXPECT_LE(std::stoul(s.field("output_chars")), std::stoul(s.field("max_chars")));
    EXPECT_GT(std::stoul(s.field("items_omitted")), 0u);
  }
  Shrunk tiny = run(doc, R"({"indent":0,"max_chars":3})");
  EXPECT_EQ(tiny.field("fits"), "false");
  EXPECT_GT(std::stoul(tiny.field("output_chars")), 3u);
  Shrunk zero = run(doc, R"({"indent":0,"max_chars":0})");
  EXPECT_EQ(zero.field("fits"), "false");
}

TEST(BudgetSearch, KeepsInvariantsOverVariedRequests) {
  const char* docs[] = {
      R"({"users":[{"id":1,"name":"Ann","bio":"A long biography that goes on and on about many things."},{"id":2,"name":"Bob","bio":"short"}],"next":"https://example.com/page/2"})",
      R"(["a","b",{"c":[1,2,3,4,5,6,7,8,9,10]},"d",null,true,false,1.50])",
      "title: Report\nitems:\n  - one\n  - two\n  - three\nnotes: |\n  line one\n  line two\n",
  };
  const char* options[] = {
      R"({"max_chars":0})",          R"({"max_chars":20,"indent":0})",
      R"({"max_chars":60})",         R"({"max_chars":60,"format":"yaml"})",
      R"({"max_chars":80,"array_strategy":"condense","explain":true})",
      R"({"max_chars":50,"protect":["id","/title"],"keep_last_item":false})",
  };
  for (const char* doc : docs) {
    for (const char* opt : options) {
      SCOPED_TRACE(std::string(doc) + " " + opt);
      std::string env;
      EXPECT_EQ(testing::shrink_violation(doc, opt, &env), "") << env;
    }
  }
}

}  // namespace
}  // namespace quendra

namespace quendra {
namespace {

// Random documents mixing records, long texts, nesting and odd characters.
class DocGen {
 public:
  explicit DocGen(unsigned seed) : state_(seed * 2654435761u + 1) {}

  Value value(int depth) {
    switch (depth > 3 ? next(4) : next(7)) {
      case 0: return Value::null();
      case 1: return Value::boolean(next(2));
      case 2: return num(std::to_string(next(100000)) + (next(3) ? "" : ".50"));
      case 3: return str(text());
      case 4: case 5: {
        std::vector<Value> items;
        std::size_t n = next(4) ? next(6) : 20 + next(60);
        bool records = next(2);
        for (std::size_t i = 0; i < n; ++i) items.push_back(records ? record(depth + 1) : value(depth + 1));
        return arr(std::move(items));
      }
      default: return record(depth);
    }
  }

 private:
  unsigned next(unsigned n) {
    state_ ^= state_ << 13, state_ ^= state_ >> 17, state_ ^= state_ << 5;
    return state_ % n;
  }

  std::string text() {
    static const char* const kWords[] = {"alpha", "beta", "gamma", "naïve", "日本", "😀",
                                         "end.", "\n", "\n\n", "tab\t", "\"q\"", "x"};
    std::string s;
    std::size_t n = next(3) ? next(6) : 30 + next(200);
    for (std::size_t i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += kWords[next(12)];
    }
    return s;
  }

  Value record(int depth) {
    static const char* const kKeys[] = {"id", "name", "url", "description", "created_at",
                                        "owner", "tags", "score", "avatar_url", "type"};
    std::vector<Member> members;
    std::size_t n = 1 + next(8);
    for (std::size_t i = 0; i < n; ++i) members.push_back(member(kKeys[next(10)], value(depth + 1)));
    return obj(std::move(members));
  }

  unsigned state_;
};

TEST(ShrinkProperties, GeneratedDocuments) {
  const char* options[] = {
      R"({"indent":0,"max_chars":%})",
      R"({"max_chars":%})",
      R"({"max_chars":%,"array_strategy":"condense","arguments":"name url","explain":true})",
      R"({"max_chars":%,"format":"yaml"})",
      R"({"max_chars":%,"indent":0,"protect":["id"],"max_samples":1,"keep_last_item":false})",
      R"({"max_chars":%,"budget_unit":"bytes"})",
      R"({"indent":0,"max_chars":%,"budget_unit":"utf16","array_strategy":"condense"})",
      R"({"max_chars":%,"format":"yaml","budget_unit":"Bytes"})",
  };
  const std::size_t budgets[] = {0, 40, 200, 1000, 5000};
  int pruned = 0;
  for (unsigned seed = 0; seed < 60; ++seed) {
    DocGen gen(seed);
    Value doc = gen.value(0);
    std::string text;
    json::write_value(text, doc, Layout{});
    for (const char* tmpl : options) {
      for (std::size_t budget : budgets) {
        std::string opt = tmpl;
        opt.replace(opt.find('%'), 1, std::to_string(budget));
        SCOPED_TRACE("seed " + std::to_string(seed) + " " + opt);
        std::string env;
        ASSERT_EQ(testing::shrink_violation(text, opt, &env), "") << env;
        auto v = parse_json(env).value();
        ASSERT_TRUE(v.members()[0].value.as_bool()) << env;
        const Value& report = v.members()[2].value;
        pruned += report.members()[5].value.as_bool();
        if (report.members()[3].value.text() == "json") {
          auto out = parse_json(v.members()[1].value.text());
          ASSERT_TRUE(out.ok());
          EXPECT_EQ(testing::invented(out.value(), doc), "") << v.members()[1].value.text();
        }
      }
    }
  }
  EXPECT_GT(pruned, 500);
}

}  // namespace
}  // namespace quendra

namespace quendra {
namespace {

std::string letters(std::size_t n, char c = 'a') { return std::string(n, c); }

TEST(ShrinkExamples, ExactOutputsThroughTheBoundary) {
  std::string hundred = "[";
  for (int i = 0; i < 100; ++i) hundred += std::string(i ? "," : "") + "\"" + letters(4, 'a' + i % 26) + "\"";
  hundred += "]";
  std::string forty = "{";
  for (int i = 0; i < 40; ++i) forty += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":" + std::to_string(i % 10);
  forty += "}";
  const std::string s100 = letters(100);
  struct Case {
    std::string name, doc, options, text;
  } cases[] = {
      {"array sampled with last item", hundred, R"({"indent":0,"max_chars":60})",
       R"(["aaaa","bbbb","cccc","dddd","…[95 items omitted]","vvvv"])"},
      {"array sampled without last item", hundred,
       R"({"indent":0,"max_chars":60,"keep_last_item":false})",
       R"(["aaaa","bbbb","cccc","dddd","eeee","…[95 items omitted]"])"},
      {"object keeps first member", "{\"a\":\"" + s100 + "\",\"b\":\"" + s100 + "\",\"c\":\"" + s100 + "\"}",
       R"({"indent":0,"max_chars":50})", R"({"a":"aaaaaaaaa…[+91 chars]","2 keys omitted":"…"})"},
      {"object collapses", forty, R"({"indent":0,"max_chars":0})", R"({"40 keys omitted":"…"})"},
      {"protected member survives minimal form",
       "{\"keep\":{\"id\":7,\"junk\":\"" + s100 + "\"},\"other\":[1,2]}",
       R"({"indent":0,"max_chars":0,"protect":"id"})",
       R"({"keep":{"id":7,"1 keys omitted":"…"},"1 keys omitted":"…"})"},
      {"small object kept whole", R"({"a":[1,2,3]})", R"({"indent":0,"max_chars":0})",
       R"({"a":[1,2,3]})"},
      {"long string", "\"" + letters(1000) + "\"", R"({"indent":0,"max_chars":10})",
       R"("…[+1000 chars]")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = parse_json(shrink(c.doc, c.options)).value();
    ASSERT_EQ(v.members().size(), 3u);
    EXPECT_EQ(v.members()[1].value.text(), c.text);
  }
}

}  // namespace
}  // namespace quendra

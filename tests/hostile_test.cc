// Hostile input through the whole pipeline: nesting far past the limits,
// huge objects, arrays and strings, broken UTF-8 everywhere, endless numbers
// and options at the edges of the machine word. Each request must end in a
// clear error or a correct answer, and every envelope must keep its
// invariants.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "json.h"
#include "lib.h"
#include "shrink_check.h"
#include "value.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

constexpr std::string_view kMaxWord = "18446744073709551615";
constexpr std::string_view kPanic = "internal error (panic) in quendra";

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

// A parsed envelope: the error text, or the output text and report.
struct Envelope {
  bool ok = false;
  std::string error;
  std::string text;
  Value report;

  std::string field(std::string_view key) const {
    for (const Member& m : report.members()) {
      if (m.key.text() == key) {
        return m.value.is_bool() ? (m.value.as_bool() ? "true" : "false") : std::string(m.value.text());
      }
    }
    return "<missing>";
  }
  std::size_t count(std::string_view key) const { return std::stoull(field(key)); }
};

// Shrinks `doc` and checks every envelope invariant on the way.
Envelope shrunk(std::string_view doc, std::string_view options) {
  std::string env;
  std::string broken = testing::shrink_violation(doc, options, &env);
  EXPECT_EQ(broken, "") << env.substr(0, 300);
  Envelope e;
  auto v = parse_json(env);
  if (!v.ok()) return e;
  const auto& members = v.value().members();
  e.ok = members[0].value.as_bool();
  if (!e.ok) {
    e.error = members[1].value.text();
  } else {
    e.text = members[1].value.text();
    e.report = members[2].value;
  }
  return e;
}

std::string error_of(std::string_view doc, std::string_view options) {
  Envelope e = shrunk(doc, options);
  return e.ok ? "<ok>" : e.error;
}

TEST(HostileNesting, RefusedBeforeAnyRecursion) {
  const std::size_t deep = 100000;
  struct Case {
    const char* name;
    std::string doc;
    const char* options;
    const char* error;
  } cases[] = {
      {"json arrays", repeat("[", deep) + repeat("]", deep), "{}",
       "invalid JSON input: nesting too deep at line 1, column 514"},
      {"json objects", repeat("{\"a\":", deep) + "1" + repeat("}", deep), "{}",
       "invalid JSON input: nesting too deep at line 1, column 2566"},
      {"json unclosed", repeat("[{\"k\":", deep), "{}",
       "invalid JSON input: nesting too deep at line 1, column 1538"},
      {"yaml flow sequences", repeat("[", deep) + repeat("]", deep), R"({"input_format":"yaml"})",
       "invalid YAML input: nesting deeper than 512 levels"},
      {"yaml flow mappings", repeat("{a: ", deep) + "1" + repeat("}", deep), R"({"input_format":"yaml"})",
       "invalid YAML input: nesting deeper than 512 levels"},
      {"yaml block sequences", repeat("- ", deep) + "x\n", "{}",
       "invalid YAML input: nesting deeper than 512 levels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(c.doc, c.options), c.error);
  }
  EXPECT_EQ(error_of("{}", repeat("[", deep)), "invalid options JSON: nesting too deep at line 1, column 514");
}

TEST(HostileNesting, DeepestAcceptedDocumentsShrink) {
  // 512 levels is the most either reader takes; fitting, writing and the
  // envelope then recurse that deep.
  std::string json = repeat("[", 512) + R"("leaf with several words in it",2,3)" + repeat("]", 512);
  std::string yaml = repeat("- ", 512) + "leaf\n";
  for (const char* options : {R"({"max_chars":0})", R"({"max_chars":700,"indent":0})",
                              R"({"max_chars":3000,"format":"yaml"})", R"({"array_strategy":"condense"})"}) {
    SCOPED_TRACE(options);
    EXPECT_TRUE(shrunk(json, options).ok);
    EXPECT_TRUE(shrunk(yaml, options).ok);
  }
  Envelope whole = shrunk(json, R"({"indent":0,"max_chars":2000})");
  EXPECT_EQ(whole.text, json);
}

TEST(HostileAliases, ExpansionIsBounded) {
  // Ten levels of ten aliases each: ten billion nodes if expanded.
  std::string laughs = "a: &a [x, x, x, x, x, x, x, x, x, x]\n";
  for (char c = 'b'; c <= 'k'; ++c) {
    laughs += std::string(1, c) + ": &" + c + " [";
    for (int i = 0; i < 10; ++i) laughs += std::string(i ? ", *" : "*") + static_cast<char>(c - 1);
    laughs += "]\n";
  }
  EXPECT_TRUE(error_of(laughs, "{}").starts_with(
      "invalid YAML input: aliases expand to more than 1000000 nodes at byte "));
  // One megabyte of text copied a hundred times.
  std::string copies = "a: &a " + std::string(1000000, 'x') + "\nb: [" + repeat("*a, ", 99) + "*a]\n";
  EXPECT_TRUE(error_of(copies, "{}").starts_with(
      "invalid YAML input: aliases expand to more than 67108864 bytes of text at byte "));
}

TEST(HostileSize, MillionKeyObjectKeepsALeadingRunOfKeys) {
  const std::size_t n = 1000000;
  std::string doc = "{";
  for (std::size_t i = 0; i < n; ++i) {
    if (i) doc += ',';
    doc += "\"k" + std::to_string(i) + "\":" + std::to_string(i);
  }
  doc += '}';
  Envelope e = shrunk(doc, R"({"max_chars":3000,"indent":0})");
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.field("fits"), "true");
  auto text = parse_json(e.text);
  ASSERT_TRUE(text.ok());
  const auto& kept = text.value().members();
  ASSERT_GE(kept.size(), 2u);
  const std::size_t omitted = e.count("keys_omitted");
  EXPECT_EQ(kept.size() - 1 + omitted, n);
  EXPECT_EQ(kept.back().key.text(), std::to_string(omitted) + " keys omitted");
  for (std::size_t i = 0; i + 1 < kept.size(); ++i) {
    ASSERT_EQ(kept[i].key.text(), "k" + std::to_string(i));
  }
}

TEST(HostileSize, MillionItemArrayKeepsFirstAndLast) {
  const std::size_t n = 1000000;
  std::string doc = "[";
  for (std::size_t i = 0; i < n; ++i) {
    if (i) doc += ',';
    doc += std::to_string(i);
  }
  doc += ']';
  Envelope e = shrunk(doc, R"({"max_chars":2000,"indent":0})");
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.field("fits"), "true");
  auto text = parse_json(e.text);
  ASSERT_TRUE(text.ok());
  const auto& items = text.value().items();
  ASSERT_GE(items.size(), 3u);
  EXPECT_EQ(items.front().text(), "0");
  EXPECT_EQ(items.back().text(), "999999");
  std::size_t numbers = 0;
  for (const Value& item : items) numbers += item.is_number();
  EXPECT_EQ(numbers + e.count("items_omitted"), n);
}

TEST(HostileSize, HundredMegabyteStringIsCut) {
  const std::size_t words = 20000000;  // "word " 20 million times: 100 MB
  std::string doc = "[\"" + repeat("word ", words) + "\"]";
  Envelope e = shrunk(doc, R"({"max_chars":500,"indent":0})");
  ASSERT_TRUE(e.ok);
  EXPECT_EQ(e.field("fits"), "true");
  EXPECT_EQ(e.count("strings_truncated"), 1u);
  EXPECT_EQ(e.count("input_chars"), 5 * words + 4);
  auto text = parse_json(e.text);
  ASSERT_TRUE(text.ok());
  ASSERT_EQ(text.value().items().size(), 1u);
  // The kept head plus the count in the marker is the whole string.
  const std::string cut(text.value().items()[0].text());
  const std::string marker = "\u2026[+";
  std::size_t at = cut.rfind(marker);
  ASSERT_NE(at, std::string::npos) << cut;
  std::size_t dropped = std::stoull(cut.substr(at + marker.size()));
  EXPECT_EQ(unicode::count_chars(cut.substr(0, at)) + dropped, 5 * words);
  EXPECT_EQ(cut.substr(0, 10), "word word ");
}

TEST(HostileEncoding, InvalidUtf8AtEveryPosition) {
  const std::string doc = R"({"name":"Zo\u00eb","city":"K)" "\xC3\xB6" R"(ln","tags":["a",")"
                          "\xE2\x82\xAC" R"(",1.5],"face":")" "\xF0\x9F\x98\x80" R"("})";
  const std::string options = R"({"max_chars":40})";
  ASSERT_TRUE(shrunk(doc, options).ok);
  const std::string_view bad[] = {
      "\xFF",              // never valid
      "\x80",              // lone continuation byte
      "\xC0\xAF",          // overlong '/'
      "\xED\xA0\x80",      // UTF-16 surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xE2\x82",          // truncated sequence
  };
  for (std::string_view b : bad) {
    for (std::size_t i = 0; i <= doc.size(); ++i) {
      SCOPED_TRACE("insert at " + std::to_string(i));
      std::string broken = doc;
      broken.insert(i, b);
      EXPECT_EQ(error_of(broken, options), "input is not valid UTF-8");
      EXPECT_EQ(error_of(broken, R"({"input_format":"yaml"})"), "input is not valid UTF-8");
    }
    for (std::size_t i = 0; i <= options.size(); ++i) {
      std::string broken = options;
      broken.insert(i, b);
      EXPECT_EQ(error_of(doc, broken), "options are not valid UTF-8");
    }
  }
  for (std::size_t i = 0; i < doc.size(); ++i) {
    std::string broken = doc;
    broken[i] = '\xFF';
    EXPECT_EQ(error_of(broken, options), "input is not valid UTF-8");
  }
}

TEST(HostileNumbers, TenThousandDigits) {
  const std::string digits = repeat("1234567890", 1000);
  // JSON keeps number text exactly, however long.
  const std::string json = "[" + digits + ",-" + digits + "." + digits + "e-" + digits + "]";
  Envelope e = shrunk(json, R"({"indent":0,"max_chars":50000})");
  ASSERT_TRUE(e.ok);
  EXPECT_TRUE(e.text == json);
  EXPECT_EQ(shrunk(json, R"({"indent":0,"max_chars":100})").text, "[\"\u2026[2 items omitted]\"]");

  // YAML: an integer past 64 bits is a float; an infinite one stays text.
  const std::string yaml = "big: " + digits + "\nsmall: 0." + digits + "\nhuge: 1e" + digits + "\n";
  e = shrunk(yaml, R"({"format":"json","indent":0,"max_chars":50000})");
  ASSERT_TRUE(e.ok);
  EXPECT_TRUE(e.text == "{\"big\":\"" + digits + "\",\"small\":0." + digits + ",\"huge\":\"1e" + digits + "\"}");

  // Integer options take only what fits the machine word.
  EXPECT_EQ(error_of("[1]", "{\"max_chars\":" + digits + "}"),
            "invalid options: max_chars must be a non-negative integer");
  EXPECT_EQ(error_of("[1]", R"({"indent":18446744073709551616})"),
            "invalid options: indent must be a non-negative integer");
  EXPECT_EQ(shrunk("[1]", "{\"max_chars\":" + std::string(kMaxWord) + "}").field("max_chars"), kMaxWord);
}

// A page of records with long texts and nested arrays.
std::string sample_document() {
  std::string doc = R"({"users":[)";
  for (int i = 0; i < 30; ++i) {
    if (i) doc += ',';
    doc += R"({"id":)" + std::to_string(i) + R"(,"name":"user )" + std::to_string(i) +
           R"(","tags":["a","b","c"],"bio":")" + repeat("some words here ", i % 5 * 10) + "\"}";
  }
  doc += R"(],"text":")" + repeat("line of text\\n", 40) + R"("})";
  return doc;
}

TEST(HostileOptions, ExtremeValuesKeepInvariants) {
  const std::string doc = sample_document();
  const std::string max(kMaxWord);
  const std::vector<std::string> options = {
      R"({"max_chars":0})",
      R"({"max_chars":1,"indent":0})",
      "{\"max_chars\":" + max + "}",
      "{\"max_chars\":" + max + ",\"format\":\"yaml\"}",
      R"({"max_chars":600,"max_samples":0})",
      "{\"max_chars\":600,\"max_samples\":" + max + "}",
      "{\"max_chars\":600,\"max_samples\":" + max + ",\"array_strategy\":\"condense\",\"explain\":true}",
      "{\"max_chars\":600,\"string_head_chars\":" + max + "}",
      "{\"max_chars\":600,\"string_section_chars\":" + max + ",\"string_min_section_chars\":" + max + "}",
      R"({"max_chars":600,"string_head_chars":0,"string_section_chars":0,"string_min_section_chars":0})",
      "{\"max_chars\":600,\"min_partial_chars\":" + max + ",\"keep_last_item\":false}",
      R"({"max_chars":600,"min_partial_chars":0})",
      R"({"max_chars":600,"indent":1000})",
      R"({"max_chars":600,"format":"yaml","indent":1000,"array_strategy":"condense"})",
      R"({"max_chars":600,"protect":["*","/*/*/*","users"],"arguments":[[[["deep"]]]]})",
      R"({"max_chars":600,"max_chars":5,"max_chars":700,"indent":0,"indent":3})",
  };
  for (const std::string& o : options) {
    SCOPED_TRACE(o);
    Envelope e = shrunk(doc, o);
    EXPECT_TRUE(e.ok) << e.error;
  }

  Envelope zero = shrunk(doc, R"({"max_chars":0})");
  EXPECT_EQ(zero.field("pruned"), "true");
  EXPECT_EQ(zero.field("fits"), "false");
  Envelope all = shrunk(doc, "{\"indent\":0,\"max_chars\":" + max + "}");
  EXPECT_EQ(all.field("pruned"), "false");
  EXPECT_EQ(all.text, doc);
  // The last occurrence of a repeated option wins.
  Envelope last = shrunk(doc, R"({"max_chars":5,"max_chars":700,"indent":0,"indent":3})");
  EXPECT_EQ(last.field("max_chars"), "700");
  EXPECT_EQ(last.text.substr(0, 5), "{\n   ");
}

TEST(HostileOptions, LargeIndentIsHonoured) {
  Envelope e = shrunk(R"({"a":[1,[2]]})", R"({"indent":1000000,"max_chars":18446744073709551615})");
  ASSERT_TRUE(e.ok);
  // Eleven indents over seven lines, and 21 other characters.
  EXPECT_EQ(e.count("output_chars"), 11u * 1000000 + 21);
  EXPECT_EQ(e.text.substr(0, 4), "{\n  ");
}

// An indent whose rendering cannot be held must give a clear error rather
// than end the host process or report an internal error. Each request runs
// in a child process so that an abort fails the test instead of the binary.
TEST(HostileOptions, UnrenderableIndentIsAClearError) {
  for (const char* indent : {"18446744073709551615", "1099511627776", "4294967296000"}) {
    for (const char* format : {"json", "yaml"}) {
      SCOPED_TRACE(std::string(indent) + " " + format);
      const std::string options = std::string(R"({"indent":)") + indent +
                                  R"(,"max_chars":18446744073709551615,"format":")" + format + "\"}";
      EXPECT_EXIT(
          {
            std::string env = shrink(R"({"a":{"b":[1,2]}})", options);
            std::exit(env == R"({"ok":false,"error":"output too large to render"})" ? 0 : 1);
          },
          ::testing::ExitedWithCode(0), "");
    }
  }
  // Within bounds the same document still renders, however wide.
  EXPECT_EQ(shrink(R"({"a":1})", R"({"indent":100000})").rfind(R"({"ok":true,"text":"{\n )", 0), 0u);
}

TEST(HostileKeys, RepeatedKeysAreKeptInOrder) {
  std::string doc = "{" + repeat(R"("a":1,)", 99999) + R"("a":2})";
  Envelope e = shrunk(doc, R"({"max_chars":60,"indent":0})");
  ASSERT_TRUE(e.ok);
  auto text = parse_json(e.text);
  ASSERT_TRUE(text.ok());
  const auto& kept = text.value().members();
  ASSERT_GE(kept.size(), 2u);
  EXPECT_EQ(kept.size() - 1 + e.count("keys_omitted"), 100000u);
  EXPECT_EQ(kept.front().key.text(), "a");
  EXPECT_EQ(shrunk(R"({"a":1,"a":{"a":[]},"a":3})", R"({"indent":0})").text, R"({"a":1,"a":{"a":[]},"a":3})");
}

}  // namespace
}  // namespace quendra

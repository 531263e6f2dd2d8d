// The token counts of o200k_base and cl100k_base: worked examples whose
// counts tiktoken gives, the texts refused, the encodings' names, the
// Unicode version of the split classes, pieces far longer than any token,
// and the per-request counter. Exactness over large generated corpora is
// checked against tiktoken itself in node/test/token_exactness.test.js.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tokens/bpe.h"
#include "tokens/split.h"

namespace {

using quendra::tokens::CharClass;
using quendra::tokens::Counter;
using quendra::tokens::Encoding;
namespace tokens = quendra::tokens;

constexpr Encoding kO200k = Encoding::kO200kBase;
constexpr Encoding kCl100k = Encoding::kCl100kBase;

// The ids of `text`, checked for consistency with count() and token_bytes():
// as many ids as counted, and their bytes put together give the text back.
std::vector<std::uint32_t> checked_ids(Encoding encoding, std::string_view text) {
  std::vector<std::uint32_t> ids;
  EXPECT_TRUE(tokens::encode(encoding, text, ids));
  EXPECT_EQ(tokens::count(encoding, text), ids.size());
  std::string back;
  for (std::uint32_t id : ids) {
    EXPECT_LT(id, tokens::vocabulary_size(encoding));
    back += tokens::token_bytes(encoding, id);
  }
  EXPECT_TRUE(back == text) << "the ids do not give the text back";
  return ids;
}

TEST(Tokens, CountsAsTiktoken) {
  // Counts given by tiktoken's encode_ordinary (npm tiktoken 1.0.22).
  struct Case {
    std::string_view text;
    std::size_t o200k;
    std::size_t cl100k;
  };
  const Case kCases[] = {
      {"hello world", 2, 2},
      {"<|endoftext|>", 7, 7},
      {R"({"a": "hello world"})", 7, 7},
      {"日本語のテキスト", 6, 8},
      {"1234567", 3, 3},
      {"Don't STOP'LL", 4, 5},
      {"line\r\n\r\n  x", 4, 4},
      {"🙂👍🏽", 4, 8},
      {R"({"items":[{"id":1,"name":"item 1"}]})", 15, 14},
      {"", 0, 0},
      {"x'ſ y'S", 5, 6},                   // ſ folds to s in the contractions
      {"e\u0301te\u0301 \u00C0\u00C9\u0301a", 8, 8},  // combining marks
      {"   \t\n x  y  \n\n", 6, 6},           // white space given back before a word
      {"abc//\n\ndef", 3, 3},
      {"\u01C5emal \u01C8a HELLOworld", 11, 11},  // titlecase letters
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(tokens::count(kO200k, c.text), c.o200k) << c.text;
    EXPECT_EQ(tokens::count(kCl100k, c.text), c.cl100k) << c.text;
    EXPECT_EQ(checked_ids(kO200k, c.text).size(), c.o200k) << c.text;
    EXPECT_EQ(checked_ids(kCl100k, c.text).size(), c.cl100k) << c.text;
  }
}

TEST(Tokens, IdsAsTiktoken) {
  struct Case {
    Encoding encoding;
    std::string_view text;
    std::vector<std::uint32_t> ids;
  };
  const Case kCases[] = {
      {kO200k, "hello world", {24912, 2375}},
      {kCl100k, "hello world", {15339, 1917}},
      {kO200k, "Don't STOP'LL", {31559, 82926, 6, 7454}},
      {kCl100k, "Don't STOP'LL", {8161, 956, 46637, 6, 4178}},
      // Pairs of equal rank merge leftmost first.
      {kO200k, "zzzzzzzzzzz", {8013, 8013, 8013, 8013, 182375}},
      {kCl100k, "zzzzzzzzzzz", {10616, 10616, 10616, 10616, 10616, 89}},
      {kO200k, "%%%%%%%%%%%%%%%%%", {36486, 4}},
  };
  for (const Case& c : kCases) EXPECT_EQ(checked_ids(c.encoding, c.text), c.ids) << c.text;
}

TEST(Tokens, RefusesWhatIsNotUtf8) {
  const std::string_view kBad[] = {
      "\xff",
      "ok \x80",
      "\xc3",              // cut short
      "\xc0\xaf",          // overlong
      "\xed\xa0\x80",      // an encoded surrogate
      "\xed\xbf\xbf",      // another
      "\xf4\x90\x80\x80",  // above U+10FFFF
      std::string_view("a\0\xfe", 3),
  };
  for (std::string_view text : kBad) {
    for (Encoding e : {kO200k, kCl100k}) {
      EXPECT_EQ(tokens::count(e, text), std::nullopt);
      std::vector<std::uint32_t> ids{1, 2};
      EXPECT_FALSE(tokens::encode(e, text, ids));
      EXPECT_TRUE(ids.empty());
      Counter counter(e);
      EXPECT_EQ(counter.count(text), std::nullopt);
    }
  }
  // A NUL is a character like any other.
  EXPECT_EQ(tokens::count(kO200k, std::string_view("a\0b", 3)), 3u);
}

TEST(Tokens, EncodingNames) {
  struct Case {
    std::string_view name;
    std::optional<Encoding> want;
  };
  const Case kCases[] = {
      {"o200k_base", kO200k},   {"O200K_BASE", kO200k},   {"", kO200k},
      {"cl100k_base", kCl100k}, {"Cl100k_Base", kCl100k}, {"p50k_base", std::nullopt},
      {"o200k", std::nullopt},  {" o200k_base", std::nullopt}, {"o200k_base\n", std::nullopt},
  };
  for (const Case& c : kCases) EXPECT_EQ(tokens::encoding_named(c.name), c.want) << c.name;
  EXPECT_EQ(tokens::encoding_name(kO200k), "o200k_base");
  EXPECT_EQ(tokens::encoding_name(kCl100k), "cl100k_base");
}

TEST(Tokens, Vocabularies) {
  EXPECT_EQ(tokens::vocabulary_size(kO200k), 199998u);
  EXPECT_EQ(tokens::vocabulary_size(kCl100k), 100256u);
  EXPECT_EQ(tokens::token_bytes(kO200k, 0), "!");
  EXPECT_EQ(tokens::token_bytes(kCl100k, 15339), "hello");
  EXPECT_EQ(tokens::token_bytes(kO200k, 199998), "");
  EXPECT_EQ(tokens::token_bytes(kCl100k, 100256), "");
  EXPECT_EQ(tokens::token_bytes(kCl100k, 0xFFFFFFFF), "");
}

TEST(Tokens, UnicodeClassesAreVersion16) {
  struct Case {
    char32_t cp;
    CharClass want;
  };
  const Case kCases[] = {
      {U'a', CharClass::kLower},     {U'Z', CharClass::kUpper},      {U'\u01C5', CharClass::kUpper},
      {U'\u02B0', CharClass::kLetter}, {U'日', CharClass::kLetter},    {U'\u0301', CharClass::kMark},
      {U'٣', CharClass::kNumber},    {U'½', CharClass::kNumber},     {U' ', CharClass::kSpace},
      {U'\u0085', CharClass::kSpace}, {U'\u3000', CharClass::kSpace}, {U'\r', CharClass::kNewline},
      {U'\n', CharClass::kNewline},  {U'\uFEFF', CharClass::kOther},  // not White_Space
      {U'\u200B', CharClass::kOther}, {U'\'', CharClass::kOther},     {U'\U0001F642', CharClass::kOther},
      {U'\U000105C0', CharClass::kLetter},  // Todhri, new in Unicode 16.0
      {U'\uA7CE', CharClass::kOther},       // a Latin letter of Unicode 17.0, unassigned in 16.0
      {U'\u0C5C', CharClass::kOther},       // likewise, Telugu
      {U'\U0010FFFF', CharClass::kOther},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(tokens::char_class(c.cp), c.want) << std::hex << static_cast<unsigned>(c.cp);
  }
}

TEST(Tokens, PiecesTileTheText) {
  // The pieces of a text as the split patterns cut it.
  struct Case {
    Encoding encoding;
    std::string_view text;
    std::vector<std::string_view> pieces;
  };
  const Case kCases[] = {
      {kO200k, "hello   world", {"hello", "  ", " world"}},
      {kO200k, "don't STOP'S", {"don't", " STOP'S"}},
      {kCl100k, "don't STOP'S", {"don", "'t", " STOP", "'S"}},
      {kO200k, "12345 x", {"123", "45", " x"}},
      {kO200k, "a/b//\n\nc", {"a", "/b", "//\n\n", "c"}},
      {kCl100k, "a/b//\n\nc", {"a", "/b", "//\n\n", "c"}},
      {kO200k, "  \n  \t", {"  \n", "  \t"}},
      {kO200k, "HelloWORLDFoo", {"Hello", "WORLDFoo"}},
      {kO200k, "\u0301Ab", {"\u0301Ab"}},
      {kCl100k, "\u0301Ab", {"\u0301Ab"}},
      {kO200k, "\u0301AB", {"\u0301", "AB"}},
      {kCl100k, "x\u0301\u0301", {"x", "\u0301\u0301"}},
  };
  for (const Case& c : kCases) {
    std::vector<std::string_view> got;
    for (std::size_t i = 0; i < c.text.size();) {
      const std::size_t end = tokens::piece_end(c.encoding, c.text, i);
      ASSERT_GT(end, i);
      got.push_back(c.text.substr(i, end - i));
      i = end;
    }
    EXPECT_EQ(got, c.pieces) << c.text;
  }
}

TEST(TokensHuge, PiecesFarLongerThanAnyToken) {
  // One piece each, of a million bytes when QUENDRA_HUGE is set (the slow
  // ctest tokens_huge) and of 100,000 otherwise: merged through the heap,
  // still whole.
  const std::size_t n = std::getenv("QUENDRA_HUGE") != nullptr ? 1000000 : 100000;
  const std::string kLong[] = {std::string(n, 'a'), std::string(n, ' '), "x" + std::string(n / 4, 'A') + "b"};
  for (const std::string& text : kLong) {
    for (Encoding e : {kO200k, kCl100k}) {
      const std::vector<std::uint32_t> ids = checked_ids(e, text);
      EXPECT_GT(ids.size(), text.size() / 128);
      EXPECT_LT(ids.size(), text.size() / 2);
    }
  }
}

TEST(Tokens, CounterAgreesAndRemembers) {
  std::string doc = "[";
  for (int i = 0; i < 300; ++i) {
    doc += R"({"identifier_of_the_record":)" + std::to_string(i * 7919) +
           R"(,"description":"xqzjvkw pfftttbbb qqqqqqqqq 日本語のテキスト 🙂👍🏽"},)";
  }
  doc += "null]";
  for (Encoding e : {kO200k, kCl100k}) {
    Counter counter(e);
    EXPECT_EQ(counter.encoding(), e);
    const auto want = tokens::count(e, doc);
    ASSERT_TRUE(want.has_value());
    EXPECT_EQ(counter.count(doc), want);
    EXPECT_EQ(counter.count(doc), want);  // from the remembered pieces
    EXPECT_EQ(counter.count("hello world"), 2u);
    // Pieces longer than it remembers are counted all the same.
    const std::string long_piece(Counter::kMaxPieceBytes + 10, 'z');
    EXPECT_EQ(counter.count(long_piece), tokens::count(e, long_piece));
    EXPECT_EQ(counter.count(long_piece), tokens::count(e, long_piece));
  }
}

TEST(Tokens, CounterPastItsMemory) {
  // More distinct multi-token pieces than the counter remembers.
  Counter counter(kO200k);
  std::string text;
  std::size_t want = 0;
  for (std::size_t i = 0; i < Counter::kMaxPieces + 1000; ++i) {
    std::string piece = " qx";
    for (std::size_t k = i; k > 0; k /= 20) piece.push_back(static_cast<char>('a' + k % 20));
    piece += "zv";
    want += *tokens::count(kO200k, piece);
    text += piece;
    if (text.size() > 4096) {
      EXPECT_EQ(counter.count(text), tokens::count(kO200k, text));
      text.clear();
    }
  }
  EXPECT_EQ(counter.count(text), tokens::count(kO200k, text));
  EXPECT_GT(want, Counter::kMaxPieces);
}

}  // namespace

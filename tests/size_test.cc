#include "size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "json.h"
#include "unicode.h"
#include "value.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;


std::size_t measure(const Value& v, std::size_t d, bool pretty, std::size_t indent) {
  return size::of(v, Layout{pretty ? indent : 0}, d);
}

std::size_t written(const Value& v, bool pretty, std::size_t indent) {
  std::string out;
  json::write_value(out, v, Layout{pretty ? indent : 0});
  return unicode::count_chars(out);
}

TEST(SizeQuoted, CountsEscapesAndCharacters) {
  EXPECT_EQ(quoted(""), 2u);
  EXPECT_EQ(quoted("a\"b"), 6u);
  EXPECT_EQ(quoted("\x01"), 8u);
  EXPECT_EQ(quoted("\u00e9"), 3u);
  EXPECT_EQ(quoted("\\"), 4u);
  EXPECT_EQ(quoted("\b\t\n\f\r"), 12u);
  EXPECT_EQ(quoted(std::string("\0\x1f\x0b", 3)), 20u);
  EXPECT_EQ(quoted("\x7f"), 3u);
  EXPECT_EQ(quoted("\u20ac\U0001F600"), 4u);
  EXPECT_EQ(quoted("/"), 3u);
}

// Every ASCII byte and a few multi-byte characters at every offset of a
// 20-byte run, so each lane of the word-at-a-time scan sees each of them.
TEST(SizeQuoted, EveryByteAtEveryWordOffset) {
  auto expected_of = [](unsigned char c) -> std::size_t {
    if (c == '"' || c == '\\' || c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') return 2;
    return c < 0x20 ? 6 : 1;
  };
  for (int c = 0; c < 128; ++c) {
    for (std::size_t pos = 0; pos < 20; ++pos) {
      std::string s(20, 'x');
      s[pos] = static_cast<char>(c);
      ASSERT_EQ(quoted(s), 2 + 19 + expected_of(static_cast<unsigned char>(c)))
          << "byte " << c << " at " << pos;
    }
  }
  for (const char* ch : {"\u00a2", "\u00dc", "\u2026", "\U0001F600"}) {
    for (std::size_t pos = 0; pos < 20; ++pos) {
      std::string s(20, 'x');
      s.insert(pos, ch);
      ASSERT_EQ(quoted(s), 2 + 21u) << ch << " at " << pos;
    }
  }
}

TEST(SizeOverhead, CompactAndIndented) {
  EXPECT_EQ(overhead(0, 0, Layout{}), 2u);
  EXPECT_EQ(overhead(0, 7, Layout{4}), 2u);
  EXPECT_EQ(overhead(1, 0, Layout{}), 2u);
  EXPECT_EQ(overhead(3, 5, Layout{}), 4u);
  EXPECT_EQ(overhead(1, 0, Layout{2}), 6u);
  EXPECT_EQ(overhead(2, 1, Layout{4}), 26u);
  EXPECT_EQ(overhead(1, 3, Layout{2}), (2 * 3 + 1) * 2 + 4u);
  EXPECT_EQ(overhead(SIZE_MAX, 0, Layout{}), SIZE_MAX);
  EXPECT_EQ(overhead(2, SIZE_MAX / 2, Layout{4}), SIZE_MAX);
  EXPECT_EQ(overhead(SIZE_MAX / 4, 1, Layout{4}), SIZE_MAX);
}

TEST(SizeMeasure, Examples) {
  Value a1 = obj({{"a", num("1")}});
  EXPECT_EQ(measure(a1, 0, false, 0), 7u);
  EXPECT_EQ(measure(a1, 0, true, 2), 12u);
  for (std::size_t d : {0u, 1u, 5u}) {
    EXPECT_EQ(measure(Value::array(), d, true, 4), 2u);
    EXPECT_EQ(measure(obj({}), d, false, 0), 2u);
  }
  EXPECT_EQ(size::scalar(Value::null()), 4u);
  EXPECT_EQ(size::scalar(Value::boolean(true)), 4u);
  EXPECT_EQ(size::scalar(Value::boolean(false)), 5u);
  EXPECT_EQ(size::scalar(num("-1.25e+10")), 9u);
}

TEST(SizeMarkers, TextsAndSizes) {
  EXPECT_EQ(gap_marker(1), "\u2026[1 items omitted]");
  EXPECT_EQ(keys_marker_key(1), "1 keys omitted");
  EXPECT_EQ(string_marker(1000), "\u2026[+1000 chars]");
  EXPECT_EQ(kKeysMarkerValue, "\u2026");
  EXPECT_EQ(string_marker_size(1000), 16u);
  EXPECT_EQ(gap_marker_size(5), 20u);
  EXPECT_EQ(keys_marker_size(3, Layout{}), 20u);
  EXPECT_EQ(keys_marker_size(3, Layout{2}), 21u);
  // ["…[5 items omitted]"] and {"3 keys omitted":"…"} at depth 0.
  EXPECT_EQ(overhead(1, 0, Layout{}) + gap_marker_size(5), 22u);
  EXPECT_EQ(overhead(1, 0, Layout{}) + keys_marker_size(3, Layout{}), 22u);
  for (std::size_t n : {std::size_t{0}, std::size_t{9}, std::size_t{10}, std::size_t{12345},
                        std::size_t{SIZE_MAX}}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(gap_marker_size(n), quoted(gap_marker(n)));
    EXPECT_EQ(string_marker_size(n), quoted(string_marker(n)));
    for (bool pretty : {false, true}) {
      Value member = obj({{keys_marker_key(n), str(std::string(kKeysMarkerValue))}});
      EXPECT_EQ(keys_marker_size(n, Layout{pretty ? 2u : 0u}),
                measure(member, 0, pretty, 2) - overhead(1, 0, Layout{pretty ? 2u : 0u}));
    }
  }
}

TEST(SizeDigits, Boundaries) {
  EXPECT_EQ(digits(0), 1u);
  EXPECT_EQ(digits(9), 1u);
  EXPECT_EQ(digits(10), 2u);
  EXPECT_EQ(digits(999), 3u);
  EXPECT_EQ(digits(1000), 4u);
  EXPECT_EQ(digits(SIZE_MAX), 20u);
}

TEST(SizeSipHash, PublishedSipHash24Vectors) {
  // Key 00 01 .. 0f; message i bytes 00 .. i-1.
  const std::uint64_t k0 = 0x0706050403020100ull, k1 = 0x0f0e0d0c0b0a0908ull;
  struct Case {
    std::size_t len;
    std::uint64_t hash;
  } const kCases[] = {
      {0, 0x726fdb47dd0e0e31ull},  {1, 0x74f839c593dc67fdull},  {2, 0x0d6c8009d9a94f5aull},
      {3, 0x85676696d7fb7e2dull},  {7, 0xab0200f58b01d137ull},  {8, 0x93f5f5799a932462ull},
      {9, 0x9e0082df0ba9e4b0ull},  {15, 0xa129ca6149be45e5ull}, {16, 0x3f2acc7f57c29bdbull},
      {63, 0x958a324ceb064572ull},
  };
  std::string msg;
  for (int i = 0; i < 64; ++i) msg.push_back(static_cast<char>(i));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.len);
    EXPECT_EQ(siphash(std::string_view(msg).substr(0, c.len), k0, k1, 2, 4), c.hash);
  }
}

TEST(SizeSipHash, SipHash13WithZeroKeys) {
  EXPECT_EQ(siphash13(""), 0xd1fba762150c532cull);
  EXPECT_EQ(siphash13("a"), 0x407448d2b89b1813ull);
  EXPECT_EQ(siphash13("abcdefgh"), 0x3f7b849c0b8e35eaull);
  EXPECT_EQ(siphash13("hello world, sip"), 0x7fc0b9d0d55312c4ull);
}

TEST(SizeShape, KnownHashes) {
  EXPECT_EQ(shape_of(str("x")), 0x7a4df7d0447d6a2full);
  EXPECT_EQ(shape_of(Value::null()), 0xb22f496bc882d1d1ull);
  EXPECT_EQ(shape_of(arr({num("1")})), 0x05e41ea30263501eull);
  EXPECT_EQ(shape_of(obj({})), 0x61db62efe3d95133ull);
  EXPECT_EQ(shape_of(obj({{"b", num("1")}, {"a", num("2")}})), 0x4d22d1e3c2f0667bull);
}

TEST(SizeShape, EqualExactlyForSameKindAndKeySet) {
  Value ab = obj({{"a", num("1")}, {"b", num("2")}});
  Value ba = obj({{"b", str("x")}, {"a", Value::null()}, {"a", num("3")}});
  EXPECT_EQ(shape_of(ab), shape_of(ba));
  EXPECT_NE(shape_of(obj({{"a", num("1")}})), shape_of(arr({str("a")})));
  EXPECT_NE(shape_of(ab), shape_of(obj({{"a", num("1")}})));
  EXPECT_NE(shape_of(obj({{"ab", num("1")}})), shape_of(ab));
  EXPECT_NE(shape_of(obj({})), shape_of(Value::array()));
  EXPECT_EQ(shape_of(Value::array()), shape_of(arr({ab, ba})));
  EXPECT_EQ(shape_of(str("")), shape_of(str("long text")));
  EXPECT_NE(shape_of(Value::boolean(true)), shape_of(num("1")));
  EXPECT_EQ(shape_of(Value::boolean(true)), shape_of(Value::boolean(false)));
}

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : rng_(seed) {}

  Value value(int depth) {
    int pick = static_cast<int>(below(depth > 0 ? 8 : 5));
    switch (pick) {
      case 0: return Value::null();
      case 1: return Value::boolean(below(2) == 0);
      case 2: return num(kNumbers[below(std::size(kNumbers))]);
      case 3:
      case 4: return str(text(below(12)));
      case 5: {
        std::vector<Value> items;
        for (std::size_t n = below(5); n > 0; --n) items.push_back(value(depth - 1));
        return arr(std::move(items));
      }
      default: {
        std::vector<Member> members;
        for (std::size_t n = below(5); n > 0; --n) {
          // Few short keys, so keys repeat within an object.
          std::string key = below(4) == 0 ? text(below(6)) : std::string(1, "abc"[below(3)]);
          members.push_back(member(key, value(depth - 1)));
        }
        return obj(std::move(members));
      }
    }
  }

 private:
  static constexpr const char* kNumbers[] = {"0", "-1", "3.25", "1e400", "-0.5E-7", "12345678901234567890"};
  static constexpr const char* kPieces[] = {"a", "Z", " ", "\"", "\\", "/", "\n", "\r", "\t", "\b", "\f",
                                            "\x01", "\x1f", "\x7f", "\u00e9", "\u2026", "\U0001F600", "\u2028"};

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

  std::string text(std::size_t len) {
    std::string s;
    for (; len > 0; --len) s += kPieces[below(std::size(kPieces))];
    return s;
  }

  std::mt19937_64 rng_;
};

// The arithmetic measure must match the characters the JSON writer prints.
TEST(SizeMeasure, MatchesWrittenJson) {
  Generator gen(20240611);
  for (int i = 0; i < 2000; ++i) {
    Value v = gen.value(4);
    SCOPED_TRACE(i);
    ASSERT_EQ(measure(v, 0, false, 0), written(v, false, 0));
    ASSERT_EQ(measure(v, 0, true, 2), written(v, true, 2));
    ASSERT_EQ(measure(v, 0, true, 4), written(v, true, 4));
  }
}

}  // namespace
}  // namespace quendra

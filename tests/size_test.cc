#include "engine/size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tree.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

using namespace quendra::testing;

TEST(SizeQuoted, CountsEscapesAndCharacters) {
  const std::pair<std::string, std::size_t> kCases[] = {
      {"", 2}, {"a\"b", 6}, {"\x01", 8}, {"\u00e9", 3}, {"\\", 4}, {"\b\t\n\f\r", 12},
      {std::string("\0\x1f\x0b", 3), 20}, {"\x7f", 3}, {"\u20ac\U0001F600", 4}, {"/", 3},
  };
  for (const auto& [text, size] : kCases) EXPECT_EQ(quoted(text), size) << text;
}

// Every ASCII byte and a few multi-byte characters at every offset of a
// 20-byte run, so each lane of the word-at-a-time scan sees each of them.
TEST(SizeQuoted, EveryByteAtEveryWordOffset) {
  for (int c = 0; c < 128; ++c) {
    const bool short_escape =
        std::string_view("\"\\\b\t\n\f\r").find(static_cast<char>(c)) != std::string_view::npos;
    const std::size_t expected = short_escape ? 2 : (c < 0x20 ? 6 : 1);
    for (std::size_t pos = 0; pos < 20; ++pos) {
      std::string s(20, 'x');
      s[pos] = static_cast<char>(c);
      ASSERT_EQ(quoted(s), 2 + 19 + expected) << "byte " << c << " at " << pos;
    }
  }
  for (const char* ch : {"\u00a2", "\u2026", "\U0001F600"}) {
    for (std::size_t pos = 0; pos < 20; ++pos) {
      std::string s(20, 'x');
      s.insert(pos, ch);
      ASSERT_EQ(quoted(s), 2 + 21u) << ch << " at " << pos;
    }
  }
}

TEST(SizeOverhead, CompactAndIndented) {
  EXPECT_EQ(overhead(0, 7, Layout{4}), 2u);
  EXPECT_EQ(overhead(1, 0, Layout{}), 2u);
  EXPECT_EQ(overhead(3, 5, Layout{}), 4u);
  EXPECT_EQ(overhead(1, 0, Layout{2}), 6u);
  EXPECT_EQ(overhead(2, 1, Layout{4}), 26u);
  EXPECT_EQ(overhead(SIZE_MAX, 0, Layout{}), SIZE_MAX);
  EXPECT_EQ(overhead(2, SIZE_MAX / 2, Layout{4}), SIZE_MAX);
}

TEST(SizeMarkers, TextsAndSizes) {
  EXPECT_EQ(gap_marker(1), "\u2026[1 items omitted]");
  EXPECT_EQ(keys_marker_key(1), "1 keys omitted");
  EXPECT_EQ(string_marker(1000), "\u2026[+1000 chars]");
  for (std::size_t n : {std::size_t{0}, std::size_t{9}, std::size_t{10}, std::size_t{99}, std::size_t{100},
                        std::size_t{12345}, std::size_t{SIZE_MAX}}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(digits(n), std::to_string(n).size());
    EXPECT_EQ(gap_marker_size(n), quoted(gap_marker(n)));
    EXPECT_EQ(string_marker_size(n), quoted(string_marker(n)));
    for (std::size_t indent : {0, 2}) {
      const Value member = obj({{keys_marker_key(n), str(kKeysMarkerValue)}});
      EXPECT_EQ(keys_marker_size(n, Layout{indent}),
                size::of(member, Layout{indent}) - overhead(1, 0, Layout{indent}));
    }
  }
}

TEST(SizeShape, EqualExactlyForSameKindAndKeySet) {
  const Value ab = obj({{"a", num("1")}, {"b", num("2")}});
  EXPECT_EQ(shape_of(ab), shape_of(obj({{"b", str("x")}, {"a", Value::null()}, {"a", num("3")}})));
  EXPECT_EQ(shape_of(Value::array()), shape_of(arr({ab})));
  EXPECT_EQ(shape_of(str("")), shape_of(str("long text")));
  EXPECT_EQ(shape_of(Value::boolean(true)), shape_of(Value::boolean(false)));
  const Value different[] = {obj({{"a", num("1")}}), obj({{"ab", num("1")}}), arr({str("a")}), obj({}),
                             Value::boolean(true), num("1"), ab};
  for (std::size_t i = 0; i < std::size(different); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      EXPECT_NE(shape_of(different[i]), shape_of(different[j])) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace quendra

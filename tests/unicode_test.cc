// The Unicode tables against ICU, which they are generated from: every
// property the library uses and the full lowercase mapping, for every code
// point, through the module's own functions.
#include "unicode/unicode.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

#include <cstdint>
#include <string>

namespace quendra::unicode {
namespace {

// ICU's full lowercase mapping of `cp` alone, root locale, as UTF-8.
std::string icu_lower(char32_t cp) {
  UChar src[2];
  int32_t len = 0;
  U16_APPEND_UNSAFE(src, len, static_cast<UChar32>(cp));
  UChar dst[16];
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = u_strToLower(dst, 16, src, len, "", &err);
  EXPECT_TRUE(U_SUCCESS(err)) << std::hex << static_cast<unsigned>(cp);
  std::string out;
  for (int32_t i = 0; i < n;) {
    UChar32 c;
    U16_NEXT(dst, i, n, c);
    append_utf8(out, static_cast<char32_t>(c));
  }
  return out;
}

TEST(UnicodeTables, EveryCodePointAnswersAsIcu) {
  struct Property {
    const char* name;
    bool (*ours)(char32_t);
    bool (*icu)(UChar32);
  };
  const Property properties[] = {
      {"White_Space", is_white_space, [](UChar32 c) -> bool { return u_isUWhiteSpace(c); }},
      {"Alphabetic", is_alphabetic, [](UChar32 c) -> bool { return u_isUAlphabetic(c); }},
      {"Nd/Nl/No", is_numeric, [](UChar32 c) { return (U_GET_GC_MASK(c) & U_GC_N_MASK) != 0; }},
      {"Uppercase", is_uppercase, [](UChar32 c) -> bool { return u_isUUppercase(c); }},
      {"Lowercase", is_lowercase, [](UChar32 c) -> bool { return u_isULowercase(c); }},
  };
  int wrong = 0;
  std::size_t lowered = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF && wrong < 20; ++cp) {
    for (const Property& p : properties) {
      if (p.ours(cp) != p.icu(static_cast<UChar32>(cp))) {
        ADD_FAILURE() << p.name << " of U+" << std::hex << static_cast<unsigned>(cp);
        ++wrong;
      }
    }
    std::string ours;
    append_lower(ours, cp);
    std::string icu = icu_lower(cp);
    if (ours != icu) {
      ADD_FAILURE() << "lowercase of U+" << std::hex << static_cast<unsigned>(cp);
      ++wrong;
    }
    std::string self;
    append_utf8(self, cp);
    lowered += icu != self;
  }
  // The comparison covered the mappings that matter (Unicode 15 has about 1,400).
  EXPECT_GT(lowered, 1000u);
}

// Whole texts: multi-character and context-free results, as the lexical
// module lowers queries and keys.
TEST(UnicodeTables, ToLowerOfTexts) {
  const struct {
    const char* in;
    const char* want;
  } cases[] = {
      {"ABC xyz", "abc xyz"},
      {"\xC4\xB0stanbul", "i\xCC\x87stanbul"},               // U+0130 lowers to i + U+0307
      {"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x99\xCE\x91", "\xCF\x83\xCE\xBF\xCF\x86\xCE\xB9\xCE\xB1"},  // no final sigma
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},               // U+10400 Deseret
      {"\xE2\x85\xA0", "\xE2\x85\xB0"},                       // U+2160 Roman numeral one
  };
  for (const auto& c : cases) EXPECT_EQ(to_lower(c.in), c.want) << c.in;
}

}  // namespace
}  // namespace quendra::unicode

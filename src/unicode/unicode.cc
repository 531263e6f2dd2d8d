#include "unicode/unicode.h"

#include <algorithm>
#include <cstring>

// kBlockIndex, kBlocks, kLowerSingle and kLowerMulti, generated from ICU at
// build time by src/unicode/gen_tables.cc.
#include "unicode_tables.h"

namespace quendra::unicode {

namespace {

using tables::kFlagAlphabetic;
using tables::kFlagLowercase;
using tables::kFlagLowers;
using tables::kFlagNumeric;
using tables::kFlagUppercase;
using tables::kFlagWhiteSpace;

// The property bits of a code point (0 above U+10FFFF).
std::uint8_t flags(char32_t cp) {
  if (cp > 0x10FFFF) return 0;
  constexpr char32_t kLow = (char32_t{1} << tables::kBlockShift) - 1;
  std::size_t block = tables::kBlockIndex[cp >> tables::kBlockShift];
  return tables::kBlocks[(block << tables::kBlockShift) | (cp & kLow)];
}

}  // namespace

bool valid_utf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    // Fast path: eight ASCII bytes at a time.
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) break;
      p += 8;
    }
    if (p == end) break;
    unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t n;
    char32_t min;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) {
      n = 2, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) < n) return false;
    for (std::size_t i = 1; i < n; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    p += n;
  }
  return true;
}

std::size_t count_chars(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    // A byte is a continuation byte when bit 7 is set and bit 6 is clear.
    std::uint64_t cont = word & ~(word << 1) & 0x8080808080808080ULL;
    // One bit per continuation byte, summed across the bytes by a multiply.
    count += 8 - static_cast<std::size_t>(((cont >> 7) * 0x0101010101010101ULL) >> 56);
  }
  for (; i < n; ++i) count += (p[i] & 0xC0) != 0x80;
  return count;
}

std::size_t count_astral(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += static_cast<unsigned char>(c) >= 0xF0;
  return count;
}

char32_t decode(std::string_view text, std::size_t& pos) {
  auto c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) {
    ++pos;
    return c;
  }
  std::size_t n = seq_len(c);
  char32_t cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (std::size_t i = 1; i < n && pos + i < text.size(); ++i) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  }
  pos += n;
  return cp;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::size_t byte_offset(std::string_view text, std::size_t n) {
  std::size_t pos = 0;
  while (n > 0 && pos < text.size()) {
    pos += seq_len(static_cast<unsigned char>(text[pos]));
    --n;
  }
  return pos < text.size() ? pos : text.size();
}

bool is_white_space(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return (flags(cp) & kFlagWhiteSpace) != 0;
}

bool is_alphabetic(char32_t cp) {
  if (cp < 0x80) return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z';
  return (flags(cp) & kFlagAlphabetic) != 0;
}

bool is_numeric(char32_t cp) {
  if (cp < 0x80) return cp >= '0' && cp <= '9';
  return (flags(cp) & kFlagNumeric) != 0;
}

bool is_uppercase(char32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z';
  return (flags(cp) & kFlagUppercase) != 0;
}

bool is_lowercase(char32_t cp) {
  if (cp < 0x80) return cp >= 'a' && cp <= 'z';
  return (flags(cp) & kFlagLowercase) != 0;
}

void append_lower(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp));
    return;
  }
  if ((flags(cp) & kFlagLowers) == 0) {
    append_utf8(out, cp);
    return;
  }
  auto by_from = [](const auto& mapping, char32_t key) { return mapping.from < key; };
  const auto* single = std::lower_bound(std::begin(tables::kLowerSingle),
                                        std::end(tables::kLowerSingle), cp, by_from);
  if (single != std::end(tables::kLowerSingle) && single->from == cp) {
    append_utf8(out, single->to);
    return;
  }
  const auto* multi = std::lower_bound(std::begin(tables::kLowerMulti),
                                       std::end(tables::kLowerMulti), cp, by_from);
  if (multi != std::end(tables::kLowerMulti) && multi->from == cp) {
    for (char32_t c : multi->to) {
      if (c == 0) break;
      append_utf8(out, c);
    }
  }
}

std::string to_lower(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) append_lower(out, decode(text, pos));
  return out;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!is_white_space(decode(text, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    std::size_t probe = start;
    if (!is_white_space(decode(text, probe))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace quendra::unicode

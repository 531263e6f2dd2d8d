#include "size.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "unicode.h"

namespace quendra {
namespace {

// Contribution of each byte to the size of a JSON string literal: 0 for UTF-8
// continuation bytes (the lead byte counts the character), 2 for the
// characters with a short escape, 6 for the other control characters (written
// as \u00XX), 1 otherwise.
constexpr std::array<std::uint8_t, 256> make_quoted_table() {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    if (b < 0x20) {
      t[b] = 6;
    } else if (b >= 0x80 && b < 0xC0) {
      t[b] = 0;
    } else {
      t[b] = 1;
    }
  }
  for (int b : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) t[b] = 2;
  return t;
}

constexpr std::array<std::uint8_t, 256> kQuotedTable = make_quoted_table();

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Nonzero when some byte of `w` is below 0x20, is '"' or '\\', or has its high
// bit set: the bytes that do not count exactly 1. Uses the classic "has byte
// less than" trick on 7-bit lanes so no lane borrows from its neighbour.
inline std::uint64_t special_bytes(std::uint64_t w) {
  std::uint64_t low7 = w & ~kHighs;
  std::uint64_t ctrl = (low7 + kOnes * (0x80 - 0x20)) ^ kHighs;  // < 0x20
  std::uint64_t q = low7 ^ (kOnes * '"');
  std::uint64_t bs = low7 ^ (kOnes * '\\');
  std::uint64_t is_q = ~((q + kOnes * 0x7F) | q);   // lane == 0
  std::uint64_t is_bs = ~((bs + kOnes * 0x7F) | bs);
  return (ctrl | is_q | is_bs | w) & kHighs;
}

inline std::uint64_t rotl(std::uint64_t x, int b) {
  return (x << b) | (x >> (64 - b));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void round() {
    v0 += v1;
    v1 = rotl(v1, 13);
    v1 ^= v0;
    v0 = rotl(v0, 32);
    v2 += v3;
    v3 = rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = rotl(v1, 17);
    v1 ^= v2;
    v2 = rotl(v2, 32);
  }
};

inline std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t m = 0;
  for (int i = 7; i >= 0; --i) m = (m << 8) | p[i];
  return m;
}

void append_le64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::uint64_t siphash(std::string_view bytes, std::uint64_t k0, std::uint64_t k1,
                      int compression_rounds, int finalization_rounds) {
  SipState s{k0 ^ 0x736f6d6570736575ull, k1 ^ 0x646f72616e646f6dull,
             k0 ^ 0x6c7967656e657261ull, k1 ^ 0x7465646279746573ull};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  const std::size_t whole = n - n % 8;
  for (std::size_t i = 0; i < whole; i += 8) {
    std::uint64_t m = load_le64(p + i);
    s.v3 ^= m;
    for (int r = 0; r < compression_rounds; ++r) s.round();
    s.v0 ^= m;
  }
  std::uint64_t last = static_cast<std::uint64_t>(n & 0xFF) << 56;
  for (std::size_t i = whole; i < n; ++i) {
    last |= static_cast<std::uint64_t>(p[i]) << (8 * (i - whole));
  }
  s.v3 ^= last;
  for (int r = 0; r < compression_rounds; ++r) s.round();
  s.v0 ^= last;
  s.v2 ^= 0xFF;
  for (int r = 0; r < finalization_rounds; ++r) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::size_t quoted(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t total = 2;
  std::size_t i = 0;
  while (i + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (special_bytes(w) == 0) {
      total += 8;
    } else {
      for (std::size_t j = 0; j < 8; ++j) total += kQuotedTable[p[i + j]];
    }
    i += 8;
  }
  for (; i < n; ++i) total += kQuotedTable[p[i]];
  return total;
}

std::size_t overhead(std::size_t k, std::size_t d, Layout layout) {
  if (k == 0) return 2;
  if (!layout.pretty()) return sat_add(k, 1);
  std::size_t closing = sat_mul(layout.indent, d);
  std::size_t line = sat_add(sat_mul(layout.indent, sat_add(d, 1)), 2);
  return sat_add(sat_add(closing, sat_mul(line, k)), 2);
}

std::size_t digits(std::size_t n) {
  std::size_t count = 1;
  while (n >= 10) {
    n /= 10;
    ++count;
  }
  return count;
}

std::string gap_marker(std::size_t n) {
  return "\u2026[" + std::to_string(n) + " items omitted]";
}

std::size_t gap_marker_size(std::size_t n) { return 19 + digits(n); }

std::string keys_marker_key(std::size_t n) {
  return std::to_string(n) + " keys omitted";
}

std::size_t keys_marker_size(std::size_t n, Layout layout) {
  return 18 + digits(n) + layout.key_separator();
}

std::string string_marker(std::size_t n) {
  return "\u2026[+" + std::to_string(n) + " chars]";
}

std::size_t string_marker_size(std::size_t n) { return 12 + digits(n); }

namespace size {

std::size_t scalar(const Value& value) {
  switch (value.kind()) {
    case Kind::Null:
      return 4;
    case Kind::Bool:
      return value.as_bool() ? 4 : 5;
    case Kind::Number:
      return unicode::count_chars(value.text());
    case Kind::String:
      return quoted(value.text());
    case Kind::Array:
    case Kind::Object:
      break;
  }
  return 0;
}

std::size_t of(const Value& value, Layout layout, std::size_t depth) {
  switch (value.kind()) {
    case Kind::Array: {
      std::size_t total = overhead(value.items().size(), depth, layout);
      for (const Value& item : value.items()) total = sat_add(total, of(item, layout, depth + 1));
      return total;
    }
    case Kind::Object: {
      std::size_t total = overhead(value.members().size(), depth, layout);
      for (const Member& m : value.members()) {
        total = sat_add(total, sat_add(quoted(m.key) + layout.key_separator(),
                                       of(m.value, layout, depth + 1)));
      }
      return total;
    }
    default: return scalar(value);
  }
}

}  // namespace size

std::uint64_t siphash13(std::string_view bytes) {
  return siphash(bytes, 0, 0, 1, 3);
}

std::uint64_t shape_of(const Value& value) {
  std::string bytes(kind_name(value.kind()));
  bytes.push_back('\xFF');
  if (value.is_object()) {
    std::vector<std::string_view> keys;
    keys.reserve(value.members().size());
    for (const Member& m : value.members()) keys.push_back(m.key);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    append_le64(bytes, keys.size());
    for (std::string_view key : keys) {
      bytes.append(key);
      bytes.push_back('\xFF');
    }
  }
  return siphash13(bytes);
}

}  // namespace quendra

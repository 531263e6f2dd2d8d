#include "engine/size.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <vector>

#include "unicode/unicode.h"

namespace quendra {
namespace {

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

std::size_t overhead(std::size_t k, std::size_t d, Layout layout) {
  if (k == 0) return 2;
  if (!layout.pretty()) return sat_add(k, 1);
  std::size_t closing = sat_mul(layout.indent, d);
  std::size_t line = sat_add(sat_mul(layout.indent, sat_add(d, 1)), 2);
  return sat_add(sat_add(closing, sat_mul(line, k)), 2);
}

std::size_t digits(std::size_t n) {
  // Comparisons, not divisions: this runs for every string analysed.
  std::size_t count = 1;
  for (std::size_t bound = 10; n >= bound; bound *= 10) {
    ++count;
    if (bound > SIZE_MAX / 10) break;
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
      return value.text().size();
    case Kind::String:
      return value.json_size();
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
        total = sat_add(total, sat_add(m.key.json_size() + layout.key_separator(),
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

void SipHasher::block(std::uint64_t m) {
  SipState s{v0_, v1_, v2_, v3_};
  s.v3 ^= m;
  s.round();
  s.v0 ^= m;
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

SipHasher& SipHasher::update(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  // Complete a started block byte by byte, then take whole blocks.
  while (n > 0 && length_ % 8 != 0) {
    update(*p++);
    --n;
  }
  for (; n >= 8; n -= 8, p += 8) {
    block(load_le64(p));
    length_ += 8;
  }
  while (n > 0) {
    update(*p++);
    --n;
  }
  return *this;
}

std::uint64_t SipHasher::finish() {
  SipState s{v0_, v1_, v2_, v3_};
  const std::uint64_t last = tail_ | static_cast<std::uint64_t>(length_ & 0xFF) << 56;
  s.v3 ^= last;
  s.round();
  s.v0 ^= last;
  s.v2 ^= 0xFF;
  for (int r = 0; r < 3; ++r) s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::uint64_t shape_of(const Value& value) {
  SipHasher h;
  h.update(kind_name(value.kind())).update(0xFF);
  if (value.is_object()) {
    std::vector<std::string_view> keys;
    keys.reserve(value.members().size());
    for (const Member& m : value.members()) keys.push_back(m.key.text());
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    std::uint64_t count = keys.size();
    for (int i = 0; i < 8; ++i) h.update(static_cast<unsigned char>(count >> (8 * i)));
    for (std::string_view key : keys) h.update(key).update(0xFF);
  }
  return h.finish();
}

}  // namespace quendra

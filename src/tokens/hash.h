// The hash of byte strings that places the tokens of a vocabulary in their
// lookup table. The table generator (gen_tables.cc) and the lookups
// (vocab.h) share this one definition, so a table built at build time is
// read with exactly the function that built it.
#ifndef QUENDRA_TOKENS_HASH_H_
#define QUENDRA_TOKENS_HASH_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quendra::tokens {

// A lookup table is open addressing with linear probing, its slots laid
// out Robin Hood fashion (along a probe run, tokens lie in the order of
// their home slots), so a search stops at the first slot whose token is
// nearer its home than the search is to its own. A 32-bit slot holds, from
// the low bits up: the token's rank plus one (0 marks an empty slot), the
// distance from its home slot, and the top bits of the low half of its
// hash, which rule out most other tokens without reading their bytes. The
// home slot is the top bits of the hash.
inline constexpr unsigned kSlotRankBits = 18;
inline constexpr unsigned kSlotDistanceBits = 8;
inline constexpr unsigned kSlotTagShift = kSlotRankBits + kSlotDistanceBits;
inline constexpr std::uint32_t kSlotRankMask = (std::uint32_t{1} << kSlotRankBits) - 1;
inline constexpr std::uint32_t kSlotMaxDistance = (std::uint32_t{1} << kSlotDistanceBits) - 1;

// Reads 4 or 8 bytes as a little-endian integer (so that tables and lookups
// agree on any machine).
inline std::uint32_t load_le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

inline std::uint64_t load_le64(const unsigned char* p) {
  return std::uint64_t{load_le32(p)} | std::uint64_t{load_le32(p + 4)} << 32;
}

// A 64-bit hash of the `n` bytes at `p`: eight bytes at a time, the last
// one to eight bytes read as two overlapping words (with the length mixed
// in first, the words determine the bytes), then a final avalanche.
[[gnu::always_inline]] inline std::uint64_t hash_bytes(const unsigned char* p, std::size_t n) {
  std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ (n * 0xD6E8FEB86659FD93ULL);
  while (n > 8) {
    h = (h ^ load_le64(p)) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 31;
    p += 8;
    n -= 8;
  }
  std::uint64_t last = 0;
  if (n >= 4) {
    last = std::uint64_t{load_le32(p)} | std::uint64_t{load_le32(p + n - 4)} << 32;
  } else if (n > 0) {
    last = std::uint64_t{p[0]} | std::uint64_t{p[n / 2]} << 8 | std::uint64_t{p[n - 1]} << 16;
  }
  h = (h ^ last) * 0x94D049BB133111EBULL;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return h;
}

}  // namespace quendra::tokens

#endif  // QUENDRA_TOKENS_HASH_H_

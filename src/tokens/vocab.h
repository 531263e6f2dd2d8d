// The byte-pair vocabularies of o200k_base and cl100k_base: read-only tables
// generated from third_party/tiktoken when the library is built
// (gen_tables.cc), looked up from bytes to rank and from rank to bytes.
// Nothing here is built or changed at run time.
#ifndef QUENDRA_TOKENS_VOCAB_H_
#define QUENDRA_TOKENS_VOCAB_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "tokens/hash.h"
#include "tokens/split.h"

namespace quendra::tokens {

// The rank of no token.
inline constexpr std::uint32_t kNoRank = 0xFFFFFFFFu;

// Whether the `n` bytes at `a` and at `b` are the same: short strings (most
// tokens) by overlapping word loads, without a call.
[[gnu::always_inline]] inline bool same_bytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
  if (n >= 8) {
    if (n > 16) return std::memcmp(a, b, n) == 0;
    return load_le64(a) == load_le64(b) && load_le64(a + n - 8) == load_le64(b + n - 8);
  }
  if (n >= 4) return load_le32(a) == load_le32(b) && load_le32(a + n - 4) == load_le32(b + n - 4);
  return a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1];
}

struct Vocabulary {
  const unsigned char* bytes;    // the tokens' bytes, by rank
  const unsigned char* offsets;  // count + 1 little-endian 32-bit offsets into `bytes`
  const unsigned char* slots;    // 2^slot_bits lookup slots (see hash.h)
  std::uint32_t count;           // the number of tokens: ranks are 0 to count - 1
  unsigned slot_bits;
  std::size_t max_length;          // the longest token's bytes
  const std::uint32_t* byte_ranks;  // the rank of each single byte

  // The rank of the `n` bytes at `p`, or kNoRank when they are no token.
  [[gnu::always_inline]] std::uint32_t rank(const unsigned char* p, std::size_t n) const {
    if (n == 0 || n > max_length) return kNoRank;
    const std::uint64_t h = hash_bytes(p, n);
    const std::uint32_t tag = static_cast<std::uint32_t>(h) >> kSlotTagShift;
    const std::size_t mask = (std::size_t{1} << slot_bits) - 1;
    std::size_t i = static_cast<std::size_t>(h >> (64 - slot_bits));
    for (std::uint32_t distance = 0;; ++distance, i = (i + 1) & mask) {
      const std::uint32_t slot = load_le32(slots + 4 * i);
      if (slot == 0) return kNoRank;
      const std::uint32_t slot_distance = (slot >> kSlotRankBits) & kSlotMaxDistance;
      if (slot_distance < distance) return kNoRank;
      if (slot_distance == distance && slot >> kSlotTagShift == tag) {
        const std::uint32_t r = (slot & kSlotRankMask) - 1;
        const std::uint32_t begin = load_le32(offsets + 4 * std::size_t{r});
        const std::uint32_t end = load_le32(offsets + 4 * std::size_t{r} + 4);
        if (end - begin == n && same_bytes(bytes + begin, p, n)) return r;
      }
    }
  }

  // The bytes of the token `r`. REQUIRES: r < count.
  std::string_view token(std::uint32_t r) const {
    const std::uint32_t begin = load_le32(offsets + 4 * std::size_t{r});
    const std::uint32_t end = load_le32(offsets + 4 * std::size_t{r} + 4);
    return {reinterpret_cast<const char*>(bytes) + begin, end - begin};
  }
};

// The vocabulary of `encoding`: static data, shared by all threads.
const Vocabulary& vocabulary(Encoding encoding);

}  // namespace quendra::tokens

#endif  // QUENDRA_TOKENS_VOCAB_H_

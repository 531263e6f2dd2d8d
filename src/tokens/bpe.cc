#include "tokens/bpe.h"

#include <algorithm>
#include <functional>

#include "tokens/hash.h"
#include "tokens/vocab.h"
#include "unicode/unicode.h"

namespace quendra::tokens {
namespace {

using Byte = unsigned char;

// Pieces up to this many bytes merge in arrays on the stack, rescanning for
// the lowest pair after each merge (quadratic, but short and cache-local);
// longer ones keep their pairs in a heap.
constexpr std::size_t kSmallPiece = 64;

// Merges the `n` bytes at `p` (n >= 2) into tokens; returns how many, and
// appends their ids to `ids` when it is not null.
std::size_t merge_small(const Vocabulary& v, const Byte* p, std::size_t n,
                        std::vector<std::uint32_t>* ids) {
  // Part i is bytes [start[i], start[i + 1]), the token tok[i]; pair[i] is
  // the rank of parts i and i + 1 joined (kNoRank for the last part).
  std::uint32_t start[kSmallPiece + 1];
  std::uint32_t pair[kSmallPiece];
  std::uint32_t tok[kSmallPiece];
  for (std::size_t i = 0; i < n; ++i) {
    start[i] = static_cast<std::uint32_t>(i);
    tok[i] = v.byte_ranks[p[i]];
    pair[i] = i + 1 < n ? v.rank(p + i, 2) : kNoRank;
  }
  start[n] = static_cast<std::uint32_t>(n);
  std::size_t parts = n;
  while (parts > 1) {
    std::uint32_t best = kNoRank;
    std::size_t at = 0;
    for (std::size_t i = 0; i + 1 < parts; ++i) {
      if (pair[i] < best) {
        best = pair[i];
        at = i;
      }
    }
    if (best == kNoRank) break;
    // Part at + 1 joins part at.
    std::copy(start + at + 2, start + parts + 1, start + at + 1);
    std::copy(pair + at + 2, pair + parts, pair + at + 1);
    std::copy(tok + at + 2, tok + parts, tok + at + 1);
    --parts;
    tok[at] = best;
    pair[at] = at + 1 < parts ? v.rank(p + start[at], start[at + 2] - start[at]) : kNoRank;
    if (at > 0) pair[at - 1] = v.rank(p + start[at - 1], start[at + 1] - start[at - 1]);
  }
  if (ids != nullptr) ids->insert(ids->end(), tok, tok + parts);
  return parts;
}

// The same for long pieces in O(n log n): parts are a linked list by their
// first byte, and the candidate pairs a min-heap of rank << 32 | first byte,
// whose order is the lowest rank first, the leftmost among equals. Entries
// whose pair has changed since are skipped when they come up. `links` and
// `heap` are scratch space, kept by the caller from piece to piece.
std::size_t merge_large(const Vocabulary& v, const Byte* p, std::size_t n,
                        std::vector<std::uint32_t>* ids, Scratch& scratch) {
  scratch.links.resize(4 * n);
  std::uint32_t* next = scratch.links.data();
  std::uint32_t* prev = next + n;
  std::uint32_t* pair = prev + n;
  std::uint32_t* tok = pair + n;
  std::vector<std::uint64_t>& heap = scratch.heap;
  heap.clear();
  const auto candidate = [](std::uint32_t rank, std::uint32_t s) { return std::uint64_t{rank} << 32 | s; };
  for (std::size_t i = 0; i < n; ++i) {
    next[i] = static_cast<std::uint32_t>(i + 1);
    prev[i] = static_cast<std::uint32_t>(i == 0 ? 0 : i - 1);
    tok[i] = v.byte_ranks[p[i]];
    pair[i] = i + 1 < n ? v.rank(p + i, 2) : kNoRank;
    if (pair[i] != kNoRank) heap.push_back(candidate(pair[i], static_cast<std::uint32_t>(i)));
  }
  const auto later = std::greater<std::uint64_t>();
  std::make_heap(heap.begin(), heap.end(), later);
  const auto offer = [&](std::uint32_t s) {
    if (pair[s] == kNoRank) return;
    heap.push_back(candidate(pair[s], s));
    std::push_heap(heap.begin(), heap.end(), later);
  };
  std::size_t parts = n;
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const std::uint64_t top = heap.back();
    heap.pop_back();
    const auto rank = static_cast<std::uint32_t>(top >> 32);
    const auto s = static_cast<std::uint32_t>(top);
    if (pair[s] != rank) continue;
    const std::uint32_t joined = next[s];
    const std::uint32_t after = next[joined];
    pair[joined] = kNoRank;
    tok[s] = rank;
    next[s] = after;
    if (after < n) prev[after] = s;
    --parts;
    pair[s] = after < n ? v.rank(p + s, next[after] - s) : kNoRank;
    offer(s);
    if (s > 0) {
      const std::uint32_t q = prev[s];
      pair[q] = v.rank(p + q, after - q);
      offer(q);
    }
  }
  if (ids != nullptr) {
    for (std::uint32_t s = 0; s < n; s = next[s]) ids->push_back(tok[s]);
  }
  return parts;
}

std::size_t merge(const Vocabulary& v, const Byte* p, std::size_t n, std::vector<std::uint32_t>* ids,
                  Scratch& scratch) {
  return n <= kSmallPiece ? merge_small(v, p, n, ids) : merge_large(v, p, n, ids, scratch);
}

// The tokens of one piece: one when the piece is a token, else its merge.
inline std::size_t piece_tokens(const Vocabulary& v, const Byte* p, std::size_t n,
                                std::vector<std::uint32_t>* ids, Scratch& scratch) {
  const std::uint32_t r = n == 1 ? v.byte_ranks[p[0]] : v.rank(p, n);
  if (r != kNoRank) {
    if (ids != nullptr) ids->push_back(r);
    return 1;
  }
  return merge(v, p, n, ids, scratch);
}

// Byte positions within a piece are 32-bit.
bool countable(std::string_view utf8) {
  return utf8.size() < kMaxTextBytes && unicode::valid_utf8(utf8);
}

bool same_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

}  // namespace

std::optional<Encoding> encoding_named(std::string_view name) {
  if (name.empty()) return Encoding::kO200kBase;
  for (Encoding e : {Encoding::kO200kBase, Encoding::kCl100kBase}) {
    if (same_ignoring_ascii_case(name, encoding_name(e))) return e;
  }
  return std::nullopt;
}

std::string_view encoding_name(Encoding encoding) {
  return encoding == Encoding::kO200kBase ? "o200k_base" : "cl100k_base";
}

std::optional<std::size_t> count(Encoding encoding, std::string_view utf8) {
  if (!countable(utf8)) return std::nullopt;
  const Vocabulary& v = vocabulary(encoding);
  const auto* p = reinterpret_cast<const Byte*>(utf8.data());
  Scratch scratch;
  std::size_t total = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t end = piece_end(encoding, utf8, i);
    total += piece_tokens(v, p + i, end - i, nullptr, scratch);
    i = end;
  }
  return total;
}

bool encode(Encoding encoding, std::string_view utf8, std::vector<std::uint32_t>& ids) {
  ids.clear();
  if (!countable(utf8)) return false;
  const Vocabulary& v = vocabulary(encoding);
  const auto* p = reinterpret_cast<const Byte*>(utf8.data());
  Scratch scratch;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t end = piece_end(encoding, utf8, i);
    piece_tokens(v, p + i, end - i, &ids, scratch);
    i = end;
  }
  return true;
}

std::string_view token_bytes(Encoding encoding, std::uint32_t id) {
  const Vocabulary& v = vocabulary(encoding);
  return id < v.count ? v.token(id) : std::string_view();
}

std::uint32_t vocabulary_size(Encoding encoding) { return vocabulary(encoding).count; }

Counter::Counter(Encoding encoding) : encoding_(encoding) {}

std::optional<std::size_t> Counter::count(std::string_view utf8) {
  if (!countable(utf8)) return std::nullopt;
  const Vocabulary& v = vocabulary(encoding_);
  const auto* p = reinterpret_cast<const Byte*>(utf8.data());
  std::size_t total = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t end = piece_end(encoding_, utf8, i);
    const std::size_t n = end - i;
    const std::uint32_t r = n == 1 ? v.byte_ranks[p[i]] : v.rank(p + i, n);
    total += r != kNoRank ? 1 : remembered(p + i, n);
    i = end;
  }
  return total;
}

std::size_t Counter::remembered(const Byte* piece, std::size_t n) {
  const Vocabulary& v = vocabulary(encoding_);
  if (n > kMaxPieceBytes) return merge(v, piece, n, nullptr, scratch_);
  if (entries_.empty()) entries_.resize(256);
  const std::uint64_t h = hash_bytes(piece, n);
  const std::size_t mask = entries_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
    Entry& e = entries_[i];
    if (e.length == 0) {
      const std::size_t tokens = merge(v, piece, n, nullptr, scratch_);
      if (used_ < kMaxPieces) {
        e = Entry{h, static_cast<std::uint32_t>(arena_.size()), static_cast<std::uint32_t>(n),
                  static_cast<std::uint32_t>(tokens)};
        arena_.append(reinterpret_cast<const char*>(piece), n);
        // At most half full, so that a search ends soon at an empty entry.
        if (++used_ * 2 > entries_.size()) grow();
      }
      return tokens;
    }
    if (e.hash == h && e.length == n && arena_.compare(e.offset, n, reinterpret_cast<const char*>(piece), n) == 0) {
      return e.count;
    }
  }
}

void Counter::grow() {
  std::vector<Entry> old(entries_.size() * 2);
  old.swap(entries_);
  const std::size_t mask = entries_.size() - 1;
  for (const Entry& e : old) {
    if (e.length == 0) continue;
    std::size_t i = static_cast<std::size_t>(e.hash) & mask;
    while (entries_[i].length != 0) i = (i + 1) & mask;
    entries_[i] = e;
  }
}

}  // namespace quendra::tokens

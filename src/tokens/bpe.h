// Token counts and ids in OpenAI's byte-pair encodings o200k_base and
// cl100k_base, equal to tiktoken's encode_ordinary (special-token texts such
// as <|endoftext|> are ordinary text): the text is split by the encoding's
// pattern (split.h), each piece that is a token whole is that token, and
// the others are merged pair by pair from their bytes, the lowest-ranked
// pair first (the leftmost among equals).
#ifndef QUENDRA_TOKENS_BPE_H_
#define QUENDRA_TOKENS_BPE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tokens/split.h"

namespace quendra::tokens {

// The encoding called `name`, ignoring ASCII case ("o200k_base",
// "cl100k_base"); the empty name is o200k_base. nullopt for any other name.
std::optional<Encoding> encoding_named(std::string_view name);

// The encoding's name in lowercase, such as "o200k_base".
std::string_view encoding_name(Encoding encoding);

// Texts of this many bytes or more are not counted.
inline constexpr std::size_t kMaxTextBytes = std::size_t{0xFFFFFFFF};

// The number of tokens of `utf8`, or nullopt when it is not valid UTF-8
// (encoded surrogates included) or has kMaxTextBytes bytes or more.
std::optional<std::size_t> count(Encoding encoding, std::string_view utf8);

// Replaces `ids` with the token ids of `utf8`. Returns false (and leaves
// `ids` empty) when `count` would give nullopt.
bool encode(Encoding encoding, std::string_view utf8, std::vector<std::uint32_t>& ids);

// The bytes of the token `id` (they need not be UTF-8 on their own), or the
// empty view when the encoding has no such id.
std::string_view token_bytes(Encoding encoding, std::uint32_t id);

// The number of ordinary tokens of the encoding (ids 0 to this less one).
std::uint32_t vocabulary_size(Encoding encoding);

// Scratch space of the merges of long pieces, kept from piece to piece.
struct Scratch {
  std::vector<std::uint32_t> links;
  std::vector<std::uint64_t> heap;
};

// Counts texts in one encoding, remembering the count of each piece that
// is not a single token, so that a piece met again (a JSON key, a repeated
// word) is not merged again. Made by a caller for one request and thrown
// away after it; not shared between threads. Its memory is bounded: past
// kMaxPieces remembered pieces it remembers no more.
class Counter {
 public:
  explicit Counter(Encoding encoding);

  // As tokens::count, with this counter's memory of pieces.
  std::optional<std::size_t> count(std::string_view utf8);

  Encoding encoding() const { return encoding_; }

  static constexpr std::size_t kMaxPieces = std::size_t{1} << 16;
  static constexpr std::size_t kMaxPieceBytes = 256;

 private:
  struct Entry {
    std::uint64_t hash = 0;
    std::uint32_t offset = 0;  // of the piece's bytes in arena_
    std::uint32_t length = 0;  // 0 marks an empty entry
    std::uint32_t count = 0;
  };

  // The count of a piece that is not one token.
  std::size_t remembered(const unsigned char* piece, std::size_t n);
  void grow();

  Encoding encoding_;
  std::vector<Entry> entries_;
  std::string arena_;
  std::size_t used_ = 0;
  Scratch scratch_;
};

}  // namespace quendra::tokens

#endif  // QUENDRA_TOKENS_BPE_H_

// The pre-tokenizer of the byte-pair encodings: cuts UTF-8 text into the
// pieces that the encoding's split pattern matches, one after the other, as
// tiktoken's regular expressions (leftmost-first alternation, backtracking)
// do. Hand-written matchers over bytes with an ASCII fast path; the Unicode
// classes come from read-only tables generated at build time.
#ifndef QUENDRA_TOKENS_SPLIT_H_
#define QUENDRA_TOKENS_SPLIT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quendra::tokens {

// The encodings the library counts in.
enum class Encoding : std::uint8_t { kO200kBase, kCl100kBase };

// The end (a byte offset) of the piece of `text` that starts at byte
// `begin`: the match of the encoding's split pattern there, never empty.
// Pieces tile the text: the next one starts where this one ends.
// REQUIRES: `text` is valid UTF-8 and begin < text.size() is the start of a
// character.
std::size_t piece_end(Encoding encoding, std::string_view text, std::size_t begin);

// The split pattern's classes of code points, as the tables give them
// (exposed for tests).
enum class CharClass : std::uint8_t {
  kOther = 0,    // none of the below
  kUpper = 1,    // Lu, Lt
  kLower = 2,    // Ll
  kLetter = 3,   // Lm, Lo
  kMark = 4,     // M
  kNumber = 5,   // N
  kSpace = 6,    // White_Space other than \r and \n
  kNewline = 7,  // \r, \n
};
CharClass char_class(char32_t cp);

}  // namespace quendra::tokens

#endif  // QUENDRA_TOKENS_SPLIT_H_

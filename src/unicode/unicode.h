// UTF-8 helpers and Unicode character classes. Validation, decoding and
// counting are our own (they run over every input); the character
// properties and case mapping are ICU's, read from tables generated from ICU
// when the library is built (src/unicode/gen_tables.cc), so that the library
// needs no ICU at run time.
#ifndef QUENDRA_UNICODE_UNICODE_H_
#define QUENDRA_UNICODE_UNICODE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quendra::unicode {

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool valid_utf8(std::string_view text);

// Number of Unicode scalar values in valid UTF-8 text: the bytes that are
// not continuation bytes (10xxxxxx).
std::size_t count_chars(std::string_view text);

// Number of scalar values above U+FFFF in valid UTF-8 text (those UTF-16
// writes as two units): the lead bytes 0xF0 to 0xF4.
std::size_t count_astral(std::string_view text);

// Decodes the scalar value starting at byte `pos` of valid UTF-8 text and
// advances `pos` past it. REQUIRES: pos < text.size().
char32_t decode(std::string_view text, std::size_t& pos);

// Byte length of the UTF-8 sequence whose lead byte is `lead`.
inline std::size_t seq_len(unsigned char lead) {
  return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Appends the UTF-8 encoding of `cp`.
void append_utf8(std::string& out, char32_t cp);

// Byte offset of the character with index `n` (or text.size() when the text
// has at most n characters).
std::size_t byte_offset(std::string_view text, std::size_t n);

// Unicode properties.
bool is_white_space(char32_t cp);  // White_Space
bool is_alphabetic(char32_t cp);   // Alphabetic
bool is_numeric(char32_t cp);      // General category Nd, Nl or No
bool is_uppercase(char32_t cp);    // Uppercase
bool is_lowercase(char32_t cp);    // Lowercase

// Appends the full lowercase mapping of `cp` (root locale; one character may
// lower to several).
void append_lower(std::string& out, char32_t cp);

// The full lowercase mapping of a whole text.
std::string to_lower(std::string_view text);

// `text` without leading and trailing White_Space characters.
std::string_view trim_white_space(std::string_view text);

}  // namespace quendra::unicode

#endif  // QUENDRA_UNICODE_UNICODE_H_

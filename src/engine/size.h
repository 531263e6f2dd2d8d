// Size accounting for the pruning engine: the character count of a node's
// JSON text (compact or indented) computed arithmetically, without rendering,
// plus the marker texts the engine inserts and the shape hash of a node.
#ifndef QUENDRA_ENGINE_SIZE_H_
#define QUENDRA_ENGINE_SIZE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "document/json.h"
#include "document/value.h"

namespace quendra {

// Characters of `text` written as a JSON string (json_string_size). A String
// value knows its own: Value::json_size().
// REQUIRES: `text` is valid UTF-8.
inline std::size_t quoted(std::string_view text) { return json_string_size(text); }
// Argument-dependent lookup finds std::quoted for std::string arguments
// whenever <iomanip> is visible, and it would win overload resolution; these
// exact overloads keep such calls here (and literals unambiguous).
inline std::size_t quoted(const std::string& text) {
  return quoted(std::string_view(text));
}
inline std::size_t quoted(std::string& text) {
  return quoted(std::string_view(text));
}
inline std::size_t quoted(const char* text) {
  return quoted(std::string_view(text));
}

// Sizes saturate at SIZE_MAX: a huge indent gives a huge size, never a
// wrapped one.
inline std::size_t sat_add(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_add_overflow(a, b, &r) ? SIZE_MAX : r;
}
inline std::size_t sat_mul(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_mul_overflow(a, b, &r) ? SIZE_MAX : r;
}

// Punctuation and indentation of an array or object with `k` elements at
// nesting depth `d` (the root is 0): 2 when k is 0; k + 1 compact;
// indent*d + (indent*(d+1) + 2)*k + 2 indented. Saturates.
std::size_t overhead(std::size_t k, std::size_t d, Layout layout);

// Number of decimal digits of `n` (1 for 0).
std::size_t digits(std::size_t n);

// "…[N items omitted]": the array element standing for `n` omitted items.
std::string gap_marker(std::size_t n);
// quoted(gap_marker(n)), that is 19 + digits(n).
std::size_t gap_marker_size(std::size_t n);

// "N keys omitted": the key of the object member standing for `n` omitted
// keys. The member's value is the string kKeysMarkerValue.
std::string keys_marker_key(std::size_t n);
inline constexpr std::string_view kKeysMarkerValue = "\u2026";
// Size of the whole keys marker member: quoted(key) + key separator + 3,
// that is 18 + digits(n) + separator.
std::size_t keys_marker_size(std::size_t n, Layout layout);

// "…[+N chars]": the string standing for a whole string of `n` characters.
std::string string_marker(std::size_t n);
// quoted(string_marker(n)), that is 12 + digits(n).
std::size_t string_marker_size(std::size_t n);
// The smallest string marker, "…[+0 chars]" quoted: no string marker is
// smaller.
inline constexpr std::size_t kShortestStringMarker = 13;

namespace size {
// Size of a null (4), a bool (4 or 5) or a number (bytes of its ASCII text).
// REQUIRES: `value` is not a string, array or object.
std::size_t scalar(const Value& value);

// Size of the whole of `value` standing at nesting level `depth`: the
// character count of its JSON text in `layout`, without writing it.
// Saturates.
std::size_t of(const Value& value, Layout layout, std::size_t depth = 0);
}  // namespace size

// SipHash-c-d of `bytes` under the 128-bit key (k0, k1), each half read as a
// little-endian word, with `compression_rounds` (c) and
// `finalization_rounds` (d).
std::uint64_t siphash(std::string_view bytes, std::uint64_t k0,
                      std::uint64_t k1, int compression_rounds,
                      int finalization_rounds);

// SipHash-1-3 of `bytes` with both key halves 0.
std::uint64_t siphash13(std::string_view bytes);

// siphash13 of the concatenation of the pieces given to update(), without
// making it.
class SipHasher {
 public:
  SipHasher& update(std::string_view bytes);
  SipHasher& update(unsigned char byte) {
    tail_ |= static_cast<std::uint64_t>(byte) << (8 * (length_ % 8));
    if (++length_ % 8 == 0) flush();
    return *this;
  }
  std::uint64_t finish();

 private:
  void block(std::uint64_t m);
  void flush() {
    block(tail_);
    tail_ = 0;
  }

  std::uint64_t v0_ = 0x736f6d6570736575ull;
  std::uint64_t v1_ = 0x646f72616e646f6dull;
  std::uint64_t v2_ = 0x6c7967656e657261ull;
  std::uint64_t v3_ = 0x7465646279746573ull;
  std::uint64_t tail_ = 0;  // bytes not yet in a block, little-endian
  std::size_t length_ = 0;
};

// Shape hash: equal exactly when two values are of the same kind and, for
// objects, have the same set of member keys (order and repetition ignored).
// SipHash-1-3 of the kind name, 0xFF, and for objects the number of distinct
// keys as 8 little-endian bytes followed by each distinct key in ascending
// byte order, each followed by 0xFF.
std::uint64_t shape_of(const Value& value);

}  // namespace quendra

#endif  // QUENDRA_ENGINE_SIZE_H_

// JSON text: a strict reader (leading byte-order mark skipped, numbers kept
// as source text, nesting limited to 512) and the compact and pretty writers,
// which write into a string, into a buffer handed to the host, or escaped
// into the inside of a JSON string.
#ifndef QUENDRA_DOCUMENT_JSON_H_
#define QUENDRA_DOCUMENT_JSON_H_

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "document/result.h"
#include "document/value.h"

namespace quendra {

// How JSON text is laid out: compact when `indent` is 0, otherwise one
// element per line with `indent` spaces per nesting level.
struct Layout {
  std::size_t indent = 0;

  bool pretty() const { return indent != 0; }
  // Characters between a key and its value: ":" compact, ": " indented.
  std::size_t key_separator() const { return pretty() ? 2 : 1; }
};

// Bytes in one malloc'd block, so that they can be handed to a C host as
// they are. Grows by half again when a write does not fit.
class Buffer {
 public:
  explicit Buffer(std::size_t capacity);
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~Buffer() { std::free(data_); }

  void append(const char* p, std::size_t n) {
    if (n > capacity_ - size_) grow(n);
    std::memcpy(data_ + size_, p, n);
    size_ += n;
  }
  void append(std::string_view s) { append(s.data(), s.size()); }
  void append(std::size_t count, char c) {
    if (count > capacity_ - size_) grow(count);
    std::memset(data_ + size_, c, count);
    size_ += count;
  }
  void push_back(char c) {
    if (size_ == capacity_) grow(1);
    data_[size_++] = c;
  }
  std::size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  // Empties the buffer, keeping its storage.
  void clear() { size_ = 0; }

  // The bytes, in a block of exactly their length (at least one byte), now
  // the caller's to free.
  char* release();

 private:
  void grow(std::size_t more);

  char* data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

namespace json {

inline constexpr std::size_t kMaxDepth = 512;

// Reads `text` into a tree in `arena`. Strings without escapes and all
// numbers view `text`, which must outlive the tree.
// REQUIRES: `text` is valid UTF-8.
Result<Value, ParseError> parse(std::string_view text, Arena& arena);

// Text appended to it goes to `Out` as the inside of a JSON string: quotes,
// backslashes and control characters escaped. With `count`, it also counts
// the characters of the text it was given.
template <typename Out>
class Escaped {
 public:
  explicit Escaped(Out& out, bool count = false) : out_(out), count_(count) {}

  void append(const char* p, std::size_t n);
  void append(std::string_view s) { append(s.data(), s.size()); }
  void append(std::size_t count, char c);
  void push_back(char c);

  // What it was given: characters, bytes, and scalar values above U+FFFF.
  std::size_t chars() const { return chars_; }
  std::size_t bytes() const { return bytes_; }
  std::size_t astral() const { return astral_; }
  bool counting() const { return count_; }
  Out& out() { return out_; }

 private:
  Out& out_;
  bool count_;
  std::size_t chars_ = 0;
  std::size_t bytes_ = 0;
  std::size_t astral_ = 0;  // scalar values above U+FFFF
};

// Appends the text of `value` standing at nesting level `depth` in `layout`
// to `out` (a std::string, a Buffer, or an Escaped one of them). No trailing
// newline.
template <typename Out>
void write_value(Out& out, const Value& value, Layout layout, std::size_t depth = 0);

// Appends `text` as a quoted JSON string.
template <typename Out>
void write_string(Out& out, std::string_view text);

}  // namespace json
}  // namespace quendra

#endif  // QUENDRA_DOCUMENT_JSON_H_

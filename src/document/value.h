// The document tree shared by the readers, the writers and the pruning
// engine. Numbers keep their source text; objects keep member order and any
// repeated keys. A tree lives in an Arena: the children of a container are
// stored once, at their exact count, and strings and numbers that need no
// decoding are views of the text they were read from. A Value is a 16-byte
// handle; copying one shares the subtree.
#ifndef QUENDRA_DOCUMENT_VALUE_H_
#define QUENDRA_DOCUMENT_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace quendra {

// Storage that is released all at once: blocks taken from the heap and
// handed out front to back. Nothing allocated in it is freed or moved before
// the arena dies.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  Arena(Arena&& other) noexcept : head_(std::exchange(other.head_, nullptr)),
                                  next_(std::exchange(other.next_, nullptr)),
                                  end_(std::exchange(other.end_, nullptr)),
                                  block_size_(other.block_size_) {}
  Arena& operator=(Arena&& other) noexcept;
  ~Arena();

  // `bytes` bytes aligned to `align` (a power of two, at most 16).
  void* allocate(std::size_t bytes, std::size_t align = alignof(std::max_align_t));

  // Uninitialized room for `n` objects of a trivially destructible type.
  template <typename T>
  T* allocate_array(std::size_t n) {
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }

  // A copy of `text` in the arena.
  std::string_view copy(std::string_view text);

  // Takes over everything `other` holds, which then holds nothing.
  void adopt(Arena&& other);

 private:
  struct Block;
  void* allocate_slow(std::size_t bytes, std::size_t align);

  Block* head_ = nullptr;  // blocks, newest first
  char* next_ = nullptr;   // free room of the newest block
  char* end_ = nullptr;
  std::size_t block_size_ = 0;  // size of the next small block
};

// The tag order is part of the model (0 to 5).
enum class Kind : std::uint8_t { Null, Bool, Number, String, Array, Object };

// "null", "bool", "number", "string", "array", "object".
std::string_view kind_name(Kind kind);

// The characters of `text` (Unicode scalar values) and its size written as
// a JSON string: 2 for the quotes, 2 for each of `"`, `\`, U+0008, U+0009,
// U+000A, U+000C, U+000D, 6 for any other character below U+0020, 1 for
// every other character.
// REQUIRES: `text` is valid UTF-8.
struct TextMeasure {
  std::size_t chars = 0;
  std::size_t json_size = 2;
};
TextMeasure measure_text(std::string_view text);
inline std::size_t json_string_size(std::string_view text) { return measure_text(text).json_size; }

struct Member;

class Value {
 public:
  Value() = default;  // null

  static Value null() { return Value(); }
  static Value boolean(bool b) { return Value(Kind::Bool, b ? kTrue : 0, 0, nullptr); }
  // A number whose text `text` is written back unchanged; views `text`,
  // which must outlive the value. Its characters are its bytes.
  // REQUIRES: `text` is ASCII, as the text of a JSON number always is.
  static Value number(std::string_view text);
  // A number with a copy of `text` in `arena`.
  static Value number(Arena& arena, std::string_view text);
  // A string holding a copy of `text` in `arena`.
  static Value string(Arena& arena, std::string_view text);
  // A string viewing `text`, which must outlive the value; its measure goes
  // to `arena` when it is not plain ASCII.
  static Value string_view(Arena& arena, std::string_view text);
  // A string viewing `text` (which must outlive the value) whose characters
  // and JSON string size are already known.
  static Value string_view(Arena& arena, std::string_view text, std::size_t chars,
                           std::size_t json_size);
  // A string of `length` bytes, `chars` characters and JSON string size
  // `json_size` whose text is made only when first asked for:
  // `decode(source, out)` writes exactly `length` bytes to `out`, in `arena`.
  // `source` must outlive the value.
  using Decoder = void (*)(std::string_view source, char* out);
  static Value deferred_string(Arena& arena, std::string_view source, Decoder decode,
                               std::size_t length, std::size_t chars, std::size_t json_size);
  // A container holding copies of `items` (or `members`) in `arena`.
  static Value array(Arena& arena, std::span<const Value> items);
  static Value object(Arena& arena, std::span<const Member> members);
  static Value array() { return Value(Kind::Array, 0, 0, nullptr); }
  static Value object() { return Value(Kind::Object, 0, 0, nullptr); }

  Kind kind() const { return static_cast<Kind>(head_ & kKindMask); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_bool() const { return kind() == Kind::Bool; }
  bool is_number() const { return kind() == Kind::Number; }
  bool is_string() const { return kind() == Kind::String; }
  bool is_array() const { return kind() == Kind::Array; }
  bool is_object() const { return kind() == Kind::Object; }
  bool is_container() const { return is_array() || is_object(); }

  // False for every kind but a true Bool.
  bool as_bool() const { return is_bool() && (head_ & kTrue) != 0; }
  // The text of a Number or String; empty for other kinds.
  std::string_view text() const;
  // text(), but the text of a deferred string not made yet is decoded into
  // `scratch` and not kept: for a reader that looks at every string once.
  std::string_view text_once(std::string& scratch) const;
  // Elements of an Array; empty for other kinds.
  std::span<const Value> items() const;
  // Members of an Object, in source order; empty for other kinds.
  std::span<const Member> members() const;
  // Elements or members of a container; 0 for other kinds.
  std::size_t count() const { return is_container() ? length() : 0; }

  // For a String: its characters (Unicode scalar values) and its size
  // written as a JSON string, both known since it was made.
  std::size_t chars() const;
  std::size_t json_size() const;

  // Null, "", [] or {}.
  bool is_empty() const;

  // kAnnotationBytes of zeroed storage that every non-empty container
  // carries, for whoever reads the tree to keep its own record of the node
  // (the pruning engine keeps the node's analysis there). The tree's
  // containers are mutable arena storage.
  static constexpr std::size_t kAnnotationBytes = 32;
  void* annotation() const {
    return static_cast<char*>(const_cast<void*>(ptr_)) - kAnnotationBytes;
  }
  // A flag on the handle itself, kept by copies and ignored by comparison.
  bool marked() const { return (head_ & kMark) != 0; }
  void set_marked(bool on) { head_ = on ? head_ | kMark : head_ & ~kMark; }
  // The children of a container, for setting their annotations and marks.
  std::span<Value> mutable_items() const;
  std::span<Member> mutable_members() const;
  // This container cut to its first `n` children, which stay where they are
  // (a container of none is the empty one). REQUIRES: n <= count().
  Value first(std::size_t n) const {
    return n == 0 ? Value(kind(), 0, 0, nullptr) : Value(kind(), head_ & kMark, n, ptr_);
  }
  // A copy of the tree whose containers are new, their annotations unset,
  // in `arena`; strings and numbers are shared.
  Value deep_copy(Arena& arena) const;

  // Deep structural equality (kind, payload, order, repeated keys).
  friend bool operator==(const Value& a, const Value& b);

 private:
  // head_: kind in bits 0-2, flags in bits 3-7, the length of a text or the
  // count of a container from bit 8.
  static constexpr std::uint64_t kKindMask = 7;
  static constexpr std::uint64_t kBoxed = 8;  // ptr_ is a StringBox
  static constexpr std::uint64_t kTrue = 16;
  static constexpr std::uint64_t kMark = 32;
  static constexpr int kLengthShift = 8;

  // A string that is not plain ASCII: its bytes and its measure. A
  // deferred string has no bytes until text() first asks for them.
  struct StringBox {
    const char* data;
    std::size_t chars;
    std::size_t json_size;
  };
  struct DeferredBox : StringBox {
    std::string_view source;
    Decoder decode;
    Arena* arena;
  };
  // text() of a deferred string whose bytes are not made yet.
  std::string_view decode_deferred() const;

  Value(Kind kind, std::uint64_t flags, std::size_t length, const void* ptr)
      : head_(static_cast<std::uint64_t>(kind) | flags |
              (static_cast<std::uint64_t>(length) << kLengthShift)),
        ptr_(ptr) {}

  std::size_t length() const { return static_cast<std::size_t>(head_ >> kLengthShift); }
  static Value measured(Arena& arena, std::string_view text, std::size_t chars,
                        std::size_t json_size);
  template <typename T>
  static const T* container(Arena& arena, std::span<const T> children);

  std::uint64_t head_ = 0;
  const void* ptr_ = nullptr;
};

struct Member {
  Value key;  // a String
  Value value;

  friend bool operator==(const Member& a, const Member& b) {
    return a.key == b.key && a.value == b.value;
  }
};

inline std::string_view Value::text() const {
  if (kind() != Kind::Number && kind() != Kind::String) return {};
  if ((head_ & kBoxed) == 0) return {static_cast<const char*>(ptr_), length()};
  const char* data = static_cast<const StringBox*>(ptr_)->data;
  if (data == nullptr) return decode_deferred();
  return {data, length()};
}

inline std::span<const Value> Value::items() const {
  if (!is_array()) return {};
  return {static_cast<const Value*>(ptr_), length()};
}

inline std::span<const Member> Value::members() const {
  if (!is_object()) return {};
  return {static_cast<const Member*>(ptr_), length()};
}

inline std::span<Value> Value::mutable_items() const {
  return {const_cast<Value*>(items().data()), items().size()};
}

inline std::span<Member> Value::mutable_members() const {
  return {const_cast<Member*>(members().data()), members().size()};
}

inline std::size_t Value::chars() const {
  return (head_ & kBoxed) ? static_cast<const StringBox*>(ptr_)->chars : length();
}

inline std::size_t Value::json_size() const {
  return (head_ & kBoxed) ? static_cast<const StringBox*>(ptr_)->json_size : length() + 2;
}

}  // namespace quendra

#endif  // QUENDRA_DOCUMENT_VALUE_H_

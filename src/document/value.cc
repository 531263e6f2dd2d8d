#include "document/value.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quendra {

// Arena -------------------------------------------------------------------

namespace {

// Small allocations share blocks that start at kFirstBlock bytes and grow to
// kLargestBlock; anything larger than a quarter of that gets a block of its
// own, exactly as large as it needs.
constexpr std::size_t kFirstBlock = 4096;
constexpr std::size_t kLargestBlock = std::size_t{1} << 20;

char* align_up(char* p, std::size_t align) {
  auto v = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<char*>((v + align - 1) & ~static_cast<std::uintptr_t>(align - 1));
}

}  // namespace

struct Arena::Block {
  Block* next;
  std::size_t size;  // bytes after the header
};

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    this->~Arena();
    new (this) Arena(std::move(other));
  }
  return *this;
}

Arena::~Arena() {
  while (head_ != nullptr) {
    Block* next = head_->next;
    std::free(head_);
    head_ = next;
  }
}

void* Arena::allocate(std::size_t bytes, std::size_t align) {
  char* p = align_up(next_, align);
  if (next_ != nullptr && p <= end_ && static_cast<std::size_t>(end_ - p) >= bytes) {
    next_ = p + bytes;
    return p;
  }
  return allocate_slow(bytes, align);
}

void* Arena::allocate_slow(std::size_t bytes, std::size_t align) {
  constexpr std::size_t kHeader = (sizeof(Block) + 15) & ~std::size_t{15};
  const bool own = bytes > kLargestBlock / 4;
  std::size_t size = own ? bytes + align : std::max({block_size_, kFirstBlock, bytes + align});
  if (size > SIZE_MAX - kHeader) throw std::bad_alloc();
  auto* block = static_cast<Block*>(std::malloc(kHeader + size));
  if (block == nullptr) throw std::bad_alloc();
  block->size = size;
  char* start = reinterpret_cast<char*>(block) + kHeader;
  char* p = align_up(start, align);
  if (own) {
    // A block of its own goes behind the current one, which keeps its room.
    if (head_ == nullptr) {
      block->next = nullptr;
      head_ = block;
    } else {
      block->next = head_->next;
      head_->next = block;
    }
    return p;
  }
  block->next = head_;
  head_ = block;
  next_ = p + bytes;
  end_ = start + size;
  block_size_ = std::min(size * 2, kLargestBlock);
  return p;
}

void Arena::adopt(Arena&& other) {
  if (other.head_ == nullptr) return;
  // The other arena's blocks go behind the newest one, which keeps its room.
  Block* last = other.head_;
  while (last->next != nullptr) last = last->next;
  if (head_ == nullptr) {
    *this = std::move(other);
    return;
  }
  last->next = head_->next;
  head_->next = other.head_;
  other.head_ = nullptr;
  other.next_ = other.end_ = nullptr;
}

std::string_view Arena::copy(std::string_view text) {
  if (text.empty()) return {};
  char* p = static_cast<char*>(allocate(text.size(), 1));
  std::memcpy(p, text.data(), text.size());
  return {p, text.size()};
}

// Measuring texts -----------------------------------------------------------

namespace {

// Contribution of each byte to the size of a JSON string literal: 0 for UTF-8
// continuation bytes (the lead byte counts the character), 2 for the
// characters with a short escape, 6 for the other control characters (written
// as \u00XX), 1 otherwise.
constexpr std::array<std::uint8_t, 256> kJsonSize = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    if (b < 0x20) {
      t[b] = 6;
    } else if (b >= 0x80 && b < 0xC0) {
      t[b] = 0;
    } else {
      t[b] = 1;
    }
  }
  for (int b : {'"', '\\', '\b', '\t', '\n', '\f', '\r'}) t[b] = 2;
  return t;
}();

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighs = 0x8080808080808080ull;

// Nonzero when some byte of `w` is below 0x20, is '"' or '\\', or has its high
// bit set: the bytes that do not count exactly 1. Uses the classic "has byte
// less than" trick on 7-bit lanes so no lane borrows from its neighbour.
inline std::uint64_t special_bytes(std::uint64_t w) {
  std::uint64_t low7 = w & ~kHighs;
  std::uint64_t ctrl = (low7 + kOnes * (0x80 - 0x20)) ^ kHighs;  // < 0x20
  std::uint64_t q = low7 ^ (kOnes * '"');
  std::uint64_t bs = low7 ^ (kOnes * '\\');
  std::uint64_t is_q = ~((q + kOnes * 0x7F) | q);  // lane == 0
  std::uint64_t is_bs = ~((bs + kOnes * 0x7F) | bs);
  return (ctrl | is_q | is_bs | w) & kHighs;
}

}  // namespace

TextMeasure measure_text(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  TextMeasure m;
  std::size_t i = 0;
  while (i + 8 <= n) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (special_bytes(w) == 0) {
      m.json_size += 8;
      m.chars += 8;
    } else {
      for (std::size_t j = 0; j < 8; ++j) {
        m.json_size += kJsonSize[p[i + j]];
        m.chars += (p[i + j] & 0xC0) != 0x80;
      }
    }
    i += 8;
  }
  for (; i < n; ++i) {
    m.json_size += kJsonSize[p[i]];
    m.chars += (p[i] & 0xC0) != 0x80;
  }
  return m;
}


// Values ------------------------------------------------------------------

std::string_view kind_name(Kind kind) {
  switch (kind) {
    case Kind::Null: return "null";
    case Kind::Bool: return "bool";
    case Kind::Number: return "number";
    case Kind::String: return "string";
    case Kind::Array: return "array";
    case Kind::Object: return "object";
  }
  return "null";
}

Value Value::measured(Arena& arena, std::string_view text, std::size_t chars,
                      std::size_t json_size) {
  // Plain ASCII with nothing to escape needs no box: its measure follows
  // from its length.
  if (chars == text.size() && json_size == text.size() + 2) {
    return Value(Kind::String, 0, text.size(), text.data());
  }
  auto* box = arena.allocate_array<StringBox>(1);
  *box = StringBox{text.data(), chars, json_size};
  return Value(Kind::String, kBoxed, text.size(), box);
}

Value Value::number(std::string_view text) {
  return Value(Kind::Number, 0, text.size(), text.data());
}

Value Value::number(Arena& arena, std::string_view text) {
  return number(arena.copy(text));
}

Value Value::string(Arena& arena, std::string_view text) {
  return string_view(arena, arena.copy(text));
}

Value Value::string_view(Arena& arena, std::string_view text) {
  TextMeasure m = measure_text(text);
  return measured(arena, text, m.chars, m.json_size);
}

Value Value::string_view(Arena& arena, std::string_view text, std::size_t chars,
                         std::size_t json_size) {
  return measured(arena, text, chars, json_size);
}

template <typename T>
const T* Value::container(Arena& arena, std::span<const T> children) {
  // The annotation, then the children.
  static_assert(kAnnotationBytes % alignof(T) == 0);
  char* block = static_cast<char*>(
      arena.allocate(kAnnotationBytes + children.size() * sizeof(T), alignof(T)));
  std::memset(block, 0, kAnnotationBytes);
  T* out = reinterpret_cast<T*>(block + kAnnotationBytes);
  std::memcpy(static_cast<void*>(out), children.data(), children.size() * sizeof(T));
  return out;
}

Value Value::deferred_string(Arena& arena, std::string_view source, Decoder decode,
                             std::size_t length, std::size_t chars, std::size_t json_size) {
  auto* box = arena.allocate_array<DeferredBox>(1);
  new (box) DeferredBox{{nullptr, chars, json_size}, source, decode, &arena};
  return Value(Kind::String, kBoxed, length, box);
}

std::string_view Value::decode_deferred() const {
  // Only deferred strings have no bytes: every other box is made with them.
  auto* box = static_cast<DeferredBox*>(const_cast<void*>(ptr_));
  char* out = box->arena->allocate_array<char>(length());
  box->decode(box->source, out);
  box->data = out;
  return {out, length()};
}

std::string_view Value::text_once(std::string& scratch) const {
  if (kind() != Kind::String || (head_ & kBoxed) == 0 ||
      static_cast<const StringBox*>(ptr_)->data != nullptr) {
    return text();
  }
  const auto* box = static_cast<const DeferredBox*>(ptr_);
  // The scratch only grows, so that its bytes are not cleared over and over.
  if (scratch.size() < length()) scratch.resize(length());
  box->decode(box->source, scratch.data());
  return {scratch.data(), length()};
}

Value Value::array(Arena& arena, std::span<const Value> items) {
  if (items.empty()) return array();
  return Value(Kind::Array, 0, items.size(), container(arena, items));
}

Value Value::object(Arena& arena, std::span<const Member> members) {
  if (members.empty()) return object();
  return Value(Kind::Object, 0, members.size(), container(arena, members));
}

Value Value::deep_copy(Arena& arena) const {
  if (count() == 0) return *this;
  if (is_array()) {
    std::span<const Value> in = items();
    Value out = array(arena, in);
    for (Value& item : out.mutable_items()) item = item.deep_copy(arena);
    return out;
  }
  Value out = object(arena, members());
  for (Member& m : out.mutable_members()) m.value = m.value.deep_copy(arena);
  return out;
}

bool Value::is_empty() const {
  switch (kind()) {
    case Kind::Null: return true;
    case Kind::String:
    case Kind::Array:
    case Kind::Object: return length() == 0;
    default: return false;
  }
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Null: return true;
    case Kind::Bool: return a.as_bool() == b.as_bool();
    case Kind::Number:
    case Kind::String: return a.text() == b.text();
    case Kind::Array: return std::ranges::equal(a.items(), b.items());
    case Kind::Object: return std::ranges::equal(a.members(), b.members());
  }
  return false;
}

}  // namespace quendra

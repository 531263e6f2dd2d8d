#include "tokens/split.h"


#include "token_classes.h"

namespace quendra::tokens {
namespace {

using Byte = unsigned char;

// The classes as small integers, and the sets of them that the patterns use
// as bit masks over those integers.
enum : std::uint8_t {
  kOther = static_cast<std::uint8_t>(CharClass::kOther),
  kUpper = static_cast<std::uint8_t>(CharClass::kUpper),
  kLower = static_cast<std::uint8_t>(CharClass::kLower),
  kLetter = static_cast<std::uint8_t>(CharClass::kLetter),
  kMark = static_cast<std::uint8_t>(CharClass::kMark),
  kNumber = static_cast<std::uint8_t>(CharClass::kNumber),
  kSpace = static_cast<std::uint8_t>(CharClass::kSpace),
  kNewline = static_cast<std::uint8_t>(CharClass::kNewline),
};

constexpr unsigned bit(std::uint8_t c) { return 1u << c; }

// [^\r\n\p{L}\p{N}]
constexpr unsigned kNotLetterNumberNewline = bit(kOther) | bit(kMark) | bit(kSpace);
// [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]
constexpr unsigned kUpperish = bit(kUpper) | bit(kLetter) | bit(kMark);
// [\p{Ll}\p{Lm}\p{Lo}\p{M}]
constexpr unsigned kLowerish = bit(kLower) | bit(kLetter) | bit(kMark);
// \p{L}
constexpr unsigned kLetters = bit(kUpper) | bit(kLower) | bit(kLetter);
// [^\s\p{L}\p{N}]
constexpr unsigned kSymbols = bit(kOther) | bit(kMark);

constexpr bool in(unsigned set, std::uint8_t c) { return (set >> c) & 1u; }

constexpr std::uint8_t class_of(char32_t cp) {
  return tables::kClassBlocks[(std::size_t{tables::kClassIndex[cp >> tables::kClassShift]}
                               << tables::kClassShift) |
                              (cp & ((char32_t{1} << tables::kClassShift) - 1))];
}

// The class and byte length of one character.
struct Char {
  std::uint8_t cls;
  std::uint8_t len;
};

// The ASCII classes, taken from the tables at compile time.
struct AsciiClasses {
  std::uint8_t cls[128]{};
  constexpr AsciiClasses() {
    for (char32_t c = 0; c < 128; ++c) cls[c] = class_of(c);
  }
};
constexpr AsciiClasses kAscii;

// The character starting at p[i]. REQUIRES: valid UTF-8, i < its size.
[[gnu::always_inline]] inline Char char_at(const Byte* p, std::size_t i) {
  const Byte c = p[i];
  if (c < 0x80) return {kAscii.cls[c], 1};
  if (c < 0xE0) return {class_of(char32_t{c & 0x1Fu} << 6 | (p[i + 1] & 0x3Fu)), 2};
  if (c < 0xF0) {
    return {class_of(char32_t{c & 0x0Fu} << 12 | char32_t{p[i + 1] & 0x3Fu} << 6 | (p[i + 2] & 0x3Fu)), 3};
  }
  return {class_of(char32_t{c & 0x07u} << 18 | char32_t{p[i + 1] & 0x3Fu} << 12 |
                   char32_t{p[i + 2] & 0x3Fu} << 6 | (p[i + 3] & 0x3Fu)),
          4};
}

// The end of the run of characters in `set` from byte q.
[[gnu::always_inline]] inline std::size_t run_end(const Byte* p, std::size_t n, std::size_t q, unsigned set) {
  while (q < n) {
    const Char d = char_at(p, q);
    if (!in(set, d.cls)) break;
    q += d.len;
  }
  return q;
}

// The length of (?i:'s|'t|'re|'ve|'m|'ll|'d) at p[i], or 0. Case-insensitive
// as Unicode simple case folding has it, where s also matches U+017F (ſ).
inline std::size_t contraction(const Byte* p, std::size_t n, std::size_t i) {
  if (i + 1 >= n || p[i] != '\'') return 0;
  switch (p[i + 1] | 0x20) {
    case 's':
    case 't':
    case 'm':
    case 'd':
      return 2;
    case 'r':
    case 'v':
      return i + 2 < n && (p[i + 2] | 0x20) == 'e' ? 3 : 0;
    case 'l':
      return i + 2 < n && (p[i + 2] | 0x20) == 'l' ? 3 : 0;
    default:
      return p[i + 1] == 0xC5 && i + 2 < n && p[i + 2] == 0xBF ? 3 : 0;
  }
}

// What o200k_base's letter branches see from byte s on: the run of
// [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}], the end of its last character that is
// also in [\p{Ll}\p{Lm}\p{Lo}\p{M}] (0 when none is), and whether a
// lowercase letter follows the run.
struct UpperRun {
  std::size_t begin;
  std::size_t end;
  std::size_t last_lowerish_end;
  bool lower_follows;
};

inline UpperRun upper_run(const Byte* p, std::size_t n, std::size_t s) {
  UpperRun r{s, s, 0, false};
  while (r.end < n) {
    const Char d = char_at(p, r.end);
    if (!in(kUpperish, d.cls)) {
      r.lower_follows = d.cls == kLower;
      break;
    }
    r.end += d.len;
    if (d.cls != kUpper) r.last_lowerish_end = r.end;
  }
  return r;
}

// [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+ from the run's
// start, as a backtracking matcher finds it: the greedy star gives back
// characters until the plus can start. Returns its end, or 0.
inline std::size_t lower_branch(const Byte* p, std::size_t n, const UpperRun& r) {
  if (r.lower_follows) return run_end(p, n, r.end, kLowerish);
  // Giving back reaches the run's last character that the plus accepts,
  // which the plus takes alone (an uppercase letter or the run's end
  // follows it).
  return r.last_lowerish_end;
}

// [\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*, tried only when
// the lower branch failed there (so no lowercase letter follows the run and
// the star is empty). Returns its end, or 0.
inline std::size_t upper_branch(const UpperRun& r) { return r.end > r.begin ? r.end : 0; }

// \p{N}{1,3} at a number.
inline std::size_t numbers_end(const Byte* p, std::size_t n, std::size_t i, Char c) {
  std::size_t q = i + c.len;
  for (int k = 1; k < 3 && q < n; ++k) {
    const Char d = char_at(p, q);
    if (d.cls != kNumber) break;
    q += d.len;
  }
  return q;
}

// ` ?[^\s\p{L}\p{N}]+` followed by [\r\n]* (and '/' too when `slash`), or 0.
inline std::size_t symbols_end(const Byte* p, std::size_t n, std::size_t i, Char c, bool slash) {
  std::size_t s;
  if (in(kSymbols, c.cls)) {
    s = i;
  } else if (p[i] == ' ' && i + 1 < n && in(kSymbols, char_at(p, i + 1).cls)) {
    s = i + 1;
  } else {
    return 0;
  }
  std::size_t q = run_end(p, n, s, kSymbols);
  while (q < n && (p[q] == '\r' || p[q] == '\n' || (slash && p[q] == '/'))) ++q;
  return q;
}

// \s*[\r\n]+|\s+(?!\S)|\s+ at white space: up to the run's last line break
// when it has one; else the whole run when it ends the text or is a single
// character; else the run less its last character (which then starts the
// next piece, as the look-ahead gives it back).
inline std::size_t spaces_end(const Byte* p, std::size_t n, std::size_t i) {
  std::size_t q = i;
  std::size_t last_break_end = 0;
  std::size_t last_start = i;
  std::size_t chars = 0;
  while (q < n) {
    const Char d = char_at(p, q);
    if (d.cls != kSpace && d.cls != kNewline) break;
    if (d.cls == kNewline) last_break_end = q + 1;
    last_start = q;
    q += d.len;
    ++chars;
  }
  if (last_break_end != 0) return last_break_end;
  if (q == n || chars < 2) return q;
  return last_start;
}

std::size_t o200k_end(const Byte* p, std::size_t n, std::size_t i) {
  const Char c = char_at(p, i);
  // The two letter branches, each with its optional leading character
  // tried first taken, then left out (which differs only at a mark, the
  // one class both in that character's set and in the letter runs).
  std::size_t end = 0;
  if (in(kNotLetterNumberNewline, c.cls)) {
    const UpperRun taken = upper_run(p, n, i + c.len);
    end = lower_branch(p, n, taken);
    if (end == 0 && c.cls == kMark) end = lower_branch(p, n, upper_run(p, n, i));
    if (end == 0) end = upper_branch(taken);
  } else if (in(kLetters, c.cls)) {
    const UpperRun run = upper_run(p, n, i);
    end = lower_branch(p, n, run);
    if (end == 0) end = upper_branch(run);
  }
  if (end != 0) return end + contraction(p, n, end);
  if (c.cls == kNumber) return numbers_end(p, n, i, c);
  end = symbols_end(p, n, i, c, true);
  if (end != 0) return end;
  return spaces_end(p, n, i);
}

std::size_t cl100k_end(const Byte* p, std::size_t n, std::size_t i) {
  if (p[i] == '\'') {
    const std::size_t k = contraction(p, n, i);
    if (k != 0) return i + k;
  }
  const Char c = char_at(p, i);
  // [^\r\n\p{L}\p{N}]?\p{L}+
  if (in(kLetters, c.cls)) return run_end(p, n, i + c.len, kLetters);
  if (in(kNotLetterNumberNewline, c.cls) && i + c.len < n &&
      in(kLetters, char_at(p, i + c.len).cls)) {
    return run_end(p, n, i + c.len, kLetters);
  }
  if (c.cls == kNumber) return numbers_end(p, n, i, c);
  const std::size_t end = symbols_end(p, n, i, c, false);
  if (end != 0) return end;
  return spaces_end(p, n, i);
}

}  // namespace

std::size_t piece_end(Encoding encoding, std::string_view text, std::size_t begin) {
  const auto* p = reinterpret_cast<const Byte*>(text.data());
  return encoding == Encoding::kO200kBase ? o200k_end(p, text.size(), begin)
                                           : cl100k_end(p, text.size(), begin);
}

CharClass char_class(char32_t cp) {
  return cp < 0x110000 ? static_cast<CharClass>(class_of(cp)) : CharClass::kOther;
}

}  // namespace quendra::tokens

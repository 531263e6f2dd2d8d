#include "engine/lexical.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/fields.h"
#include "unicode/unicode.h"

namespace quendra {

namespace {

// English filler and query-language words; never terms nor value tokens.
constexpr auto kStopWords = sorted_words(std::to_array<std::string_view>(
    {"a",     "an",      "the",    "of",     "in",     "on",     "at",
     "to",    "for",     "with",   "and",    "or",     "not",    "is",
     "are",   "by",      "from",   "as",     "be",     "me",     "my",
     "all",   "any",     "select", "where",  "order",  "asc",    "desc",
     "limit", "offset",  "like",   "null",   "true",   "false",  "between",
     "group", "having",  "distinct", "count", "query", "search", "find",
     "get",   "list",    "show",   "what",   "which",  "who",    "when",
     "how",   "that",    "this",   "it",     "user",   "http",   "https",
     "www",   "com"}));
static_assert(kStopWords.size() == 58);

constexpr std::string_view kOrderBy = "order by";
// The keywords that end an "order by" clause.
constexpr std::array<std::string_view, 4> kClauseEnds = {"limit", "offset",
                                                         "group by", "having"};

// Fuzzy matching only runs for tokens this long, against entries of at
// least kMinFuzzyEntryBytes.
constexpr std::size_t kMinFuzzyTokenBytes = 6;
constexpr std::size_t kMinFuzzyEntryBytes = 5;

// Stop words are at most 8 bytes, so each one packs into a 64-bit word (byte
// i in bits 8i to 8i+7) and a lookup is a binary search over integers.
constexpr std::size_t kMaxStopWordBytes = 8;

constexpr std::uint64_t pack(std::string_view word) {
  std::uint64_t packed = 0;
  for (std::size_t i = 0; i < word.size(); ++i) {
    packed |= std::uint64_t{static_cast<unsigned char>(word[i])} << (8 * i);
  }
  return packed;
}

constexpr auto kPackedStopWords = [] {
  std::array<std::uint64_t, kStopWords.size()> packed{};
  for (std::size_t i = 0; i < kStopWords.size(); ++i) {
    packed[i] = pack(kStopWords[i]);
  }
  std::sort(packed.begin(), packed.end());
  return packed;
}();

constexpr bool fits_packed() {
  for (std::string_view w : kStopWords) {
    if (w.empty() || w.size() > kMaxStopWordBytes) return false;
    for (char c : w) {
      if (c == '\0') return false;
    }
  }
  return true;
}
static_assert(fits_packed());

// For each length, the first bytes (as bits 0 to 25 for a to z) that start a
// stop word of that length: most words are told apart by this alone.
constexpr auto kStopWordStarts = [] {
  std::array<std::uint32_t, kMaxStopWordBytes + 1> starts{};
  for (std::string_view w : kStopWords) {
    starts[w.size()] |= std::uint32_t{1} << (w[0] - 'a');
  }
  return starts;
}();

constexpr bool starts_lowercase() {
  for (std::string_view w : kStopWords) {
    if (w.empty() || w[0] < 'a' || w[0] > 'z') return false;
  }
  return true;
}
static_assert(starts_lowercase());

bool is_stop_word(std::string_view word) {
  if (word.empty() || word.size() > kMaxStopWordBytes) return false;
  const char first = word[0];
  if (first < 'a' || first > 'z' ||
      !(kStopWordStarts[word.size()] & (std::uint32_t{1} << (first - 'a')))) {
    return false;
  }
  const std::uint64_t packed = pack(word);
  if (!std::binary_search(kPackedStopWords.begin(), kPackedStopWords.end(),
                          packed)) {
    return false;
  }
  // Stop words hold no NUL, so a packed stop word's length is the position
  // of its last non-zero byte; a word ending in NULs packs the same but is
  // longer.
  return word.size() == (static_cast<std::size_t>(std::bit_width(packed)) + 7) / 8;
}

// True when `text` has at least two characters (bytes that do not continue
// a UTF-8 sequence).
bool two_chars_or_more(std::string_view text) {
  if (text.size() < 2) return false;
  if (text.size() > 4) return true;  // a character has at most 4 bytes
  std::size_t chars = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
  }
  return chars >= 2;
}

// Hash of a token for TokenSet's table: 8 bytes at a time, multiplied and
// folded so that the low bits used as the slot depend on every byte.
std::size_t hash_token(std::string_view token) {
  constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  std::uint64_t h = token.size() * kMul;
  const char* p = token.data();
  std::size_t n = token.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kMul;
    h ^= h >> 32;
  }
  std::uint64_t tail = 0;
  for (std::size_t i = 0; i < n; ++i) {
    tail |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  h = (h ^ tail) * 0xFF51AFD7ED558CCDull;
  h ^= h >> 29;
  return static_cast<std::size_t>(h);
}

bool is_ascii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
}

void decode_all(std::string_view text, std::u32string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) out.push_back(unicode::decode(text, pos));
}

// True when `a` and `b` differ by at most one inserted, deleted or replaced
// element (character, or byte for ASCII texts).
template <typename View>
bool within_one_edit(View a, View b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.size() - b.size() > 1) return false;
  std::size_t i = 0;
  while (i < b.size() && a[i] == b[i]) ++i;
  if (i == b.size()) return true;  // equal, or one extra character at the end
  if (a.size() == b.size()) return a.substr(i + 1) == b.substr(i + 1);
  return a.substr(i + 1) == b.substr(i);
}

// A token of at least kMinFuzzyTokenBytes matched against entries within one
// edit. ASCII texts are compared byte for byte, anything else by characters.
class FuzzyToken {
 public:
  explicit FuzzyToken(std::string_view token)
      : token_(token), ascii_(is_ascii(token)) {}

  // True when `entry` has at least kMinFuzzyEntryBytes and is within one
  // inserted, deleted or replaced character of the token.
  bool near(std::string_view entry) {
    if (entry.size() < kMinFuzzyEntryBytes) return false;
    if (ascii_ && is_ascii(entry)) {
      return within_one_edit<std::string_view>(token_, entry);
    }
    if (chars_.empty()) decode_all(token_, chars_);
    const std::size_t count = unicode::count_chars(entry);
    if (count + 1 < chars_.size() || count > chars_.size() + 1) return false;
    decode_all(entry, entry_chars_);
    return within_one_edit<std::u32string_view>(chars_, entry_chars_);
  }

 private:
  std::string_view token_;
  bool ascii_;
  std::u32string chars_;        // the token's characters, once needed
  std::u32string entry_chars_;  // scratch for an entry's characters
};

// A lowercased copy of a text that remembers, for every byte, where the
// character that produced it starts in the original. Lowercasing may change
// a character's length, so positions found in the copy are mapped back
// through this table to the same characters of the original.
struct Lowered {
  std::string text;
  std::vector<std::size_t> origin;  // one per byte of `text`, plus the end

  explicit Lowered(std::string_view original) {
    text.reserve(original.size());
    origin.reserve(original.size() + 1);
    std::size_t pos = 0;
    while (pos < original.size()) {
      const std::size_t start = pos;
      const char32_t cp = unicode::decode(original, pos);
      if (cp < 0x80) {
        text.push_back(cp >= 'A' && cp <= 'Z' ? static_cast<char>(cp + 32)
                                              : static_cast<char>(cp));
      } else {
        unicode::append_lower(text, cp);
      }
      origin.resize(text.size(), start);
    }
    origin.push_back(original.size());
  }
};

// Adds the normalized informative words of `text` that `skip` (when given)
// does not hold to `set`, appending each new one to `ordered` (when given).
void collect_terms(std::string_view text, const TokenSet* skip, TokenSet& set,
                   std::vector<std::string>* ordered) {
  WordReader reader(text);
  std::string word;
  while (reader.next(word)) {
    if (!informative(word)) continue;
    const std::string_view term = norm(word);
    if (skip != nullptr && skip->contains(term)) continue;
    if (set.insert(term) && ordered != nullptr) ordered->emplace_back(term);
  }
}

}  // namespace

bool informative(std::string_view word) {
  if (!two_chars_or_more(word) || is_stop_word(word)) return false;
  const bool all_digits = std::all_of(word.begin(), word.end(), [](char c) {
    return c >= '0' && c <= '9';
  });
  return !all_digits || word.size() >= 4;
}

std::string_view norm(std::string_view word) {
  if (word.size() > 3 && word.ends_with('s') && !word.ends_with("ss")) {
    word.remove_suffix(1);
  }
  return word;
}

bool TokenSet::insert(std::string_view token) {
  return insert(token, hash_token(token));
}

void TokenSet::insert_all(const TokenSet& other) {
  for (std::size_t i = 0; i < other.items_.size(); ++i) {
    insert(other.items_[i], other.hashes_[i]);
  }
}

bool TokenSet::contains(std::string_view token) const {
  return contains(token, hash_token(token));
}

std::size_t TokenSet::hash(std::string_view token) { return hash_token(token); }

bool TokenSet::contains(std::string_view token, std::size_t hash) const {
  if (items_.empty()) return false;
  return slots_[probe(token, hash)] != 0;
}

void TokenSet::clear() {
  items_.clear();
  hashes_.clear();
  std::fill(slots_.begin(), slots_.end(), 0);
}

bool TokenSet::insert(std::string_view token, std::size_t hash) {
  // At most half full, so probes stay short and always end at a free slot.
  if (2 * (items_.size() + 1) > slots_.size()) grow();
  const std::size_t slot = probe(token, hash);
  if (slots_[slot] != 0) return false;
  items_.emplace_back(token);
  hashes_.push_back(hash);
  slots_[slot] = static_cast<std::uint32_t>(items_.size());
  return true;
}

std::size_t TokenSet::probe(std::string_view token, std::size_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t at = slots_[slot];
    if (at == 0) return slot;
    if (hashes_[at - 1] == hash && items_[at - 1] == token) return slot;
  }
}

void TokenSet::grow() {
  constexpr std::size_t kFirstSlots = 16;
  slots_.assign(slots_.empty() ? kFirstSlots : 2 * slots_.size(), 0);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    std::size_t slot = hashes_[i] & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = static_cast<std::uint32_t>(i + 1);
  }
}

void value_tokens(std::string_view text, TokenSet& set) {
  WordReader reader(text);
  std::string word;
  while (set.size() < kMaxValueTokens && reader.next(word)) {
    if (informative(word)) set.insert(norm(word));
  }
}

bool token_hit(std::string_view token, const TokenSet& set) {
  if (set.empty()) return false;
  if (set.contains(token)) return true;
  if (token.size() < kMinFuzzyTokenBytes) return false;
  FuzzyToken fuzzy(token);
  for (const std::string& entry : set) {
    if (fuzzy.near(entry)) return true;
  }
  return false;
}

std::optional<Query> Query::from_text(std::string_view text) {
  std::string main_text;
  std::string_view clause;
  const Lowered lowered(text);
  const std::size_t found = lowered.text.find(kOrderBy);
  if (found == std::string::npos) {
    main_text = text;
  } else {
    const std::size_t after = found + kOrderBy.size();
    std::size_t end = std::string::npos;
    for (std::string_view keyword : kClauseEnds) {
      end = std::min(end, lowered.text.find(keyword, after));
    }
    const std::size_t clause_begin = lowered.origin[after];
    const std::size_t clause_end =
        end == std::string::npos ? text.size() : lowered.origin[end];
    clause = text.substr(clause_begin, clause_end - clause_begin);
    main_text = text.substr(0, lowered.origin[found]);
    main_text += ' ';
    main_text += text.substr(clause_end);
  }

  Query query;
  collect_terms(main_text, nullptr, query.terms, &query.tokens);
  collect_terms(clause, &query.terms, query.order_terms, nullptr);
  if (query.tokens.empty() && query.order_terms.empty()) return std::nullopt;
  return query;
}

double Query::name_match(std::span<const std::string> key_words,
                         std::span<const std::string> context_words) const {
  if (key_words.empty()) return 0;
  double sum = 0;
  for (const std::string& word : key_words) {
    const std::string_view w = norm(word);
    if (terms.contains(w)) {
      sum += 1.0;
    } else if (order_terms.contains(w)) {
      sum += 0.35;
    }
  }
  if (sum == 0) return 0;
  const double avg = sum / static_cast<double>(key_words.size());
  if (avg >= 1) return 1;
  const bool in_context = std::any_of(
      context_words.begin(), context_words.end(),
      [this](const std::string& w) { return terms.contains(norm(w)); });
  return in_context ? 0.5 + 0.5 * avg : 0.5 * avg;
}

std::size_t Query::hit_count(const TokenSet& set) const {
  return static_cast<std::size_t>(
      std::count_if(tokens.begin(), tokens.end(),
                    [&set](const std::string& t) { return token_hit(t, set); }));
}

bool Query::any_hit(const TokenSet& set) const {
  return std::any_of(tokens.begin(), tokens.end(),
                     [&set](const std::string& t) { return token_hit(t, set); });
}

bool Query::hits_value(std::string_view text, TokenSet* cell,
                       TokenSet& scratch) const {
  // A value with fewer informative words than kMaxValueTokens never reaches
  // value_tokens' cap, so its words can be matched and added as they come,
  // without the value's own set. A longer value takes the general way.
  std::size_t fuzzy_from = tokens.size();  // first token long enough to fuzz
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].size() >= kMinFuzzyTokenBytes) {
      fuzzy_from = i;
      break;
    }
  }
  std::vector<FuzzyToken> fuzzy;
  WordReader reader(text);
  std::string word;
  std::size_t count = 0;
  bool hit = false;
  while (reader.next(word)) {
    if (!informative(word)) continue;
    if (++count >= kMaxValueTokens) {
      scratch.clear();
      value_tokens(text, scratch);
      if (cell != nullptr) cell->insert_all(scratch);
      return any_hit(scratch);
    }
    const std::string_view term = norm(word);
    const std::size_t hash = TokenSet::hash(term);
    if (!hit) {
      hit = terms.contains(term, hash);
      if (!hit && term.size() >= kMinFuzzyEntryBytes && fuzzy_from < tokens.size()) {
        if (fuzzy.empty()) {
          for (std::size_t i = fuzzy_from; i < tokens.size(); ++i) {
            if (tokens[i].size() >= kMinFuzzyTokenBytes) fuzzy.emplace_back(tokens[i]);
          }
        }
        for (FuzzyToken& f : fuzzy) {
          if (f.near(term)) {
            hit = true;
            break;
          }
        }
      }
    }
    if (cell != nullptr) {
      cell->insert(term, hash);
    } else if (hit) {
      return true;
    }
  }
  return hit;
}

double Query::value_relevance(std::size_t hits) const {
  if (hits == 0 || tokens.empty()) return 0;
  return 0.5 + 0.5 * static_cast<double>(hits) /
                   static_cast<double>(tokens.size());
}

}  // namespace quendra

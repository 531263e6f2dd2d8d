// Query relevance: turns the request's free query text into normalized search
// terms (separating the terms of an "order by" clause), tokenizes values and
// matches value tokens against terms with an edit distance of at most one.
#ifndef QUENDRA_ENGINE_LEXICAL_H_
#define QUENDRA_ENGINE_LEXICAL_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quendra {

// The most tokens value_tokens() collects into one set.
inline constexpr std::size_t kMaxValueTokens = 256;

// True when `word` has at least 2 characters, is not a stop word, and either
// holds a character other than an ASCII digit or is a number of at least 4
// digits.
bool informative(std::string_view word);

// `word` without its final "s" when it is longer than 3 bytes and ends in "s"
// but not "ss"; otherwise `word` itself. The result views `word`'s storage.
std::string_view norm(std::string_view word);

// A set of tokens: an open-addressing hash table of indices into the entry
// list, so that membership is one hash and a probe or two, and clearing keeps
// the storage for the next use.
class TokenSet {
 public:
  // Adds `token`; true when it was not present yet.
  bool insert(std::string_view token);
  // Adds every token of `other`.
  void insert_all(const TokenSet& other);
  bool contains(std::string_view token) const;

  // The hash the set files `token` under, and the two operations above for
  // a token whose hash is known, so that one hash serves several sets.
  static std::size_t hash(std::string_view token);
  bool insert(std::string_view token, std::size_t hash);
  bool contains(std::string_view token, std::size_t hash) const;

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  // Removes every entry, keeping the storage.
  void clear();
  // Entries in insertion order.
  std::vector<std::string>::const_iterator begin() const {
    return items_.begin();
  }
  std::vector<std::string>::const_iterator end() const { return items_.end(); }

 private:
  // The slot holding `token`, or the empty slot where it would go.
  // REQUIRES: slots_ is not empty.
  std::size_t probe(std::string_view token, std::size_t hash) const;
  // Doubles the table (or makes the first one) and places every entry again.
  void grow();

  std::vector<std::string> items_;   // entries, insertion order
  std::vector<std::size_t> hashes_;  // hash of each entry
  // Power-of-two table: 0 is free, i + 1 refers to items_[i].
  std::vector<std::uint32_t> slots_;
};

// Adds the normalized informative words of `text` to `set`, stopping as soon
// as the set holds more than 255 entries (so a set filled only by this holds
// at most kMaxValueTokens). Callers pass the text of numbers and strings.
// REQUIRES: `text` is valid UTF-8.
void value_tokens(std::string_view text, TokenSet& set);

// True when `set` holds `token`, or, for a token of at least 6 bytes, an entry
// of at least 5 bytes within one inserted, deleted or replaced character of
// it. False for an empty set.
bool token_hit(std::string_view token, const TokenSet& set);

// The search terms of one request.
struct Query {
  std::vector<std::string> tokens;  // distinct terms, in order of occurrence
  TokenSet terms;                   // the same terms as a set
  TokenSet order_terms;  // terms of the "order by" clause not in `terms`

  // Builds the query of the request's query text (Options::arguments): the
  // main text gives `tokens` and `terms`, an "order by" clause (up to
  // "limit", "offset", "group by" or "having") gives `order_terms`. Absent
  // when the text has no informative word. The caller decides when a request
  // has a query at all (no arguments text, or a second condensing pass).
  // REQUIRES: `text` is valid UTF-8.
  static std::optional<Query> from_text(std::string_view text);

  // Relevance in [0, 1] of a key whose words are `key_words`: the average of
  // 1.0 per word in `terms` and 0.35 per word in `order_terms` (normalized);
  // 1 when every word is a term; otherwise 0.5 + half the average when a
  // normalized `context_words` entry is a term, else half the average.
  // 0 without key words or without any matching word.
  double name_match(std::span<const std::string> key_words,
                    std::span<const std::string> context_words = {}) const;

  // Number of `tokens` that hit `set` (token_hit).
  std::size_t hit_count(const TokenSet& set) const;
  // True when some entry of `tokens` hits `set`, trying them in order.
  bool any_hit(const TokenSet& set) const;
  // For one value of a column, in one pass over `text`: whether some entry
  // of `tokens` hits the value's tokens, and, when `cell` is given, those
  // tokens added to `cell`. The same as any_hit and TokenSet::insert_all on
  // the set value_tokens(text) fills. `scratch` is working storage.
  // REQUIRES: `text` is valid UTF-8.
  bool hits_value(std::string_view text, TokenSet* cell,
                  TokenSet& scratch) const;
  // Value relevance for `hits` hitting tokens: 0.5 + 0.5 * hits / tokens
  // when hits > 0, else 0.
  double value_relevance(std::size_t hits) const;
};

}  // namespace quendra

#endif  // QUENDRA_ENGINE_LEXICAL_H_

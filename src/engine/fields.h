// Field scorers: how important a field (one key of an object, or one column
// of an array of records) is, whether its values may be shortened and what
// role it plays. The heuristic scorer reads the words of the key name against
// fixed vocabularies and corrects that by value statistics and query relevance.
#ifndef QUENDRA_ENGINE_FIELDS_H_
#define QUENDRA_ENGINE_FIELDS_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "document/options.h"
#include "document/value.h"

namespace quendra {

// A word list written in a readable order and sorted at compile time, so
// that membership is a binary search (std::binary_search over the result).
template <std::size_t N>
consteval std::array<std::string_view, N> sorted_words(
    std::array<std::string_view, N> words) {
  std::sort(words.begin(), words.end());
  return words;
}

// Splits `text` into non-empty lowercase words: runs of alphanumeric
// characters (Unicode Alphabetic or Numeric), split again before an uppercase
// character that follows a lowercase or numeric one ("firstName" -> first,
// name; "XMLParser" -> xmlparser; "item2Name" -> item2, name; "$ref" -> ref).
// Each character is added in its full lowercase form.
// REQUIRES: `text` is valid UTF-8.
std::vector<std::string> words(std::string_view text);

// Like words(), appending to `out` (which is not cleared).
void append_words(std::string_view text, std::vector<std::string>& out);

// Reads the words of a text one at a time, as words() splits them, so that a
// caller can stop early and reuse one buffer.
// REQUIRES: the viewed text is valid UTF-8 and outlives the reader.
class WordReader {
 public:
  explicit WordReader(std::string_view text) : text_(text) {}

  // Replaces `word` with the next word; false (leaving `word` empty) when
  // no word is left.
  bool next(std::string& word);

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  bool after_lower_ = false;  // previous character was lowercase or numeric
};

// The fixed word lists the scorers look key words up in.
enum class Vocabulary : std::uint8_t {
  Identifier,
  Title,
  Name,
  State,
  Contact,
  Prose,
  People,
  Measure,
  Link,
  Time,
  Noise,
  Image,
  Structural,
  Wrapper,
  NameQualifier,
};

// The vocabularies that hold `word`, byte for byte: bit v for Vocabulary v.
std::uint16_t vocabularies_of(std::string_view word);

// True when `word` is, byte for byte, an entry of `table`.
bool in_vocabulary(std::string_view word, Vocabulary table);

// True when some word of `words` is an entry of `table`.
bool any(std::span<const std::string> words, Vocabulary table);

// Result of a tier lookup: whether a tier matched and its prior.
struct TierMatch {
  bool matched = false;
  double prior = 0.55;
};

// Tries the tiers identifier (0.98), title (0.95), name (0.9), state (0.85),
// contact (0.75), prose (0.7), people (0.65), measure (0.6), link (0.6) and
// time (0.55) in that order; the first that contains any of `words` gives
// {true, prior}. No match, or no words, gives {false, 0.55}.
TierMatch tier_of(std::span<const std::string> words);

// Value classification used to fill FieldProfile::numeric, date_like and
// id_like.
//
// A string that, after one optional leading "-", is non-empty, holds only
// ASCII digits and ".", at least one digit and at most one ".".
bool looks_numeric(std::string_view text);
// At least 10 bytes, the first ten being DDDD-DD-DD with ASCII digits.
bool looks_date(std::string_view text);
// At least 8 bytes, no space, tab, LF, FF or CR, and either at least 12 bytes
// with an ASCII digit, uppercase and lowercase letter, or only 0-9, a-f, A-F,
// "_" and "-" with at least one digit.
bool looks_id(std::string_view text);

// The flags of one single value (a key of one object): numeric for a number
// or a numeric-looking string; date_like and id_like for strings only.
struct ValueTraits {
  bool numeric = false;
  bool date_like = false;
  bool id_like = false;
};
ValueTraits classify(const Value& value);

// What the heuristic scorer reads from a field's key path, worked out once
// for all of its questions about the field.
struct KeyFacts {
  std::vector<std::string> words;  // of the key (see name_prior)
  std::uint16_t tables = 0;        // vocabularies of any of those words
  bool joined_noise = false;       // the words joined are a noise word
  bool under_noise = false;        // a segment above the key has a noise word
  bool internal = false;           // a segment is internal ("_links")
  bool named_parent = false;       // a segment above the key names something
  bool state = false;              // the last segment has a state word
  std::string group;               // the role of a field under named segments
  TierMatch tier;                  // the tier the key's words match
};

// The facts of the key path `path` (the key last).
KeyFacts key_facts(std::span<const std::string_view> path);

// Describes one field to a scorer: one key of one object (rows = present = 1)
// or one column across the records of an array. Borrowed for one call.
struct FieldProfile {
  std::uint64_t nulls = 0;    // values that are null
  std::uint64_t bools = 0;    // values that are booleans
  std::uint64_t numbers = 0;  // values that are numbers
  std::uint64_t strings = 0;  // values that are strings
  std::uint64_t arrays = 0;   // values that are arrays
  std::uint64_t objects = 0;  // values that are objects
  // Key path of the field, the key itself last: the single key for one
  // member of an object (e.g. std::span(&key, 1)), the column's path
  // inside the record for a column. Must outlive the scorer call.
  std::span<const std::string_view> path;
  std::uint64_t rows = 0;      // records considered; 1 for a single object
  std::uint64_t present = 0;   // records that have the key
  std::uint64_t empty = 0;     // null, "", [] or {} values
  std::uint64_t distinct = 0;  // distinct scalar values
  std::uint64_t scalars = 0;   // null, boolean, number and string values
  double relevance = 0;        // max(name_relevance, value_relevance)
  double name_relevance = 0;   // query relevance of the key name
  double value_relevance = 0;  // query relevance of the values
  double hit_rate = 0;         // fraction of values some query token hits
  double avg_size = 0;         // average rendered size of the values
  double position = 0;         // average 0-based position among the keys
  bool constant = false;       // all values are equal scalars
  bool numeric = false;        // every value is numeric-looking
  bool date_like = false;      // every value is date-like
  bool id_like = false;        // the values look like opaque identifiers
  // key_facts(path), when the caller has them; else the scorer works them
  // out.
  const KeyFacts* facts = nullptr;
};

// Prior importance of a field judged by its key path, and whether that
// judgement is decisive (a tier matched, or the values are dates).
struct NamePrior {
  double prior = 0.5;
  bool decisive = false;
};
NamePrior name_prior(const FieldProfile& profile);

// The scorer interface. Implementations are stateless and may be shared.
class FieldScorer {
 public:
  virtual ~FieldScorer() = default;

  // Its entry of kScorerNames.
  virtual std::string_view name() const = 0;
  // Importance in [0, 1]; higher keeps first.
  virtual double score(const FieldProfile& profile) const = 0;
  // True when the field's values must not be shortened.
  virtual bool exact(const FieldProfile& profile) const = 0;
  // "identity", "title", "time", "link" or "group:" followed by the
  // "/"-joined named parent segments; absent when no role applies.
  virtual std::optional<std::string> role(
      const FieldProfile& profile) const = 0;
};

// Judges a field by the words of its key, its value statistics and its
// query relevance.
class HeuristicScorer final : public FieldScorer {
 public:
  std::string_view name() const override {
    return kScorerNames[static_cast<std::size_t>(ScorerKind::Heuristic)];
  }
  double score(const FieldProfile& profile) const override;
  bool exact(const FieldProfile& profile) const override;
  std::optional<std::string> role(const FieldProfile& profile) const override;
};

// Shared by the scorers that never pin values and assign no roles: exact()
// is always false and role() always absent.
class PlainScorer : public FieldScorer {
 public:
  bool exact(const FieldProfile& profile) const final;
  std::optional<std::string> role(const FieldProfile& profile) const final;
};

// Prefers small fields: 1 / (1 + avg_size / 40), a tenth of that for
// constant or all-empty fields.
class CompactScorer final : public PlainScorer {
 public:
  std::string_view name() const override {
    return kScorerNames[static_cast<std::size_t>(ScorerKind::Compact)];
  }
  double score(const FieldProfile& profile) const override;
};

// Prefers early keys: 1 / (1 + position).
class KeyOrderScorer final : public PlainScorer {
 public:
  std::string_view name() const override {
    return kScorerNames[static_cast<std::size_t>(ScorerKind::KeyOrder)];
  }
  double score(const FieldProfile& profile) const override;
};

// The program-wide immutable scorer of `kind`.
const FieldScorer& scorer_for(ScorerKind kind);

}  // namespace quendra

#endif  // QUENDRA_ENGINE_FIELDS_H_

#include "lexical.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "fields.h"
#include "unicode.h"

namespace quendra {

namespace {

template <std::size_t N>
consteval std::array<std::string_view, N> sorted(
    std::array<std::string_view, N> words) {
  std::sort(words.begin(), words.end());
  return words;
}

// English filler and query-language words; never terms nor value tokens.
constexpr auto kStopWords = sorted(std::to_array<std::string_view>(
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

bool is_stop_word(std::string_view word) {
  return std::binary_search(kStopWords.begin(), kStopWords.end(), word);
}

bool less(const std::string& a, std::string_view b) {
  return std::string_view(a) < b;
}

void decode_all(std::string_view text, std::u32string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < text.size()) out.push_back(unicode::decode(text, pos));
}

// True when `a` and `b` differ by at most one inserted, deleted or replaced
// character.
bool within_one_edit(std::u32string_view a, std::u32string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  if (a.size() - b.size() > 1) return false;
  std::size_t i = 0;
  while (i < b.size() && a[i] == b[i]) ++i;
  if (i == b.size()) return true;  // equal, or one extra character at the end
  if (a.size() == b.size()) return a.substr(i + 1) == b.substr(i + 1);
  return a.substr(i + 1) == b.substr(i);
}

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
  if (unicode::count_chars(word) < 2 || is_stop_word(word)) return false;
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
  const auto it = std::lower_bound(items_.begin(), items_.end(), token, less);
  if (it != items_.end() && *it == token) return false;
  items_.emplace(it, token);
  return true;
}

void TokenSet::insert_all(const TokenSet& other) {
  std::vector<std::string> merged;
  merged.reserve(items_.size() + other.items_.size());
  std::set_union(items_.begin(), items_.end(), other.items_.begin(),
                 other.items_.end(), std::back_inserter(merged));
  items_ = std::move(merged);
}

bool TokenSet::contains(std::string_view token) const {
  const auto it = std::lower_bound(items_.begin(), items_.end(), token, less);
  return it != items_.end() && *it == token;
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
  std::u32string wanted;
  decode_all(token, wanted);
  std::u32string entry_chars;
  for (const std::string& entry : set) {
    if (entry.size() < kMinFuzzyEntryBytes) continue;
    const std::size_t chars = unicode::count_chars(entry);
    if (chars + 1 < wanted.size() || chars > wanted.size() + 1) continue;
    decode_all(entry, entry_chars);
    if (within_one_edit(wanted, entry_chars)) return true;
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

double Query::value_relevance(std::size_t hits) const {
  if (hits == 0 || tokens.empty()) return 0;
  return 0.5 + 0.5 * static_cast<double>(hits) /
                   static_cast<double>(tokens.size());
}

}  // namespace quendra

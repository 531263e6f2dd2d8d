#include "engine/fields.h"

#include <algorithm>
#include <array>

#include "unicode/unicode.h"

namespace quendra {

namespace {

constexpr auto kIdentifierWords = sorted_words(std::to_array<std::string_view>(
    {"id", "pk", "ari", "arn", "urn", "gid", "sha", "oid", "key", "ref", "sku",
     "uuid", "guid", "slug", "number", "handle", "identifier"}));
constexpr auto kTitleWords = sorted_words(std::to_array<std::string_view>(
    {"title", "summary", "subject", "headline", "heading", "caption"}));
constexpr auto kNameWords = sorted_words(std::to_array<std::string_view>(
    {"firstname", "lastname", "givenname", "familyname", "surname",
     "nickname", "name", "label", "displayname", "fullname", "username",
     "login", "text"}));
constexpr auto kStateWords = sorted_words(std::to_array<std::string_view>(
    {"completed", "done",       "active",   "archived",     "enabled",
     "verified",  "paid",       "phase",    "health",       "condition",
     "conditions", "availability", "verdict", "status",     "state",
     "type",      "kind",       "category", "resolution",   "priority",
     "severity",  "level",      "error",    "errors",       "code",
     "result",    "success",    "ok",       "reason",       "role",
     "stage",     "outcome"}));
constexpr auto kContactWords = sorted_words(std::to_array<std::string_view>(
    {"email", "phone", "mobile", "telephone", "address"}));
constexpr auto kProseWords = sorted_words(std::to_array<std::string_view>(
    {"description", "body", "content", "abstract", "snippet", "excerpt",
     "comment", "note", "details", "message", "overview", "bio", "value"}));
constexpr auto kPeopleWords = sorted_words(std::to_array<std::string_view>(
    {"author", "creator", "assignee", "reporter", "owner", "user", "by",
     "sender", "from", "lastmodifiedby", "createdby"}));
constexpr auto kMeasureWords = sorted_words(std::to_array<std::string_view>(
    {"points", "comments", "replies", "downloads", "followers", "forks",
     "watchers", "upvotes", "count", "total", "score", "rank", "size",
     "length", "stars", "votes", "likes", "views", "price", "amount",
     "quantity", "rating", "relevance", "distance"}));
constexpr auto kLinkWords = sorted_words(std::to_array<std::string_view>(
    {"url", "uri", "link", "href", "permalink", "webui", "web"}));
constexpr auto kTimeWords = sorted_words(std::to_array<std::string_view>(
    {"ts", "created", "updated", "modified", "date", "time", "timestamp", "at",
     "due", "start", "end", "published", "when", "deadline", "resolved"}));
constexpr auto kNoiseWords = sorted_words(std::to_array<std::string_view>(
    {"etag",      "hash",      "checksum",  "schema",         "revision",
     "rev",       "expand",    "expandable", "self",          "avatar",
     "avatars",   "icon",      "thumbnail", "image",          "images",
     "logo",      "picture",   "color",     "colour",         "links",
     "typename",  "embedded",  "context",   "tinyui",         "base",
     "profilepicture", "avatarurls", "iconurl"}));
constexpr auto kImageWords = sorted_words(std::to_array<std::string_view>(
    {"icon", "logo", "self", "image", "avatar", "picture", "thumbnail"}));
constexpr auto kStructuralWords = sorted_words(std::to_array<std::string_view>(
    {"meta", "flags", "config", "history", "version", "metadata", "settings",
     "versions", "extensions", "operations", "visibility", "properties",
     "attributes", "permissions", "customfield", "restrictions"}));
constexpr auto kWrapperWords = sorted_words(std::to_array<std::string_view>(
    {"doc", "data", "node", "item", "object", "source", "fields", "entity",
     "record", "content", "resource", "embedded", "document", "properties",
     "attributes"}));
constexpr auto kNameQualifiers = sorted_words(std::to_array<std::string_view>(
    {"sur", "first", "given", "short", "login", "family", "display", "full",
     "last", "user", "nick"}));

static_assert(kIdentifierWords.size() == 17 && kTitleWords.size() == 6 &&
              kNameWords.size() == 13 && kStateWords.size() == 32 &&
              kContactWords.size() == 5 && kProseWords.size() == 13 &&
              kPeopleWords.size() == 11 && kMeasureWords.size() == 24 &&
              kLinkWords.size() == 7 && kTimeWords.size() == 15 &&
              kNoiseWords.size() == 28 && kImageWords.size() == 7 &&
              kStructuralWords.size() == 16 && kWrapperWords.size() == 15 &&
              kNameQualifiers.size() == 11);

// Indexed by Vocabulary.
constexpr std::array<std::span<const std::string_view>, 15> kTables = {
    kIdentifierWords, kTitleWords,   kNameWords,       kStateWords,
    kContactWords,    kProseWords,   kPeopleWords,     kMeasureWords,
    kLinkWords,       kTimeWords,    kNoiseWords,      kImageWords,
    kStructuralWords, kWrapperWords, kNameQualifiers};

// Every vocabulary word once, sorted, with the vocabularies it is in as
// bits (bit v for Vocabulary v), so that one search answers for all of them.
struct VocabularyWord {
  std::string_view word;
  std::uint16_t tables = 0;
};
constexpr std::size_t kAllWords = [] {
  std::size_t n = 0;
  for (std::span<const std::string_view> table : kTables) n += table.size();
  return n;
}();
struct MergedVocabulary {
  std::array<VocabularyWord, kAllWords> words{};
  std::size_t size = 0;
};
constexpr MergedVocabulary kMerged = [] {
  std::array<VocabularyWord, kAllWords> all{};
  std::size_t n = 0;
  for (std::size_t t = 0; t < kTables.size(); ++t) {
    for (std::string_view w : kTables[t]) all[n++] = {w, static_cast<std::uint16_t>(1u << t)};
  }
  std::sort(all.begin(), all.end(),
            [](const VocabularyWord& a, const VocabularyWord& b) { return a.word < b.word; });
  MergedVocabulary merged;
  for (const VocabularyWord& w : all) {
    if (merged.size > 0 && merged.words[merged.size - 1].word == w.word) {
      merged.words[merged.size - 1].tables |= w.tables;
    } else {
      merged.words[merged.size++] = w;
    }
  }
  return merged;
}();

constexpr std::uint16_t bit(Vocabulary table) {
  return static_cast<std::uint16_t>(1u << static_cast<unsigned>(table));
}

struct Tier {
  Vocabulary table;
  double prior;
};

// Tried in this order; the first tier holding a word decides.
constexpr std::array<Tier, 10> kTiers = {{{Vocabulary::Identifier, 0.98},
                                          {Vocabulary::Title, 0.95},
                                          {Vocabulary::Name, 0.9},
                                          {Vocabulary::State, 0.85},
                                          {Vocabulary::Contact, 0.75},
                                          {Vocabulary::Prose, 0.7},
                                          {Vocabulary::People, 0.65},
                                          {Vocabulary::Measure, 0.6},
                                          {Vocabulary::Link, 0.6},
                                          {Vocabulary::Time, 0.55}}};

constexpr double kUnmatchedPrior = 0.55;
constexpr double kInternalPrior = 0.08;
constexpr double kNoisePrior = 0.1;
constexpr double kStructurePrior = 0.25;

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_ascii_lower(char c) { return c >= 'a' && c <= 'z'; }

// Most keys are ASCII, so the character classes are answered locally there
// and the Unicode tables are read only for the rest.
bool is_alnum(char32_t cp) {
  if (cp < 0x80) {
    const char c = static_cast<char>(cp);
    return is_ascii_digit(c) || is_ascii_upper(c) || is_ascii_lower(c);
  }
  return unicode::is_alphabetic(cp) || unicode::is_numeric(cp);
}

// Whether an uppercase `cp` after a lowercase or numeric character starts a
// new word. Outside ASCII the split is limited to U+00C0..U+1F3FF.
bool starts_word(char32_t cp) {
  if (cp < 0x80) return is_ascii_upper(static_cast<char>(cp));
  return cp >= 192 && cp <= 127999 && unicode::is_uppercase(cp);
}

// What looks_id asks of each byte, as bits: identifiers are told by the
// classes their bytes fall in, so a text is classified in one pass of table
// lookups.
constexpr unsigned char kIdSpace = 1;   // space, tab, LF, FF or CR
constexpr unsigned char kIdDigit = 2;   // 0-9
constexpr unsigned char kIdUpper = 4;   // A-Z
constexpr unsigned char kIdLower = 8;   // a-z
constexpr unsigned char kIdNotHex = 16;  // not 0-9, a-f, A-F, "_" or "-"
constexpr std::array<unsigned char, 256> kIdClass = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    unsigned char bits = 0;
    if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\f' || ch == '\r') {
      bits |= kIdSpace;
    }
    if (is_ascii_digit(ch)) bits |= kIdDigit;
    if (is_ascii_upper(ch)) bits |= kIdUpper;
    if (is_ascii_lower(ch)) bits |= kIdLower;
    const bool hex = is_ascii_digit(ch) || (ch >= 'a' && ch <= 'f') ||
                     (ch >= 'A' && ch <= 'F') || ch == '_' || ch == '-';
    if (!hex) bits |= kIdNotHex;
    table[c] = bits;
  }
  return table;
}();

// Word classes of the ASCII characters, so that the common case of word
// splitting needs neither decoding nor a class lookup per character. Bytes
// from 0x80 up are kOther here; the splitter decodes them instead.
constexpr unsigned char kOther = 0;
constexpr unsigned char kLowerOrDigit = 1;
constexpr unsigned char kUpper = 2;
constexpr std::array<unsigned char, 256> kAsciiClass = [] {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 128; ++c) {
    const char ch = static_cast<char>(c);
    if (is_ascii_lower(ch) || is_ascii_digit(ch)) table[c] = kLowerOrDigit;
    if (is_ascii_upper(ch)) table[c] = kUpper;
  }
  return table;
}();

bool lower_or_numeric(char32_t cp) {
  if (cp < 0x80) {
    const char c = static_cast<char>(cp);
    return is_ascii_lower(c) || is_ascii_digit(c);
  }
  return unicode::is_lowercase(cp) || unicode::is_numeric(cp);
}

void append_lower(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    const char c = static_cast<char>(cp);
    out.push_back(is_ascii_upper(c) ? static_cast<char>(c - 'A' + 'a') : c);
  } else {
    unicode::append_lower(out, cp);
  }
}

// The first tier whose bit is in `tables`.
TierMatch tier_of_tables(std::uint16_t tables) {
  for (const Tier& tier : kTiers) {
    if (tables & bit(tier.table)) return {true, tier.prior};
  }
  return {false, kUnmatchedPrior};
}

TierMatch tier_of_word(std::string_view word) { return tier_of_tables(vocabularies_of(word)); }

// The segments name_prior, exact and role look at, and the key among them:
// the whole path, less a trailing "$..." segment when there is a parent.
struct KeyChoice {
  std::span<const std::string_view> considered;
  std::string_view key;
};

KeyChoice choose_key(std::span<const std::string_view> path) {
  if (path.empty()) return {};
  std::span<const std::string_view> considered = path;
  if (path.size() >= 2 && !path.back().empty() && path.back()[0] == '$') {
    considered = path.first(path.size() - 1);
  }
  return {considered, considered.back()};
}

// A segment names something when it has a word that is not a wrapper word.
bool is_named(std::string_view segment, std::string& word) {
  WordReader reader(segment);
  while (reader.next(word)) {
    if (!in_vocabulary(word, Vocabulary::Wrapper)) return true;
  }
  return false;
}

bool is_internal(std::string_view segment) {
  if (segment.empty()) return true;
  return segment[0] == '_' && segment != "_embedded" && segment != "_source" &&
         segment != "_id";
}

std::string join_words(std::span<const std::string> kw) {
  std::string joined;
  for (const std::string& w : kw) joined += w;
  return joined;
}

// The longest word of at least 4 bytes from the title to the time
// vocabularies that `joined` ends with; empty when there is none.
std::string_view longest_suffix_word(std::string_view joined) {
  std::string_view best;
  for (std::size_t t = 1; t < kTiers.size(); ++t) {
    for (std::string_view w : kTables[static_cast<std::size_t>(kTiers[t].table)]) {
      if (w.size() >= 4 && w.size() > best.size() && joined.ends_with(w)) {
        best = w;
      }
    }
  }
  return best;
}

// The tier stage of name_prior for a key with words `kw` (in the
// vocabularies `tables`, the last of them in `last_tables`), when it
// matches.
TierMatch tier_stage(std::span<const std::string> kw, std::uint16_t tables,
                     std::uint16_t last_tables, std::string_view joined) {
  if (!kw.empty()) {
    const std::string& last = kw.back();
    TierMatch m = tier_of_tables(last_tables);
    if (m.matched) {
      if (kw.size() >= 2 && (last_tables & bit(Vocabulary::Name))) {
        if (last == "login") {
          m.prior = 0.55;
        } else {
          const bool qualified = std::all_of(
              kw.begin(), kw.end() - 1, [](const std::string& w) {
                return in_vocabulary(w, Vocabulary::NameQualifier);
              });
          if (!qualified) m.prior = std::min(m.prior, 0.78);
        }
      }
      return m;
    }
    m = tier_of_tables(tables);
    if (m.matched) return m;
    if (kw.size() == 1 && joined.size() >= 6) {
      const std::string_view suffix = longest_suffix_word(joined);
      if (!suffix.empty()) return tier_of_word(suffix);
    }
  }
  return {false, kUnmatchedPrior};
}

}  // namespace

bool WordReader::next(std::string& word) {
  word.clear();
  const char* const data = text_.data();
  const std::size_t size = text_.size();
  while (pos_ < size) {
    const auto byte = static_cast<unsigned char>(data[pos_]);
    if (byte < 0x80) {
      // ASCII, answered from the table without decoding.
      const unsigned char cls = kAsciiClass[byte];
      if (cls == kOther) {
        ++pos_;
        after_lower_ = false;
        if (!word.empty()) return true;
        continue;
      }
      if (cls == kUpper) {
        if (after_lower_ && !word.empty()) {
          after_lower_ = false;
          return true;
        }
        word.push_back(static_cast<char>(byte - 'A' + 'a'));
        ++pos_;
        after_lower_ = false;
        continue;
      }
      // A run of lowercase letters and digits is copied as it is.
      const std::size_t run = pos_;
      do {
        ++pos_;
      } while (pos_ < size &&
               kAsciiClass[static_cast<unsigned char>(data[pos_])] == kLowerOrDigit);
      word.append(data + run, pos_ - run);
      after_lower_ = true;
      continue;
    }
    const std::size_t start = pos_;
    const char32_t cp = unicode::decode(text_, pos_);
    if (!is_alnum(cp)) {
      after_lower_ = false;
      if (!word.empty()) return true;
      continue;
    }
    if (after_lower_ && starts_word(cp) && !word.empty()) {
      // Leave the character for the next word; clearing the flag keeps it
      // from splitting again when it is read once more.
      pos_ = start;
      after_lower_ = false;
      return true;
    }
    append_lower(word, cp);
    after_lower_ = lower_or_numeric(cp);
  }
  return !word.empty();
}

void append_words(std::string_view text, std::vector<std::string>& out) {
  WordReader reader(text);
  std::string word;
  while (reader.next(word)) out.push_back(word);
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  append_words(text, out);
  return out;
}

std::uint16_t vocabularies_of(std::string_view word) {
  const VocabularyWord* begin = kMerged.words.data();
  const VocabularyWord* end = begin + kMerged.size;
  const VocabularyWord* found = std::lower_bound(
      begin, end, word, [](const VocabularyWord& w, std::string_view x) { return w.word < x; });
  return found != end && found->word == word ? found->tables : 0;
}

bool in_vocabulary(std::string_view word, Vocabulary table) {
  return (vocabularies_of(word) & bit(table)) != 0;
}

bool any(std::span<const std::string> words, Vocabulary table) {
  return std::any_of(words.begin(), words.end(), [table](const std::string& w) {
    return in_vocabulary(w, table);
  });
}

TierMatch tier_of(std::span<const std::string> words) {
  std::uint16_t tables = 0;
  for (const std::string& w : words) tables |= vocabularies_of(w);
  return tier_of_tables(tables);
}

KeyFacts key_facts(std::span<const std::string_view> path) {
  KeyFacts f;
  const KeyChoice choice = choose_key(path);
  std::string word;
  for (std::size_t i = 0; i + 1 < path.size() && !f.under_noise; ++i) {
    WordReader reader(path[i]);
    while (reader.next(word)) {
      if (in_vocabulary(word, Vocabulary::Noise)) {
        f.under_noise = true;
        break;
      }
    }
  }
  f.internal = std::any_of(choice.considered.begin(), choice.considered.end(), is_internal);
  append_words(choice.key, f.words);
  std::uint16_t last_tables = 0;
  for (const std::string& w : f.words) {
    last_tables = vocabularies_of(w);
    f.tables |= last_tables;
  }
  const std::string joined = join_words(f.words);
  f.joined_noise = in_vocabulary(joined, Vocabulary::Noise);
  for (std::size_t i = 0; i + 1 < choice.considered.size(); ++i) {
    const std::string_view segment = choice.considered[i];
    if (!is_named(segment, word)) continue;
    f.named_parent = true;
    f.group += f.group.empty() ? "group:" : "/";
    f.group += segment;
  }
  f.tier = tier_stage(f.words, f.tables, last_tables, joined);
  if (!path.empty()) {
    WordReader reader(path.back());
    while (!f.state && reader.next(word)) f.state = in_vocabulary(word, Vocabulary::State);
  }
  return f;
}

bool looks_numeric(std::string_view text) {
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  bool digit = false;
  int dots = 0;
  for (char c : text) {
    if (is_ascii_digit(c)) {
      digit = true;
    } else if (c == '.') {
      ++dots;
    } else {
      return false;
    }
  }
  return digit && dots <= 1;
}

bool looks_date(std::string_view text) {
  if (text.size() < 10) return false;
  for (std::size_t i = 0; i < 10; ++i) {
    const bool ok = (i == 4 || i == 7) ? text[i] == '-' : is_ascii_digit(text[i]);
    if (!ok) return false;
  }
  return true;
}

bool looks_id(std::string_view text) {
  if (text.size() < 8) return false;
  unsigned char seen = 0;
  for (char c : text) {
    const unsigned char bits = kIdClass[static_cast<unsigned char>(c)];
    if (bits & kIdSpace) return false;
    seen |= bits;
  }
  const bool digit = seen & kIdDigit;
  const bool hexish = !(seen & kIdNotHex);
  return (text.size() >= 12 && digit && (seen & kIdUpper) && (seen & kIdLower)) ||
         (hexish && digit);
}

ValueTraits classify(const Value& value) {
  if (value.is_number()) return {true, false, false};
  if (!value.is_string()) return {};
  const std::string_view s = value.text();
  return {looks_numeric(s), looks_date(s), looks_id(s)};
}

namespace {

// The facts of the profile's key path: those it carries, or else new ones
// in `local`.
const KeyFacts& facts_of(const FieldProfile& p, std::optional<KeyFacts>& local) {
  if (p.facts != nullptr) return *p.facts;
  return local.emplace(key_facts(p.path));
}

}  // namespace

NamePrior name_prior(const FieldProfile& p) {
  std::optional<KeyFacts> local;
  const KeyFacts& f = facts_of(p, local);

  // Anything under a noise segment (links, avatars, schemas...) is noise.
  if (f.under_noise || f.internal) return {kInternalPrior, true};

  const std::vector<std::string>& kw = f.words;
  if ((f.tables & bit(Vocabulary::Noise)) || f.joined_noise) {
    // A link is worth keeping unless it points at an image.
    const bool plain_link =
        (f.tables & bit(Vocabulary::Link)) && !(f.tables & bit(Vocabulary::Image));
    if (!plain_link) return {kNoisePrior, true};
  }
  if (f.tables & bit(Vocabulary::Structural)) return {kStructurePrior, true};

  const TierMatch tier = f.tier.matched ? f.tier : TierMatch{false, p.date_like ? 0.55 : 0.5};
  double prior = tier.prior;

  const bool ident = (f.tables & bit(Vocabulary::Identifier)) != 0;
  if (!kw.empty()) {
    const bool link = (f.tables & bit(Vocabulary::Link)) != 0;
    if (link && p.strings == p.present && p.scalars >= 3 &&
        10 * p.distinct >= 9 * p.scalars) {
      prior = std::max(prior, 0.8);
    }
    if (p.numeric && ident) prior -= 0.04;
    if (ident) {
      if (kw.size() >= 2 && kw.back() == "id") {
        prior = std::min(prior, p.id_like ? 0.3 : 0.72);
      }
      if (p.avg_size > 16 || p.id_like) prior -= 0.1;
    }
  }
  if (f.named_parent) prior *= ident ? 0.6 : 0.88;
  return {prior, tier.matched || p.date_like};
}

double HeuristicScorer::score(const FieldProfile& p) const {
  std::optional<KeyFacts> local;
  const KeyFacts& facts = facts_of(p, local);
  FieldProfile with_facts = p;
  with_facts.facts = &facts;
  const auto [prior, decisive] = name_prior(with_facts);
  const bool state = facts.state;
  if (p.present > 0 && p.empty == p.present) return std::min(prior * 0.03, 0.05);

  const double present = static_cast<double>(std::max<std::uint64_t>(p.present, 1));
  const double e = static_cast<double>(p.empty) / present;
  double base = e > 0.3 ? prior * (1 - 0.7 * e) : prior;
  if (p.rows >= 3 && p.constant && p.scalars == p.present) base *= 0.2;

  const double coverage = static_cast<double>(p.present) /
                          static_cast<double>(std::max<std::uint64_t>(p.rows, 1));
  double s = state ? base * (0.85 + 0.15 * coverage)
                   : base * (0.55 + 0.45 * coverage);

  // Without a telling name, the values' shape decides: opaque identifiers
  // are worth little, unique short texts or short categories a fair amount.
  if (!decisive && p.scalars >= 3 && p.scalars == p.present &&
      p.strings == p.present && !p.numeric) {
    if (p.id_like) {
      s = 0.3;
    } else {
      const double u = static_cast<double>(p.distinct) / present;
      if (u >= 0.9 && p.avg_size <= 40) {
        s = 0.7;
      } else if (u <= 0.2 && p.avg_size <= 24 && !p.constant) {
        s = 0.65;
      }
    }
  }

  if (p.relevance > 0 && !p.constant) {
    // A short categorical column that the query hits in every row (or in
    // none) does not single anything out, so its value hits count less.
    const bool categorical =
        p.strings == p.present &&
        5 * p.distinct <= std::max<std::uint64_t>(p.scalars, 1) &&
        p.avg_size <= 24;
    const double f = categorical ? 2 * p.hit_rate * (1 - p.hit_rate) : 1;
    const double g = std::min(1.0, std::max(0.25, 2 * s));
    const double a = std::min(s + 0.4 * g * p.name_relevance, 1.0);
    s = std::min(a + 0.4 * g * f * p.value_relevance, std::max(a, 0.9));
  }

  if (p.avg_size > 2000) {
    s *= 0.7;
  } else if (p.avg_size > 200) {
    s *= 0.85;
  }
  if (p.arrays + p.objects > p.present / 2 && s < 0.8) s *= 0.85;
  return std::clamp(s, 0.0, 1.0);
}

bool HeuristicScorer::exact(const FieldProfile& p) const {
  if (p.present == 0 || p.avg_size > 300 || p.numbers + p.strings != p.present) {
    return false;
  }
  std::optional<KeyFacts> local;
  const KeyFacts& f = facts_of(p, local);
  if ((f.tables & bit(Vocabulary::Identifier)) && !p.constant) return true;
  const bool unique = p.scalars >= 3 && 10 * p.distinct >= 9 * p.scalars;
  return unique && (p.id_like || (f.tables & bit(Vocabulary::Link)));
}

std::optional<std::string> HeuristicScorer::role(const FieldProfile& p) const {
  std::optional<KeyFacts> local;
  const KeyFacts& f = facts_of(p, local);
  if (!f.group.empty()) return f.group;
  if (f.tables & bit(Vocabulary::Identifier)) return "identity";
  if (f.tables & bit(Vocabulary::Title)) return "title";
  if (f.tables & bit(Vocabulary::Time)) return "time";
  if (f.tables & bit(Vocabulary::Link)) return "link";
  return std::nullopt;
}

bool PlainScorer::exact(const FieldProfile&) const { return false; }

std::optional<std::string> PlainScorer::role(const FieldProfile&) const {
  return std::nullopt;
}

double CompactScorer::score(const FieldProfile& p) const {
  const double s = 1 / (1 + p.avg_size / 40);
  return (p.constant || p.empty == p.present) ? s * 0.1 : s;
}

double KeyOrderScorer::score(const FieldProfile& p) const {
  return 1 / (1 + p.position);
}

namespace {
// Constant-initialized and immutable: usable from anywhere, shared freely.
constinit const HeuristicScorer kHeuristic;
constinit const CompactScorer kCompact;
constinit const KeyOrderScorer kKeyOrder;
}  // namespace

const FieldScorer& scorer_for(ScorerKind kind) {
  switch (kind) {
    case ScorerKind::Compact:
      return kCompact;
    case ScorerKind::KeyOrder:
      return kKeyOrder;
    case ScorerKind::Heuristic:
      break;
  }
  return kHeuristic;
}

}  // namespace quendra

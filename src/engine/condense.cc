#include "engine/condense.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <string_view>
#include <utility>

#include "document/protect.h"
#include "engine/fields.h"
#include "engine/size.h"
#include "unicode/unicode.h"

// Condensing one array, in order:
//  1. scan the records into columns (visit); one scan serves both preview
//     lengths and both passes, since only floors and query statistics differ;
//  2. plan: refuse arrays that are not uniform, score the candidate columns,
//     discount redundant ones, choose greedily under a size model, swap weak
//     columns for strong ones, fill in cheap ones, then verify the choice on
//     the projected records and check that it is worth showing;
//  3. fill the budget over the projected rows and report what was dropped.

namespace quendra {
namespace {

constexpr std::uint64_t kRowSpread = 0x9E3779B97F4A7C15ull;
// Preview lengths of the two planning attempts of a pass.
constexpr std::array<std::size_t, 2> kPreviewHeads = {24, 12};
// Arrays of at most this many records are planned without first checking,
// from their keys alone, that some column could fit.
constexpr std::size_t kScannedAnyway = 64;
// Dropped-field entries one fitting attempt lists at most.
constexpr std::size_t kMaxDroppedListed = 24;
// Per-column costs are capped here so that sums of a few of them cannot wrap.
constexpr std::size_t kCostCap = std::size_t{1} << 60;

// Words of a key that only say "this holds things" and name nothing.
constexpr std::array<std::string_view, 10> kContainerWords = {
    "data",    "nodes",   "items",      "value",      "fields",
    "values",  "results", "records",    "properties", "attributes"};
// Words that name a leaf generically; the segment above says what it is.
constexpr std::array<std::string_view, 8> kGenericLeafWords = {
    "id", "key", "name", "type", "text", "code", "value", "label"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, std::string_view w) {
  return std::find(list.begin(), list.end(), w) != list.end();
}

// Layout characters of one value at key path length `length` in a record of
// the array at `depth`: 1 compact (its comma or bracket share), else its
// indentation, newline and comma.
std::size_t entry_layout(Layout layout, std::size_t depth, std::size_t length) {
  if (!layout.pretty()) return 1;
  return sat_add(sat_mul(sat_add(length, depth + 1), layout.indent), 2);
}

// A score as stored in the report: thousandths, halves away from zero,
// clamped to an unsigned 32-bit value.
std::uint32_t thousandths(double x) {
  double t = std::round(x * 1000.0);
  if (!(t > 0)) return 0;
  if (t >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(t);
}

// Scores ranked so that a NaN sorts below every number.
double rank(double score) {
  return std::isnan(score) ? -std::numeric_limits<double>::infinity() : score;
}

// A number of more than 8 characters, all ASCII digits.
bool long_digit_run(std::string_view text) {
  return text.size() > 8 && std::all_of(text.begin(), text.end(), [](char c) {
           return c >= '0' && c <= '9';
         });
}

// Floors of one cell for N preview lengths at once (see floor()).
template <std::size_t N>
using Floors = std::array<std::size_t, N>;

// Floors of a string of full size `size`: whole, or its first `head`
// characters followed by "…[+N chars]" when that is smaller and the string
// is more than 16 characters longer than the head.
template <std::size_t N>
Floors<N> string_floors(const Value& string, std::size_t size, const Floors<N>& heads) {
  Floors<N> out;
  out.fill(size);
  const std::size_t chars = string.chars();
  const std::size_t shortest = *std::min_element(heads.begin(), heads.end());
  if (chars <= sat_add(shortest, 16)) return out;
  const std::string_view text = string.text();
  for (std::size_t k = 0; k < N; ++k) {
    if (chars <= sat_add(heads[k], 16)) continue;
    std::string_view prefix = text.substr(0, unicode::byte_offset(text, heads[k]));
    std::size_t preview = quoted(prefix) - 2 + string_marker_size(chars - heads[k]);
    out[k] = std::min(size, preview);
  }
  return out;
}

template <std::size_t N>
Floors<N> floors_at(Layout layout, const Value& value, const Meta& meta,
                    std::size_t depth, const Floors<N>& heads) {
  Floors<N> out;
  if (meta.min_size >= meta.size) {
    out.fill(meta.size);
    return out;
  }
  switch (value.kind()) {
    case Kind::Object: {
      const std::span<const Member> members = value.members();
      if (members.empty()) break;
      out.fill(overhead(members.size(), depth, layout));
      for (const Member& m : members) {
        std::size_t key = m.key.json_size() + layout.key_separator();
        Floors<N> child = floors_at(layout, m.value, meta_of(m.value), depth + 1, heads);
        for (std::size_t k = 0; k < N; ++k) {
          out[k] = sat_add(out[k], sat_add(key, child[k]));
        }
      }
      return out;
    }
    case Kind::String:
      return string_floors(value, meta.size, heads);
    default:
      break;
  }
  out.fill(meta.min_size);
  return out;
}

// A lower bound of the floor of a cell at either preview length, known
// without reading the text: a string's preview holds at least the shorter
// head and a marker of at least 13 characters; an object at least its
// braces.
std::size_t least_floor(const Value& value, const Meta& meta) {
  if (meta.min_size >= meta.size) return meta.size;
  switch (value.kind()) {
    case Kind::Object: return 2;
    case Kind::String: {
      const std::size_t head = *std::min_element(kPreviewHeads.begin(), kPreviewHeads.end());
      return std::min(meta.size, head + kShortestStringMarker);
    }
    default: return meta.min_size;
  }
}

// Finds the column of each entry of the records of one array: the column
// of the key at position `position` of an object under column `parent`.
// Records mostly share their key order, so the column last seen at the same
// place is tried before the discovery's index. While scanning, columns not
// found are added; afterwards every entry scanned has one.
class ColumnIndex {
 public:
  // Adds the columns it does not find to `discovery`.
  explicit ColumnIndex(Discovery& discovery) : discovery_(discovery), growing_(&discovery) {}
  // Finds columns only.
  explicit ColumnIndex(const Discovery& discovery) : discovery_(discovery) {}

  // The column of `path`, the key at `position` of an object under column
  // `parent`, and whether it is new.
  std::pair<std::size_t, bool> find(PathView path, std::optional<std::size_t> parent,
                                    std::size_t position) {
    std::size_t slot = parent ? *parent + 1 : 0;
    if (slot >= recent_.size()) recent_.resize(slot + 1);
    std::vector<std::size_t>& recent = recent_[slot];
    // Columns under one parent share the parent's path, so the last
    // segment tells them apart.
    if (position < recent.size() && recent[position] < discovery_.columns.size() &&
        discovery_.columns[recent[position]].path.back() == path.back()) {
      return {recent[position], false};
    }
    auto [c, added] = lookup(path, parent);
    if (position >= recent.size()) recent.resize(position + 1, kNoColumn);
    recent[position] = c;
    return {c, added};
  }

 private:
  std::pair<std::size_t, bool> lookup(PathView path, std::optional<std::size_t> parent) {
    auto found = discovery_.index.find(path);
    if (found != discovery_.index.end()) return {found->second, false};
    QUENDRA_CHECK(growing_ != nullptr);
    std::size_t c = discovery_.columns.size();
    Column col;
    col.parent = parent;
    col.path.assign(path.begin(), path.end());
    growing_->columns.push_back(std::move(col));
    growing_->index.emplace(PathView(growing_->columns.back().path), c);
    return {c, true};
  }

  static constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);
  const Discovery& discovery_;
  Discovery* growing_ = nullptr;
  // Per enclosing column (slot 0: the records), the column last met at
  // each key position.
  std::vector<std::vector<std::size_t>> recent_;
};

// The scan of the records of one array into a Discovery, computing the
// floors of the cells for up to two preview lengths in the same pass: the
// first is the discovery's, the second is kept aside (alternate_floors) so
// that the discovery of another attempt needs no second scan.
class Scanner {
 public:
  // With `keys_only`, the scan finds the columns and counts only their
  // `present` and `key_chars`, and sums least_floor of their values into
  // `floor_chars`, leaving the texts unread.
  Scanner(Layout layout, Discovery& discovery, const Floors<2>& heads,
          bool keys_only = false)
      : layout_(layout),
        discovery_(discovery),
        heads_(heads),
        keys_only_(keys_only),
        alternate_floors_(discovery.columns.size(), 0),
        index_(discovery) {
    for (const Column& col : discovery.columns) {
      key_costs_.push_back(quoted(col.path.back()) + layout.key_separator());
    }
  }

  // Scans every object item (up to the number of item analyses) of an array
  // at `depth`.
  void rows(std::span<const Value> items, std::size_t depth) {
    Path path;
    for (std::size_t row = 0; row < items.size(); ++row) {
      if (!items[row].is_object()) continue;
      entries(items[row].members(), std::nullopt, path, depth + 1, row);
    }
  }

  // Scans `entries` of an object at `depth` whose key path in the record is
  // `path`. Returns the part of the object's floors after its overhead: the
  // sum over the scanned entries of key cost plus value floor.
  Floors<2> entries(std::span<const Member> entries, std::optional<std::size_t> parent,
                    Path& path, std::size_t depth, std::size_t row) {
    Floors<2> sums = {0, 0};
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Member& entry = entries[i];
      const Meta child = meta_of(entry.value);
      path.push_back(entry.key.text());
      auto [c, added] = index_.find(path, parent, i);
      if (added) {
        alternate_floors_.push_back(0);
        key_costs_.push_back(quoted(path.back()) + layout_.key_separator());
      }
      Floors<2> f;
      bool open = entry.value.is_object() && !entry.value.members().empty() &&
                  path.size() < kMaxColumnDepth;
      if (keys_only_) {
        if (open) this->entries(entry.value.members(), c, path, depth + 1, row);
        path.pop_back();
        Column& col = discovery_.columns[c];
        ++col.present;
        col.key_chars = sat_add(col.key_chars, key_costs_[c]);
        col.floor_chars = sat_add(col.floor_chars, least_floor(entry.value, child));
        continue;
      }
      if (open) {
        // The nested scan yields the object's floors as a by-product.
        Floors<2> inner = this->entries(entry.value.members(), c, path, depth + 1, row);
        std::size_t frame = overhead(entry.value.members().size(), depth + 1, layout_);
        for (std::size_t k = 0; k < 2; ++k) {
          f[k] = child.min_size >= child.size ? child.size : sat_add(frame, inner[k]);
        }
      } else {
        f = floors_at(layout_, entry.value, child, depth + 1, heads_);
      }
      path.pop_back();

      // Every occurrence of a column has the same key, so its cost is known.
      std::size_t key_cost = key_costs_[c];
      for (std::size_t k = 0; k < 2; ++k) sums[k] = sat_add(sums[k], sat_add(key_cost, f[k]));
      Column& col = discovery_.columns[c];
      ++col.present;
      col.key_chars = sat_add(col.key_chars, key_cost);
      col.full_chars = sat_add(col.full_chars, child.size);
      col.floor_chars = sat_add(col.floor_chars, f[0]);
      alternate_floors_[c] = sat_add(alternate_floors_[c], f[1]);
      col.position_sum = sat_add(col.position_sum, i);
      if (open) ++col.nested;
      count(col, entry.value, row);
    }
    return sums;
  }

  // Per column, the floor_chars for the second preview length.
  const std::vector<std::size_t>& alternate_floors() const {
    return alternate_floors_;
  }

 private:
  // Kind counts, query hits and tokens, classification and value identity.
  void count(Column& col, const Value& value, std::size_t row) {
    switch (value.kind()) {
      case Kind::Null: ++col.nulls; break;
      case Kind::Bool: ++col.bools; break;
      case Kind::Number: ++col.numbers; break;
      case Kind::String: ++col.strings; break;
      case Kind::Array: ++col.arrays; break;
      case Kind::Object: ++col.objects; break;
    }
    if (value.is_empty()) ++col.empty;

    // Only numbers and strings have value tokens; other values hit nothing
    // and add nothing.
    if (discovery_.query && (value.is_number() || value.is_string())) {
      TokenSet* cell =
          col.cell_tokens.size() < kMaxCellTokens ? &col.cell_tokens : nullptr;
      if (discovery_.query->hits_value(value.text(), cell, tokens_)) ++col.hits;
    }

    switch (value.kind()) {
      case Kind::Number:
        col.not_date = true;
        if (long_digit_run(value.text())) ++col.id_likes;
        break;
      case Kind::String: {
        const std::string_view s = value.text();
        if (!looks_numeric(s)) col.not_numeric = true;
        if (!looks_date(s)) col.not_date = true;
        if (looks_id(s)) ++col.id_likes;
        break;
      }
      default:
        col.not_numeric = true;
        col.not_date = true;
        break;
    }

    if (value.is_container()) return;
    std::uint64_t h = value_hash(value);
    ++col.scalars;
    col.fingerprint += mix(h ^ (static_cast<std::uint64_t>(row) * kRowSpread));
    if (col.value_hashes.size() < kMaxValueHashes) col.value_hashes.insert(h);
    if (col.first_hash) {
      if (*col.first_hash != h) col.constant = false;
    } else {
      col.first_hash = h;
    }
  }

  Layout layout_;
  Discovery& discovery_;
  Floors<2> heads_;
  bool keys_only_;
  std::vector<std::size_t> alternate_floors_;
  std::vector<std::size_t> key_costs_;  // per column: key, colon, space
  ColumnIndex index_;
  TokenSet tokens_;    // working storage for one value's tokens
};

// The scan of an array for two preview lengths: the discovery for the
// first, and the floor_chars of every column for the second.
struct Scan {
  Discovery discovery;
  std::vector<std::size_t> alternate_floors;
};

// Scans every object item (up to the number of item analyses) of an array
// at `depth` into a fresh Discovery carrying `query`, with floors for preview
// length heads[0] (and, aside, heads[1]).
Scan scan(Layout layout, const std::optional<Query>& query, std::span<const Value> items,
          std::size_t depth, const Floors<2>& heads) {
  Scan out;
  out.discovery.query = query;
  Scanner scanner(layout, out.discovery, heads);
  scanner.rows(items, depth);
  out.alternate_floors = scanner.alternate_floors();
  return out;
}

// Whether no column of the records of the array at `depth` can be chosen
// under `budget` in any planning attempt, judged from the keys alone.
//
// A column costs at least its keys, the layout of its entries and a lower
// bound of its values' floors (least_floor), on top of the skeleton of empty
// records: the model's cost of a column only grows with chosen columns and
// exactness (a whole value is never below its floor). When no
// single column fits even at that price, the greedy choice, the swaps (which
// need chosen columns to remove) and the fill-in choose nothing, and every
// attempt ends without a plan, whatever its preview length and query.
bool no_column_fits(Layout layout, std::span<const Value> items, std::size_t budget,
                    std::size_t depth) {
  Discovery keys;
  Scanner(layout, keys, {0, 0}, true).rows(items, depth);
  const SizeModel model{layout, depth, items.size()};
  // A column enters when its cost is within a share of the budget, which
  // for very large budgets may round above the budget itself.
  const std::size_t limit = std::max(budget, scaled_budget(1.0, budget));
  for (const Column& col : keys.columns) {
    std::size_t entry = entry_layout(layout, depth, col.path.size());
    std::size_t least = std::min(
        kCostCap, sat_add(sat_add(col.key_chars, col.floor_chars),
                          sat_mul(col.present, entry)));
    if (sat_add(model.skeleton(), least) <= limit) return false;
  }
  return true;
}

// The words of a column path that name it (main) and the words of the
// segments above those (context), for matching against the query.
struct NameWords {
  std::vector<std::string> main;
  std::vector<std::string> context;
};

NameWords name_words(const Path& path) {
  std::vector<std::vector<std::string>> kept(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    for (std::string& w : words(path[i])) {
      if (!listed(kContainerWords, w)) kept[i].push_back(std::move(w));
    }
  }
  NameWords out;
  for (std::size_t k = path.size(); k-- > 0;) {
    if (kept[k].empty()) continue;
    bool generic = std::all_of(kept[k].begin(), kept[k].end(),
                               [](const std::string& w) {
                                 return listed(kGenericLeafWords, w);
                               });
    if (generic && k > 0) continue;
    out.main = std::move(kept[k]);
    for (std::size_t j = 0; j < k; ++j) {
      out.context.insert(out.context.end(), kept[j].begin(), kept[j].end());
    }
    return out;
  }
  if (!path.empty()) out.main = words(path.back());
  return out;
}

// Whether the projection keeps every entry of a record whole: the column
// of each key is kept.
bool keeps_every_field(std::span<const Member> entries, ColumnIndex& index, Path& path,
                       const std::vector<bool>& keep) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    path.push_back(entries[i].key.text());
    const std::size_t c = index.find(path, std::nullopt, i).first;
    path.pop_back();
    if (!keep[c]) return false;
  }
  return true;
}

// project() with the column finder of the whole array.
std::vector<Member> project_entries(std::span<const Member> entries,
                                    std::optional<std::size_t> parent, Path& path,
                                    ColumnIndex& index, const std::vector<bool>& keep,
                                    const std::vector<bool>& open, Arena& arena, bool deep) {
  std::vector<Member> out;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const Member& entry = entries[i];
    path.push_back(entry.key.text());
    const std::size_t c = index.find(path, parent, i).first;
    if (keep[c]) {
      out.push_back(deep ? Member{entry.key, entry.value.deep_copy(arena)} : entry);
    } else if (open[c] && entry.value.is_object()) {
      out.push_back(Member{entry.key,
                           Value::object(arena, project_entries(entry.value.members(), c, path,
                                                                index, keep, open, arena,
                                                                deep))});
    }
    path.pop_back();
  }
  return out;
}

// Whether `pattern_path` or one of its prefixes is protected by a pattern.
bool pattern_protected(const std::vector<Pattern>& patterns,
                       const Path& pattern_path) {
  if (patterns.empty()) return false;
  Path prefix;
  prefix.reserve(pattern_path.size());
  for (std::string_view segment : pattern_path) {
    prefix.push_back(segment);
    for (const Pattern& pattern : patterns) {
      if (matches(pattern, prefix)) return true;
    }
  }
  return false;
}

// The pattern path of a column: the array's own path, "*", then the
// column's path within the record.
Path joined(const Path& base, const Path& relative) {
  Path out;
  out.reserve(base.size() + 1 + relative.size());
  out.insert(out.end(), base.begin(), base.end());
  out.emplace_back("*");
  out.insert(out.end(), relative.begin(), relative.end());
  return out;
}

void add_prefixes(const Path& path, PathSet& prefixes) {
  Path prefix;
  prefix.reserve(path.size());
  for (std::string_view segment : path) {
    prefix.push_back(segment);
    prefixes.insert(prefix);
  }
}

// What the plan knows of one candidate column besides its score.
struct Traits {
  std::optional<std::string> role;
  bool exact = false;
  bool is_protected = false;
};

// The running choice of columns under the size model. The estimate is the
// skeleton plus each chosen column's own cost plus, once, the cost of every
// enclosing object some chosen column needs; enclosing objects are counted by
// reference, so the estimate equals selection_cost of the choice in any order.
class Choice {
 public:
  Choice(const SizeModel& model, const std::vector<Column>& columns,
         const std::vector<Traits>& traits)
      : columns_(columns),
        own_(columns.size(), 0),
        enclosing_(columns.size(), 0),
        refs_(columns.size(), 0),
        chosen_(columns.size(), false),
        estimate_(model.skeleton()) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      own_[c] = model.own_cost(columns[c], traits[c].exact);
      enclosing_[c] = model.enclosing_cost(columns[c]);
    }
  }

  std::size_t estimate() const { return estimate_; }
  bool chosen(std::size_t c) const { return chosen_[c]; }

  // The estimate with column `c` added.
  std::size_t cost_with(std::size_t c) const {
    std::size_t x = estimate_ + own_[c];
    for (auto p = columns_[c].parent; p; p = columns_[*p].parent) {
      if (refs_[*p] == 0) x += enclosing_[*p];
    }
    return x;
  }

  void add(std::size_t c) {
    chosen_[c] = true;
    estimate_ += own_[c];
    for (auto p = columns_[c].parent; p; p = columns_[*p].parent) {
      if (refs_[*p]++ == 0) estimate_ += enclosing_[*p];
    }
  }

  void remove(std::size_t c) {
    chosen_[c] = false;
    estimate_ -= own_[c];
    for (auto p = columns_[c].parent; p; p = columns_[*p].parent) {
      if (--refs_[*p] == 0) estimate_ -= enclosing_[*p];
    }
  }

 private:
  const std::vector<Column>& columns_;
  std::vector<std::size_t> own_;
  std::vector<std::size_t> enclosing_;
  std::vector<std::size_t> refs_;
  std::vector<bool> chosen_;
  std::size_t estimate_;
};

double cube_sum(const std::vector<std::size_t>& selection,
                const std::vector<double>& score) {
  double sum = 0;
  for (std::size_t c : selection) sum += score[c] * score[c] * score[c];
  return sum;
}

PlanOutcome refused() { return PlanOutcome{PlanOutcome::Kind::kRefused, {}}; }
PlanOutcome no_plan() { return PlanOutcome{PlanOutcome::Kind::kNoPlan, {}}; }

// The candidate columns with their final scores, best first, and what the
// plan knows of every column.
struct Scoring {
  std::vector<ScoredColumn> scored;  // ranked
  std::vector<Traits> traits;        // per column
  std::vector<double> relevances;    // per column; 0 for non-candidates
  std::vector<double> score;         // per column: final score
};

// Scores the candidate columns of `discovery` (records of an array of `n`
// items): scorer and query relevance, redundancy discount, protection. The
// scores do not depend on floors, so one scoring serves both preview lengths
// of a pass; rank_columns orders it.
Scoring score_columns(const Request& request, const Path& base, const Discovery& discovery,
                      std::size_t n) {
  const std::vector<Column>& columns = discovery.columns;
  const std::size_t cn = columns.size();
  // Candidates: not an enclosing object itself, and only enclosing objects
  // above. Parents come before their children in column order.
  std::vector<bool> pure(cn, false);
  std::vector<bool> pure_above(cn, true);
  std::vector<std::size_t> candidates;
  for (std::size_t c = 0; c < cn; ++c) {
    const Column& col = columns[c];
    pure[c] = col.present > 0 && col.nested == col.present;
    if (col.parent) pure_above[c] = pure[*col.parent] && pure_above[*col.parent];
    if (!pure[c] && pure_above[c]) candidates.push_back(c);
  }

  const FieldScorer& scorer = request.scorer;
  const std::optional<Query>& query = discovery.query;
  Scoring out;
  std::vector<Traits>& traits = out.traits;
  traits.resize(cn);
  std::vector<double>& relevances = out.relevances;
  relevances.assign(cn, 0.0);
  std::vector<ScoredColumn>& scored = out.scored;
  scored.reserve(candidates.size());
  std::vector<std::optional<std::string>> roles;
  roles.reserve(candidates.size());
  for (std::size_t c : candidates) {
    const Column& col = columns[c];
    double name_relevance = 0;
    double value_relevance = 0;
    if (query) {
      NameWords nw = name_words(col.path);
      name_relevance = query->name_match(nw.main, nw.context);
      value_relevance = query->value_relevance(query->hit_count(col.cell_tokens));
    }
    double relevance = std::max(name_relevance, value_relevance);
    double present = static_cast<double>(std::max<std::size_t>(col.present, 1));

    FieldProfile profile;
    profile.nulls = col.nulls;
    profile.bools = col.bools;
    profile.numbers = col.numbers;
    profile.strings = col.strings;
    profile.arrays = col.arrays;
    profile.objects = col.objects;
    profile.path = col.path;
    const KeyFacts facts = key_facts(col.path);
    profile.facts = &facts;
    profile.rows = n;
    profile.present = col.present;
    profile.empty = col.empty;
    profile.distinct = col.value_hashes.size();
    profile.scalars = col.scalars;
    profile.relevance = relevance;
    profile.name_relevance = name_relevance;
    profile.value_relevance = value_relevance;
    profile.hit_rate = static_cast<double>(col.hits) / present;
    profile.avg_size = static_cast<double>(col.full_chars) / present;
    profile.position = static_cast<double>(col.position_sum) / present;
    if (col.scalars == col.present) {
      profile.constant = col.constant;
      profile.numeric = !col.not_numeric;
      profile.date_like = !col.not_date;
    }
    profile.id_like = col.present > 0 && 4 * col.present <= 5 * col.id_likes;

    Traits& t = traits[c];
    t.role = scorer.role(profile);
    t.is_protected =
        pattern_protected(request.patterns, joined(base, col.path));
    t.exact = t.is_protected || scorer.exact(profile);
    scored.push_back(ScoredColumn{c, scorer.score(profile)});
    roles.push_back(t.role);
    relevances[c] = relevance;
  }

  discount_redundant(discovery, scored, roles);

  for (ScoredColumn& s : scored) {
    if (traits[s.column].is_protected) s.score = 2.0;
  }
  out.score.assign(cn, 0.0);
  for (const ScoredColumn& s : scored) out.score[s.column] = s.score;
  return out;
}

// Ranks the scored columns best first: by score, then the smaller floor_chars,
// then the column number. The order is total, so it does not depend on the
// order `scoring` comes in, and a scoring can be ranked again for the floors
// of another preview length.
void rank_columns(const std::vector<Column>& columns, Scoring& scoring) {
  std::sort(scoring.scored.begin(), scoring.scored.end(),
            [&](const ScoredColumn& a, const ScoredColumn& b) {
              double ra = rank(a.score), rb = rank(b.score);
              if (ra != rb) return ra > rb;
              std::size_t fa = columns[a.column].floor_chars;
              std::size_t fb = columns[b.column].floor_chars;
              if (fa != fb) return fa < fb;
              return a.column < b.column;
            });
}


// The columns to keep, in order of choice: greedily under the size model,
// then swaps of weak columns for a strong one, then cheap fill-ins. Absent
// when a protected column cannot be kept.
std::optional<std::vector<std::size_t>> choose_columns(
    Layout layout, const Discovery& discovery, const Scoring& scoring,
    std::size_t n, std::size_t budget, std::size_t depth) {
  const std::vector<Column>& columns = discovery.columns;
  const std::vector<ScoredColumn>& scored = scoring.scored;
  const std::vector<Traits>& traits = scoring.traits;
  const std::vector<double>& score = scoring.score;
  // Greedy choice under the size model.
  const SizeModel model{layout, depth, n};
  Choice choice(model, columns, traits);
  std::vector<std::size_t> selection;
  for (const ScoredColumn& s : scored) {
    if (choice.cost_with(s.column) <= scaled_budget(score_factor(s.score), budget)) {
      choice.add(s.column);
      selection.push_back(s.column);
    }
  }
  for (const ScoredColumn& s : scored) {
    if (traits[s.column].is_protected && !choice.chosen(s.column)) {
      return std::nullopt;
    }
  }

  // Swaps: a strong column that fits only after weaker ones leave comes in
  // when the sum of cubed scores grows.
  for (const ScoredColumn& s : scored) {
    std::size_t c = s.column;
    if (choice.chosen(c) || !(s.score >= 0.6)) continue;
    std::size_t limit = scaled_budget(score_factor(s.score), budget);
    // A column that fits as it is would be added without removing anything,
    // which this step never does.
    if (choice.cost_with(c) <= limit) continue;
    std::vector<std::size_t> victims;
    for (std::size_t v : selection) {
      if (score[v] < 0.85 * s.score) victims.push_back(v);
    }
    if (victims.empty()) continue;
    std::stable_sort(victims.begin(), victims.end(),
                     [&](std::size_t a, std::size_t b) {
                       return rank(score[a]) < rank(score[b]);
                     });
    choice.add(c);
    std::size_t removed = 0;
    while (choice.estimate() > limit && removed < victims.size()) {
      choice.remove(victims[removed++]);
    }
    bool accept = false;
    std::vector<std::size_t> candidate;
    if (choice.estimate() <= limit) {
      candidate.reserve(selection.size() + 1);
      for (std::size_t v : selection) {
        if (choice.chosen(v)) candidate.push_back(v);
      }
      candidate.push_back(c);
      accept = cube_sum(candidate, score) > cube_sum(selection, score);
    }
    if (accept) {
      selection = std::move(candidate);
    } else {
      for (std::size_t i = 0; i < removed; ++i) choice.add(victims[i]);
      choice.remove(c);
    }
  }

  // Fill-in: a lower-scored column enters only if every chosen column shown
  // in full would still fit the whole budget.
  auto spare = [&](std::size_t c) {
    const Column& col = columns[c];
    return col.full_chars > col.floor_chars ? col.full_chars - col.floor_chars
                                            : std::size_t{0};
  };
  std::size_t slack = 0;
  for (std::size_t c : selection) slack = sat_add(slack, spare(c));
  for (const ScoredColumn& s : scored) {
    std::size_t c = s.column;
    if (choice.chosen(c) || !(s.score >= 0.3)) continue;
    std::size_t x = spare(c);
    if (sat_add(sat_add(choice.cost_with(c), slack), x) <= budget) {
      choice.add(c);
      selection.push_back(c);
      slack = sat_add(slack, x);
    }
  }
  return selection;
}

// One planning attempt over a finished scan whose floors are those of
// preview length `head`. `cached` holds the scoring of the same discovery
// from an earlier attempt, or is filled here; either way it is ranked for
// this attempt's floors.
PlanOutcome plan_scanned(Fitter& fitter, const Discovery& discovery,
                         std::optional<Scoring>& cached, std::span<const Value> items,
                         std::size_t budget, std::size_t depth, bool first,
                         std::size_t head) {
  const std::vector<Column>& columns = discovery.columns;
  const std::size_t n = items.size();
  const std::size_t cn = columns.size();

  // Uniformity: most top-level key occurrences must belong to keys that at
  // least half of the records hold.
  if (first) {
    std::size_t total = 0;
    std::size_t common = 0;
    for (const Column& col : columns) {
      if (col.parent) continue;
      total += col.present;
      if (2 * col.present >= n) common += col.present;
    }
    if (total == 0 ||
        0.7 * static_cast<double>(total) > static_cast<double>(common)) {
      return refused();
    }
  }

  const Request& request = fitter.request();
  const Layout layout = request.layout;
  if (!cached) cached = score_columns(request, fitter.path(), discovery, n);
  Scoring& scoring = *cached;
  rank_columns(columns, scoring);
  const std::vector<ScoredColumn>& scored = scoring.scored;
  const std::vector<Traits>& traits = scoring.traits;
  const std::vector<double>& score = scoring.score;
  std::optional<std::vector<std::size_t>> chosen =
      choose_columns(layout, discovery, scoring, n, budget, depth);
  if (!chosen) return no_plan();
  std::vector<std::size_t> selection = std::move(*chosen);

  // Verification on the projected records; the last chosen column leaves
  // while the records at their floors overflow.
  Plan plan;
  std::size_t floors_total = 0;
  bool verified = false;
  Path record_path = fitter.path();
  record_path.emplace_back("*");
  ColumnIndex index(discovery);
  while (!selection.empty()) {
    // Chosen columns are kept whole; the columns enclosing them are objects
    // cut down in turn.
    std::vector<bool> keep(cn, false);
    std::vector<bool> open(cn, false);
    for (std::size_t c : selection) {
      keep[c] = true;
      for (auto p = columns[c].parent; p; p = columns[*p].parent) open[*p] = true;
    }
    // Exact columns are protected while the records are analysed again.
    PathSet pinned;
    for (std::size_t c : selection) {
      if (traits[c].exact) pinned.insert(joined(fitter.path(), columns[c].path));
    }
    plan.rows.clear();
    plan.floors.clear();
    plan.rows.reserve(n);
    plan.floors.reserve(n);
    // This selection's records; the next selection makes its own.
    plan.arena = std::make_unique<Arena>();
    Arena& arena = *plan.arena;
    // Without protection in play, analysing a record again gives its first
    // analysis, and so does analysing any whole value kept from it: the
    // records are cut down around those, which keep their analyses. With
    // protection they are analysed afresh, as copies.
    const bool unprotected = pinned.empty() && request.patterns.empty();
    std::size_t total = overhead(n, depth, layout);
    Path work;
    for (std::size_t i = 0; i < n; ++i) {
      const Value& item = items[i];
      if (!item.is_object()) return refused();
      Child row;
      const bool whole = keeps_every_field(item.members(), index, work, keep);
      if (whole && unprotected) {
        row = Child{item, meta_of(item)};
      } else {
        row.value = whole ? item.deep_copy(arena)
                          : Value::object(arena, project_entries(item.members(), std::nullopt,
                                                                 work, index, keep, open, arena,
                                                                 !unprotected));
        row.meta = fitter.analyze(row.value, depth + 1, record_path, pinned, unprotected, arena);
      }
      std::size_t f = floor(layout, row.value, row.meta, depth + 1, head);
      total = sat_add(total, f);
      plan.rows.push_back(row);
      plan.floors.push_back(f);
    }
    if (total <= budget) {
      floors_total = total;
      for (std::size_t c : selection) add_prefixes(columns[c].path, plan.prefixes);
      verified = true;
      break;
    }
    if (traits[selection.back()].is_protected) return no_plan();
    selection.pop_back();
  }
  if (!verified) return no_plan();

  // Acceptance: something informative is shown, and the best column is.
  double best = 0;
  for (const ScoredColumn& s : scored) best = std::max(best, s.score);
  bool informative = false;
  bool has_best = false;
  for (std::size_t c : selection) {
    const Column& col = columns[c];
    if (score[c] >= best - 1e-9) has_best = true;
    if (score[c] >= 0.45 && 2 * (col.bools + col.numbers + col.strings) > col.present &&
        !(traits[c].role && *traits[c].role == "identity") &&
        (2 * col.value_hashes.size() >= col.present ||
         col.full_chars >= sat_mul(20, col.present))) {
      informative = true;
    }
  }
  if (!informative || !has_best) return no_plan();

  plan.selected.assign(cn, false);
  for (std::size_t c : selection) plan.selected[c] = true;
  plan.complete = true;
  for (const ScoredColumn& s : scored) {
    if (s.score >= 0.8 && !plan.selected[s.column]) plan.complete = false;
  }
  plan.discovery = &discovery;
  plan.scored = scoring.scored;
  plan.relevances = scoring.relevances;
  plan.slack = budget - floors_total;
  plan.head = head;
  return PlanOutcome{PlanOutcome::Kind::kAccepted, std::move(plan)};
}

// The discovery of a pass without query relevance, from one made with it:
// only the query-dependent statistics differ.
void drop_query(Discovery& discovery) {
  discovery.query.reset();
  for (Column& col : discovery.columns) {
    col.hits = 0;
    col.cell_tokens.clear();
  }
}

// The plan to carry out for the object records `items` (at least two) of the
// array at `depth` under `budget`, over the planning attempts (each preview
// length of each pass): the first plan accepted that leaves out no strong
// column, else the last one accepted in the first pass that accepted any.
// Absent when no column could fit, an attempt refuses the records, or none
// is accepted.
std::optional<Plan> choose_plan(Fitter& fitter, std::span<const Value> items,
                                std::size_t budget, std::size_t depth) {
  const Request& request = fitter.request();
  // With every record empty the array is already over budget: no column can
  // be chosen in any attempt, so every attempt would end without a plan.
  if (SizeModel{request.layout, depth, items.size()}.skeleton() > budget) {
    return std::nullopt;
  }
  // Likewise when not even one column would fit: a walk over the keys tells,
  // sparing the scan of the values. Planning would decline too, so the walk
  // is only worth it where records are many for the budget.
  if (items.size() > kScannedAnyway || SizeModel{request.layout, depth, items.size()}.skeleton() >
                                           budget / 4) {
    if (no_column_fits(request.layout, items, budget, depth)) return std::nullopt;
  }
  // With a query, a second pass plans again without its relevance.
  const std::size_t passes = request.options.arguments ? 2 : 1;

  // One scan serves every attempt: it has the floors of both preview
  // lengths, and the second pass only drops its query statistics. The plan
  // chosen refers to it, so it goes with that plan.
  std::unique_ptr<Discovery> discovery;
  std::array<std::vector<std::size_t>, kPreviewHeads.size()> floor_chars;
  std::optional<Plan> held;
  for (std::size_t pass = 0; pass < passes && !held; ++pass) {
    if (pass == 1 && discovery) drop_query(*discovery);
    std::optional<Scoring> scoring;  // of this pass's discovery
    for (std::size_t attempt = 0; attempt < kPreviewHeads.size(); ++attempt) {
      if (!discovery) {
        Scan scanned = scan(request.layout, request.query, items, depth, kPreviewHeads);
        discovery = std::make_unique<Discovery>(std::move(scanned.discovery));
        for (const Column& col : discovery->columns) {
          floor_chars[0].push_back(col.floor_chars);
        }
        floor_chars[1] = std::move(scanned.alternate_floors);
      }
      for (std::size_t c = 0; c < discovery->columns.size(); ++c) {
        discovery->columns[c].floor_chars = floor_chars[attempt][c];
      }
      PlanOutcome outcome = plan_scanned(fitter, *discovery, scoring, items, budget, depth,
                                         attempt == 0, kPreviewHeads[attempt]);
      if (outcome.kind == PlanOutcome::Kind::kRefused) return std::nullopt;
      if (outcome.kind == PlanOutcome::Kind::kNoPlan) continue;
      held = std::move(outcome.plan);
      if (held->complete) break;
    }
  }
  if (held) held->own_discovery = std::move(discovery);
  return held;
}

}  // namespace

bool HashSet::insert(std::uint64_t hash) {
  if (hash == 0) {
    if (has_zero_) return false;
    has_zero_ = true;
    ++size_;
    return true;
  }
  if (slots_.empty()) {
    // Few distinct values stay in the inline list.
    const std::size_t n = size_ - (has_zero_ ? 1 : 0);
    if (std::find(small_.begin(), small_.begin() + n, hash) != small_.begin() + n) return false;
    if (n < small_.size()) {
      small_[n] = hash;
      ++size_;
      return true;
    }
    grow();
  }
  // At most half full, so probes stay short and always end at a free slot.
  if (2 * (size_ + 1) > slots_.size()) grow();
  const std::size_t slot = probe(hash);
  if (slots_[slot] == hash) return false;
  slots_[slot] = hash;
  ++size_;
  return true;
}

bool HashSet::contains(std::uint64_t hash) const {
  if (hash == 0) return has_zero_;
  if (slots_.empty()) {
    const std::size_t n = size_ - (has_zero_ ? 1 : 0);
    return std::find(small_.begin(), small_.begin() + n, hash) != small_.begin() + n;
  }
  return slots_[probe(hash)] == hash;
}

std::size_t HashSet::probe(std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = static_cast<std::size_t>(hash) & mask;
  while (slots_[slot] != 0 && slots_[slot] != hash) slot = (slot + 1) & mask;
  return slot;
}

void HashSet::grow() {
  constexpr std::size_t kFirstSlots = 64;
  std::vector<std::uint64_t> old = std::move(slots_);
  if (old.empty()) old.assign(small_.begin(), small_.end());
  slots_.assign(slots_.empty() && old.size() <= small_.size() ? kFirstSlots : 2 * old.size(), 0);
  for (std::uint64_t hash : old) {
    if (hash != 0) slots_[probe(hash)] = hash;
  }
}

std::size_t SizeModel::skeleton() const {
  std::size_t record = layout.pretty() ? sat_add(sat_mul(depth + 1, layout.indent), 2) : 1;
  return std::min(kCostCap, sat_add(overhead(rows, depth, layout),
                                    sat_mul(rows, record)));
}

std::size_t SizeModel::own_cost(const Column& column, bool exact) const {
  std::size_t entry = entry_layout(layout, depth, column.path.size());
  std::size_t values = exact ? column.full_chars : column.floor_chars;
  return std::min(kCostCap, sat_add(sat_add(column.key_chars, values),
                                    sat_mul(column.present, entry)));
}

std::size_t SizeModel::enclosing_cost(const Column& column) const {
  std::size_t entry = entry_layout(layout, depth, column.path.size());
  return std::min(kCostCap, sat_add(column.key_chars,
                                    sat_mul(column.present, sat_mul(2, entry))));
}

ColumnCost column_cost(const SizeModel& model, const std::vector<Column>& columns,
                       std::size_t c, bool exact,
                       const std::unordered_set<std::size_t>& containers) {
  ColumnCost cost;
  cost.size = model.own_cost(columns[c], exact);
  for (auto p = columns[c].parent; p; p = columns[*p].parent) {
    if (containers.count(*p) > 0) continue;
    cost.containers.push_back(*p);
    cost.size = sat_add(cost.size, model.enclosing_cost(columns[*p]));
  }
  return cost;
}

std::size_t selection_cost(const SizeModel& model,
                           const std::vector<Column>& columns,
                           const std::vector<std::size_t>& selection,
                           const std::vector<bool>& exact) {
  std::size_t total = model.skeleton();
  std::unordered_set<std::size_t> containers;
  for (std::size_t c : selection) {
    ColumnCost cost = column_cost(model, columns, c, c < exact.size() && exact[c],
                                  containers);
    total = sat_add(total, cost.size);
    containers.insert(cost.containers.begin(), cost.containers.end());
  }
  return total;
}

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 29;
  return x;
}

std::uint64_t value_hash(const Value& value) {
  SipHasher h;
  switch (value.kind()) {
    case Kind::Null:
      h.update(0);
      break;
    case Kind::Bool:
      h.update(1).update(value.as_bool() ? 1 : 0);
      break;
    case Kind::Number:
    case Kind::String:
      h.update(value.is_number() ? 2 : 3).update(value.text()).update(0xFF);
      break;
    default:
      break;
  }
  return h.finish();
}

void visit(Layout layout, Discovery& discovery, std::span<const Member> entries,
           std::optional<std::size_t> parent, Path& path, std::size_t depth,
           std::size_t row, std::size_t head) {
  Scanner(layout, discovery, {head, head}).entries(entries, parent, path, depth, row);
}

std::size_t floor(Layout layout, const Value& value, const Meta& meta,
                  std::size_t depth, std::size_t head) {
  return floors_at<1>(layout, value, meta, depth, {head})[0];
}

std::vector<Member> project(std::span<const Member> entries, const Discovery& discovery,
                            const std::vector<bool>& keep, const std::vector<bool>& open,
                            Arena& arena, bool deep) {
  ColumnIndex index(discovery);
  Path path;
  return project_entries(entries, std::nullopt, path, index, keep, open, arena, deep);
}

PlanOutcome plan(Fitter& fitter, std::span<const Value> items, std::size_t budget,
                 std::size_t depth, bool first, std::size_t head,
                 const std::optional<Query>& query) {
  Scan scanned = scan(fitter.request().layout, query, items, depth, {head, head});
  std::optional<Scoring> scoring;
  // The plan refers to the scan, so the scan goes with it.
  auto discovery = std::make_unique<Discovery>(std::move(scanned.discovery));
  PlanOutcome outcome =
      plan_scanned(fitter, *discovery, scoring, items, budget, depth, first, head);
  if (outcome.plan) outcome.plan->own_discovery = std::move(discovery);
  return outcome;
}

void discount_redundant(const Discovery& discovery, std::vector<ScoredColumn>& scored,
                        const std::vector<std::optional<std::string>>& roles) {
  const std::vector<Column>& columns = discovery.columns;

  // Duplicates: the same values in the same records. The best of a group
  // keeps its score; the others keep 15 %.
  struct PairHash {
    std::size_t operator()(const std::pair<std::size_t, std::uint64_t>& p) const {
      return std::hash<std::uint64_t>()(p.second ^ (p.first * kRowSpread));
    }
  };
  std::unordered_map<std::pair<std::size_t, std::uint64_t>,
                     std::vector<std::size_t>, PairHash>
      groups;
  for (std::size_t i = 0; i < scored.size(); ++i) {
    const Column& col = columns[scored[i].column];
    if (col.present > 2 && col.scalars == col.present && !col.constant) {
      groups[{col.present, col.fingerprint}].push_back(i);
    }
  }
  auto better = [&](std::size_t a, std::size_t b) {
    double ra = rank(scored[a].score), rb = rank(scored[b].score);
    if (ra != rb) return ra > rb;
    std::size_t la = columns[scored[a].column].path.size();
    std::size_t lb = columns[scored[b].column].path.size();
    if (la != lb) return la < lb;
    return scored[a].column < scored[b].column;
  };
  for (auto& [key, members] : groups) {
    if (members.size() < 2) continue;
    std::size_t best = *std::min_element(members.begin(), members.end(), better);
    for (std::size_t i : members) {
      if (i != best) scored[i].score *= 0.15;
    }
  }

  // Shared roles: the k-th best column of a role keeps 0.75^k of its score.
  std::unordered_map<std::string, std::vector<std::size_t>> by_role;
  for (std::size_t i = 0; i < scored.size() && i < roles.size(); ++i) {
    if (roles[i]) by_role[*roles[i]].push_back(i);
  }
  for (auto& [role, members] : by_role) {
    std::stable_sort(members.begin(), members.end(),
                     [&](std::size_t a, std::size_t b) {
                       double ra = rank(scored[a].score), rb = rank(scored[b].score);
                       if (ra != rb) return ra > rb;
                       return scored[a].column < scored[b].column;
                     });
    double factor = 1.0;
    for (std::size_t i : members) {
      scored[i].score *= factor;
      factor *= 0.75;
    }
  }
}

Filled fill(Fitter& fitter, const std::vector<Child>& items,
            const std::vector<std::size_t>& floors, std::size_t slack,
            std::size_t depth, const std::vector<std::string_view>& labels,
            std::size_t head) {
  const Layout layout = fitter.request().layout;
  auto fit_one = [&](std::size_t i, std::size_t target) -> Fitted {
    const Value& value = items[i].value;
    const Meta& meta = items[i].meta;
    if (target >= meta.size) return Fitted{value, meta.size};
    if (!value.is_object() || value.members().empty()) {
      return fitter.fit(value, meta, target, depth);
    }
    const std::span<const Member> members = value.members();
    const std::size_t m = members.size();
    std::vector<Child> children;
    std::vector<std::size_t> child_floors;
    std::vector<std::string_view> keys;
    children.reserve(m);
    child_floors.reserve(m);
    keys.reserve(m);
    std::size_t base = overhead(m, depth, layout);
    for (const Member& member : members) {
      const Meta child = meta_of(member.value);
      children.push_back(Child{member.value, child});
      child_floors.push_back(floor(layout, member.value, child, depth + 1, head));
      keys.push_back(member.key.text());
      base = sat_add(base, member.key.json_size() + layout.key_separator());
    }
    std::size_t fixed = base;
    for (std::size_t f : child_floors) fixed = sat_add(fixed, f);
    std::size_t child_slack = target > fixed ? target - fixed : 0;
    Filled inner = fill(fitter, children, child_floors, child_slack, depth + 1, keys, head);
    std::vector<Member> out;
    out.reserve(m);
    for (std::size_t j = 0; j < m; ++j) out.push_back(Member{members[j].key, inner.values[j]});
    return Fitted{Value::object(fitter.arena(), out), sat_add(base, inner.total)};
  };
  return share_out(items, floors, slack, Overdraw::Carry, fitter.path(), labels, fit_one);
}

std::string path_string(const Path& base, const Path& relative) {
  std::string out;
  for (std::string_view segment : base) {
    out.push_back('/');
    out.append(segment);
  }
  out.append("/*");
  for (std::string_view segment : relative) {
    out.push_back('/');
    out.append(segment);
  }
  return out;
}

Fitted execute(Fitter& fitter, Plan&& plan, std::size_t depth) {
  const Request& request = fitter.request();
  std::vector<std::string_view> labels(plan.rows.size(), "*");
  Filled filled = fill(fitter, plan.rows, plan.floors, plan.slack, depth + 1, labels, plan.head);
  std::size_t size = sat_add(overhead(plan.rows.size(), depth, request.layout), filled.total);

  // Dropped fields: for each left-out column the unit that disappeared, the
  // outermost enclosing object of which nothing was kept or else the field.
  const Path& base = fitter.path();
  const Discovery& discovery = *plan.discovery;
  std::vector<DroppedField> dropped;
  PathSet reported;
  for (const ScoredColumn& s : plan.scored) {
    if (plan.selected[s.column]) continue;
    const Column& col = discovery.columns[s.column];
    Path unit;
    for (std::string_view segment : col.path) {
      unit.push_back(segment);
      if (unit.size() < col.path.size() && plan.prefixes.count(unit) == 0) break;
    }
    if (!reported.insert(unit).second) continue;
    auto found = discovery.index.find(unit);
    std::size_t count = found != discovery.index.end()
                            ? discovery.columns[found->second].present
                            : col.present;
    dropped.push_back(DroppedField{path_string(base, unit), count});
  }
  std::sort(dropped.begin(), dropped.end(),
            [](const DroppedField& a, const DroppedField& b) {
              if (a.items != b.items) return a.items > b.items;
              return a.path < b.path;
            });
  Stats& stats = fitter.stats();
  stats.fields_dropped += dropped.size();
  for (DroppedField& d : dropped) {
    if (stats.dropped_fields.size() >= kMaxDroppedListed) break;
    stats.dropped_fields.push_back(std::move(d));
  }

  if (request.options.explain) {
    std::vector<FieldDecision> decisions;
    decisions.reserve(plan.scored.size());
    for (const ScoredColumn& s : plan.scored) {
      const Column& col = discovery.columns[s.column];
      decisions.push_back(FieldDecision{path_string(base, col.path),
                                        thousandths(s.score),
                                        plan.selected[s.column],
                                        thousandths(plan.relevances[s.column])});
    }
    std::sort(decisions.begin(), decisions.end(),
              [](const FieldDecision& a, const FieldDecision& b) {
                if (a.score != b.score) return a.score > b.score;
                return a.path < b.path;
              });
    for (FieldDecision& d : decisions) stats.field_decisions.push_back(std::move(d));
  }

  ++stats.arrays_condensed;
  if (plan.arena) fitter.arena().adopt(std::move(*plan.arena));
  return Fitted{Value::array(fitter.arena(), filled.values), size};
}

std::optional<Fitted> condense(Fitter& fitter, std::span<const Value> items,
                               std::size_t budget, std::size_t depth) {
  if (items.size() < 2) return std::nullopt;
  for (const Value& item : items) {
    if (!item.is_object()) return std::nullopt;
  }
  std::optional<Plan> held = choose_plan(fitter, items, budget, depth);
  if (!held) return std::nullopt;
  return execute(fitter, std::move(*held), depth);
}

}  // namespace quendra

// The pruning engine: one analysis pass over a document (sizes, smallest
// reachable sizes, shapes, protection) and the recursive fitter that shrinks
// a node to a character budget by sampling arrays, trimming objects and
// shortening strings. Sizes are computed arithmetically, never by rendering.
#ifndef QUENDRA_PRUNE_H_
#define QUENDRA_PRUNE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "fields.h"
#include "lexical.h"
#include "options.h"
#include "protect.h"
#include "value.h"

namespace quendra {

// Condensing types (condense.h) used by the condensing declarations below.

struct Meta;

// The analyses of a container's elements: an array of fixed length, made at
// once, in one allocation that also holds the length, so that a leaf's list
// costs one pointer and no allocation.
class MetaList {
 public:
  MetaList() = default;
  // `count` default analyses, to be filled in place.
  explicit MetaList(std::size_t count);
  MetaList(const MetaList& other);
  MetaList(MetaList&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  MetaList& operator=(MetaList other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~MetaList();

  std::size_t size() const { return block_ == nullptr ? 0 : block_->size; }
  bool empty() const { return size() == 0; }
  Meta* begin();
  Meta* end();
  const Meta* begin() const;
  const Meta* end() const;
  Meta& operator[](std::size_t i);
  const Meta& operator[](std::size_t i) const;
  operator std::span<const Meta>() const;

 private:
  // Allocation layout: the header, then `size` Metas.
  struct Header {
    std::size_t size;
  };

  Header* block_ = nullptr;
};

// Analysis record of one node of the analysed document. Read-only once built.
// Analyses are kept for every node of a document, so the record is packed:
// a count of protected leaves stays far below 2^62 (every leaf is a node in
// memory), which leaves the top bits of its word to the two flags.
struct Meta {
  MetaList children;           // one per element or member, same order
  std::size_t size = 0;        // full size of the node at its depth
  std::size_t min_size = 0;    // smallest size fitting can reach; <= size
  std::uint64_t shape = 0;     // shape_of(node)
  std::uint64_t protected_leaves : 62 = 0;  // protected scalars/strings below
  bool is_protected : 1 = false;   // the node itself is protected
  bool has_protected : 1 = false;  // the node must survive minimal forms
};

inline Meta* MetaList::begin() {
  return block_ == nullptr ? nullptr
                           : std::launder(reinterpret_cast<Meta*>(block_ + 1));
}
inline Meta* MetaList::end() { return begin() + size(); }
inline const Meta* MetaList::begin() const {
  return block_ == nullptr
             ? nullptr
             : std::launder(reinterpret_cast<const Meta*>(block_ + 1));
}
inline const Meta* MetaList::end() const { return begin() + size(); }
inline Meta& MetaList::operator[](std::size_t i) { return begin()[i]; }
inline const Meta& MetaList::operator[](std::size_t i) const { return begin()[i]; }
inline MetaList::operator std::span<const Meta>() const { return {begin(), size()}; }

// One entry of Stats::dropped_fields.
struct DroppedField {
  std::string path;
  std::size_t items = 0;
};

// One entry of Stats::field_decisions; score and relevance in thousandths.
struct FieldDecision {
  std::string path;
  std::uint32_t score = 0;
  bool kept = false;
  std::uint32_t relevance = 0;
};

// What one fitting attempt did; the report prints it under the same names.
struct Stats {
  std::vector<DroppedField> dropped_fields;
  std::vector<FieldDecision> field_decisions;
  std::size_t strings_truncated = 0;
  std::size_t arrays_sampled = 0;
  std::size_t items_omitted = 0;
  std::size_t objects_trimmed = 0;
  std::size_t keys_omitted = 0;
  std::size_t containers_collapsed = 0;
  std::size_t arrays_condensed = 0;
  std::size_t fields_dropped = 0;
  std::size_t protected_omitted = 0;
};

// A key path: member keys from the root, "*" for array items.
using Path = std::vector<std::string>;

// A key path whose segments are viewed, not owned; sets and maps of paths
// can be searched with it without copying the segments.
using PathView = std::span<const std::string_view>;

// Hash of a path, equal for a Path and a PathView of the same segments.
struct PathHash {
  using is_transparent = void;
  std::size_t operator()(const Path& path) const;
  std::size_t operator()(PathView path) const;
};

// Segment-wise equality of paths, owned or viewed.
struct PathEq {
  using is_transparent = void;
  bool operator()(const Path& a, const Path& b) const { return a == b; }
  bool operator()(const Path& a, PathView b) const;
  bool operator()(PathView a, const Path& b) const { return (*this)(b, a); }
};

using PathSet = std::unordered_set<Path, PathHash, PathEq>;

// A fitted node and its size at its depth.
struct Fitted {
  Value value;
  std::size_t size = 0;
};

// A child handed to Pruner::water_fill: borrowed node and analysis.
struct Child {
  const Value* value = nullptr;
  const Meta* meta = nullptr;
};

// Result of Pruner::water_fill: fitted values in child order and the sum of
// their sizes.
struct Filled {
  std::vector<Value> values;
  std::size_t total = 0;
};

// floor(f * budget) as an unsigned count, 0 when negative, saturating.
std::size_t scaled_budget(double f, std::size_t budget);

// Share of the budget that a field of this score may bring the running cost
// to when fields are chosen by score: 1.0 from 0.75, 0.9 from 0.45, else
// (and for NaN) 0.7.
double score_factor(double score);

// Bookkeeping of the items an array keeps and of the gap markers standing for
// the runs of items left out. Initially no item is chosen and one gap covers
// the whole array.
class Selection {
 public:
  Selection(bool pretty, std::size_t indent, std::size_t length,
            std::size_t depth);

  // Size of the gap marker for `count` items; 0 when `count` is 0.
  static std::size_t gap_cost(std::size_t count);

  // The number of gap markers and their total size if `index` were added.
  // REQUIRES: index < length and index not chosen.
  std::pair<std::size_t, std::size_t> split(std::size_t index) const;

  // Size of the array holding the chosen items at their charged sizes, the
  // gap markers and the item `index` at size `item_size`.
  std::size_t cost_if_add(std::size_t index, std::size_t item_size) const;

  // Chooses `index`, charged at `item_size`.
  void add(std::size_t index, std::size_t item_size);

  // Size of the array holding the chosen items and the gap markers.
  std::size_t cost() const;

  const std::set<std::size_t>& chosen() const { return chosen_; }
  std::size_t kept_size() const { return kept_size_; }
  std::size_t markers() const { return markers_; }
  std::size_t gaps_size() const { return gaps_size_; }

 private:
  bool pretty_;
  std::size_t indent_;
  std::size_t length_;
  std::size_t depth_;
  std::set<std::size_t> chosen_;
  std::size_t kept_size_ = 0;
  std::size_t markers_ = 1;
  std::size_t gaps_size_;
};

// The engine's context for one analysis or one fitting attempt: layout,
// options, scorer, the running key path and the attempt's counters.
class Pruner {
 public:
  // A pruner measuring compact (`pretty` false) or indented JSON with
  // `indent` spaces a level, with the protect patterns of `options` compiled.
  // `options` and `scorer` must outlive the pruner.
  static Pruner with_scorer(bool pretty, std::size_t indent,
                            const Options& options, const FieldScorer& scorer);

  // Analysis of `value` standing at `depth` whose key path is `path`
  // (extended and restored during the call). `inherited` says an ancestor is
  // protected.
  Meta analyze_at(const Value& value, std::size_t depth, Path& path,
                  bool inherited);

  // Fits `value` (analysed as `meta`) at `depth` to `budget`. The result may
  // exceed the budget: nothing is smaller than the minimal form and protected
  // nodes stay whole. The input tree and `meta` are not changed.
  Value fit(const Value& value, const Meta& meta, std::size_t budget,
            std::size_t depth);

  // As fit(), also giving the size of the fitted node.
  Fitted fit_sized(const Value& value, const Meta& meta, std::size_t budget,
                   std::size_t depth);

  // The smallest form of `value`: a copy when it cannot shrink, the string
  // marker for a string, the gap marker alone for an array, the keys marker
  // (after the minimal forms of members holding protected content) for an
  // object. Counts what it leaves out.
  Fitted minimal(const Value& value, const Meta& meta, std::size_t depth);

  // Item selection for an array. REQUIRES: meta.min_size < budget < meta.size.
  Fitted fit_array(const Value& array, const Meta& meta, std::size_t budget,
                   std::size_t depth);

  // Key selection for an object. REQUIRES: meta.min_size < budget < meta.size.
  Fitted fit_object(const Value& object, const Meta& meta, std::size_t budget,
                    std::size_t depth);

  // Condense-mode key choice for an object: the indices of the kept members
  // in the order they were accepted, each charged at its key cost plus its
  // value's min_size.
  std::vector<std::size_t> select_keys(const Value& object, const Meta& meta,
                                       std::size_t budget, std::size_t depth);

  // Shares `pool` spare characters among `children` at `depth`, smallest spare
  // room first; each child gets its min_size plus its share. While child j is
  // fitted, keys[j] (or "*" beyond the keys) is on `path`.
  Filled water_fill(const std::vector<Child>& children, std::size_t pool,
                    std::size_t depth, const std::vector<std::string_view>& keys);

  // The request's query, absent without `arguments` or while
  // `condense_pass` is raised.
  std::optional<Query> query() const;

  // Size of the array holding only the gap marker for `count` items.
  std::size_t collapsed_array_size(std::size_t count, std::size_t depth) const;
  // Size of the object holding only the keys marker for `count` keys.
  std::size_t collapsed_object_size(std::size_t count, std::size_t depth) const;

  // Container overhead for `k` children at depth `d` in this layout.
  std::size_t overhead(std::size_t k, std::size_t d) const;
  // Separator between a key and its value: 1 compact, 2 indented.
  std::size_t sep() const { return pretty ? 2 : 1; }

  const Options& options() const { return *options_; }
  const FieldScorer& scorer() const { return *scorer_; }

  // Condensing (condense.cc).
  // The types named with `struct` here are defined in condense.h.

  // Condenses the array whose elements are `items` (analysed as `meta`) at
  // `depth` to `budget`: every item is kept, cut down to one shared set of
  // fields, and the dropped fields (and, with `explain`, every field
  // decision) go to `stats`. Absent when condensing declines: fewer than two
  // items, an item that is not an object, or no acceptable choice of fields.
  // preview_head, pinned_paths and condense_pass are left as on entry
  // (pinned_paths empty, condense_pass lowered).
  std::optional<Fitted> try_condense(const std::vector<Value>& items,
                                     const Meta& meta, std::size_t budget,
                                     std::size_t depth);

  // Scans the members `entries` of one object of record `row` (analysed as
  // `meta`, standing at `depth`, at key path `path` within the record) into
  // the columns of `discovery`. When `nested`, new columns get `parent`.
  // Non-empty objects with fewer than 4 keys on their path are scanned too.
  // `path` is extended and restored during the call.
  void visit(struct Discovery& discovery, const std::vector<Member>& entries,
             const Meta& meta, bool nested, std::optional<std::size_t> parent,
             Path& path, std::size_t depth, std::size_t row) const;

  // The smallest size condensing shrinks a cell to: the full size when the
  // node cannot shrink; an object keeping every key with each value at its
  // floor; a string longer than preview_head + 16 characters as its first
  // preview_head characters and "…[+N chars]", when that is smaller; any
  // other node its min_size.
  std::size_t floor(const Value& value, const Meta& meta,
                    std::size_t depth) const;

  // The members of `entries` whose key path (`path` plus the key) is in
  // `paths`, copied whole, and those whose path is in `prefixes` with an
  // object value, cut down recursively; record order kept. `path` is
  // extended and restored during the call.
  std::vector<Member> project(const std::vector<Member>& entries, Path& path,
                              const PathSet& paths,
                              const PathSet& prefixes) const;

  // One planning attempt for the array of objects `items` (analysed as
  // `metas`) at `depth` under `budget`: refused (not uniform, checked only
  // when `first`), no plan, or a plan. Leaves pinned_paths holding the
  // pattern paths of the chosen exact columns; the caller empties it.
  struct PlanOutcome plan(const std::vector<Value>& items,
                          std::span<const Meta> metas, std::size_t budget,
                          std::size_t depth, bool first);

  // Discounts redundant columns in `scored` (candidate columns of
  // `discovery`, `roles[i]` the role of scored[i]): columns holding the same
  // values in the same records keep 15 % of their score except the best;
  // the k-th best column of a shared role keeps 0.75^k of its score.
  void discount_redundant(
      const struct Discovery& discovery, std::vector<struct ScoredColumn>& scored,
      const std::vector<std::optional<std::string>>& roles) const;

  // Spreads `extra` spare characters (may be negative) over `items` at
  // `depth`, each starting from floors[i]: the smallest wants first, each
  // getting at most an even share of what is left. Objects are filled member
  // by member; other nodes are fitted. While item i is filled, labels[i] (or
  // "*" beyond the labels) is on `path`.
  Filled fill(const std::vector<Child>& items,
              const std::vector<std::size_t>& floors, std::int64_t extra,
              std::size_t depth, const std::vector<std::string_view>& labels);

  // The report form of the column path `relative` of the records of the
  // array at `base`: "/" before each segment of base, "/*", then "/" before
  // each segment of relative ("/data/items/*/user/name").
  static std::string path_string(const Path& base, const Path& relative);

  // Builds the condensed array of `plan` at `depth` and records the dropped
  // fields, the field decisions and the condensed array in `stats`.
  Fitted execute(const struct Plan& plan, std::size_t depth);
  // End of condensing.

  bool pretty = false;       // indented measure
  std::size_t indent = 0;    // spaces per level
  Stats stats;               // counters of this attempt
  Path path;                 // key path of the node being fitted
  std::vector<Pattern> patterns;  // compiled protect entries, option order
  std::size_t preview_head = 24;  // head length of condensing's estimates
  PathSet pinned_paths;      // paths analysis treats as protected
  bool condense_pass = false;  // raised during condensing's second pass

 private:
  Pruner(bool pretty, std::size_t indent, const Options& options,
         const FieldScorer& scorer);

  // Whether the node at `path` is protected by a pattern or pinned.
  bool protected_path(const Path& path) const;

  // The shape and the quoted key sizes of an object's key list. Records of
  // one array mostly repeat their keys in the same order, so analysis keeps
  // the lists it met last and reuses what it computed for them.
  struct KeyList {
    std::vector<std::string> keys;
    std::vector<std::size_t> key_sizes;  // quoted(key) for each key
    std::uint64_t shape = 0;             // shape_of the object
    bool filled = false;                 // the fields describe a list
  };
  static constexpr std::size_t kKeyLists = 16;

  // The KeyList of the keys of `object`, computed unless remembered.
  // REQUIRES: `object` is an object.
  const KeyList& key_list(const Value& object);

  const Options* options_;
  const FieldScorer* scorer_;
  // shape_of a node of each kind but Object (indexed by Kind); the shape of
  // every non-object node depends on its kind only.
  std::array<std::uint64_t, 6> kind_shapes_{};
  std::array<KeyList, kKeyLists> key_lists_;  // by a digest of the key list
};

}  // namespace quendra

#endif  // QUENDRA_PRUNE_H_

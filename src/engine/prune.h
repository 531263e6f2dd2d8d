// The pruning engine: one analysis pass over a document (sizes, smallest
// reachable sizes, shapes, protection) and the recursive fitter that shrinks
// a node to a character budget by sampling arrays, trimming objects and
// shortening strings. Sizes are computed arithmetically, never by rendering.
#ifndef QUENDRA_ENGINE_PRUNE_H_
#define QUENDRA_ENGINE_PRUNE_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "document/json.h"
#include "document/options.h"
#include "document/protect.h"
#include "document/value.h"
#include "engine/fields.h"
#include "engine/lexical.h"
#include "engine/size.h"
#include "engine/text.h"

namespace quendra {

// Analysis of one node of an analysed document, computed once before any
// fitting. A non-empty container keeps its own in the node's annotation; for
// any other node it follows from the node and its protection mark
// (Pruner::meta_of). A count of protected leaves stays far below 2^62 (every
// leaf is a node in memory), which leaves the top bits of its word to the two
// flags.
struct Meta {
  std::size_t size = 0;        // full size of the node at its depth
  std::size_t min_size = 0;    // smallest size fitting can reach; <= size
  std::uint64_t shape = 0;     // shape_of(node) for an array item; else 0 for objects
  std::uint64_t protected_leaves : 62 = 0;  // protected scalars/strings below
  bool is_protected : 1 = false;   // the node itself is protected
  bool has_protected : 1 = false;  // the node must survive minimal forms
};

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

// A key path: member keys from the root, "*" for array items. Segments view
// the document's keys (or literals), which outlive the paths made of them.
using Path = std::vector<std::string_view>;

// A key path held elsewhere; sets and maps of paths can be searched with it
// without making a Path.
using PathView = std::span<const std::string_view>;

// Hash of a path, equal for a Path and a PathView of the same segments.
struct PathHash {
  using is_transparent = void;
  std::size_t operator()(PathView path) const;
};

// Segment-wise equality of paths, owned or viewed.
struct PathEq {
  using is_transparent = void;
  bool operator()(PathView a, PathView b) const {
    return std::ranges::equal(a, b);
  }
};

using PathSet = std::unordered_set<Path, PathHash, PathEq>;

// A fitted node and its size at its depth.
struct Fitted {
  Value value;
  std::size_t size = 0;
};

// A child handed to Pruner::water_fill: the node and its analysis.
struct Child {
  Value value;
  Meta meta;
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
  Selection(Layout layout, std::size_t length, std::size_t depth);

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
  Layout layout_;
  std::size_t length_;
  std::size_t depth_;
  std::set<std::size_t> chosen_;
  std::size_t kept_size_ = 0;
  std::size_t markers_ = 1;
  std::size_t gaps_size_;
};

// What one request fixes for all of its attempts, built once by the
// pipeline and borrowed by the analysis and by every attempt's Pruner.
struct Request {
  // The request of `options` written in `layout`: its scorer, its protect
  // patterns compiled and its query parsed.
  Request(const Options& options, Layout layout);

  Options options;
  Layout layout;
  const FieldScorer& scorer;
  std::vector<Pattern> patterns;  // protect entries, option order
  std::optional<Query> query;     // absent without arguments or terms
  TextSettings text;

  // What the scorer and the query make of a key standing alone, worked out
  // once per distinct key of the call: objects of one shape ask about the
  // same keys over and over. The answer stays valid until the next call.
  struct KeyInfo {
    KeyFacts facts;
    double name_relevance = 0;  // of the key's words to the query
  };
  const KeyInfo& key_info(std::string_view key) const;

 private:
  // The first kKeyInfos distinct keys are remembered; keys beyond them are
  // rarely asked about twice (one object with a million keys).
  static constexpr std::size_t kKeyInfos = 4096;
  mutable std::unordered_map<std::string_view, KeyInfo> key_infos_;
  mutable KeyInfo unremembered_;
};

// How the spare room of a share-out is accounted after each child: a child
// that takes more than its offer either drains the pool to 0 (Clamp), or
// leaves a debt that later children repay, and one that takes less than its
// floor gives the difference back (Carry).
enum class Overdraw : unsigned char { Clamp, Carry };

// Shares `pool` spare characters among `children`, those wanting the least
// first (want: full size minus floor, ties in child order). Each is offered
// its floor plus min(want, pool / children left) and fitted to that by
// `fit(child index, target)`, which returns the fitted node and its size,
// while labels[j] (or "*" beyond the labels) is on `path`; the pool then pays
// what the child took beyond its floor. `floors[j]` (or the child's min_size
// beyond the floors given) is what child j has for sure. Returns the fitted
// nodes in child order and their total size.
template <typename Fit>
Filled share_out(const std::vector<Child>& children, std::span<const std::size_t> floors,
                 std::size_t pool, Overdraw overdraw, Path& path,
                 std::span<const std::string_view> labels, Fit&& fit);

// The analysis of a node that keeps none of its own (anything but a
// non-empty container): its size, its smallest form, and its shape, all
// following from the node; `protected_` when it is protected.
Meta leaf_meta(const Value& value, bool protected_);

// The analysis of an analysed node: a non-empty container's own, or else
// leaf_meta() of the node and its protection mark.
static_assert(sizeof(Meta) <= Value::kAnnotationBytes);

inline Meta meta_of(const Value& value) {
  if (value.count() > 0) return *std::launder(static_cast<const Meta*>(value.annotation()));
  return leaf_meta(value, value.marked());
}

// The engine's context for one analysis or one fitting attempt: the request
// it borrows, the arena its results go to, the running key path and the
// attempt's counters.
class Pruner {
 public:
  // `request` and `arena` must outlive the pruner; what it makes (fitted
  // nodes, analyses) lives in `arena`.
  Pruner(const Request& request, Arena& arena);

  // Analyses `value` standing at `depth` whose key path is `path` (extended
  // and restored during the call), and every node below it: a non-empty
  // container keeps its analysis in its annotation, any other node its
  // protection in its mark. `inherited` says an ancestor is protected; paths
  // in `pinned` count as protected too. With `reuse`, a container that holds
  // an analysis already keeps it (the caller knows it could not differ).
  // Returns the analysis of `value`.
  Meta analyze_at(Value& value, std::size_t depth, Path& path, bool inherited,
                  const PathSet* pinned = nullptr, bool reuse = false);

  // Fits `value` (analysed as `meta`) at `depth` to `budget`. The result may
  // exceed the budget: nothing is smaller than the minimal form and protected
  // nodes stay whole. The input tree and its analysis are not changed; the
  // result shares the nodes it keeps whole.
  Value fit(const Value& value, const Meta& meta, std::size_t budget,
            std::size_t depth);

  // As fit(), also giving the size of the fitted node.
  Fitted fit_sized(const Value& value, const Meta& meta, std::size_t budget,
                   std::size_t depth);

  // The smallest form of `value`: itself when it cannot shrink, the string
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
  std::vector<std::size_t> select_keys(const Value& object, std::size_t budget,
                                       std::size_t depth);

  // Shares `pool` spare characters among `children` at `depth`, smallest spare
  // room first; each child gets its min_size plus its share. While child j is
  // fitted, keys[j] (or "*" beyond the keys) is on `path`.
  Filled water_fill(const std::vector<Child>& children, std::size_t pool,
                    std::size_t depth, const std::vector<std::string_view>& keys);

  // Size of the array holding only the gap marker for `count` items.
  std::size_t collapsed_array_size(std::size_t count, std::size_t depth) const;
  // Size of the object holding only the keys marker for `count` keys.
  std::size_t collapsed_object_size(std::size_t count, std::size_t depth) const;

  // Container overhead for `k` children at depth `d` in this layout.
  std::size_t overhead(std::size_t k, std::size_t d) const;

  const Request& request() const { return *request_; }
  const Options& options() const { return request_->options; }
  Layout layout() const { return request_->layout; }
  Arena& arena() const { return *arena_; }

  Stats stats;  // counters of this attempt
  Path path;    // key path of the node being fitted

 private:
  // Whether the node at `path` is protected by a pattern or in `pinned`.
  bool protected_path(const Path& path, const PathSet* pinned) const;

  // The shape of an object's key list. Records of one array mostly repeat
  // their keys in the same order, so analysis keeps the lists it met last
  // and reuses the shapes it computed for them.
  struct KeyList {
    std::vector<std::string_view> keys;
    std::uint64_t shape = 0;  // shape_of the object
    bool filled = false;      // the fields describe a list
  };
  static constexpr std::size_t kKeyLists = 16;

  // The KeyList of the keys of `object`, computed unless remembered.
  // REQUIRES: `object` is an object.
  const KeyList& key_list(const Value& object);

  // A string of the arena.
  Value string(std::string_view text) const { return Value::string(*arena_, text); }

  const Request* request_;
  Arena* arena_;
  std::array<KeyList, kKeyLists> key_lists_;  // by a digest of the key list
};

template <typename Fit>
Filled share_out(const std::vector<Child>& children, std::span<const std::size_t> floors,
                 std::size_t pool, Overdraw overdraw, Path& path,
                 std::span<const std::string_view> labels, Fit&& fit) {
  const std::size_t k = children.size();
  auto floor_of = [&](std::size_t j) {
    return j < floors.size() ? floors[j] : children[j].meta.min_size;
  };
  auto want = [&](std::size_t j) {
    std::size_t size = children[j].meta.size;
    std::size_t f = floor_of(j);
    return size > f ? size - f : std::size_t{0};
  };
  std::vector<std::size_t> order(k);
  for (std::size_t j = 0; j < k; ++j) order[j] = j;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return want(a) < want(b); });

  Filled filled;
  filled.values.resize(k);
  // The pool with a debt: a Carry share-out may take more than it has, and
  // the children after it get nothing until the debt is repaid.
  std::size_t debt = 0;
  std::size_t left = k;
  for (std::size_t j : order) {
    const std::size_t offer = std::min(pool / std::max<std::size_t>(left, 1), want(j));
    path.emplace_back(j < labels.size() ? labels[j] : std::string_view("*"));
    Fitted v = fit(j, floor_of(j) + offer);
    path.pop_back();
    const std::size_t f = floor_of(j);
    if (v.size >= f) {
      std::size_t used = v.size - f;
      if (used <= pool) {
        pool -= used;
      } else {
        if (overdraw == Overdraw::Carry) debt = sat_add(debt, used - pool);
        pool = 0;
      }
    } else if (overdraw == Overdraw::Carry) {
      std::size_t gain = f - v.size;
      std::size_t repaid = std::min(debt, gain);
      debt -= repaid;
      pool = sat_add(pool, gain - repaid);
    }
    --left;
    filled.total = sat_add(filled.total, v.size);
    filled.values[j] = std::move(v.value);
  }
  return filled;
}

}  // namespace quendra

#endif  // QUENDRA_ENGINE_PRUNE_H_

// Condensing: an array of records that does not fit its budget keeps every
// record but only a shared set of fields, like a table with columns removed.
// The records are scanned into columns with statistics, the columns are
// scored and chosen under a size model, and the budget is spread over rows.
// The pruner calls condense() for such arrays and lends it the Fitter
// interface below; condensing sees nothing else of the pruner.
#ifndef QUENDRA_ENGINE_CONDENSE_H_
#define QUENDRA_ENGINE_CONDENSE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "document/json.h"
#include "document/value.h"
#include "engine/lexical.h"
#include "engine/prune.h"

namespace quendra {

// A set of 64-bit value hashes: open addressing over the hashes themselves
// (they are well mixed already), with no allocation per entry.
class HashSet {
 public:
  // Adds `hash`; true when it was not present yet.
  bool insert(std::uint64_t hash);
  bool contains(std::uint64_t hash) const;
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  // The slot holding `hash`, or the free slot where it would go.
  // REQUIRES: slots_ is not empty; hash is not 0.
  std::size_t probe(std::uint64_t hash) const;
  void grow();

  // The first few hashes (not 0) go to small_; once it is full they all move
  // to slots_, a power-of-two table where 0 marks a free slot.
  std::array<std::uint64_t, 8> small_{};
  std::vector<std::uint64_t> slots_;
  bool has_zero_ = false;  // 0 is held apart
  std::size_t size_ = 0;
};

// One key path as it occurs in the records of an array, with what the scan
// saw there. Counts and sums cover every occurrence (one per record holding
// the path, more when a record repeats the key).
struct Column {
  std::optional<std::size_t> parent;  // column of the enclosing object
  Path path;                          // keys from the record down
  std::size_t present = 0;  // values seen at this path
  std::size_t nested = 0;   // non-empty objects scanned as further columns
  std::size_t nulls = 0;
  std::size_t bools = 0;
  std::size_t numbers = 0;
  std::size_t strings = 0;
  std::size_t arrays = 0;
  std::size_t objects = 0;
  std::size_t empty = 0;         // null, "", [] or {}
  std::size_t key_chars = 0;     // rendered key, colon and (indented) space
  std::size_t full_chars = 0;    // full sizes of the values
  std::size_t floor_chars = 0;   // floor() of the values
  std::size_t position_sum = 0;  // 0-based key positions within the objects
  std::size_t scalars = 0;       // null, bool, number and string values
  // Distinct scalar value hashes; no more than kMaxValueHashes are kept.
  HashSet value_hashes;
  std::optional<std::uint64_t> first_hash;  // hash of the first scalar
  bool constant = true;       // every scalar hashed equal to the first
  std::uint64_t fingerprint = 0;  // which value sits in which record
  bool not_numeric = false;   // some value is not numeric-looking
  bool not_date = false;      // some value is not date-like
  std::size_t id_likes = 0;   // values that look like opaque identifiers
  std::size_t hits = 0;       // values some query token hits
  // Value tokens of the column (only with a query); filling stops once the
  // set holds kMaxCellTokens entries.
  TokenSet cell_tokens;
};

// Value hashes a column keeps at most.
inline constexpr std::size_t kMaxValueHashes = 1024;
// Once a column's token set holds this many entries it takes no more.
inline constexpr std::size_t kMaxCellTokens = 256;
// Objects whose path within the record has this many keys are not opened.
inline constexpr std::size_t kMaxColumnDepth = 4;

// The scan of one array: its columns in order of first appearance. The
// index views the columns' paths, so a discovery is moved, never copied.
struct Discovery {
  Discovery() = default;
  Discovery(Discovery&&) = default;
  Discovery& operator=(Discovery&&) = default;
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  std::vector<Column> columns;
  std::optional<Query> query;  // the request's query, when relevance counts
  std::unordered_map<PathView, std::size_t, PathHash, PathEq> index;  // path -> column
};

// A candidate column and its score.
struct ScoredColumn {
  std::size_t column = 0;
  double score = 0;
};

// A chosen set of columns with the records cut down to it, ready to fill.
struct Plan {
  const Discovery* discovery = nullptr;     // the scan planned from
  std::unique_ptr<Discovery> own_discovery;  // that scan, when the plan keeps it
  // Every candidate column with its final score, best first.
  std::vector<ScoredColumn> scored;
  // One record per item, item order, with its analysis. A record that keeps
  // every field whole is the item itself when analysing it again could not
  // differ; the others are cut-down or copied records in `arena`, analysed
  // there. Items must outlive the plan.
  std::vector<Child> rows;
  std::unique_ptr<Arena> arena;      // the records made for the rows
  std::vector<std::size_t> floors;  // floor() of each row
  std::vector<double> relevances;   // per column; 0 for non-candidates
  std::vector<bool> selected;       // per column: chosen
  PathSet prefixes;  // every prefix (length 1 to full) of a chosen path
  std::size_t slack = 0;  // budget minus the array with records at floors
  std::size_t head = 0;   // preview_head of the attempt
  bool complete = false;  // no candidate scoring 0.8 or more was left out
};

// The answer of one planning attempt.
struct PlanOutcome {
  enum class Kind : unsigned char {
    kRefused,   // not uniform enough to show as a table: stop condensing
    kNoPlan,    // nothing acceptable under these settings: try the next
    kAccepted,  // `plan` holds the choice
  };
  Kind kind = Kind::kNoPlan;
  std::optional<Plan> plan;  // present exactly when kind is kAccepted
};

// The size model of a condensed array: the estimated size of the array of
// `rows` records at `depth` keeping a set of columns, with every kept value
// at its floor (or whole, for exact columns). Exact when every cell is at its
// floor and every kept enclosing object holds a kept value.
struct SizeModel {
  Layout layout;
  std::size_t depth = 0;  // depth of the array
  std::size_t rows = 0;   // number of records

  // The array of empty records: overhead(rows, depth) plus 1 per record
  // compact, (depth+1)*indent+2 indented.
  std::size_t skeleton() const;
  // A column's keys, values (full when `exact`, else at their floors) and
  // per-entry layout: 1 compact, (L+depth+1)*indent+2 indented per value,
  // L the length of its path.
  std::size_t own_cost(const Column& column, bool exact) const;
  // An enclosing object's keys plus, per occurrence, its entry layout and its
  // braces (each 1 compact, (L+depth+1)*indent+2 indented).
  std::size_t enclosing_cost(const Column& column) const;
};

// Cost of adding column `c` of `columns` to a choice whose enclosing objects
// `containers` are paid for already, and the enclosing columns it newly needs
// (innermost first).
struct ColumnCost {
  std::size_t size = 0;
  std::vector<std::size_t> containers;
};
ColumnCost column_cost(const SizeModel& model, const std::vector<Column>& columns,
                       std::size_t c, bool exact,
                       const std::unordered_set<std::size_t>& containers);

// skeleton() plus the column_cost of each column of `selection` in turn, the
// enclosing objects paid once. `exact[c]` says column c is kept whole.
std::size_t selection_cost(const SizeModel& model,
                           const std::vector<Column>& columns,
                           const std::vector<std::size_t>& selection,
                           const std::vector<bool>& exact);

// mix(x) of the record fingerprint: x ^= x >> 33; x *= 0xFF51AFD7ED558CCD;
// x ^= x >> 29 (wrapping).
std::uint64_t mix(std::uint64_t x);

// Identity hash of a null, bool, number or string: SipHash-1-3 with zero keys
// of a kind byte (0 null, 1 bool, 2 number, 3 string), then 1 or 0 for a bool,
// or the text followed by 0xFF for a number or string.
// REQUIRES: `value` is not an array or object.
std::uint64_t value_hash(const Value& value);

// What condensing asks of the pruner that meets a record array: the
// request, the attempt's counters and key path, analyses of cut-down
// records, and fitting of the values it keeps.
class Fitter {
 public:
  virtual const Request& request() const = 0;
  virtual Stats& stats() = 0;
  // The key path of the node being fitted: the array's own while condensing
  // plans. Condensing extends it while it fits a value and restores it.
  virtual Path& path() = 0;
  // Fits `value` (analysed as `meta`) at `depth` to `budget`, giving the
  // fitted node and its size.
  virtual Fitted fit(const Value& value, const Meta& meta, std::size_t budget,
                     std::size_t depth) = 0;
  // Analyses `value` standing at `depth` with key path `path` (extended and
  // restored during the call) as Pruner::analyze_at does, the paths in
  // `pinned` counting as protected, keeping the analyses in `arena`.
  virtual Meta analyze(Value& value, std::size_t depth, Path& path, const PathSet& pinned,
                       bool reuse, Arena& arena) = 0;
  // Where fitted nodes go.
  virtual Arena& arena() = 0;

 protected:
  ~Fitter() = default;
};

// The Fitter of a pruner: what condensing may use of it.
class PrunerFitter final : public Fitter {
 public:
  explicit PrunerFitter(Pruner& pruner) : pruner_(pruner) {}

  const Request& request() const override { return pruner_.request(); }
  Stats& stats() override { return pruner_.stats; }
  Path& path() override { return pruner_.path; }
  Fitted fit(const Value& value, const Meta& meta, std::size_t budget,
             std::size_t depth) override {
    return pruner_.fit_sized(value, meta, budget, depth);
  }
  Meta analyze(Value& value, std::size_t depth, Path& path, const PathSet& pinned, bool reuse,
               Arena& arena) override {
    return Pruner(pruner_.request(), arena).analyze_at(value, depth, path, false, &pinned, reuse);
  }
  Arena& arena() override { return pruner_.arena(); }

 private:
  Pruner& pruner_;
};

// Condenses the array whose elements are the analysed `items` at
// `depth` to `budget`: every item is kept, cut down to one shared set of
// fields, and the dropped fields (and, with `explain`, every field decision)
// go to the fitter's stats. Absent when condensing declines: fewer than two
// items, an item that is not an object, or no acceptable choice of fields.
std::optional<Fitted> condense(Fitter& fitter, std::span<const Value> items,
                               std::size_t budget, std::size_t depth);

// The steps of condensing, each usable alone. `head` is the preview length
// of the planning attempt: how much of a long string a floor keeps.

// Scans the analysed members `entries` of one object of record `row`
// (standing at `depth`, at key path `path` within the record) into the
// columns of `discovery`; new columns get `parent`. Non-empty objects with
// fewer than 4 keys on their path are scanned too. `path` is extended and
// restored during the call.
void visit(Layout layout, Discovery& discovery, std::span<const Member> entries,
           std::optional<std::size_t> parent, Path& path, std::size_t depth,
           std::size_t row, std::size_t head);

// The smallest size condensing shrinks a cell to: the full size when the
// node cannot shrink; an object keeping every key with each value at its
// floor; a string longer than head + 16 characters as its first head
// characters and "…[+N chars]", when that is smaller; any other node its
// min_size.
std::size_t floor(Layout layout, const Value& value, const Meta& meta,
                  std::size_t depth, std::size_t head);

// The members `entries` of a record of the array scanned into `discovery`
// whose column is marked in `keep`, copied whole, and those whose column is
// marked in `open` with an object value, cut down recursively; record order
// kept. Objects cut down are made in `arena`; with `deep`, whole entries are
// deep copies there too.
std::vector<Member> project(std::span<const Member> entries, const Discovery& discovery,
                            const std::vector<bool>& keep, const std::vector<bool>& open,
                            Arena& arena, bool deep = false);

// One planning attempt for the analysed array of objects `items` at `depth`
// under `budget`, scanned with `query`: refused (not uniform, checked only
// when `first`), no plan, or a plan.
PlanOutcome plan(Fitter& fitter, std::span<const Value> items, std::size_t budget,
                 std::size_t depth, bool first, std::size_t head,
                 const std::optional<Query>& query);

// Discounts redundant columns in `scored` (candidate columns of
// `discovery`, `roles[i]` the role of scored[i]): columns holding the same
// values in the same records keep 15 % of their score except the best;
// the k-th best column of a shared role keeps 0.75^k of its score.
void discount_redundant(const Discovery& discovery, std::vector<ScoredColumn>& scored,
                        const std::vector<std::optional<std::string>>& roles);

// Spreads `slack` spare characters over `items` at `depth`, each starting
// from floors[i]: the smallest wants first, each getting at most an even
// share of what is left, a value that takes more leaving less for the rest.
// Objects are filled member by member; other nodes are fitted. While item i
// is filled, labels[i] (or "*" beyond the labels) is on the fitter's path.
Filled fill(Fitter& fitter, const std::vector<Child>& items,
            const std::vector<std::size_t>& floors, std::size_t slack,
            std::size_t depth, const std::vector<std::string_view>& labels,
            std::size_t head);

// The report form of the column path `relative` of the records of the
// array at `base`: "/" before each segment of base, "/*", then "/" before
// each segment of relative ("/data/items/*/user/name").
std::string path_string(const Path& base, const Path& relative);

// Builds the condensed array of `plan` at `depth` and records the dropped
// fields, the field decisions and the condensed array in the fitter's stats.
// The plan's records join the fitter's arena.
Fitted execute(Fitter& fitter, Plan&& plan, std::size_t depth);

}  // namespace quendra

#endif  // QUENDRA_ENGINE_CONDENSE_H_

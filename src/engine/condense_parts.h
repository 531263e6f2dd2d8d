// What the parts of condensing share beyond engine/condense.h: the scans of
// an array, the column finder that scanning, projecting and planning use
// alike, and the choice of the plan that condense() carries out. Only the
// condense*.cc files include it.
#ifndef QUENDRA_ENGINE_CONDENSE_PARTS_H_
#define QUENDRA_ENGINE_CONDENSE_PARTS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "document/json.h"
#include "document/result.h"
#include "document/value.h"
#include "engine/condense.h"
#include "engine/lexical.h"
#include "engine/prune.h"

namespace quendra {

// Spreads a small number (a record number, a count) over all 64 bits before
// it is mixed with a hash: 2^64 divided by the golden ratio.
inline constexpr std::uint64_t kRowSpread = 0x9E3779B97F4A7C15ull;

// Preview lengths of the two planning attempts of a pass.
inline constexpr std::array<std::size_t, 2> kPreviewHeads = {24, 12};

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
          std::size_t depth, const std::array<std::size_t, 2>& heads);

// The columns of the object items of an array at `depth`, found from their
// keys alone: each counts only its `present` and `key_chars`, and sums in
// `floor_chars` a lower bound of its values' floors that reads no text.
Discovery scan_keys(Layout layout, std::span<const Value> items, std::size_t depth);

// project() with the column finder of the whole array.
std::vector<Member> project_entries(std::span<const Member> entries,
                                    std::optional<std::size_t> parent, Path& path,
                                    ColumnIndex& index, const std::vector<bool>& keep,
                                    const std::vector<bool>& open, Arena& arena, bool deep);

// The plan to carry out for the object records `items` (at least two) of the
// array at `depth` under `budget`, over the planning attempts (each preview
// length of each pass): the first plan accepted that leaves out no strong
// column, else the last one accepted in the first pass that accepted any.
// Absent when no column could fit, an attempt refuses the records, or none
// is accepted.
std::optional<Plan> choose_plan(Fitter& fitter, std::span<const Value> items,
                                std::size_t budget, std::size_t depth);

}  // namespace quendra

#endif  // QUENDRA_ENGINE_CONDENSE_PARTS_H_

// Scanning the records of an array into columns: the statistics, value
// hashes and cell floors that planning reads, and the projection of records
// onto the columns a plan keeps.
#include "engine/condense.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/condense_parts.h"
#include "engine/fields.h"
#include "engine/size.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

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

}  // namespace

Scan scan(Layout layout, const std::optional<Query>& query, std::span<const Value> items,
          std::size_t depth, const std::array<std::size_t, 2>& heads) {
  Scan out;
  out.discovery.query = query;
  Scanner scanner(layout, out.discovery, heads);
  scanner.rows(items, depth);
  out.alternate_floors = scanner.alternate_floors();
  return out;
}

Discovery scan_keys(Layout layout, std::span<const Value> items, std::size_t depth) {
  Discovery keys;
  Scanner(layout, keys, {0, 0}, true).rows(items, depth);
  return keys;
}

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

}  // namespace quendra

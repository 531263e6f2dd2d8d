#include "engine/prune.h"

// How a node is fitted to its budget:
//   1. it fits: copied whole;
//   2. the budget is at or below its smallest reachable size: minimal form;
//   3. a string: shortened by fit_text;
//   4. an array: condensed when the strategy asks for it and condensing
//      accepts, else sampled (whole items by priority, one partly kept item,
//      or a few shortened samples of distinct shapes);
//   5. an object: members chosen in document order (or by score when
//      condensing), the spare budget shared among the kept values.

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <unordered_set>

#include "engine/condense.h"
#include "engine/size.h"
#include "engine/text.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

// One kept item of a sampled array and its fitted value.
struct Piece {
  std::size_t index = 0;
  Value value;
};

// Pinned path sets up to this size are searched by comparison, not hashing.
constexpr std::size_t kPinnedScanned = 8;

// The FieldProfile counters of one value standing alone.
void count_kind(const Value& value, FieldProfile& profile) {
  switch (value.kind()) {
    case Kind::Null: profile.nulls = 1; break;
    case Kind::Bool: profile.bools = 1; break;
    case Kind::Number: profile.numbers = 1; break;
    case Kind::String: profile.strings = 1; break;
    case Kind::Array: profile.arrays = 1; break;
    case Kind::Object: profile.objects = 1; break;
  }
}

// The object of `members` followed by the keys marker for `count` keys.
Value with_keys_marker(Arena& arena, std::size_t count, std::vector<Member>& members) {
  members.push_back(Member{Value::string(arena, keys_marker_key(count)),
                           Value::string(arena, kKeysMarkerValue)});
  return Value::object(arena, members);
}

// shape_of a node of each kind, for the nodes whose shape depends on their
// kind only: all but non-empty objects (indexed by Kind; the Object entry is
// the empty object's).
const std::array<std::uint64_t, 6>& kind_shapes() {
  static const std::array<std::uint64_t, 6> shapes = [] {
    std::array<std::uint64_t, 6> out{};
    for (Value v : {Value::null(), Value::boolean(false), Value::number("0"), Value::array(),
                    Value::object()}) {
      out[static_cast<std::size_t>(v.kind())] = shape_of(v);
    }
    Arena arena;
    out[static_cast<std::size_t>(Kind::String)] = shape_of(Value::string(arena, ""));
    return out;
  }();
  return shapes;
}

}  // namespace

std::size_t scaled_budget(double f, std::size_t budget) {
  double x = std::floor(f * static_cast<double>(budget));
  if (!(x > 0)) return 0;
  if (x >= 18446744073709551616.0) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(x);
}

double score_factor(double score) {
  if (score >= 0.75) return 1.0;
  if (score >= 0.45) return 0.9;
  return 0.7;  // below 0.45, and NaN
}

std::size_t PathHash::operator()(PathView path) const {
  std::size_t h = path.size();
  std::hash<std::string_view> segment_hash;
  for (std::string_view segment : path) {
    h ^= segment_hash(segment) + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  }
  return h;
}

// Selection ---------------------------------------------------------------

Selection::Selection(Layout layout, std::size_t length, std::size_t depth)
    : layout_(layout),
      length_(length),
      depth_(depth),
      markers_(length > 0 ? 1 : 0),
      gaps_size_(gap_cost(length)) {}

std::size_t Selection::gap_cost(std::size_t count) {
  return count == 0 ? 0 : gap_marker_size(count);
}

std::pair<std::size_t, std::size_t> Selection::split(std::size_t index) const {
  auto above = chosen_.lower_bound(index);
  std::size_t first = above == chosen_.begin() ? 0 : *std::prev(above) + 1;
  std::size_t end = above == chosen_.end() ? length_ : *above;
  std::size_t gap = end - first;
  std::size_t left = index - first;
  std::size_t right = end - index - 1;
  std::size_t markers = markers_ - (gap > 0 ? 1 : 0) + (left > 0 ? 1 : 0) +
                        (right > 0 ? 1 : 0);
  std::size_t gaps = gaps_size_ - gap_cost(gap) + gap_cost(left) + gap_cost(right);
  return {markers, gaps};
}

std::size_t Selection::cost_if_add(std::size_t index,
                                   std::size_t item_size) const {
  auto [markers, gaps] = split(index);
  return quendra::overhead(markers + chosen_.size() + 1, depth_, layout_) +
         kept_size_ + item_size + gaps;
}

void Selection::add(std::size_t index, std::size_t item_size) {
  auto [markers, gaps] = split(index);
  markers_ = markers;
  gaps_size_ = gaps;
  kept_size_ += item_size;
  chosen_.insert(index);
}

std::size_t Selection::cost() const {
  return quendra::overhead(markers_ + chosen_.size(), depth_, layout_) +
         kept_size_ + gaps_size_;
}

// Pruner set-up and analysis ---------------------------------------------

Request::Request(const Options& opts, Layout out)
    : options(opts),
      layout(out),
      scorer(scorer_for(opts.field_scorer)),
      patterns(compile_patterns(opts.protect)),
      query(opts.arguments ? Query::from_text(*opts.arguments) : std::nullopt),
      text(opts.text_settings()) {}

const Request::KeyInfo& Request::key_info(std::string_view key) const {
  auto make = [&](KeyInfo& info) -> const KeyInfo& {
    info.facts = key_facts(std::span<const std::string_view>(&key, 1));
    info.name_relevance = query ? query->name_match(words(key)) : 0;
    return info;
  };
  // Once full, the memory is not even searched: the keys of a call that
  // has this many are mostly asked about once.
  if (key_infos_.size() >= kKeyInfos) return make(unremembered_);
  auto [at, added] = key_infos_.try_emplace(key);
  if (added) make(at->second);
  return at->second;
}

Pruner::Pruner(const Request& request, Arena& arena) : request_(&request), arena_(&arena) {}

Meta leaf_meta(const Value& value, bool protected_) {
  Meta meta;
  meta.shape = kind_shapes()[static_cast<std::size_t>(value.kind())];
  meta.is_protected = protected_;
  meta.has_protected = protected_;
  switch (value.kind()) {
    case Kind::String:
      meta.size = value.json_size();
      // A string marker measures at least kShortestStringMarker, so shorter
      // strings keep their size.
      meta.min_size = protected_ || meta.size <= kShortestStringMarker
                          ? meta.size
                          : std::min(meta.size, string_marker_size(value.chars()));
      meta.protected_leaves = protected_ ? 1 : 0;
      break;
    case Kind::Array:
    case Kind::Object:
      // Empty: "[]" or "{}", holding no leaves.
      meta.size = meta.min_size = 2;
      break;
    default:
      meta.size = meta.min_size = size::scalar(value);
      meta.protected_leaves = protected_ ? 1 : 0;
      break;
  }
  return meta;
}

std::size_t Pruner::overhead(std::size_t k, std::size_t d) const {
  return quendra::overhead(k, d, layout());
}

std::size_t Pruner::collapsed_array_size(std::size_t count,
                                         std::size_t depth) const {
  return overhead(1, depth) + gap_marker_size(count);
}

std::size_t Pruner::collapsed_object_size(std::size_t count,
                                          std::size_t depth) const {
  return overhead(1, depth) + keys_marker_size(count, layout());
}

bool Pruner::protected_path(const Path& at, const PathSet* pinned) const {
  for (const Pattern& pattern : request().patterns) {
    if (matches(pattern, at)) return true;
  }
  if (pinned == nullptr || pinned->empty()) return false;
  // Condensing pins a few paths at a time; comparing them from the last
  // segment is cheaper than hashing every analysed node's whole path.
  if (pinned->size() <= kPinnedScanned) {
    return std::any_of(pinned->begin(), pinned->end(), [&at](const Path& p) {
      return p.size() == at.size() && std::equal(p.rbegin(), p.rend(), at.rbegin());
    });
  }
  return pinned->count(at) > 0;
}

const Pruner::KeyList& Pruner::key_list(const Value& object) {
  const std::span<const Member> members = object.members();
  // The slot is chosen by the number of keys and the lengths and first bytes
  // of the first and last key: cheap, and alike for the records of an array.
  std::size_t digest = members.size();
  if (!members.empty()) {
    const std::string_view first = members.front().key.text();
    const std::string_view last = members.back().key.text();
    digest = digest * 31 + first.size();
    digest = digest * 31 + last.size();
    digest = digest * 31 + (first.empty() ? 0 : static_cast<unsigned char>(first[0]));
    digest = digest * 31 + (last.empty() ? 0 : static_cast<unsigned char>(last[0]));
  }
  KeyList& list = key_lists_[digest % kKeyLists];
  if (list.filled && list.keys.size() == members.size() &&
      std::equal(members.begin(), members.end(), list.keys.begin(),
                 [](const Member& m, std::string_view key) { return m.key.text() == key; })) {
    return list;
  }
  list.keys.clear();
  for (const Member& m : members) list.keys.push_back(m.key.text());
  list.shape = shape_of(object);
  list.filled = true;
  return list;
}

Meta Pruner::analyze_at(Value& value, std::size_t depth, Path& at, bool inherited,
                        const PathSet* pinned, bool reuse) {
  // A container's size is never 0 once it is analysed.
  if (reuse && value.count() > 0 && meta_of(value).size != 0) return meta_of(value);
  const bool flag = inherited || protected_path(at, pinned);
  if (value.count() == 0) {
    value.set_marked(flag);
    return leaf_meta(value, flag);
  }
  Meta meta;
  meta.is_protected = flag;
  const std::size_t k = value.count();
  if (value.is_array()) {
    std::size_t sum = 0;
    for (Value& item : value.mutable_items()) {
      at.emplace_back("*");
      Meta child = analyze_at(item, depth + 1, at, flag, pinned, reuse);
      at.pop_back();
      // Shapes tell array items apart; no other node needs one.
      if (item.is_object() && item.count() > 0 && child.shape == 0) {
        std::launder(static_cast<Meta*>(item.annotation()))->shape = key_list(item).shape;
      }
      sum += child.size;
      meta.protected_leaves += child.protected_leaves;
    }
    meta.shape = kind_shapes()[static_cast<std::size_t>(Kind::Array)];
    meta.size = overhead(k, depth) + sum;
    meta.min_size = flag ? meta.size : std::min(meta.size, collapsed_array_size(k, depth));
    meta.has_protected = flag;
  } else {
    std::span<Member> members = value.mutable_members();
    std::size_t sum = 0;
    std::size_t kept = 0;      // members whose value has protected content
    std::size_t kept_min = 0;  // their minimal member sizes
    for (Member& m : members) {
      at.push_back(m.key.text());
      const Meta child = analyze_at(m.value, depth + 1, at, flag, pinned, reuse);
      at.pop_back();
      std::size_t key_cost = m.key.json_size() + layout().key_separator();
      sum += key_cost + child.size;
      meta.protected_leaves += child.protected_leaves;
      if (child.has_protected) {
        ++kept;
        kept_min += key_cost + child.min_size;
      }
    }
    meta.size = overhead(k, depth) + sum;
    if (flag) {
      meta.min_size = meta.size;
    } else if (kept == 0) {
      meta.min_size = std::min(meta.size, collapsed_object_size(k, depth));
    } else {
      std::size_t others = k - kept;
      std::size_t minimal_size =
          overhead(kept + (others > 0 ? 1 : 0), depth) + kept_min +
          (others > 0 ? keys_marker_size(others, layout()) : 0);
      meta.min_size = std::min(meta.size, minimal_size);
    }
    meta.has_protected = flag || kept > 0;
  }
  new (value.annotation()) Meta(meta);
  return meta;
}

// Fit driver and minimal forms --------------------------------------------

Value Pruner::fit(const Value& value, const Meta& meta, std::size_t budget,
                  std::size_t depth) {
  return fit_sized(value, meta, budget, depth).value;
}

Fitted Pruner::fit_sized(const Value& value, const Meta& meta,
                         std::size_t budget, std::size_t depth) {
  if (meta.size <= budget) return Fitted{value, meta.size};
  if (budget <= meta.min_size) return minimal(value, meta, depth);
  switch (value.kind()) {
    case Kind::Null:
    case Kind::Bool:
    case Kind::Number:
      return Fitted{value, meta.size};
    case Kind::String: {
      Value text = string(fit_text(value.text(), budget, request().text));
      ++stats.strings_truncated;
      return Fitted{text, text.json_size()};
    }
    case Kind::Array:
      if (options().array_strategy == ArrayStrategy::Condense) {
        PrunerFitter host(*this);
        if (std::optional<Fitted> condensed = condense(host, value.items(), budget, depth)) {
          return *condensed;
        }
      }
      return fit_array(value, meta, budget, depth);
    case Kind::Object:
      return fit_object(value, meta, budget, depth);
  }
  return Fitted{value, meta.size};
}

Fitted Pruner::minimal(const Value& value, const Meta& meta,
                       std::size_t depth) {
  if (meta.min_size >= meta.size) return Fitted{value, meta.size};
  switch (value.kind()) {
    case Kind::String:
      ++stats.strings_truncated;
      return Fitted{string(string_marker(value.chars())), meta.min_size};
    case Kind::Array: {
      std::size_t k = value.count();
      ++stats.containers_collapsed;
      stats.items_omitted += k;
      stats.protected_omitted += meta.protected_leaves;
      const Value marker = string(gap_marker(k));
      return Fitted{Value::array(*arena_, std::span(&marker, 1)),
                    collapsed_array_size(k, depth)};
    }
    case Kind::Object: {
      const std::span<const Member> members = value.members();
      std::size_t k = members.size();
      ++stats.containers_collapsed;
      std::vector<Member> out;
      std::size_t size = 0;
      std::size_t kept_leaves = 0;
      for (std::size_t j = 0; j < k; ++j) {
        const Meta child = meta_of(members[j].value);
        if (!child.has_protected) continue;
        Fitted v = minimal(members[j].value, child, depth + 1);
        size += members[j].key.json_size() + layout().key_separator() + v.size;
        kept_leaves += child.protected_leaves;
        out.push_back(Member{members[j].key, v.value});
      }
      std::size_t others = k - out.size();
      std::size_t entries = out.size() + (others > 0 ? 1 : 0);
      size += overhead(entries, depth);
      if (others > 0) {
        stats.keys_omitted += others;
        stats.protected_omitted +=
            meta.protected_leaves > kept_leaves ? meta.protected_leaves - kept_leaves
                                                : 0;
        size += keys_marker_size(others, layout());
        return Fitted{with_keys_marker(*arena_, others, out), size};
      }
      return Fitted{Value::object(*arena_, out), size};
    }
    default:
      return Fitted{value, meta.size};
  }
}

// Arrays -------------------------------------------------------------------

Fitted Pruner::fit_array(const Value& array, const Meta& meta,
                         std::size_t budget, std::size_t depth) {
  const std::span<const Value> items = array.items();
  auto metas = [&items](std::size_t i) { return meta_of(items[i]); };
  const std::size_t n = items.size();
  if (n == 0) return minimal(array, meta, depth);

  // Priority order: the first item, then each item of a new shape until 64
  // shapes are known, then the last item, then everything else ascending.
  constexpr std::size_t kMaxShapes = 64;
  std::vector<std::size_t> order;
  order.reserve(n);
  std::vector<bool> listed(n, false);
  auto list = [&](std::size_t i) {
    order.push_back(i);
    listed[i] = true;
  };
  list(0);
  {
    std::unordered_set<std::uint64_t> shapes{metas(0).shape};
    for (std::size_t i = 1; i < n && shapes.size() < kMaxShapes; ++i) {
      if (shapes.insert(metas(i).shape).second) list(i);
    }
  }
  if (options().keep_last_item && !listed[n - 1]) list(n - 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (!listed[i]) order.push_back(i);
  }
  listed = {};

  Selection selection(layout(), n, depth);
  std::vector<Piece> pieces;
  std::size_t result_size = 0;

  // Whole items, in priority order, until the first that does not fit.
  std::optional<std::size_t> stopped;
  for (std::size_t i : order) {
    if (selection.cost_if_add(i, metas(i).size) > budget) {
      stopped = i;
      break;
    }
    selection.add(i, metas(i).size);
    pieces.push_back(Piece{i, items[i]});
  }

  if (!pieces.empty()) {
    // One more item, partly kept, when it can get enough room.
    if (stopped) {
      std::size_t s = *stopped;
      const Meta m = metas(s);
      std::size_t cost = selection.cost_if_add(s, m.min_size);
      std::size_t need =
          std::max(m.min_size, std::min(m.size, options().min_partial_chars));
      if (cost <= budget && budget - cost + m.min_size >= need) {
        std::size_t target = budget - cost + m.min_size;
        path.emplace_back("*");
        Fitted v = fit_sized(items[s], m, target, depth + 1);
        path.pop_back();
        selection.add(s, v.size);
        pieces.push_back(Piece{s, v.value});
      }
    }
    result_size = selection.cost();
  } else {
    // Not even the first item fits whole: keep a few items of distinct shapes
    // at their minimal size and share what is left among them.
    std::size_t max_samples = std::max<std::size_t>(options().max_samples, 1);
    std::unordered_set<std::uint64_t> shapes;
    std::vector<std::size_t> samples;
    for (std::size_t i : order) {
      if (samples.size() >= max_samples) break;
      if (!shapes.insert(metas(i).shape).second) continue;
      if (selection.cost_if_add(i, metas(i).min_size) > budget) break;
      selection.add(i, metas(i).min_size);
      samples.push_back(i);
    }
    if (samples.empty()) return minimal(array, meta, depth);
    std::size_t pool = budget - selection.cost();
    std::vector<Child> children;
    children.reserve(samples.size());
    for (std::size_t i : samples) children.push_back(Child{items[i], metas(i)});
    Filled filled = water_fill(children, pool, depth + 1, {});
    for (std::size_t j = 0; j < samples.size(); ++j) {
      pieces.push_back(Piece{samples[j], filled.values[j]});
    }
    result_size = overhead(selection.markers() + selection.chosen().size(),
                           depth) +
                  selection.gaps_size() + filled.total;
  }

  std::sort(pieces.begin(), pieces.end(),
            [](const Piece& a, const Piece& b) { return a.index < b.index; });
  std::vector<Value> out;
  out.reserve(2 * pieces.size() + 1);
  std::size_t next = 0;  // first index not yet accounted for
  std::size_t kept_leaves = 0;
  for (const Piece& piece : pieces) {
    if (piece.index > next) out.push_back(string(gap_marker(piece.index - next)));
    out.push_back(piece.value);
    kept_leaves += metas(piece.index).protected_leaves;
    next = piece.index + 1;
  }
  if (next < items.size()) out.push_back(string(gap_marker(items.size() - next)));

  ++stats.arrays_sampled;
  stats.items_omitted += items.size() - pieces.size();
  if (meta.protected_leaves > kept_leaves) {
    stats.protected_omitted += meta.protected_leaves - kept_leaves;
  }
  return Fitted{Value::array(*arena_, out), result_size};
}

Filled Pruner::water_fill(const std::vector<Child>& children, std::size_t pool,
                          std::size_t depth,
                          const std::vector<std::string_view>& keys) {
  return share_out(children, {}, pool, Overdraw::Clamp, path, keys,
                   [&](std::size_t j, std::size_t target) {
                     return fit_sized(children[j].value, children[j].meta, target, depth);
                   });
}

// Objects ------------------------------------------------------------------

Fitted Pruner::fit_object(const Value& object, const Meta& meta,
                          std::size_t budget, std::size_t depth) {
  const std::span<const Member> members = object.members();
  auto metas = [&members](std::size_t j) { return meta_of(members[j].value); };
  const std::size_t n = members.size();
  if (n == 0) return minimal(object, meta, depth);

  std::vector<std::size_t> key_cost(n);
  std::size_t all_min = overhead(n, depth);
  for (std::size_t j = 0; j < n; ++j) {
    key_cost[j] = members[j].key.json_size() + layout().key_separator();
    all_min += key_cost[j] + metas(j).min_size;
  }
  // Size of the object keeping `k` members charged `running` in all, with
  // the keys marker for the others.
  auto cost_of = [&](std::size_t k, std::size_t running) {
    std::size_t omitted = members.size() - k;
    return overhead(k + (omitted > 0 ? 1 : 0), depth) + running +
           (omitted > 0 ? keys_marker_size(omitted, layout()) : 0);
  };

  std::vector<std::size_t> kept;
  if (all_min <= budget) {
    kept.resize(n);
    for (std::size_t j = 0; j < n; ++j) kept[j] = j;
  } else if (options().array_strategy == ArrayStrategy::Sample) {
    // Members holding protected content always stay; then the longest run of
    // further members, in member order, that fits.
    std::vector<std::size_t> candidates;
    candidates.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
      if (metas(j).has_protected) candidates.push_back(j);
    }
    std::size_t protected_count = candidates.size();
    for (std::size_t j = 0; j < n; ++j) {
      if (!metas(j).has_protected) candidates.push_back(j);
    }
    std::size_t running = 0;
    for (std::size_t c = 0; c < candidates.size(); ++c) {
      std::size_t j = candidates[c];
      std::size_t with = running + key_cost[j] + metas(j).min_size;
      if (c >= protected_count && cost_of(kept.size() + 1, with) > budget) break;
      kept.push_back(j);
      running = with;
    }
  } else {
    kept = select_keys(object, budget, depth);
  }
  if (kept.empty()) return minimal(object, meta, depth);

  std::sort(kept.begin(), kept.end());
  std::size_t running = 0;
  std::size_t kept_min = 0;
  std::size_t kept_leaves = 0;
  std::vector<Child> children;
  std::vector<std::string_view> keys;
  children.reserve(kept.size());
  keys.reserve(kept.size());
  for (std::size_t j : kept) {
    const Meta m = metas(j);
    running += key_cost[j] + m.min_size;
    kept_min += m.min_size;
    kept_leaves += m.protected_leaves;
    children.push_back(Child{members[j].value, m});
    keys.push_back(members[j].key.text());
  }
  std::size_t cost = cost_of(kept.size(), running);
  // Protected members kept whatever they cost may overflow: no pool then.
  std::size_t pool = cost < budget ? budget - cost : 0;
  Filled filled = water_fill(children, pool, depth + 1, keys);

  std::vector<Member> out;
  out.reserve(kept.size() + 1);
  for (std::size_t c = 0; c < kept.size(); ++c) {
    out.push_back(Member{members[kept[c]].key, filled.values[c]});
  }
  std::size_t size = cost - kept_min + filled.total;
  std::size_t omitted = members.size() - kept.size();
  if (omitted == 0) return Fitted{Value::object(*arena_, out), size};

  ++stats.objects_trimmed;
  stats.keys_omitted += omitted;
  if (meta.protected_leaves > kept_leaves) {
    stats.protected_omitted += meta.protected_leaves - kept_leaves;
  }
  return Fitted{with_keys_marker(*arena_, omitted, out), size};
}

std::vector<std::size_t> Pruner::select_keys(const Value& object, std::size_t budget,
                                             std::size_t depth) {
  const std::span<const Member> members = object.members();
  auto metas = [&members](std::size_t j) { return meta_of(members[j].value); };
  const std::size_t n = members.size();
  const std::optional<Query>& q = request().query;

  std::vector<double> scores(n);
  for (std::size_t j = 0; j < n; ++j) {
    if (metas(j).has_protected) {
      scores[j] = std::numeric_limits<double>::infinity();
      continue;
    }
    const Value& value = members[j].value;
    const std::string_view key = members[j].key.text();
    const Request::KeyInfo& info = request().key_info(key);
    FieldProfile profile;
    profile.path = std::span<const std::string_view>(&key, 1);
    profile.facts = &info.facts;
    profile.rows = 1;
    profile.present = 1;
    count_kind(value, profile);
    profile.empty = value.is_empty() ? 1 : 0;
    bool scalar = !value.is_container();
    profile.scalars = profile.distinct = scalar ? 1 : 0;
    if (q) {
      profile.name_relevance = info.name_relevance;
      if (value.is_number() || value.is_string()) {
        TokenSet tokens;
        value_tokens(value.text(), tokens);
        std::size_t hits = q->hit_count(tokens);
        profile.value_relevance = q->value_relevance(hits);
        profile.hit_rate = hits > 0 ? 1.0 : 0.0;
      }
      profile.relevance =
          std::max(profile.name_relevance, profile.value_relevance);
    }
    profile.avg_size = static_cast<double>(metas(j).size);
    profile.position = static_cast<double>(j);
    ValueTraits traits = classify(value);
    profile.numeric = traits.numeric;
    profile.date_like = traits.date_like;
    profile.id_like = traits.id_like;
    scores[j] = request().scorer.score(profile);
  }

  // Highest score first, member order among equals. A NaN score ranks below
  // every number so that the order stays a strict weak ordering.
  auto rank = [&](std::size_t j) {
    return std::isnan(scores[j]) ? -std::numeric_limits<double>::infinity()
                                 : scores[j];
  };
  std::vector<std::size_t> order(n);
  for (std::size_t j = 0; j < n; ++j) order[j] = j;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return rank(a) > rank(b); });

  std::vector<std::size_t> kept;
  std::size_t running = 0;
  for (std::size_t j : order) {
    std::size_t with =
        running + members[j].key.json_size() + layout().key_separator() + metas(j).min_size;
    std::size_t k = kept.size() + 1;
    std::size_t omitted = members.size() - k;
    std::size_t cost = overhead(k + (omitted > 0 ? 1 : 0), depth) + with +
                       (omitted > 0 ? keys_marker_size(omitted, layout()) : 0);
    if (cost <= scaled_budget(score_factor(scores[j]), budget)) {
      kept.push_back(j);
      running = with;
    }
  }
  return kept;
}

}  // namespace quendra

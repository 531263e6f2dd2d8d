// Condensing an array: condense(), which the pruner calls, has a plan chosen
// and carries it out here: fill() spreads the budget over the projected rows,
// and execute() reports the dropped fields and the field decisions.
#include "engine/condense.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/condense_parts.h"
#include "engine/size.h"

namespace quendra {
namespace {

// Dropped-field entries one fitting attempt lists at most.
constexpr std::size_t kMaxDroppedListed = 24;

// A score as stored in the report: thousandths, halves away from zero,
// clamped to an unsigned 32-bit value.
std::uint32_t thousandths(double x) {
  double t = std::round(x * 1000.0);
  if (!(t > 0)) return 0;
  if (t >= 4294967295.0) return 4294967295u;
  return static_cast<std::uint32_t>(t);
}

}  // namespace

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

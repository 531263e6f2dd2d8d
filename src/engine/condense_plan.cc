// Planning: which columns of the scanned records to keep. An attempt refuses
// records that are not uniform, scores the candidate columns and discounts
// redundant ones, chooses greedily under the size model, swaps weak columns
// for strong ones, fills in cheap ones, then verifies and accepts the choice.
#include "engine/condense.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "document/protect.h"
#include "engine/condense_parts.h"
#include "engine/fields.h"
#include "engine/size.h"

namespace quendra {
namespace {

// Arrays of at most this many records are planned without first checking,
// from their keys alone, that some column could fit.
constexpr std::size_t kScannedAnyway = 64;
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

// Scores ranked so that a NaN sorts below every number.
double rank(double score) {
  return std::isnan(score) ? -std::numeric_limits<double>::infinity() : score;
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
  const Discovery keys = scan_keys(layout, items, depth);
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

}  // namespace

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

}  // namespace quendra

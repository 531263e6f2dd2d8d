#include "fields.h"

namespace quendra {

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  append_words(text, out);
  return out;
}
void append_words(std::string_view, std::vector<std::string>&) {}
bool in_vocabulary(std::string_view, Vocabulary) { return false; }
bool any(std::span<const std::string>, Vocabulary) { return false; }
TierMatch tier_of(std::span<const std::string>) { return {}; }
bool looks_numeric(std::string_view) { return false; }
bool looks_date(std::string_view) { return false; }
bool looks_id(std::string_view) { return false; }
ValueTraits classify(const Value&) { return {}; }
NamePrior name_prior(const FieldProfile&) { return {}; }
double HeuristicScorer::score(const FieldProfile&) const { return 0.5; }
bool HeuristicScorer::exact(const FieldProfile&) const { return false; }
std::optional<std::string> HeuristicScorer::role(const FieldProfile&) const {
  return std::nullopt;
}
bool PlainScorer::exact(const FieldProfile&) const { return false; }
std::optional<std::string> PlainScorer::role(const FieldProfile&) const {
  return std::nullopt;
}
double CompactScorer::score(const FieldProfile&) const { return 0.5; }
double KeyOrderScorer::score(const FieldProfile&) const { return 0.5; }

namespace {
const HeuristicScorer kHeuristic;
const CompactScorer kCompact;
const KeyOrderScorer kKeyOrder;
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

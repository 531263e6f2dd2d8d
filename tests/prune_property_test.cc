// Invariants of the pruning engine over generated documents, options and
// budgets: arithmetic sizes equal rendered lengths, budgets are met whenever
// they can be, and the output only holds content taken from the input.
#include <gtest/gtest.h>

#include <random>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "fields.h"
#include "json.h"
#include "options.h"
#include "prune.h"
#include "unicode.h"
#include "value.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

class DocumentGenerator {
 public:
  explicit DocumentGenerator(std::uint64_t seed) : rng_(seed) {}

  std::size_t below(std::size_t n) { return n == 0 ? 0 : rng_() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }

  std::string text() {
    static constexpr const char* kFragments[] = {
        "alpha", "beta", "gamma", " ", " ", ". ", "! ", "\n", "\n\n", "\r\n",
        "\"", "\\", "\t", "\x01", "\u00e9t\u00e9", "\u4e2d\u6587", "\U0001F600",
        ",", "word", "x", "0123", "  ", "?"};
    std::size_t parts = chance(20) ? 20 + below(120) : below(12);
    std::string out;
    for (std::size_t i = 0; i < parts; ++i) out += kFragments[below(std::size(kFragments))];
    return out;
  }

  std::string key() {
    static constexpr const char* kKeys[] = {
        "id",   "name", "a",     "b",   "items", "data",  "x",    "user_id",
        "title", "description", "tags", "url", "status", "created_at", "n", ""};
    return kKeys[below(std::size(kKeys))];
  }

  Value value(std::size_t depth) {
    std::size_t pick = below(depth >= 4 ? 4 : 7);
    switch (pick) {
      case 0: return chance(50) ? Value::null() : Value::boolean(chance(50));
      case 1: {
        static constexpr const char* kNumbers[] = {"0", "-12", "3.5e10", "42",
                                                   "12345678901234567890", "7"};
        return num(kNumbers[below(std::size(kNumbers))]);
      }
      case 2:
      case 3: return str(text());
      case 4:
      case 5: {
        std::size_t n = chance(15) ? 20 + below(60) : below(8);
        std::vector<Value> items;
        // Arrays of records are the common case; mix in other items.
        bool records = chance(50);
        for (std::size_t i = 0; i < n; ++i) {
          items.push_back(records && !chance(10) ? record(depth + 1) : value(depth + 1));
        }
        return arr(std::move(items));
      }
      default: return record(depth);
    }
  }

  Value record(std::size_t depth) {
    std::size_t n = chance(10) ? 10 + below(20) : below(7);
    std::vector<Member> members;
    for (std::size_t i = 0; i < n; ++i) members.push_back(member(key(), value(depth + 1)));
    return obj(std::move(members));
  }

  Options options() {
    Options o;
    o.keep_last_item = chance(70);
    o.max_samples = below(5);
    static constexpr std::size_t kPartial[] = {0, 10, 40, 200};
    o.min_partial_chars = kPartial[below(4)];
    o.array_strategy = chance(30) ? ArrayStrategy::Condense : ArrayStrategy::Sample;
    o.field_scorer = static_cast<ScorerKind>(below(3));
    static const std::vector<std::vector<std::string>> kProtect = {
        {}, {}, {"id"}, {"/items"}, {"*/name"}, {"title", "/data/*"}};
    o.protect = kProtect[below(kProtect.size())];
    if (chance(20)) o.arguments = "name status alpha order by created";
    o.string_head_chars = chance(50) ? 500 : 20 + below(100);
    o.string_section_chars = 1 + below(120);
    o.string_min_section_chars = below(30);
    return o;
  }

 private:
  std::mt19937_64 rng_;
};

constexpr std::string_view kEllipsis = "\u2026";

// Reads decimal digits of `s` at `at`; false when there are none.
bool ReadNumber(std::string_view s, std::size_t& at, std::size_t* value = nullptr) {
  std::size_t start = at, n = 0;
  while (at < s.size() && s[at] >= '0' && s[at] <= '9') n = n * 10 + (s[at++] - '0');
  if (value) *value = n;
  return at > start;
}

bool Read(std::string_view s, std::size_t& at, std::string_view word) {
  if (s.substr(at, word.size()) != word) return false;
  at += word.size();
  return true;
}

// Length of the text marker ("…[+N chars]", "…[+N lines, M chars]" or
// "…[+N sections, M chars]") starting at `at`, or 0.
std::size_t TextMarkerAt(std::string_view s, std::size_t at) {
  std::size_t p = at;
  if (!Read(s, p, kEllipsis) || !Read(s, p, "[+") || !ReadNumber(s, p)) return 0;
  if (Read(s, p, " lines, ") || Read(s, p, " sections, ")) {
    if (!ReadNumber(s, p)) return 0;
  }
  return Read(s, p, " chars]") ? p - at : 0;
}

// N when `text` is exactly `prefix`, a number N and `suffix`.
std::optional<std::size_t> MarkerCount(std::string_view text, std::string_view prefix,
                                       std::string_view suffix) {
  std::size_t at = 0, n = 0;
  if (!Read(text, at, prefix) || !ReadNumber(text, at, &n) || !Read(text, at, suffix) ||
      at != text.size()) {
    return std::nullopt;
  }
  return n;
}

std::optional<std::size_t> GapCount(const Value& v) {
  if (!v.is_string()) return std::nullopt;
  return MarkerCount(v.text(), "\u2026[", " items omitted]");
}

std::optional<std::size_t> KeysCount(const Member& m) {
  if (!m.value.is_string() || m.value.text() != kEllipsis) return std::nullopt;
  return MarkerCount(m.key.text(), "", " keys omitted");
}

// True when `out` is `source` or pieces of it, in order, with text markers
// between and after them.
bool StringDerived(std::string_view out, std::string_view source) {
  std::size_t from = 0;
  std::size_t piece_start = 0;
  auto piece_found = [&](std::string_view piece) {
    if (piece.empty()) return true;
    std::size_t at = source.find(piece, from);
    if (at == std::string_view::npos) return false;
    from = at + piece.size();
    return true;
  };
  for (std::size_t at = 0; at < out.size();) {
    if (std::size_t len = TextMarkerAt(out, at)) {
      if (!piece_found(out.substr(piece_start, at - piece_start))) return false;
      at += len;
      piece_start = at;
    } else {
      ++at;
    }
  }
  return piece_found(out.substr(piece_start));
}

// True when `out` holds nothing that `in` does not: kept items and members
// in their order, markers standing for what was left out.
bool Derived(const Value& out, const Value& in, std::size_t& gaps, std::size_t& keys) {
  if (in.is_string()) return out.is_string() && StringDerived(out.text(), in.text());
  if (in.is_array()) {
    if (!out.is_array()) return false;
    std::size_t next = 0;
    for (const Value& item : out.items()) {
      if (auto n = GapCount(item)) {
        next += *n;
        gaps += *n;
        continue;
      }
      if (next >= in.items().size() || !Derived(item, in.items()[next], gaps, keys)) {
        // A condensed array keeps every item; its items are checked the same.
        return false;
      }
      ++next;
    }
    return next == in.items().size();
  }
  if (in.is_object()) {
    if (!out.is_object()) return false;
    std::size_t next = 0;
    std::size_t omitted = 0;
    for (std::size_t i = 0; i < out.members().size(); ++i) {
      const Member& m = out.members()[i];
      if (i + 1 == out.members().size()) {
        if (auto n = KeysCount(m)) {
          omitted = *n;
          keys += *n;
          break;
        }
      }
      bool found = false;
      while (next < in.members().size() && !found) {
        const Member& candidate = in.members()[next++];
        std::size_t g = 0, k = 0;
        if (candidate.key == m.key && Derived(m.value, candidate.value, g, k)) {
          found = true;
          gaps += g;
          keys += k;
        }
      }
      if (!found) return false;
    }
    std::size_t kept = out.members().size() - (omitted > 0 ? 1 : 0);
    // Condensing drops fields without a marker, so only an upper bound holds
    // for objects inside condensed arrays.
    return kept + omitted <= in.members().size();
  }
  return out == in;
}

std::string Render(const Value& value, std::size_t indent) {
  std::string out;
  json::write_value(out, value, Layout{indent});
  return out;
}

TEST(PruneProperty, SizesBudgetsAndProvenance) {
  DocumentGenerator gen(20240601);
  std::size_t checked = 0, condensed = 0, sampled = 0;
  for (int round = 0; round < 300; ++round) {
    Value doc = gen.value(0);
    Options options = gen.options();
    std::size_t indent = gen.chance(50) ? 0 : 1 + gen.below(4);
    const Request request(options, Layout{indent});

    Pruner analysis(request, test_arena());
    Path path;
    const Meta meta = analysis.analyze_at(doc, 0, path, false);
    const std::string source = Render(doc, 0);
    ASSERT_EQ(meta.size, unicode::count_chars(Render(doc, indent)));
    ASSERT_LE(meta.min_size, meta.size);

    std::vector<std::size_t> budgets = {0, meta.min_size, meta.min_size + 1,
                                        (meta.min_size + meta.size) / 2, meta.size - 1,
                                        meta.size};
    for (int i = 0; i < 6; ++i) budgets.push_back(gen.below(meta.size + 20));
    for (std::size_t budget : budgets) {
      SCOPED_TRACE("round " + std::to_string(round) + " budget " + std::to_string(budget) +
                   " indent " + std::to_string(indent) + "\n" + source);
      Pruner pruner(request, test_arena());
      Fitted fitted = pruner.fit_sized(doc, meta, budget, 0);
      std::string text = Render(fitted.value, indent);
      ASSERT_EQ(fitted.size, unicode::count_chars(text)) << text;
      if (budget >= meta.min_size) {
        EXPECT_LE(fitted.size, budget) << text;
      }
      EXPECT_TRUE(pruner.path.empty());

      std::size_t gaps = 0, keys = 0;
      EXPECT_TRUE(Derived(fitted.value, doc, gaps, keys)) << text;
      EXPECT_EQ(gaps, pruner.stats.items_omitted) << text;
      EXPECT_EQ(keys, pruner.stats.keys_omitted) << text;

      Pruner again(request, test_arena());
      EXPECT_EQ(Render(again.fit(doc, meta, budget, 0), indent), text);
      ++checked;
      condensed += pruner.stats.arrays_condensed;
      sampled += pruner.stats.arrays_sampled;
    }
  }
  EXPECT_EQ(checked, 300u * 12u);
  // The generated documents reach both array strategies.
  EXPECT_GT(condensed, 0u);
  EXPECT_GT(sampled, 0u);
}

}  // namespace
}  // namespace quendra

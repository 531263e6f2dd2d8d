// Invariants that every shrink must satisfy, whatever the input: checked by
// the property tests, the hostile-input tests and the fuzz targets.
#ifndef QUENDRA_TESTS_SHRINK_CHECK_H_
#define QUENDRA_TESTS_SHRINK_CHECK_H_

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "document/json.h"
#include "document/value.h"
#include "document/yaml_in.h"
#include "lib.h"
#include "unicode/unicode.h"

namespace quendra::testing {

// Token counters for budgets in tokens, with a `Counting` as their context.
struct Counting {
  int calls = 0;
  int fail_from = 0;  // the call from which the counter fails; 0: never
};

// A maximal run of ASCII letters and digits is one token, and so is every
// other character but space, tab, line feed and carriage return.
inline std::size_t word_tokens(const std::uint8_t* text, std::size_t len, void* context) {
  Counting& seen = *static_cast<Counting*>(context);
  if (++seen.calls >= seen.fail_from && seen.fail_from > 0) return SIZE_MAX;
  auto word = [](std::uint8_t c) { return (c >= '0' && c <= '9') || ((c | 32) >= 'a' && (c | 32) <= 'z'); };
  std::size_t tokens = 0;
  for (std::size_t i = 0; i < len;) {
    if (word(text[i])) {
      while (i < len && word(text[i])) ++i;
    } else {
      const std::uint8_t c = text[i];
      i += unicode::seq_len(c);
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    }
    ++tokens;
  }
  return tokens;
}

// A counter unlike the other: one token per four bytes, rounded up.
inline std::size_t byte_quads(const std::uint8_t*, std::size_t len, void* context) {
  ++static_cast<Counting*>(context)->calls;
  return (len + 3) / 4;
}

// N when `text` is `prefix`, a decimal number N and `suffix`.
inline std::optional<std::size_t> marker_count(std::string_view text, std::string_view prefix,
                                               std::string_view suffix) {
  if (!text.starts_with(prefix) || !text.ends_with(suffix) || text.size() <= prefix.size() + suffix.size()) {
    return std::nullopt;
  }
  const std::string_view digits = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  return std::stoull(std::string(digits));
}

// Whether `out` is `source`, or pieces of it in order with text markers
// ("…[+N chars]", "…[+N lines, M chars]", "…[+N sections, M chars]") between
// and after them.
inline bool string_derived(std::string_view out, std::string_view source) {
  static const std::regex kMarker("\u2026\\[\\+[0-9]+( (lines|sections), [0-9]+)? chars\\]");
  std::size_t from = 0, start = 0;
  auto found = [&](std::size_t begin, std::size_t end) {
    const std::size_t at = source.find(out.substr(begin, end - begin), from);
    from = at + (end - begin);
    return at != std::string_view::npos;
  };
  using Markers = std::regex_iterator<std::string_view::const_iterator>;
  for (Markers it(out.begin(), out.end(), kMarker), end; it != end; ++it) {
    if (!found(start, static_cast<std::size_t>(it->position()))) return false;
    start = static_cast<std::size_t>(it->position() + it->length());
  }
  return found(start, out.size());
}

// The items and keys that the markers of a shrunk value stand for.
struct Omitted {
  std::size_t items = 0;
  std::size_t keys = 0;
};

// "" when `out` holds nothing that `in` does not: kept items and members in
// their order, markers for what was left out (condensed records lose members
// without one), strings that are their source or pieces of it. Otherwise the
// path of the first difference. Adds what the markers count to `omitted`.
inline std::string derived(const Value& out, const Value& in, Omitted& omitted,
                           const std::string& path = "") {
  if (in.is_string()) {
    return out.is_string() && string_derived(out.text(), in.text()) ? "" : path + ": string";
  }
  if (out.kind() != in.kind()) return path + ": kind changed";
  if (in.is_array()) {
    std::size_t next = 0;
    for (const Value& item : out.items()) {
      std::optional<std::size_t> gap;
      if (item.is_string()) gap = marker_count(item.text(), "\u2026[", " items omitted]");
      // A source item may itself read like a marker.
      if (gap && !(next < in.items().size() && in.items()[next].is_string() &&
                   in.items()[next].text() == item.text())) {
        next += *gap;
        omitted.items += *gap;
        continue;
      }
      if (next >= in.items().size()) return path + ": more items than the source";
      if (std::string why = derived(item, in.items()[next], omitted, path + "/*"); !why.empty()) {
        return why;
      }
      ++next;
    }
    return next == in.items().size() ? "" : path + ": items unaccounted for";
  }
  if (in.is_object()) {
    std::size_t next = 0;
    const std::span<const Member> members = out.members();
    for (std::size_t i = 0; i < members.size(); ++i) {
      const Member& m = members[i];
      if (i + 1 == members.size() && m.value.is_string() && m.value.text() == "\u2026") {
        if (auto n = marker_count(m.key.text(), "", " keys omitted")) {
          omitted.keys += *n;
          return i + *n <= in.members().size() ? "" : path + ": more keys omitted than left";
        }
      }
      bool found = false;
      while (!found && next < in.members().size()) {
        const Member& candidate = in.members()[next++];
        Omitted inner;
        if (candidate.key == m.key && derived(m.value, candidate.value, inner).empty()) {
          omitted.items += inner.items;
          omitted.keys += inner.keys;
          found = true;
        }
      }
      if (!found) return path + "/" + std::string(m.key.text()) + ": member not in the source";
    }
    return "";
  }
  return out == in ? "" : path + ": scalar changed";
}

// A member of an object as text: "true" or "false" for a boolean, "" when absent.
inline std::string field(const Value& object, std::string_view key) {
  for (const Member& m : object.members()) {
    if (m.key.text() != key) continue;
    return m.value.is_bool() ? (m.value.as_bool() ? "true" : "false") : std::string(m.value.text());
  }
  return "";
}

// An envelope read back: the error, or the text and a summary of the report:
// its format when not JSON, "unfit" when over budget, "whole" when not
// pruned, then the nonzero counters; the dropped fields as "path:items"
// joined by spaces, and the field decisions as "path score", "dropped" when
// left out and the relevance when not 0, joined by commas.
struct Shrunk {
  std::string error, text, summary, dropped, decisions;

  // The summary's counter `key`, or 0.
  std::size_t count(const std::string& key) const {
    const std::size_t at = (" " + summary).find(" " + key + "=");
    return at == std::string::npos ? 0 : std::stoull(summary.substr(at + key.size() + 1));
  }
};

inline Shrunk run(std::string_view doc, std::string_view options, quendra_counter count = nullptr) {
  Arena arena;
  Counting seen;
  const std::string envelope = shrink(doc, options, {count, &seen});  // the values point into it
  const Value v = json::parse(envelope, arena).value();
  const std::span<const Member> m = v.members();
  if (!m[0].value.as_bool()) return {std::string(m[1].value.text()), "", "", "", ""};
  Shrunk s{"", std::string(m[1].value.text()), "", "", ""};
  auto add = [](std::string& to, std::string_view part, const char* between) {
    if (!part.empty()) to += (to.empty() ? "" : between) + std::string(part);
  };
  for (const Member& f : m[2].value.members()) {
    const std::string_view key = f.key.text();
    if (key == "format" && f.value.text() != "json") add(s.summary, f.value.text(), " ");
    if (key == "fits" && !f.value.as_bool()) add(s.summary, "unfit", " ");
    if (key == "pruned" && !f.value.as_bool()) add(s.summary, "whole", " ");
    if (f.value.is_number() && f.value.text() != "0" && !key.ends_with("_chars")) {
      add(s.summary, std::string(key) + "=" + std::string(f.value.text()), " ");
    }
    for (const Value& d : f.value.is_array() ? f.value.items() : std::span<const Value>()) {
      if (key == "dropped_fields") add(s.dropped, field(d, "path") + ":" + field(d, "items"), " ");
      if (key != "field_decisions") continue;
      add(s.decisions, field(d, "path") + " " + field(d, "score") + (field(d, "kept") == "false" ? " dropped" : "") +
                           (field(d, "relevance") != "0.000" ? " relevance " + field(d, "relevance") : ""), ", ");
    }
  }
  return s;
}

// Returns "" when every invariant holds for the envelope of (doc, options),
// else a description of the first one broken. `envelope` receives the text.
// `count` measures texts under a budget in tokens.
inline std::string shrink_violation(std::string_view doc, std::string_view options,
                                    std::string* envelope = nullptr, quendra_counter count = nullptr) {
  Counting seen;
  std::string env = shrink(doc, options, {count, &seen});
  if (envelope) *envelope = env;
  const std::size_t calls = seen.calls;
  if (calls > 25) return "the counter was asked " + std::to_string(calls) + " times";
  if (shrink(doc, options, {count, &seen}) != env) return "second call differs";
  Arena arena;
  auto parsed = json::parse(env, arena);
  if (!parsed.ok()) return "envelope is not JSON: " + parsed.error().to_string();
  const Value& v = parsed.value();
  if (!v.is_object() || v.members().empty() || v.members()[0].key.text() != "ok") {
    return "bad envelope";
  }
  if (!v.members()[0].value.as_bool()) {
    if (v.members().size() != 2 || v.members()[1].key.text() != "error") return "bad error envelope";
    return "";
  }
  if (v.members().size() != 3) return "bad success envelope";
  const std::string_view text = v.members()[1].value.text();
  const Value& report = v.members()[2].value;
  auto num = [&](std::string_view key) {
    const std::string f = field(report, key);
    return f.empty() ? ~0ull : std::stoull(f);
  };
  // The budget's unit, as the options name it, and whether they name the
  // rules whose counts end the report.
  std::string unit = "chars";
  std::string tokenizer = count ? "host" : "o200k_base";
  bool rules = false;
  if (auto opts = json::parse(options, arena); opts.ok()) {
    for (const Member& m : opts.value().members()) {
      const std::string_view key = m.key.text();
      rules = rules || key == "exclude" || key == "redact" || key == "redact_paths";
      if ((key != "budget_unit" && key != "tokenizer") || !m.value.is_string()) continue;
      std::string& name = key == "tokenizer" ? tokenizer : unit;
      name.clear();
      for (char c : m.value.text()) name.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  const bool tokens = unit == "tokens";
  std::size_t measure = unit == "bytes"   ? text.size()
                        : unit == "utf16" ? unicode::count_chars(text) + unicode::count_astral(text)
                                          : unicode::count_chars(text);
  if (tokens) {
    measure = count ? count(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), &seen)
                    : tokens::count(*tokens::encoding_named(tokenizer), text).value();
  }
  // The report's members after its fixed 18, in their order.
  std::vector<std::string_view> tail;
  if (rules) tail.insert(tail.end(), {"values_redacted", "values_excluded"});
  if (tokens) tail.insert(tail.end(), {"budget_unit", "tokenizer", "token_counts"});
  if (report.members().size() != 18 + tail.size()) return "report has the wrong number of members";
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (report.members()[18 + i].key.text() != tail[i]) return "report's last members are out of order";
  }
  if (tokens && (field(report, "budget_unit") != "tokens" || field(report, "tokenizer") != tokenizer)) {
    return "report names the wrong counter";
  }
  if (tokens && count && num("token_counts") != calls) return "token_counts is not the counter's calls";
  const std::size_t out = num("output_chars");
  if (out != measure) return "output_chars is not the text's measure";
  if ((field(report, "fits") == "true") != (out <= num("max_chars"))) return "fits disagrees with sizes";
  if (field(report, "pruned") != "true" && out != num("input_chars")) return "unpruned text changed size";
  if (field(report, "format") == "json") {
    if (!json::parse(text, arena).ok()) return "text is not JSON";
  } else if (auto y = yaml_in::parse(text, arena); !y.ok()) {
    // Objects may repeat keys; written as YAML they stay repeated, which a
    // YAML reader refuses. Anything else is a broken output.
    if (!y.error().to_string().starts_with("invalid YAML input: duplicated key in mapping")) {
      return "text is not YAML: " + y.error().to_string();
    }
  }
  return "";
}

}  // namespace quendra::testing

#endif  // QUENDRA_TESTS_SHRINK_CHECK_H_

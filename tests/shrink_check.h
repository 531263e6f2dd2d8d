// Invariants that every shrink must satisfy, whatever the input: checked by
// the pipeline tests, the property tests and the fuzz targets.
#ifndef QUENDRA_TESTS_SHRINK_CHECK_H_
#define QUENDRA_TESTS_SHRINK_CHECK_H_

#include <string>
#include <string_view>

#include "json.h"
#include "lib.h"
#include "unicode.h"
#include "value.h"
#include "yaml_in.h"

namespace quendra::testing {

// Whether `out` is `in` or a string of the system's markers and pieces of
// `in`, in their own order.
inline bool derived_text(std::string_view out, std::string_view in) {
  static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  std::size_t from = 0;
  std::size_t pos = 0;
  while (pos <= out.size()) {
    std::size_t mark = out.find(kEllipsis, pos);
    std::string_view piece = out.substr(pos, mark == std::string_view::npos ? out.npos : mark - pos);
    if (!piece.empty()) {
      std::size_t at = in.find(piece, from);
      if (at == std::string_view::npos) return false;
      from = at + piece.size();
    }
    if (mark == std::string_view::npos) break;
    // A marker "…[+N chars]", "…[+N lines, M chars]", "…[+N sections, M chars]",
    // or an ellipsis of the source itself.
    std::size_t end = mark + kEllipsis.size();
    if (end < out.size() && out[end] == '[') {
      std::size_t close = out.find(']', end);
      if (close != std::string_view::npos) end = close + 1;
    }
    if (end == mark + kEllipsis.size()) {
      std::size_t at = in.find(kEllipsis, from);
      if (at == std::string_view::npos) return false;
      from = at + kEllipsis.size();
    }
    pos = end;
  }
  return true;
}

inline bool is_marker_text(std::string_view s, std::string_view tail) {
  static constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  return s.size() > tail.size() && s.substr(s.size() - tail.size()) == tail &&
         (s.substr(0, kEllipsis.size()) == kEllipsis || tail == " keys omitted");
}

// "" when every part of `out` comes from `in` (kept members and items exist in
// the input in their order; strings are their source or pieces of it),
// otherwise the first offending path.
inline std::string invented(const Value& out, const Value& in, const std::string& path = "") {
  if (out.kind() == Kind::String && in.kind() == Kind::String) {
    return derived_text(out.text(), in.text()) ? "" : path + ": string not derived";
  }
  if (out.kind() == Kind::String && in.is_container()) {
    // A container may collapse to nothing but its markers only inside a
    // container; a string in place of a container is invented.
    return path + ": container became a string";
  }
  if (out.kind() != in.kind()) return path + ": kind changed";
  if (out.is_array()) {
    std::size_t j = 0;
    for (const Value& item : out.items()) {
      if (item.is_string() && is_marker_text(item.text(), " items omitted]")) {
        bool source_holds = false;
        for (std::size_t k = j; k < in.items().size() && !source_holds; ++k) {
          source_holds = in.items()[k].is_string() && in.items()[k].text() == item.text();
        }
        if (!source_holds) continue;
      }
      while (j < in.items().size() && !invented(item, in.items()[j], path + "/*").empty()) ++j;
      if (j == in.items().size()) return path + ": array item not found in order";
      ++j;
    }
    return "";
  }
  if (out.is_object()) {
    std::size_t j = 0;
    for (const Member& m : out.members()) {
      if (is_marker_text(m.key.text(), " keys omitted") && m.value.is_string() &&
          m.value.text() == "\xE2\x80\xA6") {
        continue;
      }
      while (j < in.members().size() &&
             (in.members()[j].key.text() != m.key.text() ||
              !invented(m.value, in.members()[j].value, path + "/" + std::string(m.key.text()))
                   .empty())) {
        ++j;
      }
      if (j == in.members().size()) {
        return path + "/" + std::string(m.key.text()) + ": member not found in order";
      }
      ++j;
    }
    return "";
  }
  return out == in ? "" : path + ": scalar changed";
}

// Returns "" when every invariant holds for the envelope of (doc, options),
// else a description of the first one broken. `envelope` receives the text.
inline std::string shrink_violation(std::string_view doc, std::string_view options,
                                    std::string* envelope = nullptr) {
  std::string env = shrink(doc, options);
  if (envelope) *envelope = env;
  if (shrink(doc, options) != env) return "second call differs";
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
  auto field = [&](std::string_view key) -> const Value* {
    for (const Member& m : report.members()) {
      if (m.key.text() == key) return &m.value;
    }
    return nullptr;
  };
  auto num = [&](std::string_view key) -> std::size_t {
    const Value* f = field(key);
    return f ? std::stoull(std::string(f->text())) : ~std::size_t{0};
  };
  auto str = [&](std::string_view key) -> std::string_view {
    const Value* f = field(key);
    return f ? f->text() : std::string_view();
  };
  auto flag = [&](std::string_view key) {
    const Value* f = field(key);
    return f != nullptr && f->as_bool();
  };
  // The budget's unit, as the options name it.
  std::string unit = "chars";
  if (auto opts = json::parse(options, arena); opts.ok()) {
    for (const Member& m : opts.value().members()) {
      if (m.key.text() != "budget_unit" || !m.value.is_string()) continue;
      unit.clear();
      for (char c : m.value.text()) unit.push_back(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  const std::size_t measure = unit == "bytes"   ? text.size()
                              : unit == "utf16" ? unicode::count_chars(text) + unicode::count_astral(text)
                                                : unicode::count_chars(text);
  if (report.members().size() != 18) return "report has not 18 members";
  if (num("output_chars") != measure) return "output_chars is not the text's measure";
  if (flag("fits") != (num("output_chars") <= num("max_chars"))) return "fits disagrees with sizes";
  if (!flag("pruned") && num("output_chars") != num("input_chars")) return "unpruned text changed size";
  if (str("format") == "json") {
    if (!json::parse(text, arena).ok()) return "text is not JSON";
  } else if (auto y = yaml_in::parse(text, arena); !y.ok()) {
    // Objects may repeat keys; written as YAML they stay repeated, which a
    // YAML reader refuses. Anything else is a broken output.
    if (y.error().to_string().rfind("invalid YAML input: duplicated key in mapping", 0) != 0) {
      return "text is not YAML: " + y.error().to_string();
    }
  }
  return "";
}

}  // namespace quendra::testing

#endif  // QUENDRA_TESTS_SHRINK_CHECK_H_

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

// Returns "" when every invariant holds for the envelope of (doc, options),
// else a description of the first one broken. `envelope` receives the text.
inline std::string shrink_violation(std::string_view doc, std::string_view options,
                                    std::string* envelope = nullptr) {
  std::string env = shrink(doc, options);
  if (envelope) *envelope = env;
  if (shrink(doc, options) != env) return "second call differs";
  auto parsed = json::parse(env);
  if (!parsed.ok()) return "envelope is not JSON: " + parsed.error().to_string();
  const Value& v = parsed.value();
  if (!v.is_object() || v.members().empty() || v.members()[0].key != "ok") return "bad envelope";
  if (!v.members()[0].value.as_bool()) {
    if (v.members().size() != 2 || v.members()[1].key != "error") return "bad error envelope";
    return "";
  }
  if (v.members().size() != 3) return "bad success envelope";
  const std::string& text = v.members()[1].value.text();
  const Value& report = v.members()[2].value;
  auto num = [&](std::string_view key) -> std::size_t {
    for (const Member& m : report.members()) {
      if (m.key == key) return std::stoull(m.value.text());
    }
    return ~std::size_t{0};
  };
  auto str = [&](std::string_view key) -> std::string {
    for (const Member& m : report.members()) {
      if (m.key == key) return m.value.text();
    }
    return "";
  };
  auto flag = [&](std::string_view key) {
    for (const Member& m : report.members()) {
      if (m.key == key) return m.value.as_bool();
    }
    return false;
  };
  if (report.members().size() != 18) return "report has not 18 members";
  if (num("output_chars") != unicode::count_chars(text)) return "output_chars is not the text's length";
  if (flag("fits") != (num("output_chars") <= num("max_chars"))) return "fits disagrees with sizes";
  if (!flag("pruned") && num("output_chars") != num("input_chars")) return "unpruned text changed size";
  if (str("format") == "json") {
    if (!json::parse(text).ok()) return "text is not JSON";
  } else if (!yaml_in::parse(text).ok()) {
    return "text is not YAML: " + yaml_in::parse(text).error();
  }
  return "";
}

}  // namespace quendra::testing

#endif  // QUENDRA_TESTS_SHRINK_CHECK_H_

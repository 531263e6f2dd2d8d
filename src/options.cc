#include "options.h"

#include <limits>
#include <string_view>

#include "unicode.h"

namespace quendra {
namespace {

using Error = std::string;

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// Parses the text of a Number that must be a plain decimal unsigned integer
// fitting a machine word.
bool parse_word(const Value& v, std::size_t& out) {
  if (!v.is_number() || v.text().empty()) return false;
  std::size_t n = 0;
  for (char c : v.text()) {
    if (c < '0' || c > '9') return false;
    std::size_t d = static_cast<std::size_t>(c - '0');
    if (n > (std::numeric_limits<std::size_t>::max() - d) / 10) return false;
    n = n * 10 + d;
  }
  out = n;
  return true;
}

bool parse_format(const Value& v, Format& out) {
  if (!v.is_string()) return false;
  std::string s = ascii_lower(v.text());
  if (s == "auto") {
    out = Format::Auto;
  } else if (s == "json") {
    out = Format::Json;
  } else if (s == "yaml" || s == "yml") {
    out = Format::Yaml;
  } else {
    return false;
  }
  return true;
}

// Applies one member; returns the message of a bad member.
std::optional<Error> apply(Options& o, const std::string& key, const Value& v) {
  struct WordKey {
    std::string_view name;
    std::size_t Options::*field;
  };
  static constexpr WordKey kWordKeys[] = {
      {"max_chars", &Options::max_chars},
      {"indent", &Options::indent},
      {"max_samples", &Options::max_samples},
      {"string_head_chars", &Options::string_head_chars},
      {"string_section_chars", &Options::string_section_chars},
      {"string_min_section_chars", &Options::string_min_section_chars},
      {"min_partial_chars", &Options::min_partial_chars},
  };
  for (const WordKey& w : kWordKeys) {
    if (key == w.name) {
      if (!parse_word(v, o.*(w.field))) return key + " must be a non-negative integer";
      return std::nullopt;
    }
  }
  if (key == "keep_last_item" || key == "explain") {
    if (!v.is_bool()) return key + " must be a boolean";
    (key == "explain" ? o.explain : o.keep_last_item) = v.as_bool();
    return std::nullopt;
  }
  if (key == "format") {
    if (!parse_format(v, o.format)) return Error(R"(format must be "auto", "json" or "yaml")");
    return std::nullopt;
  }
  if (key == "input_format") {
    if (!parse_format(v, o.input_format)) {
      return Error(R"(input_format must be "auto", "json" or "yaml")");
    }
    return std::nullopt;
  }
  if (key == "array_strategy") {
    std::string s = v.is_string() ? ascii_lower(v.text()) : std::string();
    if (v.is_string() && s == "sample") {
      o.array_strategy = ArrayStrategy::Sample;
    } else if (v.is_string() && s == "condense") {
      o.array_strategy = ArrayStrategy::Condense;
    } else {
      return Error(R"(array_strategy must be "sample" or "condense")");
    }
    return std::nullopt;
  }
  if (key == "field_scorer") {
    if (!v.is_string()) return Error("field_scorer must be a string");
    std::string s = ascii_lower(v.text());
    for (char& c : s) {
      if (c == '-') c = '_';
    }
    if (s == "heuristic") {
      o.field_scorer = ScorerKind::Heuristic;
    } else if (s == "compact") {
      o.field_scorer = ScorerKind::Compact;
    } else if (s == "key_order" || s == "keyorder") {
      o.field_scorer = ScorerKind::KeyOrder;
    } else {
      return Error(R"(field_scorer must be one of ["heuristic", "compact", "key_order"])");
    }
    return std::nullopt;
  }
  if (key == "protect") {
    std::vector<std::string> list;
    if (v.is_string()) {
      list.push_back(v.text());
    } else if (v.is_array()) {
      for (const Value& item : v.items()) {
        if (!item.is_string()) return Error("protect must be a list of strings");
        list.push_back(item.text());
      }
    } else {
      return Error("protect must be a list of strings");
    }
    o.protect = std::move(list);
    return std::nullopt;
  }
  if (key == "arguments") {
    std::vector<std::string> texts;
    arguments_text::go(v, texts);
    std::string joined;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      if (i > 0) joined.push_back(' ');
      joined += texts[i];
    }
    if (unicode::trim_white_space(joined).empty()) {
      o.arguments.reset();
    } else {
      o.arguments = std::move(joined);
    }
    return std::nullopt;
  }
  return "unknown option: " + key;
}

}  // namespace

Result<Options, std::string> Options::from_value(const Value& value) {
  if (!value.is_object()) return std::string("options must be a JSON object");
  Options o;
  for (const Member& m : value.members()) {
    if (auto error = apply(o, m.key, m.value)) return std::move(*error);
  }
  if (o.format == Format::Yaml && o.indent < 2) return std::string("YAML indent must be at least 2");
  return o;
}

namespace arguments_text {

void go(const Value& value, std::vector<std::string>& out) {
  switch (value.kind()) {
    case Kind::Null:
    case Kind::Bool: return;
    case Kind::Number:
    case Kind::String: out.push_back(value.text()); return;
    case Kind::Array:
      for (const Value& item : value.items()) go(item, out);
      return;
    case Kind::Object:
      for (const Member& m : value.members()) go(m.value, out);
      return;
  }
}

}  // namespace arguments_text
}  // namespace quendra

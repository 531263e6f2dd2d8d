#include "document/options.h"

#include <limits>
#include <string_view>

#include "unicode/unicode.h"

namespace quendra {
namespace {

// A refused member: the message after "invalid options: ".
using Refusal = std::optional<std::string>;

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

// One accepted text of an enumerated option (compared after folding) and
// the value it stands for. Aliases are accepted but not named in messages.
template <typename E>
struct Choice {
  std::string_view text;
  E value;
  bool alias = false;
};

constexpr Choice<Format> kFormats[] = {{"auto", Format::Auto},
                                       {"json", Format::Json},
                                       {"yaml", Format::Yaml},
                                       {"yml", Format::Yaml, true}};
constexpr Choice<BudgetUnit> kBudgetUnits[] = {{"chars", BudgetUnit::Chars},
                                               {"bytes", BudgetUnit::Bytes},
                                               {"utf16", BudgetUnit::Utf16},
                                               {"tokens", BudgetUnit::Tokens}};
constexpr Choice<tokens::Encoding> kTokenizers[] = {{"o200k_base", tokens::Encoding::kO200kBase},
                                                     {"cl100k_base", tokens::Encoding::kCl100kBase}};
constexpr Choice<ArrayStrategy> kStrategies[] = {{"sample", ArrayStrategy::Sample},
                                                 {"condense", ArrayStrategy::Condense}};
constexpr Choice<ScorerKind> kScorers[] = {
    {kScorerNames[0], ScorerKind::Heuristic},
    {kScorerNames[1], ScorerKind::Compact},
    {kScorerNames[2], ScorerKind::KeyOrder},
    {"keyorder", ScorerKind::KeyOrder, true}};

template <typename E, std::size_t N>
std::optional<E> find_choice(const Choice<E> (&table)[N], std::string_view text) {
  for (const Choice<E>& c : table) {
    if (c.text == text) return c.value;
  }
  return std::nullopt;
}

// The names of a table, quoted and separated by ", " but the last, which
// follows `last_separator`: `"a", "b" or "c"`.
template <typename E, std::size_t N>
std::string quoted_names(const Choice<E> (&table)[N], std::string_view last_separator) {
  std::vector<std::string_view> names;
  for (const Choice<E>& c : table) {
    if (!c.alias) names.push_back(c.text);
  }
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? last_separator : ", ";
    out += '"';
    out += names[i];
    out += '"';
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

// The appliers of the option table, one per kind of value.

template <std::size_t Options::*Field>
Refusal word(std::string_view key, const Value& v, Options& o) {
  if (parse_word(v, o.*Field)) return std::nullopt;
  return std::string(key) + " must be a non-negative integer";
}

template <bool Options::*Field>
Refusal boolean(std::string_view key, const Value& v, Options& o) {
  if (!v.is_bool()) return std::string(key) + " must be a boolean";
  o.*Field = v.as_bool();
  return std::nullopt;
}

// A string naming one entry of `Table`, ignoring ASCII case.
template <auto Field, const auto& Table>
Refusal choice(std::string_view key, const Value& v, Options& o) {
  if (v.is_string()) {
    if (auto value = find_choice(Table, ascii_lower(v.text()))) {
      o.*Field = *value;
      return std::nullopt;
    }
  }
  return std::string(key) + " must be " + quoted_names(Table, " or ");
}

// Scorer names also ignore the difference between '-' and '_'.
Refusal scorer(std::string_view key, const Value& v, Options& o) {
  if (!v.is_string()) return std::string(key) + " must be a string";
  std::string s = ascii_lower(v.text());
  for (char& c : s) {
    if (c == '-') c = '_';
  }
  if (auto kind = find_choice(kScorers, s)) {
    o.field_scorer = *kind;
    return std::nullopt;
  }
  return std::string(key) + " must be one of [" + quoted_names(kScorers, ", ") + "]";
}

// A pattern list: a string alone, or an array of strings; the new list
// replaces an earlier one.
template <std::vector<std::string> Options::*Field>
Refusal string_list(std::string_view key, const Value& v, Options& o) {
  std::vector<std::string> list;
  if (v.is_string()) {
    list.emplace_back(v.text());
  } else if (v.is_array()) {
    for (const Value& item : v.items()) {
      if (!item.is_string()) return std::string(key) + " must be a list of strings";
      list.emplace_back(item.text());
    }
  } else {
    return std::string(key) + " must be a list of strings";
  }
  o.*Field = std::move(list);
  return std::nullopt;
}

// The pattern lists whose use the report counts.
template <std::vector<std::string> Options::*Field>
Refusal counted_list(std::string_view key, const Value& v, Options& o) {
  o.reports_rules = true;
  return string_list<Field>(key, v, o);
}

Refusal redact(std::string_view key, const Value& v, Options& o) {
  if (!v.is_bool()) return std::string(key) + " must be true or false";
  o.redact = v.as_bool();
  o.reports_rules = true;
  return std::nullopt;
}

// A JSON Pointer: empty (the whole document) or starting with '/'. Whether
// it names anything is known only once the document is read.
Refusal root(std::string_view key, const Value& v, Options& o) {
  if (!v.is_string() || !(v.text().empty() || v.text()[0] == '/')) {
    return std::string(key) + " must be a JSON Pointer";
  }
  o.root = std::string(v.text());
  return std::nullopt;
}

Refusal arguments(std::string_view, const Value& v, Options& o) {
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

struct Key {
  std::string_view name;
  Refusal (*apply)(std::string_view key, const Value& v, Options& o);
};

// Every option key and how its value is read.
constexpr Key kKeys[] = {
    {"max_chars", word<&Options::max_chars>},
    {"budget_unit", choice<&Options::budget_unit, kBudgetUnits>},
    {"tokenizer", choice<&Options::tokenizer, kTokenizers>},
    {"indent", word<&Options::indent>},
    {"format", choice<&Options::format, kFormats>},
    {"input_format", choice<&Options::input_format, kFormats>},
    {"field_scorer", scorer},
    {"array_strategy", choice<&Options::array_strategy, kStrategies>},
    {"max_samples", word<&Options::max_samples>},
    {"keep_last_item", boolean<&Options::keep_last_item>},
    {"string_head_chars", word<&Options::string_head_chars>},
    {"string_section_chars", word<&Options::string_section_chars>},
    {"string_min_section_chars", word<&Options::string_min_section_chars>},
    {"min_partial_chars", word<&Options::min_partial_chars>},
    {"explain", boolean<&Options::explain>},
    {"protect", string_list<&Options::protect>},
    {"arguments", arguments},
    {"root", root},
    {"exclude", counted_list<&Options::exclude>},
    {"redact", redact},
    {"redact_paths", counted_list<&Options::redact_paths>},
};

Error refused(std::string message) { return Error{Error::BadOptions{std::move(message)}}; }

}  // namespace

Result<Options, Error> Options::from_value(const Value& value) {
  if (!value.is_object()) return refused("options must be a JSON object");
  Options o;
  for (const Member& m : value.members()) {
    const Key* key = nullptr;
    for (const Key& k : kKeys) {
      if (k.name == m.key.text()) {
        key = &k;
        break;
      }
    }
    if (key == nullptr) return refused("unknown option: " + std::string(m.key.text()));
    if (Refusal why = key->apply(key->name, m.value, o)) return refused(std::move(*why));
  }
  if (o.tokenizer && o.budget_unit != BudgetUnit::Tokens) {
    return refused(R"(tokenizer needs budget_unit "tokens")");
  }
  if (o.format == Format::Yaml && o.indent < 2) return refused("YAML indent must be at least 2");
  return o;
}

TextSettings Options::text_settings() const {
  return TextSettings{string_head_chars, string_section_chars, string_min_section_chars};
}

namespace arguments_text {

void go(const Value& value, std::vector<std::string>& out) {
  switch (value.kind()) {
    case Kind::Null:
    case Kind::Bool: return;
    case Kind::Number:
    case Kind::String: out.emplace_back(value.text()); return;
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

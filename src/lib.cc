#include "lib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <charconv>
#include <optional>

#include "document/yaml.h"
#include "document/yaml_in.h"
#include "engine/fields.h"
#include "engine/size.h"
#include "quendra.h"
#include "rules/path_rules.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

constexpr int kMaxAttempts = 24;

// The longest text a request may render: beyond it (an indent of billions of
// spaces, say) the text could not be held in memory, and the request fails
// with a clear message instead.
constexpr std::size_t kMaxRenderChars = std::size_t{1} << 32;

// An upper bound on the bytes of the YAML block text of `value` at `depth`:
// every node and every line break inside a string starts a line indented by
// at most (depth + 1) x indent, and an escape spends at most 6 bytes a byte.
std::size_t yaml_bound(const Value& value, std::size_t indent, std::size_t depth) {
  const std::size_t line = sat_add(sat_mul(depth + 2, indent), 16);
  std::size_t total = line;
  switch (value.kind()) {
    case Kind::Number:
    case Kind::String: {
      const std::string_view t = value.text();
      std::size_t breaks = static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n'));
      total = sat_add(total, sat_add(sat_mul(t.size(), 6), sat_mul(breaks, line)));
      break;
    }
    case Kind::Array:
      for (const Value& item : value.items()) total = sat_add(total, yaml_bound(item, indent, depth + 1));
      break;
    case Kind::Object:
      for (const Member& m : value.members()) {
        total = sat_add(total, sat_add(line + sat_mul(m.key.text().size(), 6),
                                       yaml_bound(m.value, indent, depth + 1)));
      }
      break;
    default: break;
  }
  return total;
}

// The UTF-8 bytes of the JSON text of `value`, whose characters are `chars`:
// every character of the text is one byte but those of the texts of strings,
// keys and numbers, which are added here. With `astral`, the UTF-16 units
// instead: the characters above U+FFFF are added.
std::size_t json_units(const Value& value, std::size_t chars, bool astral) {
  struct Walk {
    bool astral;
    std::size_t extra = 0;
    void text(std::string_view t, std::size_t text_chars) {
      extra += astral ? unicode::count_astral(t) : t.size() - text_chars;
    }
    void operator()(const Value& v) {
      switch (v.kind()) {
        case Kind::Number: text(v.text(), v.text().size()); break;
        case Kind::String: text(v.text(), v.chars()); break;
        case Kind::Array:
          for (const Value& item : v.items()) (*this)(item);
          break;
        case Kind::Object:
          for (const Member& m : v.members()) {
            text(m.key.text(), m.key.chars());
            (*this)(m.value);
          }
          break;
        default: break;
      }
    }
  };
  Walk walk{astral};
  walk(value);
  return sat_add(chars, walk.extra);
}

std::size_t json_bytes(const Value& value, std::size_t chars) {
  return json_units(value, chars, false);
}

// Whether the text of `value` in this layout is small enough to write.
bool renderable(const Value& value, Layout layout, Format format) {
  std::size_t bound = format == Format::Yaml ? yaml_bound(value, layout.indent, 0)
                                             : size::of(value, layout);
  return bound <= kMaxRenderChars;
}

Error too_large() { return Error{Error::OutputTooLarge{}}; }

// Converts a non-negative double to a machine word, saturating at both ends.
std::size_t saturate(double x) {
  if (!(x > 0)) return 0;
  if (x >= static_cast<double>(std::numeric_limits<std::size_t>::max())) {
    return std::numeric_limits<std::size_t>::max();
  }
  return static_cast<std::size_t>(x);
}

std::string_view format_name(Format f) { return f == Format::Yaml ? "yaml" : "json"; }

void append_count(Buffer& out, std::size_t n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

// A stored thousandth written with exactly three decimals.
void append_thousandths(Buffer& out, std::uint32_t v) {
  append_count(out, v / 1000);
  std::uint32_t frac = v % 1000;
  const char digits[4] = {'.', static_cast<char>('0' + frac / 100),
                          static_cast<char>('0' + frac / 10 % 10), static_cast<char>('0' + frac % 10)};
  out.append(digits, 4);
}

struct Outcome {
  std::size_t input_chars = 0;
  std::size_t output_chars = 0;
  std::size_t max_chars = 0;
  Format format = Format::Json;
  Format input_format = Format::Json;
  bool pruned = false;
  bool fits = true;
  Stats stats;
  // What exclusion and redaction did, reported when the options named them.
  std::optional<path_rules::Counts> rules;
  // Under a token budget: what counted, and how many distinct texts.
  std::string_view token_counter;
  std::size_t token_counts = 0;
};

constexpr std::string_view kTextStart = R"({"ok":true,"text":")";

// The rest of a success envelope after its text: the report, members in
// their fixed order.
void append_report(Buffer& out, const Outcome& o) {
  const Stats& s = o.stats;
  auto count = [&out](std::string_view key, std::size_t n) {
    out.append(key);
    append_count(out, n);
  };
  count(R"(","report":{"input_chars":)", o.input_chars);
  count(R"(,"output_chars":)", o.output_chars);
  count(R"(,"max_chars":)", o.max_chars);
  out.append(R"(,"format":")");
  out.append(format_name(o.format));
  out.append(R"(","input_format":")");
  out.append(format_name(o.input_format));
  out.append(o.pruned ? R"(","pruned":true)" : R"(","pruned":false)");
  out.append(o.fits ? R"(,"fits":true)" : R"(,"fits":false)");
  count(R"(,"strings_truncated":)", s.strings_truncated);
  count(R"(,"arrays_sampled":)", s.arrays_sampled);
  count(R"(,"items_omitted":)", s.items_omitted);
  count(R"(,"objects_trimmed":)", s.objects_trimmed);
  count(R"(,"keys_omitted":)", s.keys_omitted);
  count(R"(,"containers_collapsed":)", s.containers_collapsed);
  count(R"(,"arrays_condensed":)", s.arrays_condensed);
  count(R"(,"protected_omitted":)", s.protected_omitted);
  out.append(R"(,"field_decisions":[)");
  for (std::size_t i = 0; i < s.field_decisions.size(); ++i) {
    const FieldDecision& d = s.field_decisions[i];
    out.append(i == 0 ? R"({"path":)" : R"(,{"path":)");
    json::write_string(out, d.path);
    out.append(R"(,"score":)");
    append_thousandths(out, d.score);
    out.append(d.kept ? R"(,"kept":true,"relevance":)" : R"(,"kept":false,"relevance":)");
    append_thousandths(out, d.relevance);
    out.push_back('}');
  }
  count(R"(],"fields_dropped":)", s.fields_dropped);
  out.append(R"(,"dropped_fields":[)");
  for (std::size_t i = 0; i < s.dropped_fields.size(); ++i) {
    const DroppedField& d = s.dropped_fields[i];
    out.append(i == 0 ? R"({"path":)" : R"(,{"path":)");
    json::write_string(out, d.path);
    count(R"(,"items":)", d.items);
    out.push_back('}');
  }
  out.push_back(']');
  if (o.rules) {
    count(R"(,"values_redacted":)", o.rules->values_redacted);
    count(R"(,"values_excluded":)", o.rules->values_excluded);
  }
  if (!o.token_counter.empty()) {
    out.append(R"(,"budget_unit":"tokens","tokenizer":")");
    out.append(o.token_counter);
    count(R"(","token_counts":)", o.token_counts);
  }
  out.append("}}");
}

// Room for a report: its fixed part, and its lists.
std::size_t report_bound(const Stats& s) {
  std::size_t n = 1024;
  for (const FieldDecision& d : s.field_decisions) n += 64 + 6 * d.path.size();
  for (const DroppedField& d : s.dropped_fields) n += 48 + 6 * d.path.size();
  return n;
}

// Reads the document as the options say into `arena`; sets `format` to the
// format used.
Result<Value, Error> read_document(std::string_view input, Format requested, Arena& arena,
                                   Format& format) {
  if (requested != Format::Yaml) {
    auto parsed = json::parse(input, arena);
    if (parsed.ok()) {
      format = Format::Json;
      return parsed.value();
    }
    Error json_error{Error::InputNotJson{parsed.error()}};
    if (requested == Format::Json) return json_error;
    // Text that looks like JSON keeps its JSON error.
    std::size_t pos = 0;
    while (pos < input.size()) {
      std::size_t next = pos;
      char32_t cp = unicode::decode(input, next);
      if (cp != 0xFEFF && !unicode::is_white_space(cp)) break;
      pos = next;
    }
    if (pos == input.size() || input[pos] == '"' || input[pos] == '[' || input[pos] == '{') {
      return json_error;
    }
  }
  auto parsed = yaml_in::parse(input, arena);
  if (parsed.ok()) format = Format::Yaml;
  return parsed;
}

// A success envelope holding `text`, the document's text as it is returned,
// escaped into the envelope's "text" member.
Buffer text_envelope(std::string_view text, const Outcome& o) {
  Buffer out(kTextStart.size() + 2 * text.size() + report_bound(o.stats));
  out.append(kTextStart);
  json::Escaped<Buffer> escaped(out);
  escaped.append(text);
  append_report(out, o);
  return out;
}

// ⌊max_chars × chars ÷ tokens⌋, exact and capped at the largest word: the
// internal budget at which a token search starts, where the document's own
// characters per token would put the budget. REQUIRES: tokens > 0.
std::size_t token_start(std::size_t max_chars, std::size_t chars, std::size_t tokens) {
  __extension__ using Wide = unsigned __int128;
  const Wide start = static_cast<Wide>(max_chars) * chars / tokens;
  return start > SIZE_MAX ? SIZE_MAX : static_cast<std::size_t>(start);
}

Result<Buffer, Error> run(std::string_view input, std::string_view options_text,
                          TokenCounter counter) {
  if (!unicode::valid_utf8(input)) return Error{Error::InputNotUtf8{}};
  if (!unicode::valid_utf8(options_text)) return Error{Error::OptionsNotUtf8{}};
  Options options;
  {
    Arena arena;
    auto options_value = json::parse(options_text, arena);
    if (!options_value.ok()) return Error{Error::OptionsNotJson{options_value.error()}};
    auto built = Options::from_value(options_value.value());
    if (!built.ok()) return built.error();
    options = std::move(built).value();
  }
  if (counter.count != nullptr && options.tokenizer) {
    return Error{Error::BadOptions{"a tokenizer and a token counter cannot both be given"}};
  }
  const bool host = counter.count != nullptr;
  Measure measure(options.budget_unit, counter,
                  host ? std::nullopt
                       : std::optional(options.tokenizer.value_or(tokens::Encoding::kO200kBase)));

  // The document's strings and numbers view `input`, which outlives it.
  Arena arena;
  Format input_format = Format::Json;
  auto read = read_document(input, options.input_format, arena, input_format);
  if (!read.ok()) return read.error();
  Value document = read.value();
  // Root, exclusion and redaction: everything after sees their document.
  path_rules::Counts rules;
  if (auto failed = path_rules::apply(document, options, arena, rules)) return *failed;

  // The effective output format and layout; YAML is indented by at least 2.
  const Format format = options.format == Format::Auto ? input_format : options.format;
  const Layout layout{format == Format::Yaml ? std::max<std::size_t>(options.indent, 2)
                                             : options.indent};

  Outcome o;
  o.format = format;
  o.input_format = input_format;
  o.max_chars = options.max_chars;
  if (options.reports_rules) o.rules = rules;
  std::size_t first_budget = options.max_chars;
  // The document as it is. Under a token budget it is written out and
  // handed to the counter. Otherwise JSON is measured without writing it and
  // written only when it fits; YAML is written straight into the envelope
  // and counted as it goes, and that envelope is dropped when it does not
  // fit.
  if (measure.needs_text()) {
    if (!renderable(document, layout, format)) return too_large();
    const std::string whole = render(document, layout, format);
    const std::size_t chars = unicode::count_chars(whole);
    auto tokens = measure.text(whole, chars);
    if (!tokens.ok()) return tokens.error();
    o.input_chars = o.output_chars = tokens.value();
    o.token_counter = measure.counter_name();
    o.token_counts = measure.token_counts();
    if (o.input_chars <= options.max_chars) return text_envelope(whole, o);
    first_budget = token_start(options.max_chars, chars, o.input_chars);
  } else if (format == Format::Json) {
    const std::size_t chars = size::of(document, layout);
    o.input_chars = o.output_chars = measure.json(document, chars);
    if (o.input_chars <= options.max_chars) {
      if (chars > kMaxRenderChars) return too_large();
      // Escaping at most doubles each byte.
      Buffer out(kTextStart.size() + 2 * json_bytes(document, chars) + report_bound(o.stats));
      out.append(kTextStart);
      json::Escaped<Buffer> text(out);
      json::write_value(text, document, layout);
      append_report(out, o);
      return out;
    }
  } else {
    if (!renderable(document, layout, format)) return too_large();
    Buffer out(kTextStart.size() + input.size() + input.size() / 4 + 1024);
    out.append(kTextStart);
    json::Escaped<Buffer> text(out, /*count=*/true);
    yaml::write(text, document, layout.indent);
    o.input_chars = o.output_chars = options.budget_unit == BudgetUnit::Bytes ? text.bytes()
                                     : options.budget_unit == BudgetUnit::Utf16
                                         ? text.chars() + text.astral()
                                         : text.chars();
    if (o.input_chars <= options.max_chars) {
      append_report(out, o);
      return out;
    }
  }

  const Request request(options, layout);
  auto found = budget_search(document, request, format, arena, measure, first_budget);
  if (!found.ok()) return found.error();
  Attempt& a = found.value().attempt;
  o.output_chars = a.measure;
  o.stats = std::move(a.stats);
  o.pruned = true;
  o.fits = found.value().fits;
  if (measure.needs_text()) o.token_counts = measure.token_counts();
  if (format == Format::Yaml || measure.needs_text()) return text_envelope(a.text, o);
  Buffer out(kTextStart.size() + 2 * json_bytes(a.value, a.chars) + report_bound(o.stats));
  out.append(kTextStart);
  json::Escaped<Buffer> text(out);
  json::write_value(text, a.value, layout);
  append_report(out, o);
  return out;
}

}  // namespace

std::string Error::to_string() const {
  struct Render {
    std::string operator()(const InputNotUtf8&) const { return "input is not valid UTF-8"; }
    std::string operator()(const OptionsNotUtf8&) const { return "options are not valid UTF-8"; }
    std::string operator()(const OptionsNotJson& e) const {
      return "invalid options JSON: " + e.error.to_string();
    }
    std::string operator()(const BadOptions& e) const { return "invalid options: " + e.message; }
    std::string operator()(const InputNotJson& e) const {
      return "invalid JSON input: " + e.error.to_string();
    }
    std::string operator()(const InputNotYaml& e) const { return "invalid YAML input: " + e.message; }
    std::string operator()(const OutputTooLarge&) const { return "output too large to render"; }
    std::string operator()(const CounterFailed&) const { return "the token counter failed"; }
    std::string operator()(const RootNotFound& e) const { return "root not found: " + e.pointer; }
  };
  return std::visit(Render{}, record);
}

Measure::Measure(BudgetUnit unit, TokenCounter host, std::optional<tokens::Encoding> encoding)
    : unit_(unit), host_(host) {
  if (unit_ == BudgetUnit::Tokens && host_.count == nullptr) {
    QUENDRA_CHECK(encoding.has_value());
    builtin_.emplace(*encoding);
  }
}

std::string_view Measure::counter_name() const {
  QUENDRA_CHECK(needs_text());
  return builtin_ ? tokens::encoding_name(builtin_->encoding()) : std::string_view("host");
}

std::optional<std::size_t> Measure::count(std::string_view text) {
  if (builtin_) return builtin_->count(text);
  const std::size_t n = host_.count(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                    host_.context);
  if (n == SIZE_MAX) return std::nullopt;
  return n;
}

Result<std::size_t, Error> Measure::text(std::string_view text, std::size_t chars) {
  switch (unit_) {
    case BudgetUnit::Bytes: return text.size();
    case BudgetUnit::Utf16: return chars + unicode::count_astral(text);
    case BudgetUnit::Tokens: {
      const Key key{siphash(text, 0, 0, 1, 3), siphash(text, 0x736f6d6570736575ull, 1, 1, 3),
                    text.size()};
      if (auto known = counted_.find(key); known != counted_.end()) return known->second;
      // The texts are the library's own renderings, valid UTF-8: the
      // built-in counter refuses only one of 4 GiB or more, which ends the
      // request as a host's failed count does.
      const std::optional<std::size_t> n = count(text);
      if (!n) return Error{Error::CounterFailed{}};
      counted_.emplace(key, *n);
      return *n;
    }
    case BudgetUnit::Chars: break;
  }
  return chars;
}

std::size_t Measure::json(const Value& value, std::size_t chars) const {
  QUENDRA_CHECK(!needs_text());
  if (unit_ == BudgetUnit::Chars) return chars;
  return json_units(value, chars, unit_ == BudgetUnit::Utf16);
}

std::string render(const Value& value, Layout layout, Format format) {
  if (format == Format::Yaml) return yaml::render(value, layout.indent);
  std::string out;
  out.reserve(size::of(value, layout));
  json::write_value(out, value, layout);
  return out;
}

Result<SearchResult, Error> budget_search(Value& document, const Request& request, Format format,
                                          Arena& analysis_arena, Measure& measure,
                                          std::size_t first_budget) {
  const std::size_t max_chars = request.options.max_chars;
  Path path;
  const Meta meta = Pruner(request, analysis_arena).analyze_at(document, 0, path, false);

  bool apart = format == Format::Yaml;
  std::size_t b = first_budget;
  std::optional<std::size_t> lower, upper;
  std::optional<Attempt> fit, over;
  for (int i = 0; i < kMaxAttempts; ++i) {
    Attempt a;
    a.arena = std::make_unique<Arena>();
    Pruner pruner(request, *a.arena);
    a.value = pruner.fit(document, meta, b, 0);
    if (!renderable(a.value, request.layout, format)) return too_large();
    a.stats = std::move(pruner.stats);
    if (format == Format::Json) {
      a.chars = size::of(a.value, request.layout);
      if (!measure.needs_text()) {
        a.measure = measure.json(a.value, a.chars);
      } else {
        a.text.reserve(json_bytes(a.value, a.chars));
        json::write_value(a.text, a.value, request.layout);
      }
    } else {
      a.text = yaml::render(a.value, request.layout.indent);
      a.chars = unicode::count_chars(a.text);
    }
    if (format == Format::Yaml || measure.needs_text()) {
      auto measured = measure.text(a.text, a.chars);
      if (!measured.ok()) return measured.error();
      a.measure = measured.value();
    }
    const std::size_t c = a.measure;
    // Once the measure of a text differs from its characters, the engine's
    // sizes no longer stand for it, so a fitting attempt with room to spare
    // is followed by a larger budget, as YAML's always are.
    if (c != a.chars) apart = true;
    if (c <= max_chars) {
      if (!fit || c > fit->measure) fit = std::move(a);
      if (!(apart && max_chars - c > max_chars / 200)) break;
      if (upper) {
        if (*upper <= b + 1) break;
        lower = b;
        b = b + (*upper - b) / 2;
      } else {
        std::size_t grown = saturate(std::floor(static_cast<double>(b) * static_cast<double>(max_chars) /
                                                static_cast<double>(c > 0 ? c : 1)));
        if (grown < b + 1) grown = b + 1;
        lower = b;
        b = grown;
      }
    } else {
      if (!over || c < over->measure) over = std::move(a);
      if (lower) {
        if (b <= *lower + 1) break;
        upper = b;
        b = *lower + (b - *lower) / 2;
      } else {
        if (b == 0) break;
        std::size_t shrunk = saturate(std::floor(static_cast<double>(b) * static_cast<double>(max_chars) /
                                                 static_cast<double>(c) * 0.97));
        if (shrunk > b - 1) shrunk = b - 1;
        upper = b;
        b = shrunk;
      }
    }
  }
  if (fit) return SearchResult{std::move(*fit), true};
  return SearchResult{std::move(*over), false};
}


namespace {

Buffer error_envelope(std::string_view message) {
  Buffer out(message.size() + 32);
  out.append(R"({"ok":false,"error":)");
  json::write_string(out, message);
  out.push_back('}');
  return out;
}

}  // namespace

std::string envelope_err(std::string_view message) {
  return std::string(error_envelope(message).view());
}

Buffer shrink_to_buffer(std::string_view input, std::string_view options, TokenCounter counter) {
  try {
    auto result = run(input, options, counter);
    if (result.ok()) return std::move(result).value();
    return error_envelope(result.error().to_string());
  } catch (const std::bad_alloc&) {
    std::abort();
  } catch (...) {
    return error_envelope("internal error (panic) in quendra");
  }
}

std::string shrink(std::string_view input, std::string_view options, TokenCounter counter) {
  return std::string(shrink_to_buffer(input, options, counter).view());
}

}  // namespace quendra

namespace {

std::string_view view(const std::uint8_t* ptr, std::size_t len) {
  if (ptr == nullptr || len == 0) return {};
  return {reinterpret_cast<const char*>(ptr), len};
}

}  // namespace

extern "C" {

QUENDRA_EXPORT std::uint8_t* quendra_alloc(std::size_t len) {
  if (len == 0) return reinterpret_cast<std::uint8_t*>(std::uintptr_t{1});
  if (len > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max())) std::abort();
  void* p = std::calloc(len, 1);
  if (p == nullptr) std::abort();
  return static_cast<std::uint8_t*>(p);
}

QUENDRA_EXPORT void quendra_free(std::uint8_t* ptr, std::size_t len) {
  if (ptr != nullptr && len != 0) std::free(ptr);
}

QUENDRA_EXPORT std::uint8_t* quendra_shrink(const std::uint8_t* input, std::size_t input_len,
                                            const std::uint8_t* options, std::size_t options_len,
                                            std::size_t* out_len) {
  return quendra_shrink_with_counter(input, input_len, options, options_len, nullptr, nullptr,
                                     out_len);
}

QUENDRA_EXPORT std::uint8_t* quendra_shrink_with_counter(const std::uint8_t* input,
                                                         std::size_t input_len,
                                                         const std::uint8_t* options,
                                                         std::size_t options_len,
                                                         quendra_counter counter, void* context,
                                                         std::size_t* out_len) {
  try {
    quendra::Buffer envelope = quendra::shrink_to_buffer(
        view(input, input_len), view(options, options_len), quendra::TokenCounter{counter, context});
    *out_len = envelope.size();
    return reinterpret_cast<std::uint8_t*>(envelope.release());
  } catch (...) {
    // Only exhausted memory reaches here; it ends the process.
    std::abort();
  }
}

QUENDRA_EXPORT std::size_t quendra_count_tokens(const std::uint8_t* text, std::size_t len,
                                             const std::uint8_t* tokenizer,
                                             std::size_t tokenizer_len) {
  try {
    const auto encoding = quendra::tokens::encoding_named(view(tokenizer, tokenizer_len));
    if (!encoding) return SIZE_MAX;
    // A counter for this call: pieces met again in the text are not merged again.
    quendra::tokens::Counter counter(*encoding);
    return counter.count(view(text, len)).value_or(SIZE_MAX);
  } catch (...) {
    // Only exhausted memory reaches here; it ends the process.
    std::abort();
  }
}

QUENDRA_EXPORT const char* quendra_version(void) { return quendra::kVersion; }

}  // extern "C"

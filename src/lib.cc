#include "lib.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "fields.h"
#include "quendra.h"
#include "size.h"
#include "unicode.h"
#include "yaml.h"
#include "yaml_in.h"

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
      const std::string& t = value.text();
      std::size_t breaks = static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n'));
      total = sat_add(total, sat_add(sat_mul(t.size(), 6), sat_mul(breaks, line)));
      break;
    }
    case Kind::Array:
      for (const Value& item : value.items()) total = sat_add(total, yaml_bound(item, indent, depth + 1));
      break;
    case Kind::Object:
      for (const Member& m : value.members()) {
        total = sat_add(total, sat_add(line + sat_mul(m.key.size(), 6), yaml_bound(m.value, indent, depth + 1)));
      }
      break;
    default: break;
  }
  return total;
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

Value count(std::size_t n) { return Value::number(std::to_string(n)); }

// A stored thousandth written with exactly three decimals.
Value thousandths(std::uint32_t v) {
  std::string s = std::to_string(v / 1000);
  s.push_back('.');
  std::uint32_t frac = v % 1000;
  s.push_back(static_cast<char>('0' + frac / 100));
  s.push_back(static_cast<char>('0' + frac / 10 % 10));
  s.push_back(static_cast<char>('0' + frac % 10));
  return Value::number(std::move(s));
}

struct Outcome {
  std::string text;
  std::size_t input_chars = 0;
  std::size_t output_chars = 0;
  std::size_t max_chars = 0;
  Format format = Format::Json;
  Format input_format = Format::Json;
  bool pruned = false;
  bool fits = true;
  Stats stats;
};

std::string envelope_ok(const Outcome& o) {
  const Stats& s = o.stats;
  std::vector<Value> decisions;
  decisions.reserve(s.field_decisions.size());
  for (const auto& d : s.field_decisions) {
    decisions.push_back(Value::object({{"path", Value::string(d.path)},
                                       {"score", thousandths(d.score)},
                                       {"kept", Value::boolean(d.kept)},
                                       {"relevance", thousandths(d.relevance)}}));
  }
  std::vector<Value> dropped;
  dropped.reserve(s.dropped_fields.size());
  for (const auto& d : s.dropped_fields) {
    dropped.push_back(
        Value::object({{"path", Value::string(d.path)}, {"items", count(d.items)}}));
  }
  Value report = Value::object({
      {"input_chars", count(o.input_chars)},
      {"output_chars", count(o.output_chars)},
      {"max_chars", count(o.max_chars)},
      {"format", Value::string(std::string(format_name(o.format)))},
      {"input_format", Value::string(std::string(format_name(o.input_format)))},
      {"pruned", Value::boolean(o.pruned)},
      {"fits", Value::boolean(o.fits)},
      {"strings_truncated", count(s.strings_truncated)},
      {"arrays_sampled", count(s.arrays_sampled)},
      {"items_omitted", count(s.items_omitted)},
      {"objects_trimmed", count(s.objects_trimmed)},
      {"keys_omitted", count(s.keys_omitted)},
      {"containers_collapsed", count(s.containers_collapsed)},
      {"arrays_condensed", count(s.arrays_condensed)},
      {"protected_omitted", count(s.protected_omitted)},
      {"field_decisions", Value::array(std::move(decisions))},
      {"fields_dropped", count(s.fields_dropped)},
      {"dropped_fields", Value::array(std::move(dropped))},
  });
  // The text is written straight into the envelope rather than copied into a
  // Value first: it can be as large as the document.
  std::string out;
  out.reserve(o.text.size() + o.text.size() / 8 + 512);
  out.append(R"({"ok":true,"text":)");
  json::write_string(out, o.text);
  out.append(R"(,"report":)");
  json::write_value(out, report, Layout{});
  out.push_back('}');
  return out;
}

// JSON text of `value` whose measured size is `chars`. Reserving that size
// spares the text its regrowth copies (it is the byte count too unless the
// text is non-ASCII).
std::string write_json(const Value& value, Layout layout, std::size_t chars) {
  std::string out;
  out.reserve(chars);
  json::write_value(out, value, layout);
  return out;
}

// Reads the document as the options say; sets `format` to the format used.
Result<Value, Error> read_document(std::string_view input, Format requested, Format& format) {
  if (requested != Format::Yaml) {
    auto parsed = json::parse(input);
    if (parsed.ok()) {
      format = Format::Json;
      return std::move(parsed).value();
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
  auto parsed = yaml_in::parse(input);
  if (parsed.ok()) format = Format::Yaml;
  return parsed;
}

Result<std::string, Error> run(std::string_view input, std::string_view options_text) {
  if (!unicode::valid_utf8(input)) return Error{Error::InputNotUtf8{}};
  if (!unicode::valid_utf8(options_text)) return Error{Error::OptionsNotUtf8{}};
  auto options_value = json::parse(options_text);
  if (!options_value.ok()) return Error{Error::OptionsNotJson{options_value.error()}};
  auto built = Options::from_value(options_value.value());
  if (!built.ok()) return built.error();
  const Options options = std::move(built).value();

  Format input_format = Format::Json;
  auto document = read_document(input, options.input_format, input_format);
  if (!document.ok()) return document.error();

  // The effective output format and layout; YAML is indented by at least 2.
  const Format format = options.format == Format::Auto ? input_format : options.format;
  const Layout layout{format == Format::Yaml ? std::max<std::size_t>(options.indent, 2)
                                             : options.indent};

  Outcome o;
  o.format = format;
  o.input_format = input_format;
  o.max_chars = options.max_chars;
  // JSON text is measured without writing it: the text is only needed when
  // the document fits as it is.
  const bool json_out = format == Format::Json;
  if (json_out) {
    o.input_chars = size::of(document.value(), layout);
  } else {
    if (!renderable(document.value(), layout, format)) return too_large();
    o.text = render(document.value(), layout, format);
    o.input_chars = unicode::count_chars(o.text);
  }
  o.output_chars = o.input_chars;
  if (o.input_chars <= options.max_chars) {
    if (json_out) {
      if (o.input_chars > kMaxRenderChars) return too_large();
      o.text = write_json(document.value(), layout, o.input_chars);
    }
  } else {
    const Request request(options, layout);
    auto found = budget_search(document.value(), request, format);
    if (!found.ok()) return found.error();
    SearchResult& result = found.value();
    o.text = std::move(result.attempt.text);
    o.output_chars = result.attempt.chars;
    o.stats = std::move(result.attempt.stats);
    o.pruned = true;
    o.fits = result.fits;
  }
  return envelope_ok(o);
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
  };
  return std::visit(Render{}, record);
}

std::string render(const Value& value, Layout layout, Format format) {
  if (format == Format::Yaml) return yaml::render(value, layout.indent);
  return write_json(value, layout, size::of(value, layout));
}

Result<SearchResult, Error> budget_search(const Value& document, const Request& request,
                                          Format format) {
  const std::size_t max_chars = request.options.max_chars;
  Path path;
  const Meta meta = Pruner(request).analyze_at(document, 0, path, false);

  std::size_t b = max_chars;
  std::optional<std::size_t> lower, upper;
  std::optional<Attempt> fit, over;
  for (int i = 0; i < kMaxAttempts; ++i) {
    Pruner pruner(request);
    Attempt a;
    a.value = pruner.fit(document, meta, b, 0);
    if (!renderable(a.value, request.layout, format)) return too_large();
    a.stats = std::move(pruner.stats);
    a.text = render(a.value, request.layout, format);
    a.chars = unicode::count_chars(a.text);
    const std::size_t c = a.chars;
    if (c <= max_chars) {
      if (!fit || c > fit->chars) fit = std::move(a);
      if (!(format == Format::Yaml && max_chars - c > max_chars / 200)) break;
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
      if (!over || c < over->chars) over = std::move(a);
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

std::string envelope_err(std::string_view message) {
  std::string out(R"({"ok":false,"error":)");
  json::write_string(out, message);
  out.push_back('}');
  return out;
}

std::string shrink(std::string_view input, std::string_view options) {
  try {
    auto result = run(input, options);
    if (result.ok()) return std::move(result).value();
    return envelope_err(result.error().to_string());
  } catch (const std::bad_alloc&) {
    std::abort();
  } catch (...) {
    return envelope_err("internal error (panic) in quendra");
  }
}

}  // namespace quendra

namespace {

// Hands a text to the host in a buffer of exactly its length.
std::uint8_t* to_host(const std::string& text, std::size_t* out_len) {
  std::size_t n = text.size();
  auto* buf = static_cast<std::uint8_t*>(std::malloc(n == 0 ? 1 : n));
  if (buf == nullptr) std::abort();
  std::memcpy(buf, text.data(), n);
  *out_len = n;
  return buf;
}

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
  std::string envelope;
  try {
    envelope = quendra::shrink(view(input, input_len), view(options, options_len));
  } catch (...) {
    // Only exhausted memory reaches here; it ends the process.
    std::abort();
  }
  return to_host(envelope, out_len);
}

QUENDRA_EXPORT const char* quendra_version(void) { return quendra::kVersion; }

}  // extern "C"

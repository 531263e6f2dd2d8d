// The request pipeline behind the exported functions: UTF-8 checks, options,
// reading the document, the budget search that drives the pruning engine,
// and the result envelope.
#ifndef QUENDRA_LIB_H_
#define QUENDRA_LIB_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json.h"
#include "options.h"
#include "prune.h"
#include "value.h"

namespace quendra {

inline constexpr const char kVersion[] = "0.2.1";

// A failure of the pipeline; `to_string()` is the envelope's error text.
class Error {
 public:
  static Error input_json(ParseError e) { return Error(Kind::InputJson, std::move(e.message), e.line, e.column); }
  static Error input_yaml(std::string message) { return Error(Kind::InputYaml, std::move(message)); }
  static Error options(std::string message) { return Error(Kind::Options, std::move(message)); }
  // A message shown as it is (UTF-8 checks, the options text).
  static Error plain(std::string message) { return Error(Kind::Plain, std::move(message)); }

  std::string to_string() const;

 private:
  enum class Kind { InputJson, InputYaml, Options, Plain };
  Error(Kind kind, std::string message, std::size_t line = 0, std::size_t column = 0)
      : kind_(kind), message_(std::move(message)), line_(line), column_(column) {}

  Kind kind_;
  std::string message_;
  std::size_t line_;    // InputJson only
  std::size_t column_;  // InputJson only
};

// Text of a document: compact JSON for indent 0, pretty JSON otherwise, or
// YAML block text (indent at least 2, ending with one newline).
std::string render(const Value& value, std::size_t indent, Format format);

// One attempt of the budget search.
struct Attempt {
  Value value;
  Stats stats;
  std::string text;
  std::size_t chars = 0;
};

struct SearchResult {
  Attempt attempt;
  bool fits = false;
};

// Fits `document` to options.max_chars by adjusting the engine's internal
// budget over at most 24 attempts. `options` holds the effective output
// format and indent. Returns the largest fitting attempt, or else the
// smallest overflowing one; nothing when an attempt's text would be too
// large to write (a huge indent).
std::optional<SearchResult> budget_search(const Value& document, const Options& options,
                                          bool pretty, const FieldScorer& scorer);

// The error envelope {"ok":false,"error":message}.
std::string envelope_err(std::string_view message);

// Runs one whole request and returns the envelope text. Never throws except
// on exhausted memory.
std::string shrink(std::string_view input, std::string_view options);

}  // namespace quendra

#endif  // QUENDRA_LIB_H_

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

// Text of a document: JSON in `layout`, or YAML block text ending with one
// newline. REQUIRES: layout.indent >= 2 for YAML.
std::string render(const Value& value, Layout layout, Format format);

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

// Fits `document` to the request's max_chars in output format `format` by
// adjusting the engine's internal budget over at most 24 attempts. Returns
// the largest fitting attempt, or else the smallest overflowing one; fails
// when an attempt's text would be too large to write (a huge indent).
Result<SearchResult, Error> budget_search(const Value& document, const Request& request,
                                          Format format);

// The error envelope {"ok":false,"error":message}.
std::string envelope_err(std::string_view message);

// Runs one whole request and returns the envelope text. Never throws except
// on exhausted memory.
std::string shrink(std::string_view input, std::string_view options);

}  // namespace quendra

#endif  // QUENDRA_LIB_H_

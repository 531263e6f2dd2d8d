// The request pipeline behind the exported functions: UTF-8 checks, options,
// reading the document, the budget search that drives the pruning engine,
// and the result envelope.
#ifndef QUENDRA_LIB_H_
#define QUENDRA_LIB_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "document/json.h"
#include "document/options.h"
#include "document/value.h"
#include "engine/prune.h"
#include "quendra.h"
#include "tokens/bpe.h"

namespace quendra {

inline constexpr const char kVersion[] = "0.4.0";

// Text of a document: JSON in `layout`, or YAML block text ending with one
// newline. REQUIRES: layout.indent >= 2 for YAML.
std::string render(const Value& value, Layout layout, Format format);

// The host's token counter and the context it is handed; empty when the
// host gave none.
struct TokenCounter {
  quendra_counter count = nullptr;
  void* context = nullptr;
};

// Measures texts in the request's budget unit. Characters, UTF-8 bytes and
// UTF-16 units are worked out here, JSON texts without writing them; tokens
// are counted by the host's counter or a built-in encoding, so their texts
// must be written first. A text is counted once per request: a text met
// again (two budgets often fit to the same text) is answered from memory.
class Measure {
 public:
  // REQUIRES: under BudgetUnit::Tokens, `host` or `encoding` is set.
  Measure(BudgetUnit unit, TokenCounter host, std::optional<tokens::Encoding> encoding);

  // Whether a text has to be written out to be measured.
  bool needs_text() const { return unit_ == BudgetUnit::Tokens; }

  // The measure of `text`, whose characters are `chars`. Fails when the
  // host's counter cannot count it.
  Result<std::size_t, Error> text(std::string_view text, std::size_t chars);

  // The measure of the JSON text of `value`, whose characters are `chars`.
  // REQUIRES: !needs_text().
  std::size_t json(const Value& value, std::size_t chars) const;

  // The distinct texts counted in tokens so far.
  std::size_t token_counts() const { return counted_.size(); }

  // What counts tokens, as the report names it: an encoding's name, or
  // "host". REQUIRES: needs_text().
  std::string_view counter_name() const;

 private:
  // Two independent 64-bit hashes of a text and its length: texts are
  // remembered by these 136 bits rather than kept.
  struct Key {
    std::uint64_t a = 0, b = 0;
    std::size_t length = 0;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const { return static_cast<std::size_t>(k.a); }
  };

  // The count of a text not met before.
  std::optional<std::size_t> count(std::string_view text);

  BudgetUnit unit_;
  TokenCounter host_;
  std::optional<tokens::Counter> builtin_;
  std::unordered_map<Key, std::size_t, KeyHash> counted_;
};

// One attempt of the budget search: the fitted document (in its own arena,
// sharing the nodes it keeps whole with the document), what fitting did, and
// the size of its text. YAML attempts keep their text, which had to be
// written to be measured.
struct Attempt {
  std::unique_ptr<Arena> arena;
  Value value;
  Stats stats;
  std::string text;  // YAML, and any text measured by a token counter
  std::size_t chars = 0;    // characters of the text
  std::size_t measure = 0;  // the text in the request's budget unit
};

struct SearchResult {
  Attempt attempt;
  bool fits = false;
};

// Fits `document` to the request's max_chars, as `measure` counts it, in
// output format `format` by adjusting the engine's internal budget over at
// most 24 attempts, the first with internal budget `first_budget`. The
// analysis of `document` is kept in its nodes, its records in
// `analysis_arena`. Returns the largest fitting attempt, or else the smallest
// overflowing one; fails when an attempt's text would be too large to write
// (a huge indent) or cannot be measured.
Result<SearchResult, Error> budget_search(Value& document, const Request& request, Format format,
                                          Arena& analysis_arena, Measure& measure,
                                          std::size_t first_budget);

// The error envelope {"ok":false,"error":message}.
std::string envelope_err(std::string_view message);

// Runs one whole request and returns the envelope, in a buffer that can be
// handed to a C host. `counter` measures texts under budget_unit "tokens"
// (in place of a built-in encoding) and is called nowhere else. Never throws except on exhausted memory.
Buffer shrink_to_buffer(std::string_view input, std::string_view options,
                        TokenCounter counter = {});

// shrink_to_buffer() as a string.
std::string shrink(std::string_view input, std::string_view options, TokenCounter counter = {});

}  // namespace quendra

#endif  // QUENDRA_LIB_H_

// The request options: one field per option key with its default, built and
// validated from the parsed options object.
#ifndef QUENDRA_DOCUMENT_OPTIONS_H_
#define QUENDRA_DOCUMENT_OPTIONS_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "document/result.h"
#include "document/value.h"
#include "tokens/split.h"

namespace quendra {

// Document formats. Output uses auto to mean "the format the input was read in".
enum class Format : unsigned char { Auto = 0, Json = 1, Yaml = 2 };
enum class ArrayStrategy : unsigned char { Sample = 0, Condense = 1 };
// What the budget counts in the rendered output: characters (Unicode scalar
// values), UTF-8 bytes, UTF-16 code units, or tokens (counted by the host's
// counter or a built-in encoding).
enum class BudgetUnit : unsigned char { Chars = 0, Bytes = 1, Utf16 = 2, Tokens = 3 };

// The scorers, in the order of their table: the `field_scorer` option names
// one of them.
enum class ScorerKind : unsigned char { Heuristic = 0, Compact = 1, KeyOrder = 2 };
inline constexpr std::array<std::string_view, 3> kScorerNames = {"heuristic", "compact",
                                                                 "key_order"};

// How long texts are cut: the string_head_chars, string_section_chars and
// string_min_section_chars options.
struct TextSettings {
  std::size_t head_chars = 500;        // shown whole before sections are previewed
  std::size_t section_chars = 100;     // preview length of one section
  std::size_t min_section_chars = 16;  // shortest section preview
};

struct Options {
  // Budget and layout.
  std::size_t max_chars = 10000;  // the budget of the rendered output, in budget_unit
  BudgetUnit budget_unit = BudgetUnit::Chars;
  std::size_t indent = 2;         // spaces per nesting level; 0 is compact JSON
  Format format = Format::Auto;   // output format
  Format input_format = Format::Auto;
  // The built-in encoding that counts tokens, when the options name one;
  // budgets in tokens without a host counter default to o200k_base.
  std::optional<tokens::Encoding> tokenizer;

  // Choosing what to keep.
  ScorerKind field_scorer = ScorerKind::Heuristic;
  ArrayStrategy array_strategy = ArrayStrategy::Sample;
  std::size_t max_samples = 3;    // items kept by the sample pass of an array
  bool keep_last_item = true;     // keep an array's last item when there is room
  std::size_t min_partial_chars = 40;  // room a partly kept array item needs

  // Shortening strings.
  std::size_t string_head_chars = 500;
  std::size_t string_section_chars = 100;
  std::size_t string_min_section_chars = 16;

  // Reporting and relevance.
  bool explain = false;                  // record per-field condensing decisions
  std::vector<std::string> protect;      // protected path pattern texts
  std::optional<std::string> arguments;  // query text, absent when blank

  // What goes in and what never comes out, applied to the document before
  // anything is measured (path_rules.h).
  std::optional<std::string> root;        // JSON Pointer of the part to shrink
  std::vector<std::string> exclude;       // path patterns of members and items to remove
  bool redact = false;                    // replace sensitive values and secrets in strings
  std::vector<std::string> redact_paths;  // path patterns of values to replace
  bool reports_rules = false;  // exclude, redact or redact_paths was given: the report counts

  // Builds the record from a parsed options value, checking the members in
  // order; the first refused one is the error.
  static Result<Options, Error> from_value(const Value& value);

  // The string_* options as the text shortener takes them.
  TextSettings text_settings() const;
};

namespace arguments_text {
// Appends the text of every number and string in `value`, depth first.
void go(const Value& value, std::vector<std::string>& out);
}  // namespace arguments_text

}  // namespace quendra

#endif  // QUENDRA_DOCUMENT_OPTIONS_H_

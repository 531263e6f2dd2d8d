// Scalar texts of the YAML reader: which values plain texts stand for under
// the YAML 1.2 core schema, and the decoding of quoted and block scalars
// from their source text. Pure functions over text; they know no parser.
#ifndef QUENDRA_DOCUMENT_YAML_IN_SCALAR_H_
#define QUENDRA_DOCUMENT_YAML_IN_SCALAR_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quendra::yaml_in {

// True for the null texts: empty, "~", "null", "Null", "NULL".
bool is_null_text(std::string_view s);

// The value of a bool text ("true", "True", "TRUE" and the same for false),
// or nothing.
std::optional<bool> bool_text(std::string_view s);

// What parse_int found: no int text; an int that fits in 64 bits; a decimal
// int beyond them (read as a float); an octal or hex int beyond them.
enum class IntForm { None, Fits, DecimalOverflow, RadixOverflow };

// Reads `[-+]?[0-9]+`, `0o[0-7]+` or `0x[0-9a-fA-F]+` into `out`, which is
// set only when the result is Fits.
IntForm parse_int(std::string_view s, std::int64_t& out);

// True for `[-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?`,
// `[-+]?\.(inf|Inf|INF)` and `\.(nan|NaN|NAN)`.
bool is_float_text(std::string_view s);

// The finite value of a float text, or nothing for infinities, NaN and
// texts out of range.
std::optional<double> finite_value(std::string_view s);

// True when `s` follows the RFC 8259 number grammar.
bool is_json_number(std::string_view s);

// Appends the value of a single-quoted scalar whose text between the quotes
// is `raw`: '' stands for one quote; a line break with the white space around
// it folds into a space, and each empty line after it into a line feed.
void decode_single_quoted(std::string_view raw, std::string& out);

// Appends the value of a double-quoted scalar whose text between the quotes
// is `raw`: escapes decoded; an unescaped line break with the white space
// around it folds into a space, or into one line feed per empty line after
// it; an escaped line break joins the lines. False on a malformed escape,
// with `out` partly appended.
bool decode_double_quoted(std::string_view raw, std::string& out);

// How many of a block scalar's final line breaks remain: none (-), one (the
// default) or all (+).
enum class Chomp { Strip, Clip, Keep };

// What the header of a block scalar says beyond its style.
struct BlockHeader {
  Chomp chomp = Chomp::Clip;
  bool explicit_indent = false;  // it gives an indentation digit
};

// The header of the block scalar whose content starts at byte `start` of
// `text`: the last word of the line before, ahead of any comment. Nothing
// when that word is not a block header.
std::optional<BlockHeader> block_header(std::string_view text, std::size_t start);

// Appends the value of a literal or folded block scalar from its content
// lines `raw`, indented by `indent` spaces (npos: as many as the first line
// holding more than spaces). A line of at most that many spaces is empty.
// Folding joins two adjacent lines that do not start with white space with a
// space, or with one line feed per empty line between them; chomping decides
// how many of the final line breaks remain. When the lines end the text
// (`ends_text`), a last line of spaces without a line break ends as if it
// had one.
void decode_block(std::string_view raw, bool folded, Chomp chomp,
                  std::size_t indent, bool ends_text, std::string& out);

}  // namespace quendra::yaml_in

#endif  // QUENDRA_DOCUMENT_YAML_IN_SCALAR_H_

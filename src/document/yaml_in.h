// YAML input: reads every document of a YAML 1.2 text into a Value.
// libfyaml's event parser checks the syntax; the loader on top of it resolves
// plain scalars by the core schema, expands aliases, refuses duplicate keys
// and converts without recursion, so no input depth can exhaust the stack.
#ifndef QUENDRA_DOCUMENT_YAML_IN_H_
#define QUENDRA_DOCUMENT_YAML_IN_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "document/result.h"
#include "document/value.h"

namespace quendra::yaml_in {

// Nodes nested deeper than this are refused.
inline constexpr std::size_t kMaxDepth = 512;

// Aliases may copy at most max(kMinAliasNodes, text length) nodes and
// max(kMinAliasBytes, 4 * text length) bytes of scalar text in one call.
inline constexpr std::size_t kMinAliasNodes = 1'000'000;
inline constexpr std::size_t kMinAliasBytes = 64u << 20;

// Reads all documents of `text`: none gives Null, one gives its value, more
// give an Array of their values in order. Plain untagged scalars follow the
// YAML 1.2 core schema; ints become decimal Number text, floats keep their
// text when it is a JSON number. A failure is Error::InputNotYaml with its
// message: for a text the loader refuses, "<reason> at byte <B> line <L>
// column <C>" (byte from 0, line and column from 1, the column in
// characters); for a refused node, one of "nesting deeper than 512 levels", "complex mapping keys are not
// supported", "unresolved alias", "invalid value". Every load failure of the
// whole text is reported before any refused node. Text that is not valid
// UTF-8 gives "input is not valid UTF-8"; a NUL character is refused.
// The tree lives in `arena`; strings may view `text`, which must outlive it.
Result<Value, Error> parse(std::string_view text, Arena& arena);

// The Number text of a float scalar `text` whose finite value is `number`:
// `text` itself when it is a JSON number, otherwise the shortest decimal
// that reads back as `number`, with neither exponent nor a fractional part
// when the value is whole (".5" gives "0.5", "5." gives "5").
std::string json_number(std::string_view text, double number);

}  // namespace quendra::yaml_in

#endif  // QUENDRA_DOCUMENT_YAML_IN_H_

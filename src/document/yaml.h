// YAML output: writes a Value as YAML block text. Strings stay plain unless a
// YAML reader could take them for something else, multi-line strings become
// literal blocks where they can, and numbers keep their stored text.
// Every function appends whole lines, each ending in a line feed.
#ifndef QUENDRA_DOCUMENT_YAML_H_
#define QUENDRA_DOCUMENT_YAML_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "document/value.h"

namespace quendra::yaml {

// The one-line form of a scalar or an empty container: "null", "true",
// "false", a Number's text, scalar_string(text) for a String, "[]" or "{}".
// REQUIRES: `value` is not a non-empty Array or Object.
std::string inline_form(const Value& value);

// `text` written plain when a YAML reader gives it back as the same string,
// otherwise double-quoted with escapes (\t \n \r \" \\ and \uXXXX for other
// non-printable characters). REQUIRES: `text` is valid UTF-8.
std::string scalar_string(std::string_view text);

// True when `text` can be written as a literal block: it has a line feed,
// every line holds only tabs and printable characters, no non-empty line is
// all whitespace, and the first non-empty line starts with neither a space
// nor a tab. REQUIRES: `text` is valid UTF-8.
bool literal_ok(std::string_view text);

// The literal block header for `text`: "|-" when it does not end with a line
// feed, "|+" when it ends with two, "|" when it ends with exactly one.
std::string_view literal_header(std::string_view text);

// Appends the body lines of a literal block: `text` without one final line
// feed, split at line feeds, each non-empty line indented by depth * indent
// spaces and each empty line left empty.
void literal_body_at(std::string& out, std::string_view text, std::size_t depth,
                     std::size_t indent);

// Appends the lines of a non-empty Array or Object standing at nesting level
// `depth` (indented by depth * indent spaces). A container that is an array
// element starts on that element's dash line.
// REQUIRES: `value` is a non-empty Array or Object; indent >= 2.
void block(std::string& out, const Value& value, std::size_t depth,
           std::size_t indent);

// The whole YAML text of a document: a multi-line string as a top-level
// literal block, a non-empty container as a block, anything else as one
// line. The text ends with one line feed. REQUIRES: indent >= 2.
std::string render(const Value& value, std::size_t indent);

// render() appending to `out`: a std::string, or a json::Escaped<Buffer>
// that writes the text into a JSON string as it goes.
template <typename Out>
void write(Out& out, const Value& value, std::size_t indent);

}  // namespace quendra::yaml

#endif  // QUENDRA_DOCUMENT_YAML_H_

// The library's answers: one call of quendra_shrink and the envelope it
// returns, what kind of error an error envelope holds, and the members of an
// envelope read back with RapidJSON, numbers kept as the library wrote them.
//
// Batch mode reads only the members it needs, as they stream past
// (read_members); one document's run reads the whole envelope into a tree
// (read_tree) for the report.

#ifndef QUENDRA_TOOLS_ENVELOPE_H_
#define QUENDRA_TOOLS_ENVELOPE_H_

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quendra_cli {

// The document sent along when only the options are being checked: the
// library reads the options before the document, and this one reads as JSON
// and as YAML alike.
inline constexpr std::string_view kProbeDocument = "null";

// One envelope returned by quendra_shrink for `input` under `options`,
// released with quendra_free.
class Envelope {
 public:
  Envelope(std::string_view input, std::string_view options);
  ~Envelope();
  Envelope(const Envelope&) = delete;
  Envelope& operator=(const Envelope&) = delete;

  std::string_view text() const { return {reinterpret_cast<const char*>(data_), size_}; }

  // Every envelope starts with its "ok" member, so this needs no parsing.
  bool ok() const { return text().starts_with(R"({"ok":true)"); }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// What went wrong in a request, as the library's error messages tell it:
// every message begins with one of a fixed set of prefixes.
enum class ErrorKind {
  InputNotUtf8,
  OptionsNotUtf8,
  OptionsNotJson,
  OptionsInvalid,
  InputNotJson,
  InputNotYaml,
  OutputTooLarge,
  Internal,
  Unknown,  // a message this command does not know
};

struct LibraryError {
  ErrorKind kind = ErrorKind::Unknown;
  std::string message;  // the whole message, as the library wrote it
  std::size_t detail_at = 0;

  // What follows the prefix: the parser's or the option's own message.
  std::string_view detail() const { return std::string_view(message).substr(detail_at); }

  // Whether every request with the same options would fail the same way.
  bool about_options() const {
    return kind == ErrorKind::OptionsNotUtf8 || kind == ErrorKind::OptionsNotJson ||
           kind == ErrorKind::OptionsInvalid;
  }
};

// The error of an error envelope, its kind told by the message's prefix
// alone. An envelope that cannot be read is an error of unknown kind whose
// message is the envelope's text.
LibraryError envelope_error(std::string_view envelope);

// Prints the message of an error envelope to standard error; returns
// kExitError.
int print_error(std::string_view envelope);

// Which members read_members looks for, or-ed together.
inline constexpr unsigned kWantText = 1;   // "text"
inline constexpr unsigned kWantFits = 2;   // "fits" of "report"
inline constexpr unsigned kWantError = 4;  // "error"

struct EnvelopeMembers {
  bool has_text = false;  // "text" was appended to the caller's string
  std::optional<bool> fits;
  std::optional<std::string> error;
};

// Reads the `wanted` members of `envelope` without building a tree, and
// stops as soon as it has them all. "text" is appended to `*text`, decoded.
// A member that is missing, or is not where an envelope has it, is left out
// of the answer; when the envelope turns out not to be JSON before all are
// found, the answer is empty and `*text` is as it was.
EnvelopeMembers read_members(std::string_view envelope, unsigned wanted,
                             std::string* text = nullptr);

// Reads a whole envelope (or any JSON text) into `tree`, with every number as
// a string holding its text; false when it is not JSON.
bool read_tree(std::string_view text, rapidjson::Document& tree);

// The member `key` of `object` when `object` is an object that has it.
const rapidjson::Value* member(const rapidjson::Value& object, std::string_view key);

// The text of the member `key` of `object` when it is a string (or a number,
// read as text), else `otherwise`.
std::string_view text_of(const rapidjson::Value& object, std::string_view key,
                         std::string_view otherwise = "");

// The member `key` of `object` when it is true.
bool flag_of(const rapidjson::Value& object, std::string_view key);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_ENVELOPE_H_

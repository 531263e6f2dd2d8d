// Reading a YAML text as libfyaml's events: the parser session with its
// collected diagnostics, positions in the text and the messages that name
// them, and the values of scalar tokens. Only the YAML reader includes this
// header; libfyaml's types go no further.
#ifndef QUENDRA_DOCUMENT_YAML_IN_EVENTS_H_
#define QUENDRA_DOCUMENT_YAML_IN_EVENTS_H_

#include <libfyaml.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quendra::yaml_in {

// A place in the input text.
struct Position {
  std::size_t byte = 0;
  std::size_t line = 0;    // from 0
  std::size_t column = 0;  // from 0, in characters
};

// "<message> at byte <B> line <L> column <C>", the line and column from 1.
std::string located(std::string_view message, const Position& at);

// The position of byte `byte` of `text`, counting lines at line feeds.
Position position_of(std::string_view text, std::size_t byte);

// The position libfyaml's mark `m` holds; the start of the text when null.
Position position_of(const fy_mark* m);

// The text of `token` as libfyaml holds it; empty when `token` is null or
// has none.
std::string_view token_text(fy_token* token);

// libfyaml's diagnostics object, parser and token iterator for one text.
// Diagnostics are collected, never printed.
class Session {
 public:
  // Sets up parsing of `text`, which must outlive the session.
  explicit Session(std::string_view text);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // Whether libfyaml could set everything up; nothing else may be called
  // when it could not.
  bool ok() const { return parser_ != nullptr && iter_ != nullptr; }
  // The parser, to take events from with fy_parser_parse.
  fy_parser* parser() const { return parser_; }
  // A token iterator for reading scalar texts.
  fy_token_iter* iter() const { return iter_; }

  // Once the parser has given its last event: the failure that stopped it,
  // as "<reason> at byte <B> line <L> column <C>", or nothing when the whole
  // text parsed. A failure libfyaml only printed is placed at `last`, the
  // position of the last event.
  std::optional<std::string> finish(const Position& last);

 private:
  // Keeps the parser from being destroyed: a small leak instead of a crash.
  void leak_parser();
  // The message of the failure that stopped the parser.
  std::string failure(const Position& last) const;

  std::string_view text_;
  std::string printed_;  // what libfyaml printed
  fy_diag* diag_ = nullptr;
  fy_parser* parser_ = nullptr;
  fy_token_iter* iter_ = nullptr;
  bool leak_parser_ = false;
};

// Reads the values of the scalar tokens of one text. Quoted and block
// scalars are decoded from their source text, where libfyaml 0.7.12 misreads
// some; other scalars are read as libfyaml reads them.
class ScalarReader {
 public:
  // `text` is the text being parsed, `iter` the token iterator of its
  // Session; both must outlive the reader.
  ScalarReader(std::string_view text, fy_token_iter* iter) : text_(text), iter_(iter) {}

  // The value of scalar token `token` (null: an empty scalar), pointing into
  // the text or into the reader's own buffer, which the next call reuses;
  // nothing when it cannot be read.
  std::optional<std::string_view> read(fy_token* token);

 private:
  // The value of a literal or folded scalar whose content `raw` starts at
  // byte `start`.
  std::optional<std::string_view> block_text(fy_token* token, std::string_view raw,
                                             bool folded, std::size_t start);
  // The value of a scalar token as libfyaml reads it.
  std::optional<std::string_view> library_text(fy_token* token);

  std::string_view text_;
  fy_token_iter* iter_;
  std::string scratch_;  // the text of the current scalar
};

}  // namespace quendra::yaml_in

#endif  // QUENDRA_DOCUMENT_YAML_IN_EVENTS_H_

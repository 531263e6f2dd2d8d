// Result-or-error for the library's stages, and the errors themselves.
// Failures travel as values; a stage with no value of its own returns
// std::optional<E> instead.
#ifndef QUENDRA_DOCUMENT_RESULT_H_
#define QUENDRA_DOCUMENT_RESULT_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace quendra {

// Where a JSON text stops making sense.
struct ParseError {
  std::string message;
  std::size_t line = 1;    // from 1
  std::size_t column = 1;  // from 1, in characters

  // "<message> at line <line>, column <column>".
  std::string to_string() const;
};

// A failure of one request: one named record per kind of failure. The
// envelope's message is made by to_string() alone.
struct Error {
  struct InputNotUtf8 {};
  struct OptionsNotUtf8 {};
  struct OptionsNotJson {
    ParseError error;
  };
  struct BadOptions {  // a member of the options object is refused
    std::string message;
  };
  struct InputNotJson {
    ParseError error;
  };
  struct InputNotYaml {  // the reason, with its place in the text
    std::string message;
  };
  struct OutputTooLarge {};  // the text could not be held (a huge indent)
  struct CounterFailed {};   // the host's token counter could not count a text
  struct RootNotFound {      // the root option names nothing in the document
    std::string pointer;     // the pointer up to its first missing segment
  };

  using Record = std::variant<InputNotUtf8, OptionsNotUtf8, OptionsNotJson, BadOptions,
                              InputNotJson, InputNotYaml, OutputTooLarge, CounterFailed,
                              RootNotFound>;
  Record record;

  // "input is not valid UTF-8", "options are not valid UTF-8",
  // "invalid options JSON: " + parse error, "invalid options: " + message,
  // "invalid JSON input: " + parse error, "invalid YAML input: " + message,
  // "output too large to render", "the token counter failed",
  // "root not found: " + pointer.
  std::string to_string() const;
};

template <typename T, typename E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // REQUIRES: ok().
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T& operator*() & { return value(); }

  // REQUIRES: !ok().
  const E& error() const& { return std::get<1>(v_); }
  E&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, E> v_;
};

// A broken internal invariant. It is never expected to happen; the request
// guard at the library boundary turns it into the internal-error envelope.
struct InternalError : std::logic_error {
  using std::logic_error::logic_error;
};

}  // namespace quendra

// Checks an internal invariant; a failure ends the request with the
// internal-error envelope.
#define QUENDRA_CHECK(cond) \
  do {                      \
    if (!(cond)) throw ::quendra::InternalError(#cond); \
  } while (0)

#endif  // QUENDRA_DOCUMENT_RESULT_H_

// Result-or-error for the library's stages. Failures travel as values; a
// stage with no value of its own returns std::optional<E> instead.
#ifndef QUENDRA_RESULT_H_
#define QUENDRA_RESULT_H_

#include <stdexcept>
#include <utility>
#include <variant>

namespace quendra {

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

#endif  // QUENDRA_RESULT_H_

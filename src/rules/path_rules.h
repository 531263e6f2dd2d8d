// What of a document goes in and what never comes out, decided by the
// request's options and applied once to the tree as read, before anything
// is measured:
//  1. root: the document becomes the value at a JSON Pointer;
//  2. exclude: the members and array items at these paths are removed;
//  3. redaction: the values at the redact_paths, and with redact the values
//     of sensitive keys, become "[redacted]"; with redact, the secrets
//     inside the remaining strings are replaced too (secrets.h).
// Paths are matched as protect matches them (protect.h), from the root
// chosen. The rules know nothing of budgets.
#ifndef QUENDRA_RULES_PATH_RULES_H_
#define QUENDRA_RULES_PATH_RULES_H_

#include <cstddef>
#include <optional>
#include <string_view>

#include "document/options.h"
#include "document/result.h"
#include "document/value.h"

namespace quendra::path_rules {

// What stands where a value or a secret was.
inline constexpr std::string_view kRedacted = "[redacted]";

// What the rules did, for the report.
struct Counts {
  std::size_t values_redacted = 0;  // values and substrings replaced
  std::size_t values_excluded = 0;  // members and items removed
};

// Applies the rules of `options` to `document`, a tree that the request
// owns: its containers are edited where they are, and the strings made for
// redaction live in `arena`; the text that the document's strings view is
// never written. With a root, `document` becomes the value it names, or
// the call fails with Error::RootNotFound. `counts` receives what exclusion
// and redaction did. Without rules nothing is done, at no cost.
std::optional<Error> apply(Value& document, const Options& options, Arena& arena, Counts& counts);

}  // namespace quendra::path_rules

#endif  // QUENDRA_RULES_PATH_RULES_H_

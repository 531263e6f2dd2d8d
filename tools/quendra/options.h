// The options object sent to the library, written with RapidJSON's writer
// from the option flags in command-line order: the library reads members in
// order, so the first bad flag is the one it reports, and a later flag wins
// over an earlier one.

#ifndef QUENDRA_TOOLS_OPTIONS_H_
#define QUENDRA_TOOLS_OPTIONS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flags.h"

namespace quendra_cli {

// A member that a mode puts into the options object, written as the first
// flag that sets `key` writes its value.
struct Preset {
  std::string_view key;
  std::string_view value;
};

// Why no options object was written.
struct OptionsRefused {
  std::string envelope;  // the library's error envelope for an --options text
                         // that is not a JSON object, or empty
  std::string message;   // else what keeps this command from reading such a text
};

// Writes into `out` the options object of `before`, then of the option flags
// of `cmd` in order, then of `after`: flags override the presets before them
// and are overridden by those after. An --options text adds its members
// where it stands.
std::optional<OptionsRefused> write_options(const Command& cmd, const std::vector<Preset>& before,
                                            const std::vector<Preset>& after, std::string& out);

// How the counts of text in a report are measured under the options object
// `options` (as write_options writes it): "characters", "bytes", "UTF-16
// code units" or "tokens", by the budget unit it names last.
std::string unit_words(std::string_view options);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_OPTIONS_H_

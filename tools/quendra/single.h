// Running the command on one document: FILE or standard input in, the shrunk
// text (or the envelope) out, the report and the warnings on standard error.

#ifndef QUENDRA_TOOLS_SINGLE_H_
#define QUENDRA_TOOLS_SINGLE_H_

#include "flags.h"

namespace quendra_cli {

// Shrinks the one document `cmd` names; returns the exit status.
int run_single(const Command& cmd);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_SINGLE_H_

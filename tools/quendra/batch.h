// Batch mode (--ndjson): every line of a stream is one JSON document, and
// every line of the output answers the input line of the same number.

#ifndef QUENDRA_TOOLS_BATCH_H_
#define QUENDRA_TOOLS_BATCH_H_

#include "flags.h"

namespace quendra_cli {

// Shrinks every line of the input `cmd` names; returns the exit status: 1
// when any line failed.
int run_ndjson(const Command& cmd);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_BATCH_H_

// The quendra command: shrinks a JSON or YAML document (FILE or standard
// input) to a character budget through the library's C interface, and prints
// the shrunk text, the raw envelope or a summary of what was left out. With
// --ndjson it shrinks every line of a stream of JSON documents.
//
// The command is a host of include/quendra.h alone. Its files, one a job:
//   flags      every flag in one table; the parser and the help
//   options    the options object, written from the flags in their order
//   envelope   the library call, its envelope read back, its errors' kinds
//   report     the summary of a report on standard error
//   single     one document's run
//   batch      batch mode: what each line becomes, and the counts
//   pipeline   batch mode's reading, worker threads and ordered writing
//   io         input, output, exit statuses

#include "batch.h"
#include "flags.h"
#include "single.h"

int main(int argc, char** argv) {
  quendra_cli::Command cmd;
  if (std::optional<int> done = quendra_cli::parse_command_line(argc, argv, cmd)) return *done;
  return cmd.ndjson ? quendra_cli::run_ndjson(cmd) : quendra_cli::run_single(cmd);
}

// Batch mode's machinery, which knows nothing of what is done to a line: a
// stream read in batches of whole lines, the batches handed to a pool of
// worker threads, and their results written in input order, in memory
// bounded by a few batches per thread whatever the length of the stream.

#ifndef QUENDRA_TOOLS_PIPELINE_H_
#define QUENDRA_TOOLS_PIPELINE_H_

#include <cstddef>
#include <functional>
#include <string>

#include "io.h"

namespace quendra_cli {

// What a batch's lines came to, added up over the stream in input order.
struct BatchCounts {
  std::size_t lines = 0;  // documents shrunk or refused
  std::size_t failed = 0;
  std::size_t over_budget = 0;

  void add(const BatchCounts& other) {
    lines += other.lines;
    failed += other.failed;
    over_budget += other.over_budget;
  }
};

// A run of whole input lines and what became of them.
struct Batch {
  std::string input;           // the lines, each ending in '\n'
  std::size_t first_line = 0;  // the number of its first line, counted from 1
  std::string output;          // one line for each input line
  std::string errors;          // messages for standard error
  BatchCounts counts;
  bool done = false;  // worked on and ready to be written
};

// Reads a stream in batches of whole lines. A batch takes the lines that are
// in memory already, up to a number of lines or bytes, so that a slow stream
// is worked on as its lines arrive and a fast one in large batches.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // Fills `batch` with the next lines, each ending in '\n' (added to a last
  // line that has none), and the number of the first. Returns false at the
  // end of the input, or when reading failed (then error() is not 0).
  bool next(Batch& batch);

  // The errno of a failed read, or 0.
  int error() const { return error_; }

 private:
  // Drops the lines already handed out and reads what the input has next.
  void fill();

  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;    // the first byte not handed out yet
  std::size_t scanned_ = 0;  // no line feed stands in [start_, scanned_)
  std::size_t next_line_ = 1;
  bool at_end_ = false;
  int error_ = 0;
};

// Fills a batch's output, errors and counts from its input. Called on the
// worker threads, for several batches at once.
using BatchWork = std::function<void(Batch&)>;

// Reads every batch from `reader`, has `work` done to it on `jobs` threads
// (on this thread alone for 1), and writes each batch's output to `out` and
// its errors to standard error in input order. Stops reading when writing
// fails. Returns the counts of every batch written.
BatchCounts run_pipeline(LineReader& reader, Output& out, unsigned jobs, const BatchWork& work);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_PIPELINE_H_

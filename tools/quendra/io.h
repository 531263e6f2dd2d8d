// Where the command's bytes come from and go: the input file or standard
// input, the output file or standard output, the exit statuses, and the
// messages for a bad command line and for input or output that failed.

#ifndef QUENDRA_TOOLS_IO_H_
#define QUENDRA_TOOLS_IO_H_

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace quendra_cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;  // the library answered with an error envelope
inline constexpr int kExitUsage = 2;  // bad command line, unreadable input, unwritable output

// Prints "quendra: MESSAGE" and the hint to try --help; returns kExitUsage.
int usage_error(std::string_view message);

// Prints "quendra: WHAT: " and the text of errno; returns kExitUsage.
int io_error(const std::string& what);

// Whether `path` names standard input ("" or "-").
bool is_stdin(const std::string& path);

// "standard input", or the path itself.
std::string input_name(const std::string& path);

// Reads all of `path` (standard input for "" or "-") into `out`; false when
// it cannot be opened or read.
bool read_all(const std::string& path, std::string& out);

// Where the results go: standard output or the file given with -o.
class Output {
 public:
  explicit Output(std::string path) : path_(std::move(path)) {}
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  // Opens the destination; false when it cannot be written.
  bool open();

  void write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), file_); }

  // Writes `text` and a newline unless it already ends with one.
  void write_line(std::string_view text);

  // Hands what is buffered to the destination, so that a reader at the other
  // end of a pipe sees every result written so far.
  void flush() { std::fflush(file_); }

  // Whether a write has failed already.
  bool failed() const { return std::ferror(file_) != 0; }

  // Flushes and closes; false when anything failed to reach its destination.
  bool finish();

  // "standard output", or the path.
  std::string name() const;

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_IO_H_

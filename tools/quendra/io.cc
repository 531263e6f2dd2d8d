// Input, output and the messages of a command that cannot go on.

#include "io.h"

#include <cerrno>
#include <cstring>
#include <utility>

namespace quendra_cli {

int usage_error(std::string_view message) {
  std::fprintf(stderr, "quendra: %.*s\nTry 'quendra --help' for more information.\n",
               static_cast<int>(message.size()), message.data());
  return kExitUsage;
}

int io_error(const std::string& what) {
  std::fprintf(stderr, "quendra: %s: %s\n", what.c_str(), std::strerror(errno));
  return kExitUsage;
}

bool is_stdin(const std::string& path) { return path.empty() || path == "-"; }

std::string input_name(const std::string& path) {
  return is_stdin(path) ? std::string("standard input") : path;
}

bool read_all(const std::string& path, std::string& out) {
  std::FILE* file = is_stdin(path) ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
  bool ok = !std::ferror(file);
  if (file != stdin) std::fclose(file);
  return ok;
}

Output::~Output() {
  if (file_ != nullptr && file_ != stdout) std::fclose(file_);
}

bool Output::open() {
  file_ = path_.empty() ? stdout : std::fopen(path_.c_str(), "wb");
  return file_ != nullptr;
}

void Output::write_line(std::string_view text) {
  write(text);
  if (!text.ends_with('\n')) write("\n");
}

bool Output::finish() {
  bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
  if (file_ != stdout) ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  return ok;
}

std::string Output::name() const {
  return path_.empty() ? std::string("standard output") : path_;
}

}  // namespace quendra_cli

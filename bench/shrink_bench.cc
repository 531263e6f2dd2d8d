// End-to-end cost of quendra::shrink on generated web-API documents, against
// parsing alone, with peak memory. Each measurement runs in a child process
// so that its peak resident size is its own.
//   shrink_bench [MB ...]    (default: 1 20 100)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gen.h"
#include "json.h"
#include "lib.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long peak_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Config {
  const char* name;
  const char* options;  // empty: parse only
};

const Config kConfigs[] = {
    {"parse only", ""},
    {"sample compact", R"({"max_chars":10000,"indent":0})"},
    {"sample indented", R"({"max_chars":10000})"},
    {"condense compact", R"({"max_chars":10000,"indent":0,"array_strategy":"condense"})"},
    {"condense indented", R"({"max_chars":10000,"array_strategy":"condense"})"},
    {"condense + query", R"({"max_chars":10000,"array_strategy":"condense","arguments":"stars by owner login"})"},
};

void measure(std::size_t mb, const Config& c) {
  std::string doc = quendra::bench::api_document(mb << 20);
  long base = peak_kb();
  int reps = mb >= 50 ? 1 : mb >= 10 ? 2 : 5;
  double best = 1e9;
  std::size_t out = 0;
  for (int r = 0; r < reps; ++r) {
    double t0 = now();
    if (*c.options == 0) {
      auto v = quendra::json::parse(doc);
      out = v.ok();
    } else {
      out = quendra::shrink(doc, c.options).size();
    }
    best = std::min(best, now() - t0);
  }
  double in_mb = static_cast<double>(doc.size()) / (1 << 20);
  std::printf("%4zu MB  %-18s %8.3f s  %7.1f ms/MB  peak %.2fx input  (envelope %zu bytes)\n", mb,
              c.name, best, best * 1000 / in_mb,
              static_cast<double>(peak_kb() - base) * 1024 / static_cast<double>(doc.size()), out);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {1, 20, 100};
  for (std::size_t mb : sizes) {
    for (const Config& c : kConfigs) {
      pid_t pid = fork();
      if (pid == 0) {
        measure(mb, c);
        std::_Exit(0);
      }
      int status = 0;
      waitpid(pid, &status, 0);
    }
  }
  return 0;
}

// JSON reader and writer throughput on generated web-API documents.
//   json_bench [MB ...]      (default: 1 20 100)
// Prints MB/s for parse and parse + compact render, and the peak resident
// memory after parsing relative to the input's size.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "document/json.h"
#include "gen.h"
#include "lib.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long peak_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {1, 20, 100};
  for (std::size_t mb : sizes) {
    long before = peak_kb();
    std::string doc = quendra::bench::api_document(mb << 20);
    double in_mb = static_cast<double>(doc.size()) / (1 << 20);
    int reps = mb >= 50 ? 2 : mb >= 10 ? 4 : 30;
    double parse_s = 1e9, total_s = 1e9;
    std::size_t out_size = 0;
    long parsed_kb = 0;
    for (int r = 0; r < reps; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      quendra::Arena arena;
      auto v = quendra::json::parse(doc, arena);
      double p = seconds_since(t0);
      if (!v.ok()) {
        std::fprintf(stderr, "parse failed: %s\n", v.error().to_string().c_str());
        return 1;
      }
      parsed_kb = peak_kb();
      std::string out = quendra::render(v.value(), quendra::Layout{}, quendra::Format::Json);
      double t = seconds_since(t0);
      out_size = out.size();
      parse_s = std::min(parse_s, p);
      total_s = std::min(total_s, t);
    }
    std::printf("%4zu MB doc (%.1f MB): parse %7.1f MB/s, parse+render %7.1f MB/s, out %zu bytes, "
                "peak RSS %.2fx input\n",
                mb, in_mb, in_mb / parse_s, in_mb / total_s, out_size,
                static_cast<double>(parsed_kb - before) * 1024 / static_cast<double>(doc.size()));
  }
  return 0;
}

// Writes N small web-API documents to standard output, one per line: the
// answer of a single-item endpoint, {"data": <record>, "meta": {...}}, about
// 1 kB each, with the records of gen.h. Same N, same bytes.
//   ndjson_gen N
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gen.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ndjson_gen N\n");
    return 2;
  }
  const unsigned long long count = std::strtoull(argv[1], nullptr, 10);
  quendra::bench::Rng rng(0x2545F4914F6CDD1DULL);
  std::string line;
  for (unsigned long long id = 1; id <= count; ++id) {
    line.assign("{\"data\":");
    quendra::bench::record(rng, line, id);
    quendra::bench::add(line, ",\"meta\":{\"request_id\":\"req_", std::to_string(rng.next() >> 16),
                        "\",\"api_version\":\"2024-05-01\",\"generated_at\":\"2024-06-11T09:42:",
                        std::to_string(10 + rng.below(50)), "Z\"}}\n");
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

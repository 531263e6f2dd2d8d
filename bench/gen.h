// Deterministic generator of web-API-like JSON documents for benchmarks:
// records with ids, names, long descriptions, URLs, avatars, nested owners,
// tags and timestamps, either in one long list or spread over many pages of
// a few dozen records. Same size argument, same bytes.
#ifndef QUENDRA_BENCH_GEN_H_
#define QUENDRA_BENCH_GEN_H_

#include <cstdint>
#include <string>

namespace quendra::bench {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 7;
    s_ ^= s_ << 17;
    return s_;
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t s_;
};

inline const char* const kWords[] = {
    "release", "build", "fix", "network", "cache", "latency", "user", "query", "index",
    "shard", "replica", "token", "session", "render", "layout", "stream", "buffer",
    "parser", "schema", "vector", "matrix", "sample", "budget", "report", "field"};

inline void words(Rng& rng, std::string& out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.append(rng.below(12) == 0 ? "\\n" : " ");
    out += kWords[rng.below(sizeof kWords / sizeof kWords[0])];
  }
}

template <typename... Parts>
void add(std::string& out, const Parts&... parts) {
  (out.append(parts), ...);
}

inline std::string num(std::size_t n) { return std::to_string(n); }

// One record of a list endpoint.
inline void record(Rng& rng, std::string& out, std::size_t id) {
  const std::string n = num(id);
  add(out, "{\"id\":", n, ",\"node_id\":\"MDQ6VXNlcj", n, "\",\"name\":\"");
  words(rng, out, 2);
  add(out, "\",\"full_name\":\"org/repo-", n, "\",\"private\":", rng.below(2) ? "true" : "false");
  add(out, ",\"owner\":{\"login\":\"user", num(rng.below(5000)), "\",\"id\":", num(rng.below(1000000)));
  add(out, ",\"avatar_url\":\"https://avatars.example.com/u/", n, "?v=4\"");
  add(out, ",\"url\":\"https://api.example.com/users/u", n, "\",\"type\":\"User\",\"site_admin\":false}");
  add(out, ",\"html_url\":\"https://example.com/org/repo-", n, "\",\"description\":\"");
  words(rng, out, 10 + rng.below(60));
  add(out, "\",\"fork\":false,\"url\":\"https://api.example.com/repos/org/repo-", n, "\"");
  add(out, ",\"created_at\":\"2024-0", num(1 + rng.below(9)), "-1", num(rng.below(10)), "T12:34:56Z\"");
  add(out, ",\"stargazers_count\":", num(rng.below(100000)));
  add(out, ",\"score\":", num(rng.below(1000)), ".", num(rng.below(100)), ",\"topics\":[");
  std::size_t topics = rng.below(5);
  for (std::size_t t = 0; t < topics; ++t) {
    if (t) out.push_back(',');
    add(out, "\"", kWords[rng.below(sizeof kWords / sizeof kWords[0])], "\"");
  }
  add(out, "],\"license\":", rng.below(3) ? "{\"key\":\"mit\",\"name\":\"MIT License\"}" : "null", "}");
}

// A document of about `bytes` bytes: one list of records.
inline std::string api_document(std::size_t bytes) {
  Rng rng(0x9E3779B97F4A7C15ULL);
  std::string out;
  out.reserve(bytes + 4096);
  out += "{\"total_count\":0,\"incomplete_results\":false,\"items\":[";
  for (std::size_t id = 1; out.size() < bytes; ++id) {
    if (id > 1) out.push_back(',');
    record(rng, out, id);
  }
  out += "],\"links\":{\"next\":\"https://api.example.com/search?page=2\"}}";
  return out;
}

// A document of about `bytes` bytes: the responses of a paged list
// endpoint, each page an object with its paging fields and 20 to 60 records.
// Unlike one long list, every page's records are an array small enough to
// be condensed within a budget of a few thousand characters.
inline std::string paged_document(std::size_t bytes) {
  Rng rng(0xD1B54A32D192ED03ULL);
  std::string out;
  out.reserve(bytes + 65536);
  out += "{\"endpoint\":\"https://api.example.com/search/repositories\",\"pages\":[";
  std::size_t id = 1;
  for (std::size_t page = 1; out.size() < bytes; ++page) {
    if (page > 1) out.push_back(',');
    const std::size_t count = 20 + rng.below(41);
    add(out, "{\"page\":", num(page), ",\"per_page\":", num(count));
    add(out, ",\"next\":\"https://api.example.com/search/repositories?page=", num(page + 1), "\"");
    add(out, ",\"items\":[");
    for (std::size_t r = 0; r < count; ++r, ++id) {
      if (r) out.push_back(',');
      record(rng, out, id);
    }
    out += "]}";
  }
  out += "]}";
  return out;
}

}  // namespace quendra::bench

#endif  // QUENDRA_BENCH_GEN_H_

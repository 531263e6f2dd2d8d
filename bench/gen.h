// Deterministic generators of JSON documents for benchmarks. Web-API
// answers: records with ids, names, long descriptions, URLs, avatars, nested
// owners, tags and timestamps, either in one long list or spread over many
// pages of a few dozen records. Besides them, the shapes where one node costs
// more than its text (configuration dumps, long arrays of small integers,
// objects of many keys, deep chains, wide records, coordinate arrays). Same
// arguments, same bytes.
#ifndef QUENDRA_BENCH_GEN_H_
#define QUENDRA_BENCH_GEN_H_

#include <cstdint>
#include <cstdio>
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

// A configuration dump of about `bytes` bytes, shaped like the exported
// state of a cluster or an infrastructure tool: a map of services by name,
// each a deep nest of small objects (metadata, labels, a deployment with
// containers, ports, env lists, probes, resources) and a map of settings.
// Many short keys and short scalar values.
inline const char* const kEnvNames[] = {"LOG_LEVEL",  "PORT",    "DATABASE_URL", "CACHE_TTL",
                                        "REGION",     "WORKERS", "TRACING",      "FEATURE_FLAGS",
                                        "TIMEOUT_MS", "RETRIES", "QUEUE_NAME",   "METRICS_PORT"};
inline const char* const kSettingNames[] = {
    "max_connections", "idle_timeout_ms", "retry_backoff_ms", "enable_tls", "pool_size",
    "read_only",       "batch_size",      "compression",      "keepalive",  "log_requests",
    "rate_limit",      "circuit_breaker", "drain_seconds",    "max_body_kb"};

inline void container(Rng& rng, std::string& out, const std::string& svc, const std::string& team,
                      const char* name, std::size_t port) {
  const std::string p = num(port);
  add(out, "{\"name\":\"", name, "\",\"image\":\"registry.example.com/", team, "/", svc, ":1.",
      num(rng.below(30)), ".", num(rng.below(10)), "\",\"imagePullPolicy\":\"IfNotPresent\"");
  add(out, ",\"command\":[\"/usr/local/bin/", svc, "\",\"--config=/etc/", svc,
      "/config.yaml\",\"--listen=0.0.0.0:", p, "\",\"--log-format=json\"]");
  add(out, ",\"ports\":[");
  for (std::size_t i = 0, n = 1 + rng.below(3); i < n; ++i) {
    if (i) out.push_back(',');
    add(out, "{\"name\":\"", i ? "metrics" : "http", "\",\"containerPort\":", num(port + i),
        ",\"protocol\":\"TCP\"}");
  }
  add(out, "],\"env\":[");
  for (std::size_t i = 0, n = 3 + rng.below(6); i < n; ++i) {
    if (i) out.push_back(',');
    add(out, "{\"name\":\"", kEnvNames[rng.below(sizeof kEnvNames / sizeof kEnvNames[0])],
        "\",\"value\":\"");
    if (rng.below(2)) {
      add(out, "https://", svc, ".", team, ".svc.cluster.local:", p, "/api/v",
          num(1 + rng.below(3)), "/", kWords[rng.below(sizeof kWords / sizeof kWords[0])]);
    } else {
      out += kWords[rng.below(sizeof kWords / sizeof kWords[0])];
    }
    out += "\"}";
  }
  add(out, "],\"resources\":{\"limits\":{\"cpu\":\"", num(100 * (1 + rng.below(20))),
      "m\",\"memory\":\"", num(128 << rng.below(5)), "Mi\"},\"requests\":{\"cpu\":\"",
      num(50 * (1 + rng.below(10))), "m\",\"memory\":\"", num(64 << rng.below(4)), "Mi\"}}");
  for (const char* probe : {"livenessProbe", "readinessProbe"}) {
    add(out, ",\"", probe, "\":{\"httpGet\":{\"path\":\"/healthz\",\"port\":", p,
        "},\"initialDelaySeconds\":", num(rng.below(30)), ",\"periodSeconds\":10",
        ",\"timeoutSeconds\":1,\"failureThreshold\":3}");
  }
  add(out, ",\"volumeMounts\":[{\"name\":\"config\",\"mountPath\":\"/etc/", svc,
      "\",\"readOnly\":true}]}");
}

inline void service(Rng& rng, std::string& out, std::size_t id) {
  const std::string svc = "svc-" + num(id);
  const std::string team = "team-" + num(rng.below(40));
  add(out, "\"", svc, "\":{\"metadata\":{\"name\":\"", svc, "\",\"namespace\":\"", team,
      "\",\"uid\":\"", num(rng.next() % 1000000007), "-", num(id),
      "\",\"generation\":", num(1 + rng.below(20)));
  add(out, ",\"labels\":{\"app\":\"", svc, "\",\"team\":\"", team, "\",\"tier\":\"",
      rng.below(2) ? "backend" : "frontend", "\",\"env\":\"", rng.below(3) ? "prod" : "staging",
      "\",\"version\":\"v", num(rng.below(5)), ".", num(rng.below(20)), "\"}");
  add(out, ",\"annotations\":{\"deploy.example.com/revision\":\"", num(rng.below(200)),
      "\",\"owner\":\"user", num(rng.below(5000)), "\"");
  // What kubectl keeps of the applied manifest: JSON inside a string.
  add(out, ",\"kubectl.kubernetes.io/last-applied-configuration\":\"{\\\"apiVersion\\\":"
      "\\\"apps/v1\\\",\\\"kind\\\":\\\"Deployment\\\",\\\"metadata\\\":{\\\"name\\\":\\\"",
      svc, "\\\",\\\"namespace\\\":\\\"", team,
      "\\\"},\\\"deployment\\\":{\\\"replicas\\\":", num(1 + rng.below(6)),
      ",\\\"template\\\":{\\\"pod\\\":{\\\"containers\\\":[{\\\"name\\\":\\\"main\\\","
      "\\\"image\\\":\\\"registry.example.com/", team, "/", svc, "\\\"}]}}}}\\n\"");
  add(out, ",\"description\":\"");
  words(rng, out, 60 + rng.below(100));
  add(out, "\"}}");
  const std::size_t port = 8000 + rng.below(1000);
  add(out, ",\"deployment\":{\"replicas\":", num(1 + rng.below(6)),
      ",\"strategy\":{\"type\":\"RollingUpdate\",\"rollingUpdate\":{\"maxSurge\":\"25%\","
      "\"maxUnavailable\":0}},\"selector\":{\"matchLabels\":{\"app\":\"",
      svc, "\"}},\"template\":{\"metadata\":{\"labels\":{\"app\":\"", svc,
      "\"}},\"pod\":{\"serviceAccountName\":\"", svc,
      "\",\"restartPolicy\":\"Always\",\"terminationGracePeriodSeconds\":30,\"containers\":[");
  container(rng, out, svc, team, "main", port);
  if (rng.below(3) == 0) {
    out.push_back(',');
    container(rng, out, svc, team, "sidecar", port + 100);
  }
  add(out, "],\"volumes\":[{\"name\":\"config\",\"configMap\":{\"name\":\"", svc,
      "-config\"}}]}}}");
  // The mounted configuration file, as a config map holds it: one string.
  add(out, ",\"configMap\":{\"data\":{\"config.yaml\":\"server:\\n  listen: 0.0.0.0:", num(port),
      "\\n  name: ", svc, "\\nlogging:\\n  level: info\\n  format: json\\nfeatures:\\n");
  for (std::size_t i = 0, n = 20 + rng.below(40); i < n; ++i) {
    add(out, "  ", kWords[rng.below(sizeof kWords / sizeof kWords[0])], "_", num(i), ": ",
        rng.below(2) ? "true" : "false", "\\n");
  }
  add(out, "notes: |\\n  ");
  words(rng, out, 80 + rng.below(120));
  add(out, "\\n\"}},\"settings\":{");
  for (std::size_t i = 0, n = 4 + rng.below(10); i < n; ++i) {
    if (i) out.push_back(',');
    add(out, "\"", kSettingNames[rng.below(sizeof kSettingNames / sizeof kSettingNames[0])], "_",
        num(i), "\":");
    switch (rng.below(3)) {
      case 0:
        out += rng.below(2) ? "true" : "false";
        break;
      case 1:
        out += num(rng.below(10000));
        break;
      default:
        add(out, "\"", kWords[rng.below(sizeof kWords / sizeof kWords[0])], "\"");
    }
  }
  out += "}}";
}

inline std::string config_document(std::size_t bytes) {
  Rng rng(0xA0761D6478BD642FULL);
  std::string out;
  out.reserve(bytes + 8192);
  out += "{\"apiVersion\":\"v1\",\"kind\":\"ConfigDump\",\"cluster\":\"prod-eu-1\",\"services\":{";
  for (std::size_t id = 1; out.size() < bytes; ++id) {
    if (id > 1) out.push_back(',');
    service(rng, out, id);
  }
  out += "}}";
  return out;
}

// One array of `count` integers from 0 to 999.
inline std::string int_array(std::size_t count) {
  Rng rng(0xE7037ED1A0B428DBULL);
  std::string out = "[";
  for (std::size_t i = 0; i < count; ++i) {
    if (i) out.push_back(',');
    out += num(rng.below(1000));
  }
  out += "]";
  return out;
}

// One object of `count` keys ("k1" ... ), each with a small integer.
inline std::string key_object(std::size_t count) {
  Rng rng(0x8EBC6AF09C88C6E3ULL);
  std::string out = "{";
  for (std::size_t i = 1; i <= count; ++i) {
    if (i > 1) out.push_back(',');
    add(out, "\"k", num(i), "\":", num(rng.below(1000)));
  }
  out += "}";
  return out;
}

// An array of `chains` objects, each nested `depth` levels deep
// ({"d":{"d":...{"id":N}...}}).
inline std::string deep_chains(std::size_t chains, std::size_t depth) {
  std::string out = "[";
  for (std::size_t c = 0; c < chains; ++c) {
    if (c) out.push_back(',');
    for (std::size_t d = 1; d < depth; ++d) out += "{\"d\":";
    add(out, "{\"id\":", num(c), "}");
    out.append(depth - 1, '}');
  }
  out += "]";
  return out;
}

// An array of `count` records of `fields` fields each: integers, short
// words, booleans and decimals in a fixed rotation.
inline std::string wide_records(std::size_t count, std::size_t fields) {
  Rng rng(0x589965CC75374CC3ULL);
  std::string out = "[";
  char name[16];
  for (std::size_t r = 0; r < count; ++r) {
    if (r) out.push_back(',');
    out.push_back('{');
    for (std::size_t f = 0; f < fields; ++f) {
      if (f) out.push_back(',');
      std::snprintf(name, sizeof name, "field_%03zu", f);
      add(out, "\"", name, "\":");
      switch (f % 4) {
        case 0:
          out += num(rng.below(100000));
          break;
        case 1:
          add(out, "\"", kWords[rng.below(sizeof kWords / sizeof kWords[0])], "\"");
          break;
        case 2:
          out += rng.below(2) ? "true" : "false";
          break;
        default:
          add(out, num(rng.below(1000)), ".", num(rng.below(100)));
      }
    }
    out.push_back('}');
  }
  out += "]";
  return out;
}

// A GeoJSON-like FeatureCollection of about `bytes` bytes: polygons whose
// rings are long arrays of [longitude, latitude] pairs written with 15
// decimals, as in published boundary files. Almost all of it is numbers.
inline std::string geo_document(std::size_t bytes) {
  Rng rng(0x1D8E4E27C47D124FULL);
  std::string out;
  out.reserve(bytes + 262144);
  out += "{\"type\":\"FeatureCollection\",\"features\":[";
  char buf[64];
  auto coordinate = [&](double v) {
    std::snprintf(buf, sizeof buf, "%.15f", v);
    out += buf;
  };
  for (std::size_t f = 0; out.size() < bytes; ++f) {
    if (f) out.push_back(',');
    add(out, "{\"type\":\"Feature\",\"properties\":{\"name\":\"region-", num(f),
        "\",\"id\":", num(f), "},\"geometry\":{\"type\":\"Polygon\",\"coordinates\":[");
    double lon = -180.0 + static_cast<double>(rng.below(360000)) / 1000;
    double lat = -80.0 + static_cast<double>(rng.below(160000)) / 1000;
    for (std::size_t ring = 0, rings = 1 + rng.below(3); ring < rings; ++ring) {
      if (ring) out.push_back(',');
      out.push_back('[');
      for (std::size_t p = 0, points = 200 + rng.below(3000); p < points; ++p) {
        if (p) out.push_back(',');
        lon += (static_cast<double>(rng.below(2001)) - 1000) / 1e5;
        lat += (static_cast<double>(rng.below(2001)) - 1000) / 1e5;
        out.push_back('[');
        coordinate(lon);
        out.push_back(',');
        coordinate(lat);
        out.push_back(']');
      }
      out.push_back(']');
    }
    out += "]}}";
  }
  out += "]}";
  return out;
}

}  // namespace quendra::bench

#endif  // QUENDRA_BENCH_GEN_H_

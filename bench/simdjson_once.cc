// The peer of shrink_once: simdjson's DOM parse of FILE followed by a walk of
// the whole tree (counting nodes and summing the lengths of keys and
// strings), in a fresh process. The file is loaded into a padded buffer first
// and the timed span is parse and walk. With --warm, parse and walk repeat
// with the same parser for about SECONDS more. Prints one JSON line with the
// same fields as shrink_once (nodes and string_bytes in place of envelope).
//   simdjson_once FILE [--warm SECONDS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "simdjson.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The process's peak resident size in KiB: VmHWM, which unlike getrusage's
// ru_maxrss does not carry over the peak of the process that exec'd this one
// (a Python runner's own 15 MB would otherwise be the floor of every figure).
long peak_kb() {
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    long kb = -1;
    while (kb < 0 && std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atol(line + 6);
    }
    std::fclose(f);
    if (kb >= 0) return kb;
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Walk {
  std::size_t nodes = 0;
  std::size_t string_bytes = 0;
};

void walk(simdjson::dom::element e, Walk& w) {
  ++w.nodes;
  switch (e.type()) {
    case simdjson::dom::element_type::ARRAY: {
      simdjson::dom::array items;
      if (e.get(items) == simdjson::SUCCESS) {
        for (simdjson::dom::element child : items) walk(child, w);
      }
      break;
    }
    case simdjson::dom::element_type::OBJECT: {
      simdjson::dom::object members;
      if (e.get(members) == simdjson::SUCCESS) {
        for (simdjson::dom::key_value_pair member : members) {
          w.string_bytes += member.key.size();
          walk(member.value, w);
        }
      }
      break;
    }
    case simdjson::dom::element_type::STRING: {
      std::string_view text;
      if (e.get(text) == simdjson::SUCCESS) w.string_bytes += text.size();
      break;
    }
    default:
      break;
  }
}

// Parses and walks `json`; exits when it is not valid JSON.
Walk parse_and_walk(simdjson::dom::parser& parser, const simdjson::padded_string& json) {
  simdjson::dom::element root;
  if (auto error = parser.parse(json).get(root)) {
    std::fprintf(stderr, "simdjson_once: %s\n", simdjson::error_message(error));
    std::exit(1);
  }
  Walk w;
  walk(root, w);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = nullptr;
  double warm_seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--warm") == 0 && i + 1 < argc) {
      warm_seconds = std::atof(argv[++i]);
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    std::fprintf(stderr, "usage: simdjson_once FILE [--warm SECONDS]\n");
    return 2;
  }

  const long base_kb = peak_kb();
  simdjson::padded_string json;
  if (auto error = simdjson::padded_string::load(path).get(json)) {
    std::fprintf(stderr, "simdjson_once: cannot load %s: %s\n", path,
                 simdjson::error_message(error));
    return 1;
  }
  simdjson::dom::parser parser;
  double t0 = now();
  const Walk w = parse_and_walk(parser, json);
  const double first = now() - t0;

  long calls = 0;
  double warm_total = 0, warm_min = 0;
  while (warm_seconds > 0 && (calls == 0 || warm_total < warm_seconds)) {
    t0 = now();
    if (parse_and_walk(parser, json).nodes != w.nodes) std::abort();
    const double t = now() - t0;
    warm_total += t;
    warm_min = calls++ == 0 ? t : std::min(warm_min, t);
  }

  std::printf(
      "{\"version\":\"simdjson %d.%d.%d\",\"input\":%zu,\"first_s\":%.9f,\"warm_calls\":%ld,"
      "\"warm_mean_s\":%.9f,\"warm_min_s\":%.9f,\"base_kb\":%ld,\"peak_kb\":%ld,"
      "\"nodes\":%zu,\"string_bytes\":%zu}\n",
      simdjson::SIMDJSON_VERSION_MAJOR, simdjson::SIMDJSON_VERSION_MINOR,
      simdjson::SIMDJSON_VERSION_REVISION, json.size(), first, calls,
      calls ? warm_total / static_cast<double>(calls) : 0.0, warm_min, base_kb, peak_kb(), w.nodes,
      w.string_bytes);
  return 0;
}

// The peer of shrink_once: simdjson's DOM parse of FILE followed by a walk of
// the whole tree (counting nodes and summing the lengths of keys and
// strings), in a fresh process. The file is loaded into a padded buffer first
// and the timed span is parse and walk. With --warm, parse and walk repeat
// with the same parser for about SECONDS more. Prints one JSON line with the
// same fields as shrink_once (nodes and string_bytes in place of envelope).
//   simdjson_once FILE [--warm SECONDS]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "once.h"
#include "simdjson.h"

namespace {

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

  const long base_kb = quendra::bench::peak_kb();
  simdjson::padded_string json;
  if (auto error = simdjson::padded_string::load(path).get(json)) {
    std::fprintf(stderr, "simdjson_once: cannot load %s: %s\n", path,
                 simdjson::error_message(error));
    return 1;
  }
  simdjson::dom::parser parser;
  Walk w;
  const auto timing = quendra::bench::time_calls(
      [&] {
        const Walk again = parse_and_walk(parser, json);
        if (w.nodes == 0) w = again;
        if (again.nodes != w.nodes) std::abort();
      },
      warm_seconds);

  std::printf(
      "{\"version\":\"simdjson %d.%d.%d\",\"input\":%zu,%s,\"base_kb\":%ld,"
      "\"peak_kb\":%ld,\"nodes\":%zu,\"string_bytes\":%zu}\n",
      simdjson::SIMDJSON_VERSION_MAJOR, simdjson::SIMDJSON_VERSION_MINOR,
      simdjson::SIMDJSON_VERSION_REVISION, json.size(), quendra::bench::timing_json(timing).c_str(),
      base_kb, quendra::bench::peak_kb(), w.nodes, w.string_bytes);
  return 0;
}

// YAML reader and writer throughput on generated web-API documents written
// as YAML.
//   yaml_bench [MB ...]      (default: 1 20)
// For each size prints libfyaml's bare event parse of the text, the full
// read into a Value (and its ratio to the bare parse), the peak memory the
// read adds relative to the text's size, and the YAML writer's throughput.
#include <libfyaml.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "document/json.h"
#include "document/yaml.h"
#include "document/yaml_in.h"
#include "gen.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void discard_output(fy_diag*, void*, const char*, std::size_t) {}

// Pulls every event of `text` through libfyaml's parser and touches each
// scalar's text, which is the least any loader has to do. Returns the event
// count, or 0 on a parse error.
std::size_t bare_parse(const std::string& text) {
  fy_diag_cfg dcfg;
  fy_diag_cfg_default(&dcfg);
  dcfg.fp = nullptr;
  dcfg.output_fn = discard_output;
  fy_diag* diag = fy_diag_create(&dcfg);
  fy_diag_set_collect_errors(diag, true);
  fy_parse_cfg pcfg{};
  pcfg.flags = static_cast<fy_parse_cfg_flags>(FYPCF_QUIET | FYPCF_DEFAULT_VERSION_1_2 |
                                               FYPCF_JSON_NONE);
  pcfg.diag = diag;
  fy_parser* parser = fy_parser_create(&pcfg);
  fy_parser_set_string(parser, text.data(), text.size());
  std::size_t events = 0;
  std::size_t bytes = 0;
  while (fy_event* ev = fy_parser_parse(parser)) {
    ++events;
    if (ev->type == FYET_SCALAR) {
      std::size_t len = 0;
      fy_token_get_text(ev->scalar.value, &len);
      bytes += len;
    }
    fy_parser_event_free(parser, ev);
  }
  bool failed = fy_parser_get_stream_error(parser);
  fy_parser_destroy(parser);
  fy_diag_destroy(diag);
  return failed || bytes == 0 ? 0 : events;
}

// A line "<name>: <n> kB" of /proc/self/status.
long status_kb(const std::string& name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, name.size() + 1, name + ":") == 0) {
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
    }
  }
  return 0;
}

// Peak memory that one read of `text` adds, relative to the text's size.
// Freed heap memory is handed back and the peak reset first, so neither
// earlier work nor reused memory hides the read's own footprint.
double read_peak_ratio(const std::string& text) {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  long base = status_kb("VmRSS");
  quendra::Arena arena;
  auto v = quendra::yaml_in::parse(text, arena);
  long peak = status_kb("VmHWM");
  return v.ok() ? static_cast<double>(peak - base) * 1024 / static_cast<double>(text.size())
                : -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {1, 20};
  for (std::size_t mb : sizes) {
    const std::string source = quendra::bench::api_document(mb << 20);
    quendra::Arena source_arena;
    auto json = quendra::json::parse(source, source_arena);
    if (!json.ok()) {
      std::fprintf(stderr, "generated JSON does not parse\n");
      return 1;
    }
    const quendra::Value& doc = json.value();
    std::string text = quendra::yaml::render(doc, 2);
    double text_mb = static_cast<double>(text.size()) / (1 << 20);
    double peak = read_peak_ratio(text);
    int reps = mb >= 10 ? 5 : 25;
    double bare_s = 1e9, read_s = 1e9, write_s = 1e9;
    for (int r = 0; r < reps; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      if (bare_parse(text) == 0) {
        std::fprintf(stderr, "libfyaml refuses the generated YAML\n");
        return 1;
      }
      bare_s = std::min(bare_s, seconds_since(t0));

      t0 = std::chrono::steady_clock::now();
      quendra::Arena arena;
  auto v = quendra::yaml_in::parse(text, arena);
      read_s = std::min(read_s, seconds_since(t0));
      if (!v.ok() || !(v.value() == doc)) {
        std::fprintf(stderr, "YAML read failed or differs: %s\n",
                     v.ok() ? "different value" : v.error().to_string().c_str());
        return 1;
      }

      t0 = std::chrono::steady_clock::now();
      std::string out = quendra::yaml::render(doc, 2);
      write_s = std::min(write_s, seconds_since(t0));
      if (out.size() != text.size()) return 1;
    }
    std::printf(
        "%3zu MB doc (YAML %.1f MB): bare event parse %6.1f MB/s, read %6.1f MB/s "
        "(%.2fx bare), read peak %.1fx text, write %6.1f MB/s\n",
        mb, text_mb, text_mb / bare_s, text_mb / read_s, read_s / bare_s,
        peak, text_mb / write_s);
  }
  return 0;
}

// End-to-end cost of quendra::shrink on generated web-API documents, against
// parsing alone, with peak memory. Two document shapes: one long list of
// records (too many to condense within the budget, so condensing declines
// and the array is sampled) and many pages of 20 to 60 records (condensing
// runs on the pages' record arrays). Each measurement runs in a child process
// so that its peak resident size is its own.
//   shrink_bench [list|pages ...] [MB ...]    (default: both shapes, 1 20 100)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "document/json.h"
#include "gen.h"
#include "lib.h"
#include "once.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long peak_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Shape {
  const char* name;
  std::string (*generate)(std::size_t bytes);
};

const Shape kShapes[] = {
    {"list", quendra::bench::api_document},
    {"pages", quendra::bench::paged_document},
};

struct Config {
  const char* name;
  const char* options;    // empty: parse only
  const char* reference;  // the config this one is compared with, if any
};

const Config kConfigs[] = {
    {"parse only", "", nullptr},
    {"sample compact", R"({"max_chars":10000,"indent":0})", "parse only"},
    {"sample indented", R"({"max_chars":10000})", "parse only"},
    {"condense compact", R"({"max_chars":10000,"indent":0,"array_strategy":"condense"})",
     "sample compact"},
    {"condense indented", R"({"max_chars":10000,"array_strategy":"condense"})", "sample indented"},
    {"query compact",
     R"({"max_chars":10000,"indent":0,"array_strategy":"condense","arguments":"stars by owner login"})",
     "sample compact"},
    {"query indented",
     R"({"max_chars":10000,"array_strategy":"condense","arguments":"stars by owner login"})",
     "sample indented"},
};
constexpr std::size_t kConfigCount = sizeof kConfigs / sizeof kConfigs[0];

// What a child process measured.
struct Figures {
  double seconds = 0;
  double input_mb = 0;
  double peak_ratio = 0;  // peak resident growth over the input's bytes
  long condensed = -1;    // the report's arrays_condensed; -1 for parse only
  std::size_t envelope = 0;
};

// The unsigned number after `"key":` in `json`, or -1.
long report_count(std::string_view json, std::string_view key) {
  std::string needle = "\"" + std::string(key) + "\":";
  std::size_t at = json.find(needle);
  if (at == std::string_view::npos) return -1;
  return std::strtol(json.data() + at + needle.size(), nullptr, 10);
}

Figures measure(const Shape& shape, std::size_t mb, const Config& c) {
  std::string doc = shape.generate(mb << 20);
  long base = peak_kb();
  int reps = mb >= 50 ? 2 : mb >= 10 ? 3 : 15;
  Figures f;
  f.seconds = 1e9;
  for (int r = 0; r < reps; ++r) {
    double t0 = now();
    if (*c.options == 0) {
      quendra::Arena arena;
      auto v = quendra::json::parse(doc, arena);
      f.envelope = v.ok();
    } else {
      std::string envelope = quendra::shrink(doc, c.options);
      f.envelope = envelope.size();
      f.condensed = report_count(envelope, "arrays_condensed");
    }
    f.seconds = std::min(f.seconds, now() - t0);
  }
  f.input_mb = static_cast<double>(doc.size()) / (1 << 20);
  f.peak_ratio = static_cast<double>(peak_kb() - base) * 1024 / static_cast<double>(doc.size());
  return f;
}

// Runs `measure` in a child process of its own.
Figures measure_apart(const Shape& shape, std::size_t mb, const Config& c) {
  return quendra::bench::in_child<Figures>([&] { return measure(shape, mb, c); });
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const Shape*> shapes;
  std::vector<std::size_t> sizes;
  for (int i = 1; i < argc; ++i) {
    bool named = false;
    for (const Shape& s : kShapes) {
      if (std::strcmp(argv[i], s.name) == 0) {
        shapes.push_back(&s);
        named = true;
      }
    }
    if (!named) sizes.push_back(std::strtoul(argv[i], nullptr, 10));
  }
  if (shapes.empty()) {
    for (const Shape& s : kShapes) shapes.push_back(&s);
  }
  if (sizes.empty()) sizes = {1, 20, 100};
  std::printf("%-6s %5s  %-18s %9s %9s %8s %11s %10s\n", "shape", "MB", "config", "seconds",
              "ms/MB", "ratio", "peak/input", "condensed");
  for (const Shape* shape : shapes) {
    for (std::size_t mb : sizes) {
      Figures figures[kConfigCount];
      for (std::size_t i = 0; i < kConfigCount; ++i) {
        const Config& c = kConfigs[i];
        const Figures& f = figures[i] = measure_apart(*shape, mb, c);
        double ratio = 0;
        for (std::size_t j = 0; j < i; ++j) {
          if (c.reference && std::strcmp(kConfigs[j].name, c.reference) == 0) {
            ratio = f.seconds / figures[j].seconds;
          }
        }
        std::printf("%-6s %5zu  %-18s %9.3f %9.1f ", shape->name, mb, c.name, f.seconds,
                    f.seconds * 1000 / f.input_mb);
        if (ratio > 0) {
          std::printf("%7.2fx", ratio);
        } else {
          std::printf("%8s", "");
        }
        std::printf(" %10.2fx", f.peak_ratio);
        if (f.condensed >= 0) std::printf(" %10ld", f.condensed);
        std::printf("\n");
        std::fflush(stdout);
      }
    }
  }
  return 0;
}

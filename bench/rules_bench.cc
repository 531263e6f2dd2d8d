// What root, exclusion and redaction cost on the generated web-API document:
// the pass alone (after parsing, before anything is measured) against the
// whole shrink without the options, and the whole shrink with them. Each
// figure is the best of five runs in the process's CPU time; each
// configuration runs in a child process, so that its peak resident size is
// its own.
//   rules_bench [MB [OPTIONS]]    (default 20 MB, redaction and four patterns to exclude)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "document/json.h"
#include "document/options.h"
#include "gen.h"
#include "lib.h"
#include "once.h"
#include "rules/path_rules.h"

namespace {

// The process's CPU time: other programs on the machine barely move it.
double now() { return quendra::bench::Stamp::now().cpu; }

constexpr const char* kPlain = R"({"max_chars":10000,"indent":0})";
// Redaction with the built-in rules, and a few patterns to exclude.
constexpr const char* kRules =
    R"({"max_chars":10000,"indent":0,"redact":true,)"
    R"("exclude":["owner/avatar_url","/items/*/node_id","license","topics"]})";

struct Figures {
  double seconds = 0;
  double peak_ratio = 0;  // peak resident growth over the input's bytes
  std::size_t redacted = 0, excluded = 0;
};

// `what`: 0 the plain shrink, 1 the shrink with the rules, 2 the rules'
// pass alone (timed between parsing and measuring).
Figures measure(const std::string& doc, int what, const char* rules) {
  const long base = quendra::bench::peak_kb();
  Figures f;
  f.seconds = 1e9;
  for (int r = 0; r < 5; ++r) {
    if (what == 2) {
      quendra::Arena arena;
      quendra::Value v = quendra::json::parse(doc, arena).value();
      quendra::Arena options_arena;
      auto options =
          quendra::Options::from_value(quendra::json::parse(rules, options_arena).value()).value();
      const double t0 = now();
      quendra::path_rules::Counts counts;
      if (quendra::path_rules::apply(v, options, arena, counts)) std::abort();
      f.seconds = std::min(f.seconds, now() - t0);
      f.redacted = counts.values_redacted;
      f.excluded = counts.values_excluded;
    } else {
      const double t0 = now();
      const std::string envelope = quendra::shrink(doc, what == 0 ? kPlain : rules);
      f.seconds = std::min(f.seconds, now() - t0);
      if (envelope.find("\"ok\":true") == std::string::npos) std::abort();
    }
  }
  f.peak_ratio = static_cast<double>(quendra::bench::peak_kb() - base) * 1024 /
                 static_cast<double>(doc.size());
  return f;
}

Figures measure_apart(const std::string& doc, int what, const char* rules) {
  return quendra::bench::in_child<Figures>([&] { return measure(doc, what, rules); });
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  const char* rules = argc > 2 ? argv[2] : kRules;
  const std::string doc = quendra::bench::api_document(mb << 20);
  const Figures plain = measure_apart(doc, 0, rules);
  const Figures ruled = measure_apart(doc, 1, rules);
  const Figures pass = measure_apart(doc, 2, rules);
  std::printf("web-API document, %.1f MB; options %s\n", static_cast<double>(doc.size()) / (1 << 20),
              rules);
  std::printf("%-28s %9s %12s %11s\n", "", "seconds", "/ plain", "peak/input");
  std::printf("%-28s %9.3f %12s %10.2fx\n", "shrink, no rules", plain.seconds, "", plain.peak_ratio);
  std::printf("%-28s %9.3f %11.2fx %10.2fx\n", "shrink, with the rules", ruled.seconds,
              ruled.seconds / plain.seconds, ruled.peak_ratio);
  std::printf("%-28s %9.3f %11.1f%%\n", "the rules' pass alone", pass.seconds,
              100 * pass.seconds / plain.seconds);
  std::printf("values_redacted %zu, values_excluded %zu\n", pass.redacted, pass.excluded);
  return 0;
}

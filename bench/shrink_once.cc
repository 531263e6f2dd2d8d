// One quendra_shrink call in a fresh process, through the C interface of a
// library loaded from the path given, so that the same program measures any
// build of the library. Reads FILE whole into memory, calls quendra_shrink
// once with OPTIONS (default "{}"), then, with --warm, repeats the call for
// about SECONDS more. Prints one JSON line:
//   version      the library's version
//   input        the input's size in bytes
//   first_s      wall time of the first call
//   warm_calls, warm_mean_s, warm_min_s   the repeated calls, if any
//   base_kb      peak resident size before the input was read (library loaded)
//   peak_kb      peak resident size of the process, input buffer included
//   envelope     the envelope's size in bytes; ok: whether it says "ok":true
//   shrink_once LIBRARY FILE [OPTIONS] [--warm SECONDS]
#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quendra.h"

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

[[noreturn]] void die(const char* what, const char* detail) {
  std::fprintf(stderr, "shrink_once: %s%s\n", what, detail ? detail : "");
  std::exit(1);
}

template <typename Fn>
Fn symbol(void* library, const char* name) {
  void* p = dlsym(library, name);
  if (!p) die("missing symbol ", name);
  return reinterpret_cast<Fn>(p);
}

// The whole file in a malloc'd buffer of exactly its size.
std::uint8_t* read_file(const char* path, std::size_t& size) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) die("cannot open ", path);
  std::fseek(f, 0, SEEK_END);
  size = static_cast<std::size_t>(std::ftell(f));
  std::fseek(f, 0, SEEK_SET);
  auto* buf = static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
  if (!buf || std::fread(buf, 1, size, f) != size) die("cannot read ", path);
  std::fclose(f);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  const char* positional[3] = {nullptr, nullptr, "{}"};
  int count = 0;
  double warm_seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--warm") == 0 && i + 1 < argc) {
      warm_seconds = std::atof(argv[++i]);
    } else if (count < 3) {
      positional[count++] = argv[i];
    } else {
      die("too many arguments", nullptr);
    }
  }
  if (count < 2) die("usage: shrink_once LIBRARY FILE [OPTIONS] [--warm SECONDS]", nullptr);

  void* library = dlopen(positional[0], RTLD_NOW | RTLD_LOCAL);
  if (!library) die("cannot load the library: ", dlerror());
  auto shrink = symbol<decltype(&quendra_shrink)>(library, "quendra_shrink");
  auto release = symbol<decltype(&quendra_free)>(library, "quendra_free");
  auto version = symbol<decltype(&quendra_version)>(library, "quendra_version");

  const long base_kb = peak_kb();
  std::size_t size = 0;
  std::uint8_t* input = read_file(positional[1], size);
  const auto* options = reinterpret_cast<const std::uint8_t*>(positional[2]);
  const std::size_t options_len = std::strlen(positional[2]);

  std::size_t envelope_len = 0;
  double t0 = now();
  std::uint8_t* envelope = shrink(input, size, options, options_len, &envelope_len);
  const double first = now() - t0;
  const bool ok = envelope_len >= 10 && std::memcmp(envelope, "{\"ok\":true", 10) == 0;
  if (!ok) std::fprintf(stderr, "shrink_once: %.*s\n", static_cast<int>(envelope_len), envelope);
  release(envelope, envelope_len);

  long calls = 0;
  double warm_total = 0, warm_min = 0;
  while (warm_seconds > 0 && (calls == 0 || warm_total < warm_seconds)) {
    std::size_t len = 0;
    t0 = now();
    std::uint8_t* e = shrink(input, size, options, options_len, &len);
    const double t = now() - t0;
    release(e, len);
    warm_total += t;
    warm_min = calls++ == 0 ? t : std::min(warm_min, t);
  }
  const long peak = peak_kb();
  std::free(input);

  std::printf(
      "{\"version\":\"%s\",\"input\":%zu,\"first_s\":%.9f,\"warm_calls\":%ld,"
      "\"warm_mean_s\":%.9f,\"warm_min_s\":%.9f,\"base_kb\":%ld,\"peak_kb\":%ld,"
      "\"envelope\":%zu,\"ok\":%s}\n",
      version(), size, first, calls, calls ? warm_total / static_cast<double>(calls) : 0.0,
      warm_min, base_kb, peak, envelope_len, ok ? "true" : "false");
  return 0;
}

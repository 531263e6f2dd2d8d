// One quendra_shrink call in a fresh process, through the C interface of a
// library loaded from the path given, so that the same program measures any
// build of the library. Reads FILE whole into memory, calls quendra_shrink
// once with OPTIONS (default "{}"), then, with --warm, repeats the call for
// about SECONDS more. Prints one JSON line:
//   version      the library's version
//   input        the input's size in bytes
//   first_s      wall time of the first call (first_cpu_s: its CPU time)
//   warm_calls, warm_mean_s, warm_min_s   the repeated calls, if any (once.h)
//   base_kb      peak resident size before the input was read (library loaded)
//   peak_kb      peak resident size of the process, input buffer included
//   envelope     the envelope's size in bytes; ok: whether it says "ok":true
//   shrink_once LIBRARY FILE [OPTIONS] [--warm SECONDS]
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "once.h"
#include "quendra.h"

namespace {

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

  const long base_kb = quendra::bench::peak_kb();
  std::size_t size = 0;
  std::uint8_t* input = read_file(positional[1], size);
  const auto* options = reinterpret_cast<const std::uint8_t*>(positional[2]);
  const std::size_t options_len = std::strlen(positional[2]);

  std::string first_envelope;
  const auto timing = quendra::bench::time_calls(
      [&] {
        std::size_t len = 0;
        std::uint8_t* envelope = shrink(input, size, options, options_len, &len);
        if (first_envelope.empty()) first_envelope.assign(reinterpret_cast<char*>(envelope), len);
        release(envelope, len);
      },
      warm_seconds);
  const long peak = quendra::bench::peak_kb();
  std::free(input);

  const bool ok = first_envelope.starts_with("{\"ok\":true");
  if (!ok) std::fprintf(stderr, "shrink_once: %s\n", first_envelope.c_str());
  std::printf(
      "{\"version\":\"%s\",\"input\":%zu,%s,\"base_kb\":%ld,\"peak_kb\":%ld,"
      "\"envelope\":%zu,\"ok\":%s}\n",
      version(), size, quendra::bench::timing_json(timing).c_str(), base_kb, peak,
      first_envelope.size(), ok ? "true" : "false");
  return 0;
}

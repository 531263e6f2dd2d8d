// Writes the benchmark documents into a directory, skipping those already
// there, so that repeated runs and different library builds read the same
// bytes. Prints the name and size of each.
//   gen_docs DIR [NAME ...]    (default: every document)
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "gen.h"

namespace {

namespace gen = quendra::bench;
constexpr std::size_t kMB = 1000 * 1000;

struct Doc {
  const char* name;
  std::function<std::string()> make;
};

const Doc kDocs[] = {
    {"api-20mb.json", [] { return gen::api_document(20 * kMB); }},
    {"api-100mb.json", [] { return gen::api_document(100 * kMB); }},
    {"config-20mb.json", [] { return gen::config_document(20 * kMB); }},
    {"config-100mb.json", [] { return gen::config_document(100 * kMB); }},
    {"ints-100k.json", [] { return gen::int_array(100 * 1000); }},
    {"ints-1m.json", [] { return gen::int_array(1000 * 1000); }},
    {"keys-100k.json", [] { return gen::key_object(100 * 1000); }},
    {"keys-1m.json", [] { return gen::key_object(1000 * 1000); }},
    {"deep-2000x500.json", [] { return gen::deep_chains(2000, 500); }},
    {"records-10000x200.json", [] { return gen::wide_records(10000, 200); }},
    {"geo-20mb.json", [] { return gen::geo_document(20 * kMB); }},
    {"answer-2k.json", [] { return gen::api_document(2000); }},
    {"answer-20k.json", [] { return gen::api_document(20 * 1000); }},
    {"answer-200k.json", [] { return gen::api_document(200 * 1000); }},
    {"api-1mb.json", [] { return gen::api_document(kMB); }},
    {"config-200k.json", [] { return gen::config_document(200 * 1000); }},
    {"tiny.json", [] { return std::string("{\"a\":1}"); }},
};

bool wanted(const char* name, int argc, char** argv) {
  if (argc <= 2) return true;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_docs DIR [NAME ...]\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0755);
  for (const Doc& doc : kDocs) {
    if (!wanted(doc.name, argc, argv)) continue;
    const std::string path = dir + "/" + doc.name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
      // Written under a temporary name first: an interrupted run leaves no
      // truncated document behind to be reused.
      const std::string text = doc.make();
      const std::string tmp = path + ".tmp";
      std::FILE* f = std::fopen(tmp.c_str(), "wb");
      if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0 ||
          std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::fprintf(stderr, "gen_docs: cannot write %s\n", path.c_str());
        return 1;
      }
      st.st_size = static_cast<off_t>(text.size());
    }
    std::printf("%s %lld\n", doc.name, static_cast<long long>(st.st_size));
  }
  return 0;
}

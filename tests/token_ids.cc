// Token ids of the library's tokenizers for the Node.js exactness tests
// (node/test/token_exactness.test.js), which compare them with tiktoken's.
// Reads requests from stdin until it ends, each one byte naming the
// encoding (0 o200k_base, 1 cl100k_base), a little-endian 32-bit length and
// that many bytes of text; answers each on stdout with a little-endian
// 32-bit count and as many 32-bit ids, the count being 0xFFFFFFFF for a
// refused text. Also checks on the way that the ids' bytes give the text
// back and that count() agrees, and exits 1 when they do not.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tokens/bpe.h"

namespace {

bool read_exact(void* buf, std::size_t n) { return std::fread(buf, 1, n, stdin) == n; }

void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

}  // namespace

int main() {
  namespace tokens = quendra::tokens;
  std::string text;
  std::string out;
  std::vector<std::uint32_t> ids;
  unsigned char head[5];
  while (read_exact(head, 5)) {
    const auto encoding = head[0] == 0 ? tokens::Encoding::kO200kBase : tokens::Encoding::kCl100kBase;
    const std::uint32_t len = std::uint32_t{head[1]} | std::uint32_t{head[2]} << 8 |
                              std::uint32_t{head[3]} << 16 | std::uint32_t{head[4]} << 24;
    text.resize(len);
    if (len != 0 && !read_exact(text.data(), len)) return 2;
    out.clear();
    const bool ok = tokens::encode(encoding, text, ids);
    const auto counted = tokens::count(encoding, text);
    if (ok != counted.has_value() || (ok && *counted != ids.size())) {
      std::fprintf(stderr, "token_ids: count and encode disagree\n");
      return 1;
    }
    std::string back;
    for (std::uint32_t id : ids) back += tokens::token_bytes(encoding, id);
    if (ok && back != text) {
      std::fprintf(stderr, "token_ids: the ids do not give the text back\n");
      return 1;
    }
    put32(out, ok ? static_cast<std::uint32_t>(ids.size()) : 0xFFFFFFFFu);
    for (std::uint32_t id : ids) put32(out, id);
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 2;
  }
  return 0;
}

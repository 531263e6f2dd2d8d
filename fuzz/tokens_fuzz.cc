// Fuzzes the token counts of both encodings. The first byte chooses the
// encoding, the rest is the text. For a text that is UTF-8, the count must
// equal the number of ids, every id must be a token of the encoding, the
// ids' bytes together must be the text, the per-request counter must agree
// (twice, the second time from what it remembered), and so must the C
// function; any other text must be refused by all of them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "quendra.h"
#include "tokens/bpe.h"

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "tokens_fuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace tokens = quendra::tokens;
  if (size == 0) return 0;
  const auto encoding = (data[0] & 1) == 0 ? tokens::Encoding::kO200kBase : tokens::Encoding::kCl100kBase;
  const std::string_view name = tokens::encoding_name(encoding);
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const auto counted = tokens::count(encoding, text);
  std::vector<std::uint32_t> ids{7};
  const bool encoded = tokens::encode(encoding, text, ids);
  tokens::Counter counter(encoding);
  const auto first = counter.count(text);
  const auto again = counter.count(text);
  const std::size_t through_c =
      quendra_count_tokens(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                           reinterpret_cast<const std::uint8_t*>(name.data()), name.size());

  if (encoded != counted.has_value()) fail("encode and count disagree on refusing");
  if (first != counted || again != counted) fail("the counter disagrees with count");
  if (through_c != counted.value_or(SIZE_MAX)) fail("quendra_count_tokens disagrees with count");
  if (!counted) {
    if (!ids.empty()) fail("a refused text left ids");
    return 0;
  }
  if (*counted != ids.size()) fail("the count is not the number of ids");
  std::string back;
  for (std::uint32_t id : ids) {
    const std::string_view bytes = tokens::token_bytes(encoding, id);
    if (bytes.empty()) fail("an id that is no token");
    back += bytes;
  }
  if (back != text) fail("the ids' bytes are not the text");
  return 0;
}

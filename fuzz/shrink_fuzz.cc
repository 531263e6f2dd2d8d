// Fuzzes the whole request through quendra_shrink. The input is a document,
// then optionally a NUL byte and bytes that choose the options: every option
// key, with ordinary, extreme and invalid values, or now and then the raw
// bytes as the options text. Every envelope must satisfy the invariants of
// shrink_violation, must not be the internal-error envelope, and the C entry
// point must return the same bytes as the C++ pipeline.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "json.h"
#include "quendra.h"
#include "shrink_check.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "shrink_fuzz: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

template <std::size_t N>
std::string_view pick(FuzzedDataProvider& in, const std::string_view (&table)[N]) {
  return table[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

// An integer option's value: mostly ordinary, sometimes the edges of the
// machine word, sometimes a value the options reader must refuse.
std::string count_value(FuzzedDataProvider& in, std::size_t typical, std::size_t spread) {
  static constexpr std::string_view kEdges[] = {
      "0", "1", "18446744073709551615", "9223372036854775808", "4294967296",
      "00", "18446744073709551616", "-1", "1.5", "1e3", "\"7\"", "null",
  };
  switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 6: return std::string(pick(in, kEdges));
    case 7: return std::to_string(in.ConsumeIntegral<std::uint64_t>());
    default: return std::to_string(typical + in.ConsumeIntegralInRange<std::size_t>(0, spread));
  }
}

// A JSON string holding a few bytes of the input (escaped so the options
// text stays JSON; invalid UTF-8 is replaced).
std::string string_value(FuzzedDataProvider& in, std::size_t max_len) {
  std::string raw = in.ConsumeRandomLengthString(max_len);
  if (!quendra::unicode::valid_utf8(raw)) raw = "?";
  std::string out;
  quendra::json::write_string(out, raw);
  return out;
}

std::string protect_value(FuzzedDataProvider& in) {
  static constexpr std::string_view kPaths[] = {
      "\"id\"", "\"/id\"", "\"name\"", "\"*/name\"", "\"users/*/email\"", "\"/users/*/id\"",
      "\"a/b\"", "\"/\"", "\"\"", "\"*\"", "\"a//b\"", "\"/*/*\"",
  };
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return std::string(pick(in, kPaths));
    case 1: return string_value(in, 12);
    case 2: return "[1]";
    default: {
      std::string out = "[";
      int n = in.ConsumeIntegralInRange<int>(0, 3);
      for (int i = 0; i < n; ++i) {
        if (i) out += ",";
        out += pick(in, kPaths);
      }
      return out + "]";
    }
  }
}

std::string options_text(FuzzedDataProvider& in) {
  if (in.remaining_bytes() > 0 && in.ConsumeIntegral<std::uint8_t>() == 0xFF) {
    return in.ConsumeRemainingBytesAsString();
  }
  static constexpr std::string_view kFormats[] = {
      "\"auto\"", "\"json\"", "\"yaml\"", "\"yml\"", "\"JSON\"", "\"Yaml\"", "\"xml\"", "1"};
  static constexpr std::string_view kScorers[] = {
      "\"heuristic\"", "\"compact\"", "\"key_order\"", "\"keyorder\"", "\"Key-Order\"",
      "\"HEURISTIC\"", "\"random\"", "true"};
  static constexpr std::string_view kStrategies[] = {
      "\"sample\"", "\"condense\"", "\"CONDENSE\"", "\"Sample\"", "\"both\"", "[]"};
  static constexpr std::string_view kBools[] = {"true", "false", "0", "\"true\""};

  std::string out = "{\"max_chars\":" + count_value(in, 0, 400);
  auto add = [&](std::string_view key, const std::string& value) {
    out += ",\"";
    out += key;
    out += "\":";
    out += value;
  };
  const std::uint16_t present = in.ConsumeIntegral<std::uint16_t>();
  if (present & 1) add("indent", std::to_string(in.ConsumeIntegralInRange<int>(0, 9)));
  if (present & 2) add("format", std::string(pick(in, kFormats)));
  if (present & 4) add("input_format", std::string(pick(in, kFormats)));
  if (present & 8) add("field_scorer", std::string(pick(in, kScorers)));
  if (present & 16) add("array_strategy", std::string(pick(in, kStrategies)));
  if (present & 32) add("max_samples", count_value(in, 0, 8));
  if (present & 64) add("keep_last_item", std::string(pick(in, kBools)));
  if (present & 128) add("string_head_chars", count_value(in, 0, 600));
  if (present & 256) add("string_section_chars", count_value(in, 0, 150));
  if (present & 512) add("string_min_section_chars", count_value(in, 0, 30));
  if (present & 1024) add("min_partial_chars", count_value(in, 0, 80));
  if (present & 2048) add("explain", std::string(pick(in, kBools)));
  if (present & 4096) add("protect", protect_value(in));
  if (present & 8192) add("arguments", string_value(in, 24));
  if (present & 16384) add("max_chars", count_value(in, 0, 2000));
  if (present & 32768) add("unknown", "1");
  return out + "}";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const void* nul = std::memchr(data, 0, size);
  std::size_t doc_len = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data) : size;
  std::string doc(reinterpret_cast<const char*>(data), doc_len);
  FuzzedDataProvider in(nul ? data + doc_len + 1 : data, nul ? size - doc_len - 1 : 0);
  const std::string options = options_text(in);

  std::string envelope;
  std::string broken = quendra::testing::shrink_violation(doc, options, &envelope);
  if (!broken.empty()) fail(broken.c_str(), options);
  if (envelope == quendra::envelope_err("internal error (panic) in quendra")) {
    fail("internal error", options);
  }

  // The C entry point, with buffers of exactly the texts' sizes.
  std::uint8_t* doc_buf = quendra_alloc(doc.size());
  std::uint8_t* opt_buf = quendra_alloc(options.size());
  if (!doc.empty()) std::memcpy(doc_buf, doc.data(), doc.size());
  if (!options.empty()) std::memcpy(opt_buf, options.data(), options.size());
  std::size_t out_len = 0;
  std::uint8_t* out = quendra_shrink(doc_buf, doc.size(), opt_buf, options.size(), &out_len);
  if (std::string_view(reinterpret_cast<const char*>(out), out_len) != envelope) {
    fail("C entry point differs", options);
  }
  quendra_free(out, out_len);
  quendra_free(doc_buf, doc.size());
  quendra_free(opt_buf, options.size());
  return 0;
}

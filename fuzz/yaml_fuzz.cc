// Fuzzes the YAML reader and, through the trees it reads, the YAML writer.
// Any valid UTF-8 input either fails with a message (one of the fixed node
// refusals, or the loader's reason with its position inside the text) or
// reads into a tree that the JSON writer and the YAML writer (at two
// indents) both write back to text that reads into the same tree again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "document/json.h"
#include "document/value.h"
#include "document/yaml.h"
#include "document/yaml_in.h"
#include "unicode/unicode.h"

namespace {

constexpr std::string_view kRefusals[] = {
    "nesting deeper than 512 levels",
    "complex mapping keys are not supported",
    "unresolved alias",
    "invalid value",
};

[[noreturn]] void fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "yaml_fuzz: %s: %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// Reads the decimal number that follows `label` in `message`; -1 when absent.
long long number_after(std::string_view message, std::string_view label) {
  std::size_t at = message.rfind(label);
  if (at == std::string_view::npos) return -1;
  long long n = -1;
  for (std::size_t i = at + label.size(); i < message.size(); ++i) {
    char c = message[i];
    if (c < '0' || c > '9') break;
    n = (n < 0 ? 0 : n * 10) + (c - '0');
  }
  return n;
}

void check_error(std::string_view text, const std::string& message) {
  for (std::string_view r : kRefusals) {
    if (message == r) return;
  }
  long long byte = number_after(message, " at byte ");
  long long line = number_after(message, " line ");
  long long column = number_after(message, " column ");
  if (message.find(" at byte ") == 0 || byte < 0 || line < 1 || column < 1) {
    fail("error is not '<reason> at byte B line L column C'", message);
  }
  if (static_cast<unsigned long long>(byte) > text.size()) fail("error position past the text", message);
}

// Tree equality, except that the Number -0 may come back as 0: a float
// scalar such as -.0 reads as the Number -0, which YAML reads back as the
// integer 0.
bool same_tree(const quendra::Value& a, const quendra::Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case quendra::Kind::Number:
      return a.text() == b.text() || (a.text() == "-0" && b.text() == "0");
    case quendra::Kind::Array:
      if (a.items().size() != b.items().size()) return false;
      for (std::size_t i = 0; i < a.items().size(); ++i) {
        if (!same_tree(a.items()[i], b.items()[i])) return false;
      }
      return true;
    case quendra::Kind::Object:
      if (a.members().size() != b.members().size()) return false;
      for (std::size_t i = 0; i < a.members().size(); ++i) {
        if (a.members()[i].key != b.members()[i].key ||
            !same_tree(a.members()[i].value, b.members()[i].value)) {
          return false;
        }
      }
      return true;
    default:
      return a == b;
  }
}

void json_round_trip(const quendra::Value& value) {
  std::string written;
  quendra::json::write_value(written, value, quendra::Layout{});
  quendra::Arena arena;
  auto again = quendra::json::parse(written, arena);
  if (!again.ok()) fail("JSON text of a YAML tree does not read back", again.error().to_string());
  if (!(again.value() == value)) fail("tree changed in a JSON round trip", written);
}

void yaml_round_trip(const quendra::Value& value, std::size_t indent) {
  std::string written = quendra::yaml::render(value, indent);
  if (!quendra::unicode::valid_utf8(written)) fail("YAML writer produced invalid UTF-8", written);
  quendra::Arena arena;
  auto again = quendra::yaml_in::parse(written, arena);
  if (!again.ok()) fail("YAML text does not read back", again.error().to_string() + "\n" + written);
  if (!same_tree(value, again.value())) fail("tree changed in a YAML round trip", written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!quendra::unicode::valid_utf8(text)) return 0;
  quendra::Arena arena;
  auto parsed = quendra::yaml_in::parse(text, arena);
  if (!parsed.ok()) {
    check_error(text, std::get<quendra::Error::InputNotYaml>(parsed.error().record).message);
    return 0;
  }
  json_round_trip(parsed.value());
  yaml_round_trip(parsed.value(), 2);
  yaml_round_trip(parsed.value(), 3 + size % 3);
  return 0;
}

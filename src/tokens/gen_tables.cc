// Writes the tokenizers' read-only tables for src/tokens/ at build time, so
// that nothing is built when the library runs:
//
//   gen_tables THIRD_PARTY_DIR CLASSES_OUT.h VOCAB_OUT.h
//
// CLASSES_OUT.h: the class of every code point in the split patterns (from
// the Unicode 16.0.0 tables of regex-syntax 0.8.5 in
// THIRD_PARTY_DIR/regex-syntax), one byte per code point in a two-level
// table of distinct blocks.
// VOCAB_OUT.h: for o200k_base and cl100k_base (THIRD_PARTY_DIR/tiktoken/
// NAME.tokens), the tokens' bytes in rank order, the offset of each, an
// open-addressing table from bytes to rank (linear probing over slots of
// hash.h), and the rank of each single byte.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "hash.h"

namespace {

using quendra::tokens::hash_bytes;
using quendra::tokens::kSlotMaxDistance;
using quendra::tokens::kSlotRankBits;
using quendra::tokens::kSlotTagShift;

constexpr char32_t kCodePoints = 0x110000;
constexpr int kBlockShift = 7;
constexpr char32_t kBlockSize = char32_t{1} << kBlockShift;

// The classes of split.cc, one per code point.
enum Class : std::uint8_t {
  kOther = 0,    // none of the below: punctuation, symbols, controls, unassigned
  kUpper = 1,    // Lu, Lt
  kLower = 2,    // Ll
  kLetter = 3,   // Lm, Lo
  kMark = 4,     // Mn, Mc, Me
  kNumber = 5,   // Nd, Nl, No
  kSpace = 6,    // White_Space other than \r and \n
  kNewline = 7,  // \r, \n
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads one Rust char literal at text[pos] (which is the opening quote) and
// moves pos past its closing quote.
char32_t rust_char(const std::string& text, std::size_t& pos) {
  if (text[pos] != '\'') throw std::runtime_error("expected a char literal");
  ++pos;
  char32_t cp;
  auto c = static_cast<unsigned char>(text[pos]);
  if (c == '\\') {
    char e = text[pos + 1];
    pos += 2;
    if (e == 'u') {
      std::size_t close = text.find('}', pos);
      cp = static_cast<char32_t>(std::stoul(text.substr(pos + 1, close - pos - 1), nullptr, 16));
      pos = close + 1;
    } else {
      const std::map<char, char32_t> escapes{{'0', 0},     {'t', 9},    {'n', 10},
                                             {'r', 13},    {'\'', 39},  {'\\', 92},
                                             {'"', 34}};
      auto it = escapes.find(e);
      if (it == escapes.end()) throw std::runtime_error("unknown escape in a char literal");
      cp = it->second;
    }
  } else {
    int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (int i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    pos += len;
  }
  if (text[pos] != '\'') throw std::runtime_error("unclosed char literal");
  ++pos;
  return cp;
}

// The ranges of `pub const NAME: &'static [(char, char)] = &[...];` in a
// regex-syntax table file.
std::vector<std::pair<char32_t, char32_t>> rust_ranges(const std::string& text,
                                                       const std::string& name) {
  std::size_t pos = text.find("pub const " + name + ":");
  if (pos == std::string::npos) throw std::runtime_error("no table " + name);
  pos = text.find("&[", text.find('=', pos));
  std::size_t end = text.find("];", pos);
  std::vector<std::pair<char32_t, char32_t>> ranges;
  while (true) {
    pos = text.find('(', pos);
    if (pos == std::string::npos || pos > end) break;
    pos = text.find('\'', pos);
    char32_t lo = rust_char(text, pos);
    pos = text.find('\'', pos);
    char32_t hi = rust_char(text, pos);
    ranges.emplace_back(lo, hi);
    end = text.find("];", pos);
  }
  if (ranges.empty()) throw std::runtime_error("empty table " + name);
  return ranges;
}

std::vector<std::uint8_t> code_point_classes(const std::string& dir) {
  const std::string categories = read_file(dir + "/general_category.rs");
  const std::string space = read_file(dir + "/perl_space.rs");
  std::vector<std::uint8_t> cls(kCodePoints, kOther);
  std::vector<bool> set(kCodePoints, false);
  auto mark = [&](const std::vector<std::pair<char32_t, char32_t>>& ranges, Class c) {
    for (auto [lo, hi] : ranges) {
      for (char32_t cp = lo; cp <= hi; ++cp) {
        if (set[cp]) throw std::runtime_error("a code point in two classes");
        set[cp] = true;
        cls[cp] = c;
      }
    }
  };
  mark(rust_ranges(categories, "UPPERCASE_LETTER"), kUpper);
  mark(rust_ranges(categories, "TITLECASE_LETTER"), kUpper);
  mark(rust_ranges(categories, "LOWERCASE_LETTER"), kLower);
  mark(rust_ranges(categories, "MODIFIER_LETTER"), kLetter);
  mark(rust_ranges(categories, "OTHER_LETTER"), kLetter);
  mark(rust_ranges(categories, "MARK"), kMark);
  mark(rust_ranges(categories, "NUMBER"), kNumber);
  mark(rust_ranges(space, "WHITE_SPACE"), kSpace);
  cls['\r'] = kNewline;
  cls['\n'] = kNewline;
  // The five letter categories together are exactly L.
  std::size_t letters = 0;
  for (auto [lo, hi] : rust_ranges(categories, "LETTER")) {
    for (char32_t cp = lo; cp <= hi; ++cp) {
      if (cls[cp] != kUpper && cls[cp] != kLower && cls[cp] != kLetter) {
        throw std::runtime_error("a letter outside the letter classes");
      }
      ++letters;
    }
  }
  std::size_t classed = 0;
  for (std::uint8_t c : cls) classed += c == kUpper || c == kLower || c == kLetter;
  if (classed != letters) throw std::runtime_error("the letter classes are not L");
  return cls;
}

struct Vocabulary {
  std::vector<std::string> tokens;  // by rank
};

Vocabulary read_tokens(const std::string& path) {
  const std::string data = read_file(path);
  Vocabulary v;
  for (std::size_t pos = 0; pos < data.size();) {
    std::size_t len = static_cast<unsigned char>(data[pos]);
    if (len == 0 || pos + 1 + len > data.size()) throw std::runtime_error("truncated " + path);
    v.tokens.push_back(data.substr(pos + 1, len));
    pos += 1 + len;
  }
  std::set<std::string> distinct(v.tokens.begin(), v.tokens.end());
  if (distinct.size() != v.tokens.size()) throw std::runtime_error("repeated tokens in " + path);
  if (v.tokens.size() >= (std::size_t{1} << kSlotRankBits) - 1) {
    throw std::runtime_error("too many tokens in " + path);
  }
  return v;
}

// Writes `bytes` as one string literal (in rows of adjacent literals):
// printable ASCII as itself, every other byte as a three-digit octal escape,
// which cannot run into the next character.
void write_literal(std::ostream& out, const std::vector<unsigned char>& bytes) {
  std::size_t column = 0;
  out << "    \"";
  for (unsigned char b : bytes) {
    if (column >= 100) {
      out << "\"\n    \"";
      column = 0;
    }
    if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\' && b != '?') {
      out << static_cast<char>(b);
      ++column;
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", b);
      out << buf;
      column += 4;
    }
  }
  out << "\"";
}

void put_le32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void write_vocabulary(std::ostream& out, const std::string& prefix, const Vocabulary& v) {
  const std::size_t n = v.tokens.size();
  std::vector<unsigned char> bytes;
  std::vector<unsigned char> offsets;
  std::size_t max_len = 0;
  for (const std::string& t : v.tokens) {
    put_le32(offsets, static_cast<std::uint32_t>(bytes.size()));
    bytes.insert(bytes.end(), t.begin(), t.end());
    max_len = std::max(max_len, t.size());
  }
  put_le32(offsets, static_cast<std::uint32_t>(bytes.size()));

  // The table holds at most 4 tokens in 5 slots.
  unsigned bits = 1;
  while ((std::size_t{1} << bits) * 4 < n * 5) ++bits;
  const std::size_t slot_count = std::size_t{1} << bits;
  // Robin Hood insertion: a token travelling along the run takes the slot
  // of one nearer its home and moves that one on.
  struct Slot {
    std::uint32_t rank1 = 0;  // rank + 1; 0 when empty
    std::uint32_t distance = 0;
    std::uint32_t tag = 0;
  };
  std::vector<Slot> slots(slot_count);
  std::size_t longest = 0;
  for (std::size_t rank = 0; rank < n; ++rank) {
    const auto* p = reinterpret_cast<const unsigned char*>(v.tokens[rank].data());
    std::uint64_t h = hash_bytes(p, v.tokens[rank].size());
    Slot moving{static_cast<std::uint32_t>(rank + 1), 0, static_cast<std::uint32_t>(h) >> kSlotTagShift};
    std::size_t i = static_cast<std::size_t>(h >> (64 - bits));
    while (slots[i].rank1 != 0) {
      if (slots[i].distance < moving.distance) std::swap(slots[i], moving);
      i = (i + 1) & (slot_count - 1);
      ++moving.distance;
      if (moving.distance > kSlotMaxDistance) throw std::runtime_error(prefix + ": a probe run too long");
    }
    slots[i] = moving;
  }
  std::size_t probes = 0;
  for (const Slot& s : slots) {
    probes += s.rank1 != 0 ? s.distance + 1 : 0;
    longest = std::max<std::size_t>(longest, s.distance + 1);
  }
  std::vector<unsigned char> slot_bytes;
  for (const Slot& s : slots) {
    put_le32(slot_bytes, s.tag << kSlotTagShift | s.distance << kSlotRankBits | s.rank1);
  }

  std::vector<std::uint32_t> byte_ranks(256, 0);
  std::vector<bool> have(256, false);
  for (std::size_t rank = 0; rank < n; ++rank) {
    if (v.tokens[rank].size() == 1) {
      auto b = static_cast<unsigned char>(v.tokens[rank][0]);
      byte_ranks[b] = static_cast<std::uint32_t>(rank);
      have[b] = true;
    }
  }
  for (bool h : have) {
    if (!h) throw std::runtime_error(prefix + ": a byte without its token");
  }

  out << "// " << n << " tokens, " << bytes.size() << " bytes; " << slot_count
      << " slots, " << static_cast<double>(probes) / static_cast<double>(n)
      << " probes a token on average, " << longest << " at most.\n";
  out << "constexpr std::uint32_t k" << prefix << "Count = " << n << ";\n";
  out << "constexpr unsigned k" << prefix << "SlotBits = " << bits << ";\n";
  out << "constexpr std::size_t k" << prefix << "MaxLength = " << max_len << ";\n";
  out << "// The tokens' bytes, by rank.\n";
  out << "constexpr unsigned char k" << prefix << "Bytes[] =\n";
  write_literal(out, bytes);
  out << ";\n// Where each rank's bytes start (little-endian 32-bit), and the end.\n";
  out << "constexpr unsigned char k" << prefix << "Offsets[] =\n";
  write_literal(out, offsets);
  out << ";\n// The lookup slots (little-endian 32-bit; see hash.h).\n";
  out << "constexpr unsigned char k" << prefix << "Slots[] =\n";
  write_literal(out, slot_bytes);
  out << ";\n// The rank of each single byte.\n";
  out << "constexpr std::uint32_t k" << prefix << "ByteRanks[256] = {";
  for (std::size_t b = 0; b < 256; ++b) out << (b % 12 == 0 ? "\n    " : " ") << byte_ranks[b] << ",";
  out << "\n};\n\n";
}

void write_classes(std::ostream& out, const std::vector<std::uint8_t>& cls) {
  std::vector<unsigned> index;
  std::vector<std::uint8_t> blocks;
  std::map<std::vector<std::uint8_t>, unsigned> seen;
  for (char32_t start = 0; start < kCodePoints; start += kBlockSize) {
    std::vector<std::uint8_t> block(cls.begin() + start, cls.begin() + start + kBlockSize);
    auto [it, added] = seen.emplace(block, static_cast<unsigned>(seen.size()));
    if (added) blocks.insert(blocks.end(), block.begin(), block.end());
    index.push_back(it->second);
  }
  out << "// Generated by src/tokens/gen_tables.cc from the Unicode 16.0.0 tables of\n"
         "// regex-syntax 0.8.5 (third_party/regex-syntax): do not edit.\n"
         "#include <cstdint>\n\n"
         "namespace quendra::tokens::tables {\n\n"
      << "constexpr int kClassShift = " << kBlockShift << ";\n\n"
      << "// The block of each code point's high bits.\n"
      << "constexpr std::uint16_t kClassIndex[" << index.size() << "] = {";
  for (std::size_t i = 0; i < index.size(); ++i) out << (i % 16 == 0 ? "\n    " : " ") << index[i] << ",";
  out << "\n};\n\n// " << seen.size() << " distinct blocks of " << static_cast<unsigned>(kBlockSize)
      << " classes.\nconstexpr std::uint8_t kClassBlocks[" << blocks.size() << "] = {";
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    out << (i % 32 == 0 ? "\n    " : " ") << static_cast<unsigned>(blocks[i]) << ",";
  }
  out << "\n};\n\n}  // namespace quendra::tokens::tables\n";
}

// Writes `text` to `path` through a temporary file, so that an interrupted
// run leaves no half-written table for the build to take.
void write_file(const std::string& path, const std::string& text) {
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + partial);
  }
  if (std::rename(partial.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: gen_tables THIRD_PARTY_DIR CLASSES_OUT.h VOCAB_OUT.h\n");
    return 2;
  }
  try {
    const std::string dir = argv[1];
    std::ostringstream classes;
    write_classes(classes, code_point_classes(dir + "/regex-syntax"));
    std::ostringstream vocab;
    vocab << "// Generated by src/tokens/gen_tables.cc from third_party/tiktoken: do not edit.\n"
             "// The literals are longer than ISO C++ asks compilers to accept, which GCC and\n"
             "// Clang do; marked as a system header so that -Wpedantic does not object.\n"
             "#pragma GCC system_header\n"
             "#include <cstddef>\n#include <cstdint>\n\n"
             "namespace quendra::tokens::tables {\n\n";
    write_vocabulary(vocab, "O200kBase", read_tokens(dir + "/tiktoken/o200k_base.tokens"));
    write_vocabulary(vocab, "Cl100kBase", read_tokens(dir + "/tiktoken/cl100k_base.tokens"));
    vocab << "}  // namespace quendra::tokens::tables\n";
    write_file(argv[2], classes.str());
    write_file(argv[3], vocab.str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "gen_tables: %s\n", e.what());
    return 1;
  }
  return 0;
}

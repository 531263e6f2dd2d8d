// The quendra command: shrinks a JSON or YAML document (FILE or standard
// input) to a character budget through the library's C interface and prints
// the shrunk text, the raw envelope or a summary of what was left out. With
// --ndjson it shrinks every line of a stream of JSON documents, on as many
// threads as --jobs says, and writes the results in input order.
//
// Flags become members of the options object and the library validates them,
// so a bad value is refused with the library's own message. The envelope the
// library returns is read back with the small JSON reader below; what kind of
// error an error envelope holds is told by classify_error alone.

#include "quendra.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;  // the library answered with an error envelope
constexpr int kExitUsage = 2;  // bad command line, unreadable input, unwritable output

// Envelopes nest four levels deep; anything deeper is not an envelope.
constexpr int kMaxEnvelopeDepth = 16;
// Paths longer than this are not padded in the field decision table.
constexpr std::size_t kMaxPathColumn = 48;
// The report's labels ("omitted: ") are this wide, and its lists wrap at
// kReportWidth characters.
constexpr std::size_t kLabelWidth = 9;
constexpr std::size_t kReportWidth = 79;

// The document sent along when only the options are being checked: the
// library reads the options before the document, and this one reads as JSON
// and as YAML alike.
constexpr std::string_view kProbeDocument = "null";
// A document that any indent above 0, and YAML output, render on more than
// one line (as JSON and as YAML alike it is a list holding a list).
constexpr std::string_view kLayoutProbe = "[[0]]";

// Batch mode hands lines to the worker threads in batches of at most this
// many lines or bytes (a longer line makes a batch of its own), reads at most
// kReadChunk bytes at a time, and keeps at most kBatchesPerJob batches per
// thread and kMaxBytesInFlight input bytes between reading and writing, so
// that a stream of any length runs in memory bounded by these numbers and by
// its longest line.
constexpr std::size_t kBatchLines = 1024;
constexpr std::size_t kBatchBytes = std::size_t{64} << 10;
constexpr std::size_t kReadChunk = std::size_t{64} << 10;
constexpr std::size_t kBatchesPerJob = 4;
constexpr std::size_t kMaxBytesInFlight = std::size_t{16} << 20;
constexpr unsigned kMaxJobs = 1024;

constexpr std::string_view kUsageHint = "Try 'quendra --help' for more information.\n";

constexpr std::string_view kHelp = R"(Usage: quendra [OPTION]... [FILE]
Shrink a JSON or YAML document so that its rendered text fits a character
budget, and say what was left out. Reads FILE, or standard input when FILE is
absent or "-", and prints the shrunk document followed by a newline.

Budget and layout:
      --max-chars N               budget of the output, in the budget unit
                                  (10000)
      --budget-unit U             what the budget counts: chars (Unicode
                                  characters), bytes (UTF-8) or utf16 (UTF-16
                                  code units, as JavaScript's length) (chars)
      --indent N                  spaces per nesting level, 0 gives compact
                                  JSON (2)
      --format F                  output format: auto, json or yaml; auto
                                  writes the format of the input (auto)
      --input-format F            input format: auto, json or yaml (auto)
Choosing what to keep:
      --strategy S                array and object strategy: sample keeps items
                                  and members in document order, condense keeps
                                  every record of a record array with its most
                                  useful fields (sample)
      --scorer S                  field scorer for condense: heuristic, compact
                                  or key_order (heuristic)
      --query TEXT                rank fields mentioned in TEXT first (condense)
      --protect PATH              never drop what PATH names, such as id or
                                  /items/*/url; repeatable, the paths of all
                                  --protect flags form one list
      --max-samples N             items kept by the sample pass of an array (3)
      --keep-last-item            keep an array's last item when it fits (on)
      --no-keep-last-item
      --min-partial-chars N       room a partly kept array item needs (40)
      --string-head-chars N       characters of a long text shown whole before
                                  its sections are previewed (500)
      --string-section-chars N    preview length of one section (100)
      --string-min-section-chars N
                                  shortest section preview (16)
      --explain, --no-explain     record condensing's field decisions (off)
      --options JSON              options as a JSON object, keys as in the
                                  library; flags after it override its members
Output:
  -o, --output FILE               write to FILE instead of standard output
      --envelope                  print the library's JSON envelope instead of
                                  the text
      --report                    print a summary of what was omitted to
                                  standard error; with --explain also the
                                  table of field decisions
  -h, --help                      print this help and exit
      --version                   print the library's version and exit
Batch mode:
      --ndjson                    every line of the input is one JSON document
                                  (input format json unless --input-format
                                  says otherwise); write one compact envelope
                                  per line, in input order; the shrunk text in
                                  it is compact too (indent 0) unless --indent
                                  or an indent in --options says otherwise
      --documents                 with --ndjson: write each shrunk document
                                  itself, as compact JSON, instead of its
                                  envelope; a line that fails writes null, and
                                  its error goes to standard error with the
                                  line number
  -j, --jobs N                    with --ndjson: shrink on N threads; the
                                  output stays in input order and is the same
                                  for every N (the number of cores)

Invalid values are refused with the library's message (exit status 1). A
document that cannot be brought within the budget still succeeds: the
smallest form found is printed, its report says "fits": false, and a warning
goes to standard error. When the input format is auto and a text of several
lines that is not JSON reads as one YAML string (an HTML error page, say), a
warning says so.

Exit status: 0 success; 1 the library answered with an error (the message goes
to standard error; in --ndjson mode: at least one line failed, and every line
still has its envelope, or null with --documents); 2 usage error, unreadable
input or unwritable output.

Examples:
  Shrink an API answer to 2000 characters and see what was dropped:
    quendra --max-chars 2000 --report answer.json
  Keep every record but only the fields a question needs, as YAML:
    quendra --strategy condense --query "name and price" --format yaml \
        --max-chars 4000 answer.json
  Shrink a stream of documents on every core, keeping their order:
    quendra --ndjson --documents --max-chars 500 < docs.ndjson > out.ndjson
)";

// ---------------------------------------------------------------------------
// A small JSON reader, enough for the envelopes the library writes.

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };

  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // the decoded string, or the number's source text
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json* find(std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return &value;
    }
    return nullptr;
  }
};

// Returns the end of the JSON number starting at `pos`, or npos when no
// number in RFC 8259 grammar starts there.
std::size_t scan_number(std::string_view s, std::size_t pos) {
  auto digit = [&](std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
  std::size_t i = pos;
  if (i < s.size() && s[i] == '-') ++i;
  if (!digit(i)) return std::string_view::npos;
  if (s[i] == '0') {
    ++i;
  } else {
    while (digit(i)) ++i;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!digit(i)) return std::string_view::npos;
    while (digit(i)) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digit(i)) return std::string_view::npos;
    while (digit(i)) ++i;
  }
  return i;
}

bool is_json_number(std::string_view s) { return !s.empty() && scan_number(s, 0) == s.size(); }

void append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // The one value that makes up the whole text, or nothing when the text is
  // not JSON.
  std::optional<Json> read() {
    Json out;
    skip_space();
    if (!value(out, 0)) return std::nullopt;
    skip_space();
    if (pos_ != text_.size()) return std::nullopt;
    return out;
  }

 private:
  void skip_space() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }

  bool consume(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  bool value(Json& out, int depth) {
    if (pos_ >= text_.size() || depth > kMaxEnvelopeDepth) return false;
    switch (text_[pos_]) {
      case '{': return object(out, depth);
      case '[': return array(out, depth);
      case '"': out.kind = Json::Kind::String; return string(out.text);
      case 't': out.kind = Json::Kind::Bool; out.boolean = true; return literal("true");
      case 'f': out.kind = Json::Kind::Bool; return literal("false");
      case 'n': return literal("null");
      default: {
        std::size_t end = scan_number(text_, pos_);
        if (end == std::string_view::npos) return false;
        out.kind = Json::Kind::Number;
        out.text.assign(text_.substr(pos_, end - pos_));
        pos_ = end;
        return true;
      }
    }
  }

  bool object(Json& out, int depth) {
    out.kind = Json::Kind::Object;
    ++pos_;
    skip_space();
    if (consume('}')) return true;
    do {
      skip_space();
      std::string key;
      if (!string(key)) return false;
      skip_space();
      if (!consume(':')) return false;
      skip_space();
      Json member;
      if (!value(member, depth + 1)) return false;
      out.members.emplace_back(std::move(key), std::move(member));
      skip_space();
    } while (consume(','));
    return consume('}');
  }

  bool array(Json& out, int depth) {
    out.kind = Json::Kind::Array;
    ++pos_;
    skip_space();
    if (consume(']')) return true;
    do {
      skip_space();
      Json item;
      if (!value(item, depth + 1)) return false;
      out.items.push_back(std::move(item));
      skip_space();
    } while (consume(','));
    return consume(']');
  }

  bool hex4(std::uint32_t& out) {
    if (text_.size() - pos_ < 4) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9') {
        out |= static_cast<std::uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        out |= static_cast<std::uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        out |= static_cast<std::uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }

  bool string(std::string& out) {
    if (!consume('"')) return false;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return false;
      switch (text_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          std::uint32_t c1 = 0;
          if (!hex4(c1)) return false;
          if (c1 >= 0xD800 && c1 < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
            std::size_t back = pos_;
            pos_ += 2;
            std::uint32_t c2 = 0;
            if (hex4(c2) && c2 >= 0xDC00 && c2 < 0xE000) {
              c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
            } else {
              pos_ = back;
            }
          }
          // A lone surrogate cannot be written as UTF-8.
          if (c1 >= 0xD800 && c1 < 0xE000) c1 = 0xFFFD;
          append_utf8(out, c1);
          break;
        }
        default: return false;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// Appends `text` as a JSON string. Bytes from 0x80 up pass through as they
// are: text that is not UTF-8 is the library's to refuse.
void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

std::size_t count_chars(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// ---------------------------------------------------------------------------
// The library boundary.

// One envelope returned by quendra_shrink, released with quendra_free.
class Envelope {
 public:
  Envelope(std::string_view input, std::string_view options) {
    data_ = quendra_shrink(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(),
                           reinterpret_cast<const std::uint8_t*>(options.data()), options.size(),
                           &size_);
  }
  ~Envelope() { quendra_free(data_, size_); }
  Envelope(const Envelope&) = delete;
  Envelope& operator=(const Envelope&) = delete;

  std::string_view text() const { return {reinterpret_cast<const char*>(data_), size_}; }

  // Every envelope starts with its "ok" member, so this needs no parsing.
  bool ok() const { return text().starts_with(R"({"ok":true)"); }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

// What went wrong in a request, as the library's error messages tell it:
// every message begins with one of a fixed set of prefixes.
enum class ErrorKind {
  InputNotUtf8,
  OptionsNotUtf8,
  OptionsNotJson,
  OptionsInvalid,
  InputNotJson,
  InputNotYaml,
  OutputTooLarge,
  Internal,
  Unknown,  // a message this command does not know
};

struct LibraryError {
  ErrorKind kind = ErrorKind::Unknown;
  std::string message;  // the whole message, as the library wrote it
  std::size_t detail_at = 0;

  // What follows the prefix: the parser's or the option's own message.
  std::string_view detail() const { return std::string_view(message).substr(detail_at); }

  // Whether every request with the same options would fail the same way.
  bool about_options() const {
    return kind == ErrorKind::OptionsNotUtf8 || kind == ErrorKind::OptionsNotJson ||
           kind == ErrorKind::OptionsInvalid;
  }
};

// The one place where a message is read for its kind: by the fixed prefix
// the library begins it with. What follows a prefix is not looked at.
LibraryError classify_error(std::string message) {
  struct Prefix {
    std::string_view text;
    ErrorKind kind;
  };
  static constexpr Prefix kPrefixes[] = {
      {"input is not valid UTF-8", ErrorKind::InputNotUtf8},
      {"options are not valid UTF-8", ErrorKind::OptionsNotUtf8},
      {"invalid options JSON: ", ErrorKind::OptionsNotJson},
      {"invalid options: ", ErrorKind::OptionsInvalid},
      {"invalid JSON input: ", ErrorKind::InputNotJson},
      {"invalid YAML input: ", ErrorKind::InputNotYaml},
      {"output too large to render", ErrorKind::OutputTooLarge},
      {"internal error (panic) in quendra", ErrorKind::Internal},
  };
  LibraryError error;
  for (const Prefix& p : kPrefixes) {
    if (message.starts_with(p.text)) {
      error.kind = p.kind;
      error.detail_at = p.text.size();
      break;
    }
  }
  error.message = std::move(message);
  return error;
}

// The error of an error envelope; an envelope that cannot be read is an
// error of unknown kind whose message is the envelope's text.
LibraryError envelope_error(std::string_view envelope_text) {
  std::optional<Json> parsed = JsonReader(envelope_text).read();
  const Json* error = parsed ? parsed->find("error") : nullptr;
  if (error == nullptr || error->kind != Json::Kind::String) {
    LibraryError unknown;
    unknown.message = std::string(envelope_text);
    return unknown;
  }
  return classify_error(error->text);
}

// ---------------------------------------------------------------------------
// The command line.

enum class FlagValue { Json, String, True, False };

struct OptionFlag {
  std::string_view flag;
  std::string_view key;
  FlagValue value;
};

// Flags that set one option each. Numbers go to the library as written when
// they are JSON numbers and as strings otherwise, so that the library's own
// message refuses anything that is not a non-negative integer.
constexpr OptionFlag kOptionFlags[] = {
    {"--max-chars", "max_chars", FlagValue::Json},
    {"--budget-unit", "budget_unit", FlagValue::String},
    {"--indent", "indent", FlagValue::Json},
    {"--format", "format", FlagValue::String},
    {"--input-format", "input_format", FlagValue::String},
    {"--strategy", "array_strategy", FlagValue::String},
    {"--array-strategy", "array_strategy", FlagValue::String},
    {"--scorer", "field_scorer", FlagValue::String},
    {"--field-scorer", "field_scorer", FlagValue::String},
    {"--max-samples", "max_samples", FlagValue::Json},
    {"--keep-last-item", "keep_last_item", FlagValue::True},
    {"--no-keep-last-item", "keep_last_item", FlagValue::False},
    {"--string-head-chars", "string_head_chars", FlagValue::Json},
    {"--string-section-chars", "string_section_chars", FlagValue::Json},
    {"--string-min-section-chars", "string_min_section_chars", FlagValue::Json},
    {"--min-partial-chars", "min_partial_chars", FlagValue::Json},
    {"--explain", "explain", FlagValue::True},
    {"--no-explain", "explain", FlagValue::False},
    {"--query", "arguments", FlagValue::String},
};

// One member of the options object under construction, in command-line order.
struct Piece {
  enum class Kind { Member, OptionsText, Protect };
  Kind kind;
  std::string text;  // a member as JSON text, or the text of --options
};

struct Command {
  std::vector<Piece> pieces;
  std::vector<std::string> protect;  // every --protect path, in order
  std::string input_path;            // empty or "-" for standard input
  std::string output_path;           // empty for standard output
  bool envelope = false;
  bool report = false;
  bool ndjson = false;
  bool documents = false;  // batch mode writes the shrunk documents themselves
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
};

int usage_error(const std::string& message) {
  std::fprintf(stderr, "quendra: %s\n%.*s", message.c_str(), static_cast<int>(kUsageHint.size()),
               kUsageHint.data());
  return kExitUsage;
}

std::string member(std::string_view key, std::string_view json_value) {
  std::string out;
  append_json_string(out, key);
  out += ':';
  out += json_value;
  return out;
}

// The value of --jobs: a decimal number from 1 to kMaxJobs.
std::optional<unsigned> parse_jobs(std::string_view text) {
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > kMaxJobs) return std::nullopt;
  return n;
}

// Reads the command line into `cmd`. Returns an exit status when the command
// is already done (help, version, usage error), nothing when it should run.
std::optional<int> parse_command_line(int argc, char** argv, Command& cmd) {
  bool only_files = false;
  bool have_input = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (only_files || arg == "-" || !arg.starts_with("-")) {
      if (have_input) return usage_error("more than one input file: " + std::string(arg));
      cmd.input_path = std::string(arg);
      have_input = true;
      continue;
    }
    if (arg == "--") {
      only_files = true;
      continue;
    }
    // "--flag=value" is the same as "--flag value".
    std::optional<std::string_view> inline_value;
    if (arg.starts_with("--")) {
      std::size_t eq = arg.find('=');
      if (eq != std::string_view::npos) {
        inline_value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
      }
    }
    auto take_value = [&]() -> std::optional<std::string_view> {
      if (inline_value) return inline_value;
      if (i + 1 >= argc) return std::nullopt;
      return std::string_view(argv[++i]);
    };
    auto no_value = [&]() { return !inline_value.has_value(); };

    if (arg == "-h" || arg == "--help") {
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("quendra %s\n", quendra_version());
      return kExitOk;
    }
    if (arg == "--envelope" || arg == "--report" || arg == "--ndjson" || arg == "--documents") {
      if (!no_value()) return usage_error("option " + std::string(arg) + " takes no value");
      (arg == "--envelope" ? cmd.envelope
       : arg == "--report" ? cmd.report
       : arg == "--ndjson" ? cmd.ndjson
                           : cmd.documents) = true;
      continue;
    }
    if (arg == "-j" || arg == "--jobs") {
      std::optional<std::string_view> value = take_value();
      if (!value) return usage_error("option " + std::string(arg) + " needs a value");
      std::optional<unsigned> jobs = parse_jobs(*value);
      if (!jobs) {
        return usage_error("option " + std::string(arg) + " needs a number of threads from 1 to " +
                           std::to_string(kMaxJobs) + ", not '" + std::string(*value) + "'");
      }
      cmd.jobs = *jobs;
      continue;
    }
    if (arg == "-o" || arg == "--output" || arg == "--options" || arg == "--protect") {
      std::optional<std::string_view> value = take_value();
      if (!value) return usage_error("option " + std::string(arg) + " needs a value");
      if (arg == "--options") {
        cmd.pieces.push_back({Piece::Kind::OptionsText, std::string(*value)});
      } else if (arg == "--protect") {
        // All paths form one list, placed where the last --protect stands.
        std::erase_if(cmd.pieces, [](const Piece& p) { return p.kind == Piece::Kind::Protect; });
        cmd.pieces.push_back({Piece::Kind::Protect, {}});
        cmd.protect.emplace_back(*value);
      } else {
        cmd.output_path = std::string(*value);
      }
      continue;
    }
    const OptionFlag* flag = nullptr;
    for (const OptionFlag& f : kOptionFlags) {
      if (f.flag == arg) flag = &f;
    }
    if (flag == nullptr) return usage_error("unknown option " + std::string(arg));
    std::string json_value;
    if (flag->value == FlagValue::True || flag->value == FlagValue::False) {
      if (!no_value()) return usage_error("option " + std::string(arg) + " takes no value");
      json_value = flag->value == FlagValue::True ? "true" : "false";
    } else {
      std::optional<std::string_view> value = take_value();
      if (!value) return usage_error("option " + std::string(arg) + " needs a value");
      if (flag->value == FlagValue::Json && is_json_number(*value)) {
        json_value = std::string(*value);
      } else {
        append_json_string(json_value, *value);
      }
    }
    cmd.pieces.push_back({Piece::Kind::Member, member(flag->key, json_value)});
  }
  if (cmd.documents && !cmd.ndjson) return usage_error("option --documents needs --ndjson");
  if (cmd.documents && cmd.envelope) {
    return usage_error("options --documents and --envelope exclude each other");
  }
  return std::nullopt;
}

// An options text that the library has read as JSON, without its byte-order
// mark and the whitespace around the value.
std::string_view json_value_text(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  constexpr std::string_view kSpace = " \t\n\r";
  std::size_t open = text.find_first_not_of(kSpace);
  if (open == std::string_view::npos) return {};
  return text.substr(open, text.find_last_not_of(kSpace) + 1 - open);
}

// The members of an options object text that the library has accepted as a
// JSON object: the text between its outer braces.
std::string_view object_members(std::string_view text) {
  text = json_value_text(text);
  if (text.size() < 2) return {};
  std::string_view inner = text.substr(1, text.size() - 2);
  if (inner.find_first_not_of(" \t\n\r") == std::string_view::npos) return {};
  return inner;
}

// Whether the library's answer to an options text alone says the text is not
// usable as an options object at all (not UTF-8, not JSON, or JSON but not an
// object), as opposed to a bad option value.
bool options_text_refused(const LibraryError& error, std::string_view text) {
  switch (error.kind) {
    case ErrorKind::OptionsNotUtf8:
    case ErrorKind::OptionsNotJson: return true;
    case ErrorKind::OptionsInvalid: return !json_value_text(text).starts_with('{');
    default: return false;
  }
}

// Builds the options object text: the members in `defaults` first, then
// those of the command line in order, so that the library's rule "the last
// occurrence of a key wins" lets every flag and --options override a default.
// When an --options text is not a JSON object, returns the library's error
// envelope for it instead, so its message and positions refer to the text as
// the user wrote it.
std::optional<std::string> build_options(const Command& cmd,
                                         const std::vector<std::string>& defaults,
                                         std::string& options) {
  std::vector<std::string_view> parts(defaults.begin(), defaults.end());
  std::string protect;
  for (const Piece& piece : cmd.pieces) {
    switch (piece.kind) {
      case Piece::Kind::Member: parts.push_back(piece.text); break;
      case Piece::Kind::Protect: {
        std::string list = "[";
        for (std::size_t i = 0; i < cmd.protect.size(); ++i) {
          if (i > 0) list += ',';
          append_json_string(list, cmd.protect[i]);
        }
        list += ']';
        protect = member("protect", list);
        parts.push_back(protect);
        break;
      }
      case Piece::Kind::OptionsText: {
        Envelope check(kProbeDocument, piece.text);
        if (!check.ok() && options_text_refused(envelope_error(check.text()), piece.text)) {
          return std::string(check.text());
        }
        std::string_view inner = object_members(piece.text);
        if (!inner.empty()) parts.push_back(inner);
        break;
      }
    }
  }
  options = "{";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) options += ',';
    options += parts[i];
  }
  options += '}';
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Input and output.

// Reads all of `path` ("" or "-" for standard input) into `out`.
bool read_all(const std::string& path, std::string& out) {
  bool use_stdin = path.empty() || path == "-";
  std::FILE* file = use_stdin ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
  bool ok = !std::ferror(file);
  if (!use_stdin) std::fclose(file);
  return ok;
}

std::string input_name(const std::string& path) {
  return path.empty() || path == "-" ? std::string("standard input") : path;
}

// Where the results go: standard output or the file given with -o.
class Output {
 public:
  explicit Output(std::string path) : path_(std::move(path)) {}
  ~Output() {
    if (file_ != nullptr && file_ != stdout) std::fclose(file_);
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool open() {
    file_ = path_.empty() ? stdout : std::fopen(path_.c_str(), "wb");
    return file_ != nullptr;
  }

  void write(std::string_view text) { std::fwrite(text.data(), 1, text.size(), file_); }

  // Hands what is buffered to the destination, so that a reader at the other
  // end of a pipe sees every result written so far.
  void flush() { std::fflush(file_); }

  // Whether a write has failed already.
  bool failed() const { return std::ferror(file_) != 0; }

  // Writes `text` and a newline unless it already ends with one.
  void write_line(std::string_view text) {
    write(text);
    if (!text.ends_with('\n')) write("\n");
  }

  // Flushes and closes; false when anything failed to reach its destination.
  bool finish() {
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    if (file_ != stdout) ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
  }

  std::string name() const { return path_.empty() ? std::string("standard output") : path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

int io_error(const std::string& what) {
  std::fprintf(stderr, "quendra: %s: %s\n", what.c_str(), std::strerror(errno));
  return kExitUsage;
}

// ---------------------------------------------------------------------------
// The report summary.

std::string number_of(const Json& report, std::string_view key) {
  const Json* v = report.find(key);
  return v != nullptr && v->kind == Json::Kind::Number ? v->text : std::string("0");
}

bool flag_of(const Json& report, std::string_view key) {
  const Json* v = report.find(key);
  return v != nullptr && v->boolean;
}

std::string text_of(const Json& report, std::string_view key) {
  const Json* v = report.find(key);
  return v != nullptr ? v->text : std::string();
}

void print_field_decisions(const Json& decisions) {
  std::size_t width = 4;
  for (const Json& d : decisions.items) {
    width = std::max(width, std::min(count_chars(text_of(d, "path")), kMaxPathColumn));
  }
  std::fprintf(stderr, "field decisions:\n  %-*s  %7s  %9s  %s\n", static_cast<int>(width), "path",
               "score", "relevance", "kept");
  for (const Json& d : decisions.items) {
    std::string path = text_of(d, "path");
    std::size_t chars = count_chars(path);
    std::string pad(chars < width ? width - chars : 0, ' ');
    std::fprintf(stderr, "  %s%s  %7s  %9s  %s\n", path.c_str(), pad.c_str(),
                 number_of(d, "score").c_str(), number_of(d, "relevance").c_str(),
                 flag_of(d, "kept") ? "yes" : "no");
  }
}

// What the report's counts of text are in, for the budget unit that
// `options` (the object sent to the library) names last.
std::string unit_words(std::string_view options) {
  std::string unit = "chars";
  if (std::optional<Json> parsed = JsonReader(options).read()) {
    for (const auto& [key, value] : parsed->members) {
      if (key != "budget_unit" || value.kind != Json::Kind::String) continue;
      unit = value.text;
      for (char& c : unit) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  if (unit == "bytes") return "bytes";
  if (unit == "utf16") return "UTF-16 code units";
  return "characters";
}

// Prints the human summary of a success envelope's report to standard error;
// its counts of text are `units`.
void print_report(const Json& report, const std::string& units) {
  auto n = [&](std::string_view key) { return number_of(report, key); };
  auto nonzero = [&](std::string_view key) { return n(key) != "0"; };

  std::fprintf(stderr, "input:   %s %s of %s\n", n("input_chars").c_str(), units.c_str(),
               text_of(report, "input_format").c_str());
  std::fprintf(stderr, "output:  %s %s of %s, budget %s: %s\n", n("output_chars").c_str(),
               units.c_str(),
               text_of(report, "format").c_str(), n("max_chars").c_str(),
               !flag_of(report, "pruned") ? "fits unchanged"
               : flag_of(report, "fits")  ? "fits"
                                          : "does not fit");
  if (!flag_of(report, "pruned")) return;

  // One line per kind of omission, e.g. "38 array items (1 array sampled)";
  // the parenthesis is left out when its count is 0 (items of collapsed
  // arrays, keys of collapsed objects).
  auto counted = [&](std::string_view key, std::string_view one, std::string_view many) {
    std::string count = n(key);
    return count + " " + std::string(count == "1" ? one : many);
  };
  auto detail = [&](std::string_view key, std::string_view one, std::string_view many) {
    return nonzero(key) ? " (" + counted(key, one, many) + ")" : std::string();
  };
  std::vector<std::string> omitted;
  if (nonzero("items_omitted")) {
    omitted.push_back(counted("items_omitted", "array item", "array items") +
                      detail("arrays_sampled", "array sampled", "arrays sampled"));
  }
  if (nonzero("keys_omitted")) {
    omitted.push_back(counted("keys_omitted", "object key", "object keys") +
                      detail("objects_trimmed", "object trimmed", "objects trimmed"));
  }
  if (nonzero("fields_dropped")) {
    omitted.push_back(counted("fields_dropped", "record field", "record fields") +
                      detail("arrays_condensed", "array condensed", "arrays condensed"));
  }
  if (nonzero("strings_truncated")) {
    omitted.push_back(counted("strings_truncated", "string shortened", "strings shortened"));
  }
  if (nonzero("containers_collapsed")) {
    omitted.push_back(counted("containers_collapsed", "container", "containers") +
                      " collapsed to a marker");
  }
  if (omitted.empty()) omitted.push_back("nothing");
  for (std::size_t i = 0; i < omitted.size(); ++i) {
    std::fprintf(stderr, "%s%s\n", i == 0 ? "omitted: " : "         ", omitted[i].c_str());
  }
  if (nonzero("protected_omitted")) {
    std::fprintf(stderr, "warning: %s protected values did not fit and were omitted\n",
                 n("protected_omitted").c_str());
  }
  const Json* dropped = report.find("dropped_fields");
  if (dropped != nullptr && !dropped->items.empty()) {
    // "path (N)" entries, wrapped under the labels above.
    std::string line = "dropped: ";
    std::size_t width = kLabelWidth;
    for (std::size_t i = 0; i < dropped->items.size(); ++i) {
      const Json& d = dropped->items[i];
      std::string entry = text_of(d, "path") + " (" + number_of(d, "items") + ")";
      if (i + 1 < dropped->items.size()) entry += ',';
      std::size_t chars = count_chars(entry);
      if (width > kLabelWidth && width + 1 + chars > kReportWidth) {
        line += "\n" + std::string(kLabelWidth, ' ');
        width = kLabelWidth;
      } else if (width > kLabelWidth) {
        line += ' ';
        ++width;
      }
      line += entry;
      width += chars;
    }
    // The report lists at most 24 dropped fields but counts them all.
    unsigned long long all = std::strtoull(number_of(report, "fields_dropped").c_str(), nullptr, 10);
    if (all > dropped->items.size()) {
      line += " and " + std::to_string(all - dropped->items.size()) + " more";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
  }
  const Json* decisions = report.find("field_decisions");
  if (decisions != nullptr && !decisions->items.empty()) print_field_decisions(*decisions);
}

// ---------------------------------------------------------------------------
// Running.

// Reports an error envelope: the message to standard error, and the envelope
// itself to the output when it was asked for. In batch mode an options error
// stops the batch before any line is read, so no envelope is written.
int report_error(const Command& cmd, std::string_view envelope_text) {
  if (cmd.envelope && !cmd.ndjson) {
    Output out(cmd.output_path);
    if (!out.open()) return io_error("cannot write " + out.name());
    out.write_line(envelope_text);
    if (!out.finish()) return io_error("cannot write " + out.name());
  }
  std::fprintf(stderr, "quendra: %s\n", envelope_error(envelope_text).message.c_str());
  return kExitError;
}

// The options object text `options` (as build_options writes it) with
// `members` added at its end, where they override any earlier ones.
std::string with_members(const std::string& options, std::string_view members) {
  std::string out(options, 0, options.size() - 1);
  if (out.size() > 1) out += ',';
  out += members;
  out += '}';
  return out;
}

// The shrunk text of a success envelope, or nothing.
std::optional<std::string> envelope_text_member(const Envelope& envelope) {
  if (!envelope.ok()) return std::nullopt;
  std::optional<Json> parsed = JsonReader(envelope.text()).read();
  const Json* text = parsed ? parsed->find("text") : nullptr;
  if (text == nullptr) return std::nullopt;
  return text->text;
}

// The lines of `text`, not counting blank space at its end.
std::size_t count_lines(std::string_view text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  if (end == std::string_view::npos) return 0;
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + end, '\n'));
}

// When the input format was left to the library, a text of several lines did
// not read as JSON, and YAML read all of it as one string, the input was most
// likely meant as JSON and is something else: an HTML error page, JSON with
// comments. Returns the warning that says so, or an empty text. `report` and
// `text` come from the success envelope for `input`; the library is asked
// again only in the rare case that the answer may be such a string.
std::string single_string_warning(const std::string& input, const std::string& options,
                                  const Json& report, const std::string& text) {
  if (text_of(report, "input_format") != "yaml") return {};
  std::size_t lines = count_lines(input);
  if (lines < 2) return {};
  if (text_of(report, "format") == "json") {
    if (!text.starts_with('"')) return {};
  } else {
    // As YAML, a string takes one line or a literal block ("|", "|-", "|+");
    // its compact JSON form starts with a quote.
    std::string_view first(text.data(), std::min(text.find('\n'), text.size()));
    bool one_line = first.size() + 1 == text.size();
    if (!one_line && first != "|" && first != "|-" && first != "|+") return {};
    std::optional<std::string> json = envelope_text_member(
        Envelope(input, with_members(options, R"("format":"json","indent":0)")));
    if (!json || !json->starts_with('"')) return {};
  }
  // "null" reads as JSON unless the options ask for YAML.
  Envelope probe(kProbeDocument, options);
  std::optional<Json> parsed = JsonReader(probe.text()).read();
  const Json* probe_report = parsed ? parsed->find("report") : nullptr;
  if (probe_report == nullptr || text_of(*probe_report, "input_format") != "json") return {};

  LibraryError as_json =
      envelope_error(Envelope(input, with_members(options, R"("input_format":"json")")).text());
  return "quendra: warning: the input is not JSON (" + std::string(as_json.detail()) + "); its " +
         std::to_string(lines) + " lines were read as a single YAML string\n";
}

int run_single(const Command& cmd, const std::string& options) {
  std::string input;
  if (!read_all(cmd.input_path, input)) return io_error("cannot read " + input_name(cmd.input_path));
  Envelope envelope(input, options);
  if (!envelope.ok()) return report_error(cmd, envelope.text());

  std::optional<Json> parsed = JsonReader(envelope.text()).read();
  const Json* text = parsed ? parsed->find("text") : nullptr;
  const Json* report = parsed ? parsed->find("report") : nullptr;
  if (text == nullptr || report == nullptr) {
    std::fprintf(stderr, "quendra: the library returned an envelope that cannot be read\n");
    return kExitError;
  }
  std::string warning = single_string_warning(input, options, *report, text->text);
  input.clear();
  input.shrink_to_fit();

  Output out(cmd.output_path);
  if (!out.open()) return io_error("cannot write " + out.name());
  out.write_line(cmd.envelope ? envelope.text() : std::string_view(text->text));
  if (!out.finish()) return io_error("cannot write " + out.name());
  // Standard output is complete before the summary starts on standard error.
  std::fflush(stdout);
  const std::string units = unit_words(options);
  if (cmd.report) print_report(*report, units);
  std::fputs(warning.c_str(), stderr);
  if (!flag_of(*report, "fits")) {
    std::fprintf(stderr, "quendra: warning: the smallest form found has %s %s, over the budget of %s\n",
                 number_of(*report, "output_chars").c_str(), units.c_str(),
                 number_of(*report, "max_chars").c_str());
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// Batch mode.

// How every line of a batch is shrunk and written.
struct BatchSettings {
  std::string options;
  bool documents = false;          // the shrunk documents instead of the envelopes
  bool count_over_budget = false;  // for --report
};

struct BatchCounts {
  std::size_t lines = 0;
  std::size_t failed = 0;
  std::size_t over_budget = 0;

  void add(const BatchCounts& other) {
    lines += other.lines;
    failed += other.failed;
    over_budget += other.over_budget;
  }
};

// A run of whole input lines and what shrinking them gave.
struct Batch {
  std::string input;           // the lines, each ending in '\n'
  std::size_t first_line = 0;  // the number of its first line, counted from 1
  std::string output;          // one line for each input line
  std::string errors;          // messages for standard error
  BatchCounts counts;
  bool done = false;  // shrunk and ready to be written
};

// Shrinks every line of `batch` into its output, errors and counts. A line is
// the document as it stands between two line feeds: empty lines, a carriage
// return before the line feed and a byte-order mark all go to the library.
void shrink_batch(const BatchSettings& settings, Batch& batch) {
  std::string_view rest = batch.input;
  std::size_t number = batch.first_line;
  for (; !rest.empty(); ++number) {
    std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view document = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    Envelope envelope(document, settings.options);
    ++batch.counts.lines;
    if (!envelope.ok()) ++batch.counts.failed;
    std::optional<Json> parsed;
    if (envelope.ok() && (settings.documents || settings.count_over_budget)) {
      parsed = JsonReader(envelope.text()).read();
    }
    const Json* report = parsed ? parsed->find("report") : nullptr;
    if (report != nullptr && !flag_of(*report, "fits")) ++batch.counts.over_budget;
    if (!settings.documents) {
      batch.output += envelope.text();
      batch.output += '\n';
      continue;
    }
    const Json* text = parsed ? parsed->find("text") : nullptr;
    if (text != nullptr) {
      batch.output += text->text;
      batch.output += '\n';
      continue;
    }
    // A line without a document writes null, so that every output line still
    // answers the input line of the same number.
    batch.output += "null\n";
    std::string message = "the library returned an envelope that cannot be read";
    if (envelope.ok()) {
      ++batch.counts.failed;
    } else {
      message = envelope_error(envelope.text()).message;
    }
    batch.errors += "quendra: line " + std::to_string(number) + ": " + message + "\n";
  }
}

// Writes a shrunk batch: its lines to the output, its messages to standard
// error (after the output so far, so that a terminal shows them in order).
void write_batch(Output& out, const Batch& batch) {
  out.write(batch.output);
  if (!batch.errors.empty()) {
    out.flush();
    std::fwrite(batch.errors.data(), 1, batch.errors.size(), stderr);
  }
}

// Reads a stream in batches of whole lines. A batch takes the lines that are
// in memory already, up to kBatchLines lines or kBatchBytes bytes, so that a
// slow stream is shrunk as its lines arrive and a fast one in large batches.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // Fills `batch` with the next lines, each ending in '\n' (added to a last
  // line that has none), and the number of the first. Returns false at the
  // end of the input, or when reading failed (then error() is not 0).
  bool next(Batch& batch) {
    batch.input.clear();
    for (;;) {
      std::size_t end = start_;
      std::size_t lines = 0;
      while (lines < kBatchLines && (lines == 0 || end - start_ < kBatchBytes)) {
        std::size_t from = std::max(end, scanned_);
        const void* newline = std::memchr(buffer_.data() + from, '\n', buffer_.size() - from);
        if (newline == nullptr) {
          scanned_ = buffer_.size();
          break;
        }
        end = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_.data()) + 1;
        ++lines;
      }
      if (lines == 0 && at_end_ && error_ == 0 && start_ < buffer_.size()) {
        end = buffer_.size();
        lines = 1;
      }
      if (lines > 0) {
        batch.input.assign(buffer_, start_, end - start_);
        if (!batch.input.ends_with('\n')) batch.input += '\n';
        batch.first_line = next_line_;
        next_line_ += lines;
        start_ = end;
        scanned_ = std::max(scanned_, end);
        return true;
      }
      if (at_end_) return false;
      fill();
    }
  }

  int error() const { return error_; }

 private:
  // Drops the lines already handed out and reads what the input has next.
  void fill() {
    buffer_.erase(0, start_);
    scanned_ -= start_;
    start_ = 0;
    std::size_t old = buffer_.size();
    buffer_.resize(old + kReadChunk);
    ssize_t n;
    do {
      n = ::read(fd_, buffer_.data() + old, kReadChunk);
    } while (n < 0 && errno == EINTR);
    buffer_.resize(old + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n <= 0) at_end_ = true;
    if (n < 0) error_ = errno;
  }

  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;    // the first byte not handed out yet
  std::size_t scanned_ = 0;  // no line feed stands in [start_, scanned_)
  std::size_t next_line_ = 1;
  bool at_end_ = false;
  int error_ = 0;
};

// Shrinks the batches one after the other on this thread.
BatchCounts run_batches(const BatchSettings& settings, LineReader& reader, Output& out) {
  BatchCounts counts;
  Batch batch;
  while (!out.failed() && reader.next(batch)) {
    batch.output.clear();
    batch.errors.clear();
    batch.counts = {};
    shrink_batch(settings, batch);
    write_batch(out, batch);
    out.flush();
    counts.add(batch.counts);
  }
  return counts;
}

// Shrinks batches on several worker threads. The calling thread reads, and a
// writer thread writes the shrunk batches in input order. Between the two
// stand at most kBatchesPerJob batches per worker, and no more than
// kMaxBytesInFlight input bytes unless one batch alone is larger.
class BatchPipeline {
 public:
  BatchPipeline(const BatchSettings& settings, Output& out, unsigned jobs)
      : settings_(settings), out_(out), jobs_(jobs) {}

  BatchCounts run(LineReader& reader) {
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < jobs_; ++i) workers.emplace_back(&BatchPipeline::work, this);
    std::thread writer(&BatchPipeline::write, this);
    const std::size_t max_batches = kBatchesPerJob * jobs_;
    for (;;) {
      std::unique_ptr<Batch> batch = spare_batch();
      if (!reader.next(*batch)) break;
      std::unique_lock lock(mutex_);
      room_.wait(lock, [&] {
        return output_failed_ || (in_flight_.size() < max_batches &&
                                  (in_flight_.empty() ||
                                   bytes_in_flight_ + batch->input.size() <= kMaxBytesInFlight));
      });
      if (output_failed_) break;
      bytes_in_flight_ += batch->input.size();
      queued_.push_back(batch.get());
      in_flight_.push_back(std::move(batch));
      lock.unlock();
      work_ready_.notify_one();
    }
    {
      std::lock_guard lock(mutex_);
      input_done_ = true;
    }
    work_ready_.notify_all();
    batch_done_.notify_all();
    for (std::thread& worker : workers) worker.join();
    writer.join();
    return counts_;
  }

 private:
  void work() {
    for (;;) {
      Batch* batch;
      bool skip;
      {
        std::unique_lock lock(mutex_);
        work_ready_.wait(lock, [&] { return !queued_.empty() || input_done_; });
        if (queued_.empty()) return;
        batch = queued_.front();
        queued_.pop_front();
        skip = output_failed_;
      }
      if (!skip) shrink_batch(settings_, *batch);
      {
        std::lock_guard lock(mutex_);
        batch->done = true;
      }
      batch_done_.notify_one();
    }
  }

  void write() {
    for (;;) {
      std::unique_ptr<Batch> batch;
      {
        std::unique_lock lock(mutex_);
        auto ready = [&] { return in_flight_.empty() ? input_done_ : in_flight_.front()->done; };
        if (!ready()) {
          // Whoever reads the output gets everything that is ready before
          // this thread waits.
          lock.unlock();
          out_.flush();
          lock.lock();
          batch_done_.wait(lock, ready);
        }
        if (in_flight_.empty()) return;
        batch = std::move(in_flight_.front());
        in_flight_.pop_front();
        bytes_in_flight_ -= batch->input.size();
      }
      room_.notify_one();
      if (!output_failed_) {
        counts_.add(batch->counts);
        write_batch(out_, *batch);
      }
      bool failed = out_.failed();
      std::lock_guard lock(mutex_);
      if (failed && !output_failed_) {
        output_failed_ = true;
        room_.notify_all();
      }
      // A batch that held a line far longer than a batch gives its memory back.
      if (batch->input.capacity() <= 4 * kBatchBytes &&
          batch->output.capacity() <= 16 * kBatchBytes) {
        spare_.push_back(std::move(batch));
      }
    }
  }

  // A written batch to be filled again, with the buffers it has: buffers
  // allocated afresh for every batch make the kernel map and clear new pages
  // every time.
  std::unique_ptr<Batch> spare_batch() {
    std::unique_ptr<Batch> batch;
    {
      std::lock_guard lock(mutex_);
      if (!spare_.empty()) {
        batch = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (!batch) return std::make_unique<Batch>();
    batch->output.clear();
    batch->errors.clear();
    batch->counts = {};
    batch->done = false;
    return batch;
  }

  const BatchSettings& settings_;
  Output& out_;
  const unsigned jobs_;

  std::mutex mutex_;
  std::condition_variable work_ready_;  // a batch was queued, or the input ended
  std::condition_variable batch_done_;  // a batch was shrunk, or the input ended
  std::condition_variable room_;        // a batch was written, or writing failed
  std::deque<std::unique_ptr<Batch>> in_flight_;  // read and not yet written, in input order
  std::deque<Batch*> queued_;                     // not yet taken by a worker
  std::vector<std::unique_ptr<Batch>> spare_;     // written, to be filled again
  std::size_t bytes_in_flight_ = 0;
  bool input_done_ = false;
  bool output_failed_ = false;  // set by the writer only
  BatchCounts counts_;          // the writer's, until run() returns
};

// The text member of the envelope for `document`, when it has one.
std::optional<std::string> shrunk_text(std::string_view document, const std::string& options) {
  return envelope_text_member(Envelope(document, options));
}

// One envelope (or with --documents one document) per input line, in order.
int run_ndjson(const Command& cmd) {
  std::vector<std::string> defaults = {member("input_format", R"("json")")};
  if (cmd.documents) defaults.push_back(member("format", R"("json")"));
  std::string options;
  if (std::optional<std::string> refused = build_options(cmd, defaults, options)) {
    return report_error(cmd, *refused);
  }
  // Options that every line would be refused for are refused once, here.
  Envelope check(kProbeDocument, options);
  if (!check.ok()) {
    if (envelope_error(check.text()).about_options()) return report_error(cmd, check.text());
  } else {
    // Compact text by default; YAML output needs an indent of 2 at least and
    // keeps the library's default.
    std::optional<Json> parsed = JsonReader(check.text()).read();
    const Json* report = parsed ? parsed->find("report") : nullptr;
    if (report != nullptr && text_of(*report, "format") != "yaml") {
      defaults.insert(defaults.begin(), member("indent", "0"));
      build_options(cmd, defaults, options);
    }
  }
  if (cmd.documents) {
    std::optional<std::string> layout = shrunk_text(kLayoutProbe, options);
    if (layout && layout->find('\n') != std::string::npos) {
      return usage_error(
          "option --documents writes each document as compact JSON on one line: it cannot be "
          "used with YAML output or an indent above 0");
    }
  }

  bool use_stdin = cmd.input_path.empty() || cmd.input_path == "-";
  std::FILE* in = use_stdin ? stdin : std::fopen(cmd.input_path.c_str(), "rb");
  if (in == nullptr) return io_error("cannot read " + input_name(cmd.input_path));
  Output out(cmd.output_path);
  if (!out.open()) {
    if (!use_stdin) std::fclose(in);
    return io_error("cannot write " + out.name());
  }
  BatchSettings settings{options, cmd.documents, cmd.report};
  LineReader reader(fileno(in));
  BatchCounts counts = cmd.jobs == 1 ? run_batches(settings, reader, out)
                                     : BatchPipeline(settings, out, cmd.jobs).run(reader);
  if (!use_stdin) std::fclose(in);
  if (!out.finish()) return io_error("cannot write " + out.name());
  if (reader.error() != 0) {
    errno = reader.error();
    return io_error("cannot read " + input_name(cmd.input_path));
  }
  if (cmd.report) {
    std::fprintf(stderr, "documents: %zu, errors: %zu, over budget: %zu\n", counts.lines,
                 counts.failed, counts.over_budget);
  }
  return counts.failed == 0 ? kExitOk : kExitError;
}

}  // namespace

int main(int argc, char** argv) {
  Command cmd;
  if (std::optional<int> done = parse_command_line(argc, argv, cmd)) return *done;
  if (cmd.ndjson) return run_ndjson(cmd);
  std::string options;
  if (std::optional<std::string> refused = build_options(cmd, {}, options)) {
    return report_error(cmd, *refused);
  }
  return run_single(cmd, options);
}

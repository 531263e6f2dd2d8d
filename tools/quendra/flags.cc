// Parsing the command line and writing the help, both from kFlags.

#include "flags.h"

#include <cstdio>

#include "io.h"
#include "quendra.h"

namespace quendra_cli {
namespace {

constexpr std::string_view kUsage = R"(Usage: quendra [OPTION]... [FILE]
Shrink a JSON or YAML document so that its rendered text fits a character
budget, and say what was left out. Reads FILE, or standard input when FILE is
absent or "-", and prints the shrunk document followed by a newline.
)";

// The titles of the sections, in the order of Section.
constexpr std::string_view kSectionTitles[] = {"Budget and layout:", "What goes in:",
                                               "Choosing what to keep:", "Output:",
                                               "Batch mode:"};

constexpr std::string_view kAfterFlags = R"(
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

// The help of a flag starts in this column, and no line of it goes past
// kHelpWidth characters.
constexpr std::size_t kHelpColumn = 34;
constexpr std::size_t kHelpWidth = 79;

// Appends the help of a flag: `names` (the flag as the help shows it), then
// `help` from kHelpColumn on, its words wrapped at kHelpWidth. Names too long
// for the column stand on a line of their own.
void append_entry(std::string& out, const std::string& names, std::string_view help) {
  std::string line = names;
  if (line.size() + 2 > kHelpColumn) {
    out += line + "\n";
    line.clear();
  }
  line.resize(kHelpColumn, ' ');
  bool first = true;
  while (!help.empty()) {
    std::size_t space = help.find(' ');
    std::string_view word = help.substr(0, space);
    help.remove_prefix(space == std::string_view::npos ? help.size() : space + 1);
    if (!first && line.size() + 1 + word.size() > kHelpWidth) {
      out += line + "\n";
      line.assign(kHelpColumn, ' ');
      first = true;
    }
    if (!first) line += ' ';
    line += word;
    first = false;
  }
  out += line + "\n";
}

// The flag that `arg` ("-o", "--output", "--no-explain") names, or null;
// `negated` tells the --no- form of a Boolean.
const Flag* find_flag(std::string_view arg, bool& negated) {
  negated = false;
  if (arg.size() == 2 && arg[0] == '-') {
    for (const Flag& f : kFlags) {
      if (f.short_name == arg[1]) return &f;
    }
    return nullptr;
  }
  if (!arg.starts_with("--")) return nullptr;
  std::string_view name = arg.substr(2);
  for (const Flag& f : kFlags) {
    if (f.name == name || (!f.alias.empty() && f.alias == name)) return &f;
  }
  if (!name.starts_with("no-")) return nullptr;
  name.remove_prefix(3);
  for (const Flag& f : kFlags) {
    if (f.kind == Kind::Boolean && f.name == name) {
      negated = true;
      return &f;
    }
  }
  return nullptr;
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

}  // namespace

const Flag* option_flag(std::string_view key) {
  for (const Flag& f : kFlags) {
    if (sets_option(f.kind) && f.key == key) return &f;
  }
  return nullptr;
}

std::string help_text() {
  std::string out(kUsage);
  std::optional<Section> section;
  for (const Flag& f : kFlags) {
    if (f.section != section) {
      if (!section) out += '\n';
      section = f.section;
      out += kSectionTitles[static_cast<std::size_t>(f.section)];
      out += '\n';
    }
    std::string names = f.short_name != 0 ? std::string("  -") + f.short_name + ", " : "      ";
    names += "--" + std::string(f.name);
    if (!f.arg.empty()) names += " " + std::string(f.arg);
    // A Boolean shows its --no- form beside it, or on the next line when the
    // two do not fit before the help.
    std::string negation = "--no-" + std::string(f.name);
    bool negation_apart = false;
    if (f.kind == Kind::Boolean) {
      negation_apart = names.size() + 2 + negation.size() + 2 > kHelpColumn;
      if (!negation_apart) names += ", " + negation;
    }
    append_entry(out, names, f.help);
    if (negation_apart) out += "      " + negation + "\n";
  }
  out += kAfterFlags;
  return out;
}

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
    bool negated = false;
    const Flag* flag = find_flag(arg, negated);
    const std::string name(arg);
    if (flag == nullptr) return usage_error("unknown option " + name);
    if (flag->kind == Kind::Help) {
      std::string help = help_text();
      std::fwrite(help.data(), 1, help.size(), stdout);
      return kExitOk;
    }
    if (flag->kind == Kind::Version) {
      std::printf("quendra %s\n", quendra_version());
      return kExitOk;
    }
    std::string value;
    if (flag->arg.empty()) {
      if (inline_value) return usage_error("option " + name + " takes no value");
    } else if (inline_value) {
      value = *inline_value;
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return usage_error("option " + name + " needs a value");
    }
    switch (flag->kind) {
      case Kind::Switch: cmd.*(flag->setting) = true; break;
      case Kind::Output: cmd.output_path = std::move(value); break;
      case Kind::Jobs:
        cmd.jobs = parse_jobs(value);
        if (!cmd.jobs) {
          return usage_error("option " + name + " needs a number of threads from 1 to " +
                             std::to_string(kMaxJobs) + ", not '" + value + "'");
        }
        break;
      case Kind::Boolean: cmd.settings.push_back({flag, negated ? "false" : "true"}); break;
      default: cmd.settings.push_back({flag, std::move(value)}); break;
    }
  }
  // --max-tokens says both the budget and its unit: another flag saying
  // either would leave it unclear which holds.
  auto given = [&cmd](std::string_view flag_name) {
    for (const Setting& s : cmd.settings) {
      if (s.flag->name == flag_name) return true;
    }
    return false;
  };
  if (given("max-tokens") && (given("max-chars") || given("budget-unit"))) {
    return usage_error("option --max-tokens excludes --max-chars and --budget-unit");
  }
  if (cmd.documents && !cmd.ndjson) return usage_error("option --documents needs --ndjson");
  if (cmd.jobs && !cmd.ndjson) return usage_error("option --jobs needs --ndjson");
  if (cmd.documents && cmd.envelope) {
    return usage_error("options --documents and --envelope exclude each other");
  }
  return std::nullopt;
}

}  // namespace quendra_cli

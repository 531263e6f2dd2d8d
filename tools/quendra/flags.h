// The command line: every flag in one table (its name, the option it sets,
// the kind of value it takes and its line of help), the command it makes,
// and the parser and the help that both come from the table.
//
// A flag that sets a library option is one row here and one row of the
// README's options table (a test holds the two together); the parser, the
// help and the options object need nothing else.

#ifndef QUENDRA_TOOLS_FLAGS_H_
#define QUENDRA_TOOLS_FLAGS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendra_cli {

// Threads of batch mode at the most.
inline constexpr unsigned kMaxJobs = 1024;

enum class Kind {
  // Flags that set an option of the library. The library checks every value
  // and refuses a bad one with its own message.
  Number,   // the value goes as a JSON number when it reads as one, else as a string
  Text,     // the value goes as a string
  Boolean,  // --NAME sets true, --no-NAME false
  List,     // repeatable: the values of all its flags form one list, standing
            // where the last of them stands
  Tokens,   // the value goes as a Number does, and budget_unit "tokens" beside it
  Options,  // --options: the members of a JSON object, in their order
  // Flags of the command itself.
  Switch,   // sets `setting`
  Output,   // the file to write to
  Jobs,     // the number of threads of batch mode
  Help,
  Version,
};

// The groups of the help, in this order.
enum class Section { Budget, Rules, Keep, Output, Batch };

struct Command;

struct Flag {
  Section section;
  char short_name = 0;           // as in -o, or 0
  std::string_view name;         // the long name without "--"
  std::string_view alias = {};   // a second long name, left out of the help
  std::string_view arg = {};     // the value's name in the help; empty: takes no value
  Kind kind;
  std::string_view key = {};     // the option a library flag sets
  bool Command::*setting = nullptr;  // what a Switch sets
  std::string_view help;         // a line of help, wrapped when printed; a
                                 // default ends it in parentheses
};

// One option flag of the command line, or a member a mode puts in for it.
struct Setting {
  const Flag* flag;
  std::string value;  // as given; "true" or "false" for a Boolean
};

// What the command line asks for.
struct Command {
  std::vector<Setting> settings;  // option flags and --options texts, in order
  std::string input_path;         // empty or "-" for standard input
  std::string output_path;        // empty for standard output
  bool envelope = false;          // print the envelope, not the text
  bool report = false;            // print a summary to standard error
  bool ndjson = false;            // batch mode: one document per line
  bool documents = false;         // batch mode writes the shrunk documents themselves
  std::optional<unsigned> jobs;   // threads of batch mode, when given
};

// Rows are grouped by section, in the order of the help.
inline constexpr Flag kFlags[] = {
    {.section = Section::Budget, .name = "max-chars", .arg = "N", .kind = Kind::Number,
     .key = "max_chars", .help = "budget of the output, in the budget unit (10000)"},
    {.section = Section::Budget, .name = "max-tokens", .arg = "N", .kind = Kind::Tokens,
     .key = "max_chars",
     .help = "budget of the output in a language model's tokens, as --max-chars N "
             "--budget-unit tokens; not beside either of those"},
    {.section = Section::Budget, .name = "budget-unit", .arg = "U", .kind = Kind::Text,
     .key = "budget_unit",
     .help = "what the budget counts: chars (Unicode characters), bytes (UTF-8), utf16 "
             "(UTF-16 code units, as JavaScript's length) or tokens (see --tokenizer) (chars)"},
    {.section = Section::Budget, .name = "tokenizer", .arg = "NAME", .kind = Kind::Text,
     .key = "tokenizer",
     .help = "the encoding that counts tokens: o200k_base (GPT-4o, GPT-4.1, GPT-5 and the "
             "o-series) or cl100k_base (GPT-4, GPT-3.5, text-embedding-3); no tokenizer of "
             "other model families is built in (o200k_base)"},
    {.section = Section::Budget, .name = "indent", .arg = "N", .kind = Kind::Number,
     .key = "indent", .help = "spaces per nesting level, 0 gives compact JSON (2)"},
    {.section = Section::Budget, .name = "format", .arg = "F", .kind = Kind::Text,
     .key = "format",
     .help = "output format: auto, json or yaml; auto writes the format of the input (auto)"},
    {.section = Section::Budget, .name = "input-format", .arg = "F", .kind = Kind::Text,
     .key = "input_format", .help = "input format: auto, json or yaml (auto)"},

    {.section = Section::Rules, .name = "root", .arg = "POINTER", .kind = Kind::Text,
     .key = "root",
     .help = "shrink only the value that the JSON Pointer names, such as /data/5 (the key a/b "
             "is written a~1b)"},
    {.section = Section::Rules, .name = "exclude", .arg = "PATH", .kind = Kind::List,
     .key = "exclude",
     .help = "remove the members and items that PATH names, written as for --protect, before "
             "anything is measured; repeatable"},
    {.section = Section::Rules, .name = "redact", .kind = Kind::Boolean, .key = "redact",
     .help = "replace the values of sensitive keys (password, token, api_key, cookie...) and "
             "the credentials inside strings (bearer tokens, keys, URL passwords) with "
             "\"[redacted]\" (off)"},
    {.section = Section::Rules, .name = "redact-path", .arg = "PATH", .kind = Kind::List,
     .key = "redact_paths",
     .help = "replace the value that PATH names with \"[redacted]\", with or without "
             "--redact; repeatable"},

    {.section = Section::Keep, .name = "strategy", .alias = "array-strategy", .arg = "S",
     .kind = Kind::Text, .key = "array_strategy",
     .help = "array and object strategy: sample keeps items and members in document order, "
             "condense keeps every record of a record array with its most useful fields "
             "(sample)"},
    {.section = Section::Keep, .name = "scorer", .alias = "field-scorer", .arg = "S",
     .kind = Kind::Text, .key = "field_scorer",
     .help = "field scorer for condense: heuristic, compact or key_order (heuristic)"},
    {.section = Section::Keep, .name = "query", .arg = "TEXT", .kind = Kind::Text,
     .key = "arguments", .help = "rank fields mentioned in TEXT first (condense)"},
    {.section = Section::Keep, .name = "protect", .arg = "PATH", .kind = Kind::List,
     .key = "protect",
     .help = "never drop what PATH names, such as id or /items/*/url; repeatable, the paths "
             "of all --protect flags form one list"},
    {.section = Section::Keep, .name = "max-samples", .arg = "N", .kind = Kind::Number,
     .key = "max_samples", .help = "items kept by the sample pass of an array (3)"},
    {.section = Section::Keep, .name = "keep-last-item", .kind = Kind::Boolean,
     .key = "keep_last_item", .help = "keep an array's last item when it fits (on)"},
    {.section = Section::Keep, .name = "min-partial-chars", .arg = "N", .kind = Kind::Number,
     .key = "min_partial_chars", .help = "room a partly kept array item needs (40)"},
    {.section = Section::Keep, .name = "string-head-chars", .arg = "N", .kind = Kind::Number,
     .key = "string_head_chars",
     .help = "characters of a long text shown whole before its sections are previewed (500)"},
    {.section = Section::Keep, .name = "string-section-chars", .arg = "N", .kind = Kind::Number,
     .key = "string_section_chars", .help = "preview length of one section (100)"},
    {.section = Section::Keep, .name = "string-min-section-chars", .arg = "N",
     .kind = Kind::Number, .key = "string_min_section_chars",
     .help = "shortest section preview (16)"},
    {.section = Section::Keep, .name = "explain", .kind = Kind::Boolean, .key = "explain",
     .help = "record condensing's field decisions (off)"},
    {.section = Section::Keep, .name = "options", .arg = "JSON", .kind = Kind::Options,
     .help = "options as a JSON object, keys as in the library; flags after it override its "
             "members"},

    {.section = Section::Output, .short_name = 'o', .name = "output", .arg = "FILE",
     .kind = Kind::Output, .help = "write to FILE instead of standard output"},
    {.section = Section::Output, .name = "envelope", .kind = Kind::Switch,
     .setting = &Command::envelope,
     .help = "print the library's JSON envelope instead of the text"},
    {.section = Section::Output, .name = "report", .kind = Kind::Switch,
     .setting = &Command::report,
     .help = "print a summary of what was omitted to standard error; with --explain also the "
             "table of field decisions; with --ndjson the count of documents, errors and "
             "results over budget, and the number of each line that failed"},
    {.section = Section::Output, .short_name = 'h', .name = "help", .kind = Kind::Help,
     .help = "print this help and exit"},
    {.section = Section::Output, .name = "version", .kind = Kind::Version,
     .help = "print the library's version and exit"},

    {.section = Section::Batch, .name = "ndjson", .kind = Kind::Switch,
     .setting = &Command::ndjson,
     .help = "every line of the input is one JSON document (input format json unless "
             "--input-format says otherwise); write one compact envelope per line, in input "
             "order; the shrunk text in it is compact too (indent 0) unless --indent or an "
             "indent in --options says otherwise; a blank line gets an empty line"},
    {.section = Section::Batch, .name = "documents", .kind = Kind::Switch,
     .setting = &Command::documents,
     .help = "with --ndjson: write each shrunk document itself, as compact JSON, instead of "
             "its envelope; a line that fails writes null, and its error goes to standard "
             "error with the line number"},
    {.section = Section::Batch, .short_name = 'j', .name = "jobs", .arg = "N", .kind = Kind::Jobs,
     .help = "with --ndjson: shrink on N threads; the output stays in input order and is the "
             "same for every N (the number of cores)"},
};

// Whether flags of `kind` set an option of the library.
constexpr bool sets_option(Kind kind) {
  return kind == Kind::Number || kind == Kind::Text || kind == Kind::Boolean ||
         kind == Kind::List || kind == Kind::Tokens;
}

// The first flag that sets the option `key`, or null.
const Flag* option_flag(std::string_view key);

// Reads the command line into `cmd`. Returns an exit status when the command
// is already done (help, version, usage error), nothing when it should run.
std::optional<int> parse_command_line(int argc, char** argv, Command& cmd);

// The text of --help.
std::string help_text();

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_FLAGS_H_

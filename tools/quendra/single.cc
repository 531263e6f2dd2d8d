// One document's run, and the warning for a text that was not meant as YAML.

#include "single.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "envelope.h"
#include "io.h"
#include "options.h"
#include "report.h"

namespace quendra_cli {
namespace {

// Reports an error envelope: the message to standard error, and the envelope
// itself to the output when it was asked for.
int report_error(const Command& cmd, std::string_view envelope) {
  if (cmd.envelope) {
    Output out(cmd.output_path);
    if (!out.open()) return io_error("cannot write " + out.name());
    out.write_line(envelope);
    if (!out.finish()) return io_error("cannot write " + out.name());
  }
  return print_error(envelope);
}

// The lines of `text`, not counting blank space at its end.
std::size_t count_lines(std::string_view text) {
  std::size_t end = text.find_last_not_of(" \t\r\n");
  if (end == std::string_view::npos) return 0;
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + end, '\n'));
}

// The options object of `cmd` with `after` overriding its members; empty
// when it cannot be written.
std::string options_with(const Command& cmd, const std::vector<Preset>& after) {
  std::string options;
  if (write_options(cmd, {}, after, options)) options.clear();
  return options;
}

// When the input format was left to the library, a text of several lines did
// not read as JSON, and YAML read all of it as one string, the input was most
// likely meant as JSON and is something else: an HTML error page, JSON with
// comments. Returns the warning that says so, or an empty text. `report` and
// `text` come from the success envelope for `input`; the library is asked
// again only in the rare case that the answer may be such a string.
std::string single_string_warning(const Command& cmd, const std::string& input,
                                  const std::string& options, const rapidjson::Value& report,
                                  std::string_view text) {
  if (text_of(report, "input_format") != "yaml") return {};
  std::size_t lines = count_lines(input);
  if (lines < 2) return {};
  if (text_of(report, "format") == "json") {
    if (!text.starts_with('"')) return {};
  } else {
    // As YAML, a string takes one line or a literal block ("|", "|-", "|+");
    // its compact JSON form starts with a quote.
    std::string_view first = text.substr(0, std::min(text.find('\n'), text.size()));
    bool one_line = first.size() + 1 == text.size();
    if (!one_line && first != "|" && first != "|-" && first != "|+") return {};
    std::string json;
    Envelope as_json(input, options_with(cmd, {{"format", "json"}, {"indent", "0"}}));
    if (!read_members(as_json.text(), kWantText, &json).has_text || !json.starts_with('"')) {
      return {};
    }
  }
  // "null" reads as JSON unless the options ask for YAML.
  Envelope probe(kProbeDocument, options);
  rapidjson::Document tree;
  const rapidjson::Value* probe_report = read_tree(probe.text(), tree) ? member(tree, "report")
                                                                        : nullptr;
  if (probe_report == nullptr || text_of(*probe_report, "input_format") != "json") return {};

  LibraryError as_json =
      envelope_error(Envelope(input, options_with(cmd, {{"input_format", "json"}})).text());
  return "quendra: warning: the input is not JSON (" + std::string(as_json.detail()) + "); its " +
         std::to_string(lines) + " lines were read as a single YAML string\n";
}

}  // namespace

int run_single(const Command& cmd) {
  std::string options;
  if (std::optional<OptionsRefused> refused = write_options(cmd, {}, {}, options)) {
    return refused->envelope.empty() ? usage_error(refused->message)
                                     : report_error(cmd, refused->envelope);
  }
  std::string input;
  if (!read_all(cmd.input_path, input)) return io_error("cannot read " + input_name(cmd.input_path));
  Envelope envelope(input, options);
  if (!envelope.ok()) return report_error(cmd, envelope.text());

  rapidjson::Document tree;
  const bool read = read_tree(envelope.text(), tree);
  const rapidjson::Value* text = read ? member(tree, "text") : nullptr;
  const rapidjson::Value* report = read ? member(tree, "report") : nullptr;
  if (text == nullptr || !text->IsString() || report == nullptr) {
    std::fprintf(stderr, "quendra: the library returned an envelope that cannot be read\n");
    return kExitError;
  }
  const std::string_view shrunk(text->GetString(), text->GetStringLength());
  std::string warning = single_string_warning(cmd, input, options, *report, shrunk);
  input.clear();
  input.shrink_to_fit();

  Output out(cmd.output_path);
  if (!out.open()) return io_error("cannot write " + out.name());
  out.write_line(cmd.envelope ? envelope.text() : shrunk);
  if (!out.finish()) return io_error("cannot write " + out.name());
  // Standard output is complete before the summary starts on standard error.
  std::fflush(stdout);
  // Under a token budget the report names the encoding that counted.
  std::string units = unit_words(options);
  if (const std::string_view counter = text_of(*report, "tokenizer", ""); !counter.empty()) {
    units = std::string(counter) + " tokens";
  }
  if (cmd.report) print_report(*report, units);
  std::fputs(warning.c_str(), stderr);
  if (!flag_of(*report, "fits")) {
    std::fprintf(stderr, "quendra: warning: the smallest form found has %s %s, over the budget of %s\n",
                 std::string(text_of(*report, "output_chars", "0")).c_str(), units.c_str(),
                 std::string(text_of(*report, "max_chars", "0")).c_str());
  }
  return kExitOk;
}

}  // namespace quendra_cli

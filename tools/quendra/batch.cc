// Batch mode: the options every line is shrunk under, what each line becomes,
// and the counts of --report. Reading, the threads and the order of writing
// are the pipeline's.
//
// A line becomes, in order of precedence:
//   - an empty line, when it is blank (spaces and tabs, and the carriage
//     return of a CRLF ending); it is no document and is not counted;
//   - "null" with --documents, when the library refuses it, and its error on
//     standard error with the line number (with --report, envelope mode names
//     the line too);
//   - its envelope, or with --documents the shrunk text of it.

#include "batch.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "envelope.h"
#include "io.h"
#include "options.h"
#include "pipeline.h"

namespace quendra_cli {
namespace {

// A document that any indent above 0, and YAML output, render on more than
// one line (as JSON and as YAML alike it is a list holding a list).
constexpr std::string_view kLayoutProbe = "[[0]]";

// How every line of a batch is shrunk and written.
struct BatchSettings {
  std::string options;
  bool documents = false;  // the shrunk documents instead of the envelopes
  bool report = false;     // count the results over budget, name failed lines
};

// Whether a line holds nothing but spaces and tabs, and the carriage return
// of a CRLF ending.
bool is_blank(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

void add_error(Batch& batch, std::size_t line, std::string_view message) {
  batch.errors += "quendra: line " + std::to_string(line) + ": ";
  batch.errors += message;
  batch.errors += '\n';
}

// Shrinks every line of `batch` into its output, errors and counts. A line is
// the document as it stands between two line feeds: a carriage return before
// the line feed and a byte-order mark go to the library with it.
void shrink_batch(const BatchSettings& settings, Batch& batch) {
  std::string_view rest = batch.input;
  for (std::size_t number = batch.first_line; !rest.empty(); ++number) {
    std::size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (is_blank(line)) {
      batch.output += '\n';
      continue;
    }
    Envelope envelope(line, settings.options);
    ++batch.counts.lines;
    if (!envelope.ok()) {
      ++batch.counts.failed;
      batch.output += settings.documents ? std::string_view("null") : envelope.text();
      batch.output += '\n';
      if (settings.documents || settings.report) {
        add_error(batch, number, envelope_error(envelope.text()).message);
      }
      continue;
    }
    if (!settings.documents) {
      if (settings.report) {
        std::optional<bool> fits = read_members(envelope.text(), kWantFits).fits;
        if (fits && !*fits) ++batch.counts.over_budget;
      }
      batch.output += envelope.text();
      batch.output += '\n';
      continue;
    }
    // The text goes straight into the output, as it is read.
    EnvelopeMembers read = read_members(envelope.text(), kWantText | (settings.report ? kWantFits : 0),
                                        &batch.output);
    if (read.fits && !*read.fits) ++batch.counts.over_budget;
    if (read.has_text) {
      batch.output += '\n';
      continue;
    }
    // A line without a document writes null, so that every output line still
    // answers the input line of the same number.
    batch.output += "null\n";
    ++batch.counts.failed;
    add_error(batch, number, "the library returned an envelope that cannot be read");
  }
}

// The options every line is shrunk under: the command line's over the
// defaults of batch mode (JSON in; JSON out with --documents; compact text
// unless the output is YAML, which needs an indent of 2 at least). Returns
// an exit status when the options cannot serve any line.
std::optional<int> batch_options(const Command& cmd, std::string& options) {
  std::vector<Preset> defaults = {{"input_format", "json"}};
  if (cmd.documents) defaults.push_back({"format", "json"});
  if (std::optional<OptionsRefused> refused = write_options(cmd, defaults, {}, options)) {
    return refused->envelope.empty() ? usage_error(refused->message)
                                     : print_error(refused->envelope);
  }
  // Options that every line would be refused for are refused once, here,
  // before any line is read.
  Envelope check(kProbeDocument, options);
  if (!check.ok()) {
    if (envelope_error(check.text()).about_options()) return print_error(check.text());
  } else {
    rapidjson::Document tree;
    const rapidjson::Value* report = read_tree(check.text(), tree) ? member(tree, "report")
                                                                   : nullptr;
    if (report != nullptr && text_of(*report, "format") != "yaml") {
      defaults.insert(defaults.begin(), {"indent", "0"});
      write_options(cmd, defaults, {}, options);
    }
  }
  if (cmd.documents) {
    std::string layout;
    Envelope probe(kLayoutProbe, options);
    if (read_members(probe.text(), kWantText, &layout).has_text &&
        layout.find('\n') != std::string::npos) {
      return usage_error(
          "option --documents writes each document as compact JSON on one line: it cannot be "
          "used with YAML output or an indent above 0");
    }
  }
  return std::nullopt;
}

}  // namespace

int run_ndjson(const Command& cmd) {
  BatchSettings settings{{}, cmd.documents, cmd.report};
  if (std::optional<int> done = batch_options(cmd, settings.options)) return *done;

  bool use_stdin = is_stdin(cmd.input_path);
  std::FILE* in = use_stdin ? stdin : std::fopen(cmd.input_path.c_str(), "rb");
  if (in == nullptr) return io_error("cannot read " + input_name(cmd.input_path));
  Output out(cmd.output_path);
  if (!out.open()) {
    if (!use_stdin) std::fclose(in);
    return io_error("cannot write " + out.name());
  }
  LineReader reader(fileno(in));
  const unsigned jobs = cmd.jobs.value_or(std::max(1u, std::thread::hardware_concurrency()));
  BatchCounts counts =
      run_pipeline(reader, out, jobs, [&settings](Batch& batch) { shrink_batch(settings, batch); });
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

}  // namespace quendra_cli

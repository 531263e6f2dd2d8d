// Printing the report summary.

#include "report.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "envelope.h"

namespace quendra_cli {
namespace {

// Paths longer than this are not padded in the field decision table.
constexpr std::size_t kMaxPathColumn = 48;
// The report's labels ("omitted: ") are this wide, and its lists wrap at
// kReportWidth characters.
constexpr std::size_t kLabelWidth = 9;
constexpr std::size_t kReportWidth = 79;

// The characters of a UTF-8 text, for lining up columns.
std::size_t count_chars(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// A count of the report, as the library wrote it ("0" when it is missing).
std::string number_of(const rapidjson::Value& object, std::string_view key) {
  return std::string(text_of(object, key, "0"));
}

// The items of the array `key` of `object`; none when it is not an array.
std::vector<const rapidjson::Value*> items_of(const rapidjson::Value& object,
                                              std::string_view key) {
  std::vector<const rapidjson::Value*> items;
  const rapidjson::Value* array = member(object, key);
  if (array == nullptr || !array->IsArray()) return items;
  for (const rapidjson::Value& item : array->GetArray()) items.push_back(&item);
  return items;
}

void print_field_decisions(const std::vector<const rapidjson::Value*>& decisions) {
  std::size_t width = 4;
  for (const rapidjson::Value* d : decisions) {
    width = std::max(width, std::min(count_chars(text_of(*d, "path")), kMaxPathColumn));
  }
  std::fprintf(stderr, "field decisions:\n  %-*s  %7s  %9s  %s\n", static_cast<int>(width), "path",
               "score", "relevance", "kept");
  for (const rapidjson::Value* d : decisions) {
    std::string path(text_of(*d, "path"));
    std::size_t chars = count_chars(path);
    std::string pad(chars < width ? width - chars : 0, ' ');
    std::fprintf(stderr, "  %s%s  %7s  %9s  %s\n", path.c_str(), pad.c_str(),
                 number_of(*d, "score").c_str(), number_of(*d, "relevance").c_str(),
                 flag_of(*d, "kept") ? "yes" : "no");
  }
}

// "dropped: " and the "path (N)" entries of `dropped`, wrapped under the
// labels of the summary, and how many more the report counts.
void print_dropped_fields(const rapidjson::Value& report,
                          const std::vector<const rapidjson::Value*>& dropped) {
  std::string line = "dropped: ";
  std::size_t width = kLabelWidth;
  for (std::size_t i = 0; i < dropped.size(); ++i) {
    std::string entry =
        std::string(text_of(*dropped[i], "path")) + " (" + number_of(*dropped[i], "items") + ")";
    if (i + 1 < dropped.size()) entry += ',';
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
  if (all > dropped.size()) line += " and " + std::to_string(all - dropped.size()) + " more";
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

void print_report(const rapidjson::Value& report, const std::string& units) {
  auto n = [&](std::string_view key) { return number_of(report, key); };
  auto nonzero = [&](std::string_view key) { return n(key) != "0"; };

  std::fprintf(stderr, "input:   %s %s of %s\n", n("input_chars").c_str(), units.c_str(),
               std::string(text_of(report, "input_format")).c_str());
  std::fprintf(stderr, "output:  %s %s of %s, budget %s: %s\n", n("output_chars").c_str(),
               units.c_str(), std::string(text_of(report, "format")).c_str(),
               n("max_chars").c_str(),
               !flag_of(report, "pruned") ? "fits unchanged"
               : flag_of(report, "fits")  ? "fits"
                                          : "does not fit");
  // Present only when the request named exclusion or redaction.
  if (member(report, "values_redacted") != nullptr) {
    auto values = [&](std::string_view key) {
      std::string count = n(key);
      return count + (count == "1" ? " value " : " values ");
    };
    std::fprintf(stderr, "rules:   %sredacted, %sexcluded\n", values("values_redacted").c_str(),
                 values("values_excluded").c_str());
  }
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
  std::vector<const rapidjson::Value*> dropped = items_of(report, "dropped_fields");
  if (!dropped.empty()) print_dropped_fields(report, dropped);
  std::vector<const rapidjson::Value*> decisions = items_of(report, "field_decisions");
  if (!decisions.empty()) print_field_decisions(decisions);
}

}  // namespace quendra_cli

// The human summary of a report: what was kept and what was left out, on
// standard error, with the table of field decisions under --explain.

#ifndef QUENDRA_TOOLS_REPORT_H_
#define QUENDRA_TOOLS_REPORT_H_

#include <rapidjson/document.h>

#include <string>

namespace quendra_cli {

// Prints the summary of `report` (the report of a success envelope, read
// with read_tree); its counts of text are in `units` ("characters").
void print_report(const rapidjson::Value& report, const std::string& units);

}  // namespace quendra_cli

#endif  // QUENDRA_TOOLS_REPORT_H_

// Protected-path patterns: compiled from the `protect` option texts and
// matched against key paths ("*" stands for an array item).
#ifndef QUENDRA_DOCUMENT_PROTECT_H_
#define QUENDRA_DOCUMENT_PROTECT_H_

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quendra {

struct Pattern {
  std::vector<std::string> segments;  // never empty
  bool anchored = false;              // must match the whole path from the root
};

// Compiles each text in order; texts without segments ("", "/") are dropped.
std::vector<Pattern> compile_patterns(const std::vector<std::string>& texts);

// Whether `pattern` matches `path` (segments from the root to a node). A
// pattern segment "*" matches any one path segment.
bool matches(const Pattern& pattern, std::span<const std::string_view> path);

}  // namespace quendra

#endif  // QUENDRA_DOCUMENT_PROTECT_H_

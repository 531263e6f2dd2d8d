#include "document/protect.h"

namespace quendra {

std::vector<Pattern> compile_patterns(const std::vector<std::string>& texts) {
  std::vector<Pattern> patterns;
  for (const std::string& text : texts) {
    Pattern p;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t slash = text.find('/', start);
      if (slash == std::string::npos) slash = text.size();
      if (slash > start) p.segments.emplace_back(text.substr(start, slash - start));
      start = slash + 1;
    }
    if (p.segments.empty()) continue;
    p.anchored = !text.empty() && text[0] == '/';
    patterns.push_back(std::move(p));
  }
  return patterns;
}

bool matches(const Pattern& pattern, std::span<const std::string_view> path) {
  const std::size_t p = pattern.segments.size();
  const std::size_t l = path.size();
  if (l < p) return false;
  if (pattern.anchored && l != p) return false;
  for (std::size_t i = 0; i < p; ++i) {
    const std::string& seg = pattern.segments[i];
    if (seg != "*" && seg != path[l - p + i]) return false;
  }
  return true;
}

}  // namespace quendra

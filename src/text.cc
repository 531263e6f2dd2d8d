#include "text.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "size.h"
#include "unicode.h"

namespace quendra {
namespace {

using text::Cut;
using text::Measure;
using text::Piece;
using text::Section;

// Marks a size that has not been measured yet.
constexpr std::size_t kUnknown = SIZE_MAX;

std::size_t saturating_add(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_add_overflow(a, b, &r) ? SIZE_MAX : r;
}

std::size_t saturating_mul(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_mul_overflow(a, b, &r) ? SIZE_MAX : r;
}

// Start of the character that ends just before byte `pos`. REQUIRES: pos > 0.
std::size_t previous_start(std::string_view text, std::size_t pos) {
  do {
    --pos;
  } while (pos > 0 && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80);
  return pos;
}

bool white_space_at(std::string_view text, std::size_t pos) {
  return unicode::is_white_space(unicode::decode(text, pos));
}

std::size_t count_byte(std::string_view text, char c) {
  std::size_t count = 0;
  const char* p = text.data();
  const char* end = p + text.size();
  while (const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p))) {
    ++count;
    p = static_cast<const char*>(hit) + 1;
  }
  return count;
}

std::string lines_marker(std::size_t lines, std::size_t chars) {
  return "\u2026[+" + std::to_string(lines) + " lines, " + std::to_string(chars) + " chars]";
}

std::string sections_marker(std::size_t sections, std::size_t chars) {
  return "\u2026[+" + std::to_string(sections) + " sections, " + std::to_string(chars) + " chars]";
}

// Walks the lines of a text the way split_lines cuts them, without building
// the whole list.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool done() const { return done_; }

  // REQUIRES: !done().
  Piece next() {
    std::size_t lf = text_.find('\n', pos_);
    Piece line;
    if (lf == std::string_view::npos) {
      line.content = text_.substr(pos_);
      pos_ = text_.size();
      done_ = true;
    } else {
      std::size_t end = lf > pos_ && text_[lf - 1] == '\r' ? lf - 1 : lf;
      line.content = text_.substr(pos_, end - pos_);
      line.terminator = text_.substr(end, lf + 1 - end);
      pos_ = lf + 1;
      // An empty part after the last line feed is no line of its own.
      done_ = pos_ == text_.size();
    }
    return line;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  bool done_ = false;
};

// What a preview shows: the text itself or a shortened copy, with the
// characters shown and their measured size (kUnknown when not measured).
struct Shown {
  bool whole = true;
  std::string text;
  std::size_t chars = 0;
  std::size_t size = kUnknown;
};

// Preview of `text`, which has `c` characters and measures `text_size` (or
// kUnknown). Callers that know both skip rescanning the text.
Shown preview_known(std::string_view text, std::size_t c, std::size_t text_size,
                    std::size_t n, Measure measure) {
  Shown whole{true, {}, c, text_size};
  if (c <= n) return whole;

  std::size_t first_lf = text.find('\n');
  Shown shortened{false, {}, 0, 0};
  if (first_lf == std::string_view::npos || first_lf + 1 == text.size()) {
    Cut head = text::cut(text, n);
    std::string marker = string_marker(c - head.chars);
    shortened.text.reserve(head.prefix.size() + marker.size());
    shortened.text.append(head.prefix).append(marker);
    shortened.chars = head.chars + unicode::count_chars(marker);
  } else {
    // Each shown line adds at least its one-byte terminator, so the loop
    // reads at most about 2n lines whatever the size of the text.
    const std::size_t cap = saturating_mul(n, 2);
    const std::size_t allowance = std::max<std::size_t>(8, n / 4);
    std::size_t total_lines = count_byte(text, '\n') + (text.back() != '\n' ? 1 : 0);
    std::size_t shown_lines = 0;
    std::size_t shown_source_chars = 0;
    LineReader lines(text);
    while (!lines.done()) {
      Piece line = lines.next();
      std::size_t line_chars = unicode::count_chars(line.content);
      Shown part = preview_known(line.content, line_chars, kUnknown,
                                 shown_lines == 0 ? n : allowance, measure);
      std::size_t added = part.chars + line.terminator.size();
      if (shown_lines > 0 && saturating_add(shortened.chars, added) > cap) break;
      shortened.text.append(part.whole ? line.content : std::string_view(part.text));
      shortened.text.append(line.terminator);
      shortened.chars += added;
      shown_source_chars += line_chars + line.terminator.size();
      ++shown_lines;
    }
    if (shown_lines < total_lines) {
      std::string marker = lines_marker(total_lines - shown_lines, c - shown_source_chars);
      shortened.text.append(marker);
      shortened.chars += unicode::count_chars(marker);
    }
  }
  shortened.size = measure(shortened.text);
  if (text_size == kUnknown) text_size = measure(text);
  if (shortened.size < text_size) return shortened;
  whole.size = text_size;
  return whole;
}

std::size_t content_chars(const Section& s) {
  return static_cast<std::size_t>(s.chars) - unicode::count_chars(s.piece.terminator);
}

// Renders the sections as render_pieces does, one at a time, calling
// emit(index, shown) for each; stops early when emit returns false. Sizes of
// the contents may be given in `content_sizes` (else nullptr).
template <typename Emit>
void walk_render(const std::vector<Section>& sections,
                 const std::vector<std::size_t>* content_sizes, std::size_t full,
                 std::size_t k, Measure measure, Emit&& emit) {
  auto known_size = [&](std::size_t i) {
    return content_sizes != nullptr ? (*content_sizes)[i] : kUnknown;
  };
  std::size_t i = 0;
  std::size_t running = 0;
  for (; i < sections.size(); ++i) {
    running = saturating_add(running, static_cast<std::size_t>(sections[i].chars));
    if (running > full) break;
    if (!emit(i, Shown{true, {}, content_chars(sections[i]), known_size(i)})) return;
  }
  const bool none_whole = i == 0;
  for (; i < sections.size(); ++i) {
    std::size_t allowance = none_whole && i == 0 ? std::max(full, k) : k;
    Shown shown = preview_known(sections[i].piece.content, content_chars(sections[i]),
                                known_size(i), allowance, measure);
    if (!emit(i, shown)) return;
  }
}

// `quoted` size of a rendered section less the 2 for the quotes, so that the
// size of a concatenation is 2 plus the sum over its parts.
std::size_t inner_size(const Section& s, const Shown& shown) {
  std::size_t body = shown.size != kUnknown
                         ? shown.size
                         : quoted(shown.whole ? s.piece.content : std::string_view(shown.text));
  return body - 2 + quoted(s.piece.terminator) - 2;
}

void append_shown(std::string& out, const Section& s, const Shown& shown) {
  out.append(shown.whole ? s.piece.content : std::string_view(shown.text));
  out.append(s.piece.terminator);
}

}  // namespace

namespace text {

std::vector<Piece> split_lines(std::string_view text) {
  std::vector<Piece> lines;
  LineReader reader(text);
  while (!reader.done()) lines.push_back(reader.next());
  return lines;
}

std::vector<Piece> split_paragraphs(std::string_view text) {
  std::vector<Piece> paragraphs;
  std::size_t start = 0;
  std::size_t i = text.find('\n');
  while (i != std::string_view::npos && i + 1 < text.size()) {
    std::size_t j = i + 1;
    std::size_t last_lf = i;
    for (; j < text.size(); ++j) {
      char c = text[j];
      if (c == '\n') {
        last_lf = j;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
    }
    if (last_lf > i && last_lf + 1 < text.size()) {
      paragraphs.push_back({text.substr(start, i - start), text.substr(i, last_lf + 1 - i)});
      start = last_lf + 1;
    }
    // No line feed inside the run can start a break either: its own run ends
    // at the same place, with the same last line feed.
    i = text.find('\n', j);
  }
  paragraphs.push_back({text.substr(start), {}});
  return paragraphs;
}

std::vector<Piece> split_sentences(std::string_view text) {
  std::vector<Piece> sentences;
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    char c = text[i];
    if ((c != '.' && c != '!' && c != '?') || (text[i + 1] != ' ' && text[i + 1] != '\t')) {
      continue;
    }
    std::size_t j = i + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    if (j == text.size()) break;
    sentences.push_back({text.substr(start, i + 1 - start), text.substr(i + 1, j - i - 1)});
    start = j;
    i = j - 1;
  }
  sentences.push_back({text.substr(start), {}});
  return sentences;
}

std::vector<Section> mk_sections(const std::vector<Piece>& pieces) {
  std::vector<Section> sections;
  sections.reserve(pieces.size());
  for (const Piece& p : pieces) {
    sections.push_back({p, unicode::count_chars(p.content) + unicode::count_chars(p.terminator)});
  }
  return sections;
}

Cut cut(std::string_view text, std::size_t n) {
  std::size_t limit = unicode::byte_offset(text, n);
  if (limit == text.size()) return {text, unicode::count_chars(text)};
  // Only a White_Space at index n - n/4 or later (4i >= 3n) is close
  // enough to the limit to cut there, and never the first character.
  const std::size_t lowest = std::max<std::size_t>(1, n - n / 4);
  std::size_t index = n;
  std::size_t pos = limit;
  while (index > lowest) {
    pos = previous_start(text, pos);
    --index;
    if (!white_space_at(text, pos)) continue;
    while (pos > 0) {
      std::size_t before = previous_start(text, pos);
      if (!white_space_at(text, before)) break;
      pos = before;
      --index;
    }
    return {text.substr(0, pos), index};
  }
  return {text.substr(0, limit), n};
}

std::string fit_flat(std::string_view text, std::size_t total, std::size_t budget) {
  // The size of prefix + marker is the sum of both quoted sizes less the one
  // pair of quotes they share.
  auto fits = [&](std::size_t m) {
    Cut head = cut(text, m);
    return quoted(head.prefix) - 2 + string_marker_size(total - head.chars) <= budget;
  };
  if (!fits(0)) return string_marker(total);
  std::size_t lo = 0;
  std::size_t hi = total;
  while (lo < hi) {
    std::size_t mid = lo + (hi - lo + 1) / 2;
    if (fits(mid)) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  Cut head = cut(text, lo);
  std::string out(head.prefix);
  out += string_marker(total - head.chars);
  return out;
}

std::string preview(std::string_view text, std::size_t n, Measure measure) {
  Shown shown = preview_known(text, unicode::count_chars(text), kUnknown, n, measure);
  return shown.whole ? std::string(text) : std::move(shown.text);
}

std::vector<std::string> render_pieces(const std::vector<Section>& sections, std::size_t full,
                                       std::size_t k, Measure measure) {
  std::vector<std::string> out;
  out.reserve(sections.size());
  walk_render(sections, nullptr, full, k, measure, [&](std::size_t i, const Shown& shown) {
    std::string piece;
    append_shown(piece, sections[i], shown);
    out.push_back(std::move(piece));
    return true;
  });
  return out;
}

}  // namespace text

std::string fit_text(std::string_view text, std::size_t budget, const Options& options) {
  const Measure measure = quoted;
  const std::size_t total = unicode::count_chars(text);
  std::vector<Piece> pieces = text::split_paragraphs(text);
  if (pieces.size() < 2) pieces = text::split_lines(text);
  if (pieces.size() < 2) pieces = text::split_sentences(text);
  const std::vector<Section> sections = text::mk_sections(pieces);
  if (sections.size() < 2) return text::fit_flat(text, total, budget);

  const std::size_t head = options.string_head_chars;
  const std::size_t per_section = std::max<std::size_t>(options.string_section_chars, 1);
  const std::size_t min_section = std::max<std::size_t>(options.string_min_section_chars, 1);
  std::size_t longest = 0;
  std::vector<std::size_t> content_sizes;
  content_sizes.reserve(sections.size());
  for (const Section& s : sections) {
    longest = std::max(longest, static_cast<std::size_t>(s.chars));
    content_sizes.push_back(quoted(s.piece.content));
  }
  auto full_for = [&](std::size_t k) { return saturating_mul(k, head) / per_section; };

  // A trial renders with allowance k and stops as soon as the parts exceed
  // the budget; its answer is the same as rendering everything.
  auto trial = [&](std::size_t k) {
    std::size_t size = 2;
    bool fits = true;
    walk_render(sections, &content_sizes, full_for(k), k, measure,
                [&](std::size_t i, const Shown& shown) {
                  size = saturating_add(size, inner_size(sections[i], shown));
                  fits = size <= budget;
                  return fits;
                });
    return fits;
  };

  if (trial(min_section)) {
    std::size_t lo = min_section;
    std::size_t hi = std::max(longest, min_section);
    while (lo < hi) {
      std::size_t mid = lo + (hi - lo + 1) / 2;
      if (trial(mid)) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    std::string out;
    walk_render(sections, &content_sizes, full_for(lo), lo, measure,
                [&](std::size_t i, const Shown& shown) {
                  append_shown(out, sections[i], shown);
                  return true;
                });
    return out;
  }

  // Not even the smallest allowance fits: keep as many leading sections as
  // fit beside a marker counting the rest (always at least the last one).
  std::string marker = sections_marker(sections.size(), total);
  if (quoted(marker) > budget) return text::fit_flat(text, total, budget);
  std::string out;
  std::size_t kept = 0;  // inner size of the kept sections
  std::size_t remaining = total;
  walk_render(sections, &content_sizes, full_for(min_section), min_section, measure,
              [&](std::size_t i, const Shown& shown) {
                if (i + 1 >= sections.size()) return false;
                remaining -= static_cast<std::size_t>(sections[i].chars);
                std::string next = sections_marker(sections.size() - i - 1, remaining);
                std::size_t part = inner_size(sections[i], shown);
                if (saturating_add(saturating_add(kept, part), quoted(next)) > budget) return false;
                append_shown(out, sections[i], shown);
                kept += part;
                marker = std::move(next);
                return true;
              });
  out += marker;
  return out;
}

}  // namespace quendra

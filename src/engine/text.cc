#include "engine/text.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "engine/size.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

using text::Cut;
using text::Measure;
using text::Piece;
using text::Section;

// Marks a size that has not been measured yet.
constexpr std::size_t kUnknown = SIZE_MAX;

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

// How a text is split into pieces.
enum class Split { Paragraphs, Lines, Sentences };

// Yields the pieces of a text one at a time, so that a search can stop early
// and nothing per piece has to be stored. The public split functions collect
// the same pieces into lists.
class Splitter {
 public:
  Splitter(std::string_view text, Split how) : text_(text), how_(how) {}

  bool done() const { return done_; }

  // REQUIRES: !done().
  Piece next() {
    switch (how_) {
      case Split::Paragraphs:
        return next_paragraph();
      case Split::Lines:
        return next_line();
      case Split::Sentences:
        break;
    }
    return next_sentence();
  }

 private:
  Piece rest() {
    Piece last{text_.substr(start_), {}};
    start_ = text_.size();
    done_ = true;
    return last;
  }

  Piece next_line() {
    std::size_t lf = text_.find('\n', start_);
    if (lf == std::string_view::npos) return rest();
    std::size_t end = lf > start_ && text_[lf - 1] == '\r' ? lf - 1 : lf;
    Piece line{text_.substr(start_, end - start_), text_.substr(end, lf + 1 - end)};
    start_ = lf + 1;
    // An empty part after the last line feed is no line of its own.
    done_ = start_ == text_.size();
    return line;
  }

  Piece next_paragraph() {
    std::size_t i = text_.find('\n', scan_);
    while (i != std::string_view::npos && i + 1 < text_.size()) {
      std::size_t j = i + 1;
      std::size_t last_lf = i;
      for (; j < text_.size(); ++j) {
        char c = text_[j];
        if (c == '\n') {
          last_lf = j;
        } else if (c != ' ' && c != '\t' && c != '\r') {
          break;
        }
      }
      // Whether or not this run is a break, no line feed inside it starts
      // one: its own run would end at the same place.
      scan_ = j;
      if (last_lf > i && last_lf + 1 < text_.size()) {
        Piece paragraph{text_.substr(start_, i - start_), text_.substr(i, last_lf + 1 - i)};
        start_ = last_lf + 1;
        return paragraph;
      }
      i = text_.find('\n', j);
    }
    return rest();
  }

  Piece next_sentence() {
    for (std::size_t i = scan_; i + 1 < text_.size(); ++i) {
      char c = text_[i];
      if ((c != '.' && c != '!' && c != '?') || !is_blank(text_[i + 1])) continue;
      std::size_t j = i + 1;
      while (j < text_.size() && is_blank(text_[j])) ++j;
      if (j == text_.size()) break;
      Piece sentence{text_.substr(start_, i + 1 - start_), text_.substr(i + 1, j - i - 1)};
      start_ = scan_ = j;
      return sentence;
    }
    return rest();
  }

  static bool is_blank(char c) { return c == ' ' || c == '\t'; }

  std::string_view text_;
  Split how_;
  std::size_t start_ = 0;  // where the next piece begins
  std::size_t scan_ = 0;   // where the search for its end resumes
  bool done_ = false;
};

std::vector<Piece> split_all(std::string_view text, Split how) {
  std::vector<Piece> pieces;
  Splitter split(text, how);
  while (!split.done()) pieces.push_back(split.next());
  return pieces;
}

Section make_section(const Piece& p) {
  return {p, unicode::count_chars(p.content) + unicode::count_chars(p.terminator)};
}

// Sections of a list, for walk_render.
class ListSource {
 public:
  explicit ListSource(const std::vector<Section>& sections) : sections_(sections) {}
  bool next(Section& out) {
    if (i_ == sections_.size()) return false;
    out = sections_[i_++];
    return true;
  }

 private:
  const std::vector<Section>& sections_;
  std::size_t i_ = 0;
};

// Sections made on the fly from a Splitter, for walk_render.
class SplitSource {
 public:
  SplitSource(std::string_view text, Split how) : split_(text, how) {}
  bool next(Section& out) {
    if (split_.done()) return false;
    out = make_section(split_.next());
    return true;
  }

 private:
  Splitter split_;
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
// kUnknown, then measured only when needed).
Shown preview_known(std::string_view text, std::size_t c, std::size_t text_size,
                    std::size_t n, Measure measure) {
  if (c <= n) return Shown{true, {}, c, text_size};

  std::size_t first_lf = text.find('\n');
  Shown shortened{false, {}, 0, 0};
  if (first_lf == std::string_view::npos || first_lf + 1 == text.size()) {
    Cut head = text::cut(text, n);
    std::string marker = string_marker(c - head.chars);
    shortened.text.reserve(head.prefix.size() + marker.size());
    shortened.text.append(head.prefix).append(marker);
    shortened.chars = head.chars + unicode::count_chars(marker);
  } else {
    // Every line but the last adds at least its terminator, so the loop reads
    // at most about 2n lines however long the text is.
    const std::size_t cap = sat_mul(n, 2);
    const std::size_t allowance = std::max<std::size_t>(8, n / 4);
    const std::size_t total_lines = count_byte(text, '\n') + (text.back() != '\n' ? 1 : 0);
    std::size_t shown_lines = 0;
    std::size_t shown_source_chars = 0;
    Splitter lines(text, Split::Lines);
    while (!lines.done()) {
      Piece line = lines.next();
      std::size_t line_chars = unicode::count_chars(line.content);
      Shown part = preview_known(line.content, line_chars, kUnknown,
                                 shown_lines == 0 ? n : allowance, measure);
      std::size_t added = part.chars + line.terminator.size();
      if (shown_lines > 0 && sat_add(shortened.chars, added) > cap) break;
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
  return Shown{true, {}, c, text_size};
}

std::size_t content_chars(const Section& s) {
  return static_cast<std::size_t>(s.chars) - unicode::count_chars(s.piece.terminator);
}

// Renders sections as render_pieces does, one at a time in order, calling
// emit(index, section, shown) for each and stopping early when it returns
// false. `source` yields the sections through next(Section&).
template <typename Source, typename Emit>
void walk_render(Source source, std::size_t full, std::size_t k, Measure measure,
                 Emit&& emit) {
  Section s;
  std::size_t i = 0;
  std::size_t running = 0;
  bool any_whole = false;
  while (source.next(s)) {
    if (running <= full) {
      running = sat_add(running, static_cast<std::size_t>(s.chars));
      if (running <= full) {
        any_whole = true;
        if (!emit(i++, s, Shown{true, {}, content_chars(s), kUnknown})) return;
        continue;
      }
    }
    std::size_t allowance = i == 0 && !any_whole ? std::max(full, k) : k;
    Shown shown = preview_known(s.piece.content, content_chars(s), kUnknown, allowance, measure);
    if (!emit(i++, s, shown)) return;
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

std::vector<Piece> split_lines(std::string_view text) { return split_all(text, Split::Lines); }

std::vector<Piece> split_paragraphs(std::string_view text) {
  return split_all(text, Split::Paragraphs);
}

std::vector<Piece> split_sentences(std::string_view text) {
  return split_all(text, Split::Sentences);
}

std::vector<Section> mk_sections(const std::vector<Piece>& pieces) {
  std::vector<Section> sections;
  sections.reserve(pieces.size());
  for (const Piece& p : pieces) sections.push_back(make_section(p));
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
  walk_render(ListSource(sections), full, k, measure,
              [&](std::size_t, const Section& s, const Shown& shown) {
                std::string piece;
                append_shown(piece, s, shown);
                out.push_back(std::move(piece));
                return true;
              });
  return out;
}

}  // namespace text

// Sections are never stored: each rendering splits the text again as it
// goes, so memory stays proportional to the output, and a rendering that
// outgrows the budget stops early.
std::string fit_text(std::string_view text, std::size_t budget, const TextSettings& settings) {
  const Measure measure = quoted;
  const std::size_t total = unicode::count_chars(text);

  Split how = Split::Paragraphs;
  Splitter probe(text, how);
  probe.next();
  if (probe.done()) {
    std::size_t lf = text.find('\n');
    if (lf != std::string_view::npos && lf + 1 < text.size()) {
      how = Split::Lines;
    } else {
      how = Split::Sentences;
      Splitter sentences(text, how);
      sentences.next();
      if (sentences.done()) return text::fit_flat(text, total, budget);
    }
  }

  std::size_t count = 0;
  std::size_t longest = 0;
  for (Splitter split(text, how); !split.done(); ++count) {
    longest = std::max(longest, static_cast<std::size_t>(make_section(split.next()).chars));
  }

  const std::size_t head = settings.head_chars;
  const std::size_t per_section = std::max<std::size_t>(settings.section_chars, 1);
  const std::size_t min_section = std::max<std::size_t>(settings.min_section_chars, 1);
  auto full_for = [&](std::size_t k) { return sat_mul(k, head) / per_section; };

  // A trial renders with allowance k and stops as soon as the parts exceed
  // the budget: sizes only grow, so the answer is the same.
  auto trial = [&](std::size_t k) {
    std::size_t size = 2;
    bool fits = true;
    walk_render(SplitSource(text, how), full_for(k), k, measure,
                [&](std::size_t, const Section& s, const Shown& shown) {
                  size = sat_add(size, inner_size(s, shown));
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
    walk_render(SplitSource(text, how), full_for(lo), lo, measure,
                [&](std::size_t, const Section& s, const Shown& shown) {
                  append_shown(out, s, shown);
                  return true;
                });
    return out;
  }

  // Not even the smallest allowance fits: keep as many leading sections as
  // fit beside a marker counting the rest (always at least the last one).
  std::string marker = sections_marker(count, total);
  if (quoted(marker) > budget) return text::fit_flat(text, total, budget);
  std::string out;
  std::size_t kept = 0;  // inner size of the kept sections
  std::size_t remaining = total;
  walk_render(SplitSource(text, how), full_for(min_section), min_section, measure,
              [&](std::size_t i, const Section& s, const Shown& shown) {
                if (i + 1 >= count) return false;
                remaining -= static_cast<std::size_t>(s.chars);
                std::string next = sections_marker(count - i - 1, remaining);
                std::size_t part = inner_size(s, shown);
                if (sat_add(sat_add(kept, part), quoted(next)) > budget) return false;
                append_shown(out, s, shown);
                kept += part;
                marker = std::move(next);
                return true;
              });
  out += marker;
  return out;
}

}  // namespace quendra

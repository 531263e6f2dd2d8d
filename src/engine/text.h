// Text shortening: replaces a string that is too long for its budget by one
// that keeps its beginning, paragraph by paragraph, line by line or sentence
// by sentence, cutting at word boundaries and saying in the text itself what
// was left out. All counts are characters (Unicode scalar values).
#ifndef QUENDRA_ENGINE_TEXT_H_
#define QUENDRA_ENGINE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document/options.h"

namespace quendra {

// Shortens `text` so that its size as a JSON string literal (`quoted`) is at
// most `budget` where possible; the only result that can exceed the budget is
// the bare "…[+N chars]" marker for the whole text. Splits into paragraphs,
// else lines, else sentences, else cuts flat.
// REQUIRES: `text` is valid UTF-8.
std::string fit_text(std::string_view text, std::size_t budget,
                     const TextSettings& settings);

namespace text {

// A slice of a text and the separator that directly follows it (a line
// break, a paragraph break, the blanks after a sentence, or empty for the
// last piece). Both borrow from the text; concatenating all pieces of a split
// in order gives the text back.
struct Piece {
  std::string_view content;
  std::string_view terminator;
};

// A piece with the characters of its content plus its terminator.
struct Section {
  Piece piece;
  std::uint64_t chars = 0;
};

// The kept beginning of a text and its character count.
struct Cut {
  std::string_view prefix;
  std::size_t chars = 0;
};

// Rendered size of a text in characters; fit_text uses `quoted`.
using Measure = std::size_t (*)(std::string_view);

// One piece per line, split at every line feed. A carriage return directly
// before the line feed belongs to the terminator. The part after the last
// line feed is a final line with an empty terminator unless it is empty and
// some line exists already; the empty text gives one empty line.
std::vector<Piece> split_lines(std::string_view text);

// Paragraphs: a break starts at a line feed that is not the last byte and is
// followed by a run of spaces, tabs, carriage returns and line feeds holding
// at least one more line feed; the terminator runs from the first to just
// after the last line feed of the run. A run whose last line feed ends the
// text is no break. A text without a break gives one piece.
std::vector<Piece> split_paragraphs(std::string_view text);

// Sentences: one ends after a ".", "!" or "?" (the last of a run of them)
// that is followed by spaces or tabs with more text after them; those blanks
// are its terminator. A text without such an end gives one piece.
std::vector<Piece> split_sentences(std::string_view text);

// The sections of `pieces`, in the same order.
std::vector<Section> mk_sections(const std::vector<Piece>& pieces);

// The kept beginning of `text` when at most `n` characters may be kept: the
// whole text when it has at most n characters; else, when the last White_Space
// character among the first n has index i > 0 with 4i >= 3n, the characters
// before it with trailing White_Space removed; else the first n characters.
Cut cut(std::string_view text, std::size_t n);

// The longest cut of `text` (binary search over kept characters) followed by
// "…[+N chars]" for the N characters cut off, whose `quoted` size is at most
// `budget`; the bare marker for all `total` characters when nothing fits.
// REQUIRES: `total` is the character count of `text`.
std::string fit_flat(std::string_view text, std::size_t total,
                     std::size_t budget);

// A preview of about `n` characters of `text` (up to 2n for multi-line text):
// a single line is cut and marked "…[+N chars]"; a multi-line text shows its
// first line previewed to n, then further lines previewed to max(8, n / 4)
// while the output stays within 2n characters, then "…[+L lines, N chars]"
// for the lines left out. The text comes back unchanged when it has at most n
// characters or when the preview would not be smaller by `measure`.
std::string preview(std::string_view text, std::size_t n, Measure measure);

// One string per section: the leading sections whose running character total
// stays within `full` whole; after them every section previewed to `k` (the
// first one to max(full, k) when none was whole), each followed by its
// terminator.
std::vector<std::string> render_pieces(const std::vector<Section>& sections,
                                       std::size_t full, std::size_t k,
                                       Measure measure);

}  // namespace text
}  // namespace quendra

#endif  // QUENDRA_ENGINE_TEXT_H_

#include "engine/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/size.h"
#include "unicode/unicode.h"

namespace quendra {
namespace {

using Flat = std::vector<std::string>;

Flat flatten(const std::vector<text::Piece>& pieces) {
  Flat out;
  for (const text::Piece& p : pieces) {
    out.emplace_back(p.content);
    out.emplace_back(p.terminator);
  }
  return out;
}

TEST(TextSplit, LinesParagraphsAndSentences) {
  using Split = std::vector<text::Piece> (*)(std::string_view);
  const Split lines = text::split_lines, paragraphs = text::split_paragraphs, sentences = text::split_sentences;
  struct Case {
    Split split;
    const char* text;
    Flat pieces;
  } const kCases[] = {
      {lines, "", {"", ""}},
      {lines, "a\nb", {"a", "\n", "b", ""}},
      {lines, "a\r\nb\r\n", {"a", "\r\n", "b", "\r\n"}},
      {lines, "a\rb\r", {"a\rb\r", ""}},
      {lines, "\r\n\r\nz", {"", "\r\n", "", "\r\n", "z", ""}},
      {paragraphs, "p1\n\np2", {"p1", "\n\n", "p2", ""}},
      {paragraphs, "p1\n \t\n  p2", {"p1", "\n \t\n", "  p2", ""}},
      {paragraphs, "a\r\n\r\nb", {"a\r", "\n\r\n", "b", ""}},
      {paragraphs, "a\n\nb\n\n", {"a", "\n\n", "b\n\n", ""}},
      {paragraphs, "a\nb\n\n\nc\nd", {"a\nb", "\n\n\n", "c\nd", ""}},
      // No break: a single line feed, or blank lines only at the very end.
      {paragraphs, "p1\np2", {"p1\np2", ""}},
      {paragraphs, "p1\n\n \n", {"p1\n\n \n", ""}},
      {sentences, "One. Two. Three.", {"One.", " ", "Two.", " ", "Three.", ""}},
      {sentences, "Why?! Yes...  \tGo", {"Why?!", " ", "Yes...", "  \t", "Go", ""}},
      {sentences, "Is it? Yes.", {"Is it?", " ", "Yes.", ""}},
      {sentences, "a.b. c", {"a.b.", " ", "c", ""}},
      {sentences, "End.  ", {"End.  ", ""}},
      {sentences, "Hi!\u00a0there", {"Hi!\u00a0there", ""}},
  };
  for (const Case& c : kCases) EXPECT_EQ(flatten(c.split(c.text)), c.pieces) << c.text;
  auto sections = text::mk_sections(text::split_lines("\u03b1\u03b2\r\n\U0001F600x"));
  EXPECT_EQ(sections[0].chars, 4u);
  EXPECT_EQ(sections[1].chars, 2u);
}

TEST(TextCut, WordBoundaries) {
  struct Case {
    const char* text;
    std::size_t n;
    const char* prefix;
    std::size_t chars;
  } const kCases[] = {
      {"Hello world, this is long", 15, "Hello world,", 12},
      {"ab cdefghijklmnopqrs", 10, "ab cdefghi", 10},
      {"one two   three", 10, "one two", 7},
      {" abcdefgh", 1, " ", 1},  // the first character never counts
      {"abcdef gh", 8, "abcdef", 6},  // exactly three quarters
      {"abcde fgh", 8, "abcde fg", 8},
      {"abcdefghij klmnop", 14, "abcdefghij klm", 14},  // between two thirds and three quarters
      {"abcdefgh ij", 8, "abcdefgh", 8},
      {"\u03b1\u03b2\u03b3\u03b4 \u03b5\u03b6\u03b7\u03b8 \u03b9\u03ba", 10,
       "\u03b1\u03b2\u03b3\u03b4 \u03b5\u03b6\u03b7\u03b8", 9},
      {"abcdef\u2003gh\u2003", 8, "abcdef", 6},
      {"abcdef\vgh", 8, "abcdef", 6},
      {"\U0001F600\U0001F601\U0001F602\U0001F603", 3, "\U0001F600\U0001F601\U0001F602", 3},
      {"  \t abcdefghij", 4, "", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.text);
    text::Cut got = text::cut(c.text, c.n);
    EXPECT_EQ(got.prefix, c.prefix);
    EXPECT_EQ(got.chars, c.chars);
  }
}

TEST(TextFitFlat, LongestCutThatFits) {
  const char* kAlphabet = "abcdefghijklmnopqrstuvwxyz";
  EXPECT_EQ(text::fit_flat(kAlphabet, 26, 20), "abcdef\u2026[+20 chars]");
  EXPECT_EQ(text::fit_flat(kAlphabet, 26, 14), "\u2026[+26 chars]");
  EXPECT_EQ(text::fit_flat("alpha beta gamma delta", 22, 24), "alpha beta\u2026[+12 chars]");
  EXPECT_EQ(text::fit_flat("\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u03b8\u03b9\u03ba\u03bb\u03bc", 12, 20),
            "\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u2026[+5 chars]");
  // Escaped characters count double against the budget.
  EXPECT_EQ(text::fit_flat("\"\"\"\"\"\"\"\"\"\"\"\"", 12, 20), "\"\"\"\u2026[+9 chars]");
}

TEST(TextPreview, LinesAndCuts) {
  struct Case {
    const char* text;
    std::size_t n;
    const char* preview;
  } const kCases[] = {
      {"Hello world, this is long", 15, "Hello world,\u2026[+13 chars]"},
      {"Hello world, this is long", 25, "Hello world, this is long"},
      // Cutting one character off would make the text longer.
      {"abcdefghijklmnop", 15, "abcdefghijklmnop"},
      {"trailing newline counts as one line\n", 8, "trailing\u2026[+28 chars]"},
      {"Title\nalpha beta gamma delta epsilon\nok\nlast line here is long enough\nend", 20,
       "Title\nalpha be\u2026[+22 chars]\nok\n\u2026[+2 lines, 33 chars]"},
      {"Title\r\nalpha beta gamma delta epsilon\r\nok\r\nlast line here is long enough\r\nend", 20,
       "Title\r\nalpha be\u2026[+22 chars]\r\nok\r\n\u2026[+2 lines, 34 chars]"},
      // The first line stays whole when shortening it would not save anything.
      {"first line here\nsecond\nthird line that is long\nx\ny", 10, "first line here\n\u2026[+4 lines, 34 chars]"},
      {"a\nb\nthe quick brown fox jumps over", 12, "a\nb\nthe quic\u2026[+22 chars]"},
  };
  for (const Case& c : kCases) EXPECT_EQ(text::preview(c.text, c.n, quoted), c.preview) << c.text;
}

TEST(TextFit, Sections) {
  const char* kText = "Alpha beta gamma. Delta epsilon zeta. Eta theta iota. Kappa.";
  const TextSettings settings{10, 10, 4};
  struct Case {
    std::size_t budget;
    const char* want;
  } const kCases[] = {
      {60, "Alpha beta gamma. Delta\u2026[+14 chars] Eta theta iota. Kappa."},
      {58, "Alph\u2026[+13 chars] Delt\u2026[+15 chars] Eta theta iota. Kappa."},
      {57, "Alph\u2026[+13 chars] \u2026[+3 sections, 42 chars]"},
      {43, "Alph\u2026[+13 chars] \u2026[+3 sections, 42 chars]"},
      {42, "\u2026[+4 sections, 60 chars]"},
      {25, "Alpha beta\u2026[+50 chars]"},
      {3, "\u2026[+60 chars]"},
  };
  for (const Case& c : kCases) EXPECT_EQ(fit_text(kText, c.budget, settings), c.want) << c.budget;

  const std::string paragraphs = std::string(200, 'a') + "\n\n" + std::string(200, 'b');
  EXPECT_EQ(fit_text(paragraphs, 130, TextSettings{}),
            std::string(80, 'a') + "\u2026[+120 chars]\n\n" + std::string(16, 'b') + "\u2026[+184 chars]");
  EXPECT_EQ(fit_text(paragraphs, 100, TextSettings{}), "\u2026[+2 sections, 402 chars]");
  EXPECT_EQ(fit_text("abcdefghijklmnopqrstuvwxyz", 20, TextSettings{}), "abcdef\u2026[+20 chars]");
  EXPECT_EQ(fit_text("One. Two. Three.", 17, TextSettings{}), "One\u2026[+13 chars]");
}

}  // namespace
}  // namespace quendra

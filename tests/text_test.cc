#include "text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "size.h"
#include "unicode.h"
#include "tree.h"

namespace quendra {
namespace {

using namespace quendra::testing;

using text::Piece;

std::vector<std::string> flatten(const std::vector<Piece>& pieces) {
  std::vector<std::string> out;
  for (const Piece& p : pieces) {
    out.emplace_back(p.content);
    out.emplace_back(p.terminator);
  }
  return out;
}

using Flat = std::vector<std::string>;

TEST(TextSplit, Lines) {
  EXPECT_EQ(flatten(text::split_lines("")), (Flat{"", ""}));
  EXPECT_EQ(flatten(text::split_lines("a\nb")), (Flat{"a", "\n", "b", ""}));
  EXPECT_EQ(flatten(text::split_lines("a\nb\n")), (Flat{"a", "\n", "b", "\n"}));
  EXPECT_EQ(flatten(text::split_lines("a\r\nb\r\n")), (Flat{"a", "\r\n", "b", "\r\n"}));
  EXPECT_EQ(flatten(text::split_lines("\n")), (Flat{"", "\n"}));
  EXPECT_EQ(flatten(text::split_lines("a\n\n")), (Flat{"a", "\n", "", "\n"}));
  EXPECT_EQ(flatten(text::split_lines("a\rb\r")), (Flat{"a\rb\r", ""}));
  EXPECT_EQ(flatten(text::split_lines("\r\n\r\nz")), (Flat{"", "\r\n", "", "\r\n", "z", ""}));
}

TEST(TextSplit, Paragraphs) {
  EXPECT_EQ(flatten(text::split_paragraphs("p1\n\np2")), (Flat{"p1", "\n\n", "p2", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("p1\n \t\n  p2")), (Flat{"p1", "\n \t\n", "  p2", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("a\r\n\r\nb")), (Flat{"a\r", "\n\r\n", "b", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("\n\nx")), (Flat{"", "\n\n", "x", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("a\n\nb\n\n")), (Flat{"a", "\n\n", "b\n\n", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("a\nb\n\n\nc\nd")), (Flat{"a\nb", "\n\n\n", "c\nd", ""}));
  // No break: a single line feed, or blank lines only at the very end.
  EXPECT_EQ(flatten(text::split_paragraphs("p1\np2")), (Flat{"p1\np2", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("p1\n\n\n")), (Flat{"p1\n\n\n", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("p1\n\n \n")), (Flat{"p1\n\n \n", ""}));
  EXPECT_EQ(flatten(text::split_paragraphs("p1\n \t")), (Flat{"p1\n \t", ""}));
}

TEST(TextSplit, Sentences) {
  EXPECT_EQ(flatten(text::split_sentences("One. Two. Three.")),
            (Flat{"One.", " ", "Two.", " ", "Three.", ""}));
  EXPECT_EQ(flatten(text::split_sentences("Why?! Yes...  \tGo")),
            (Flat{"Why?!", " ", "Yes...", "  \t", "Go", ""}));
  EXPECT_EQ(flatten(text::split_sentences("a.b. c")), (Flat{"a.b.", " ", "c", ""}));
  EXPECT_EQ(flatten(text::split_sentences("End.  ")), (Flat{"End.  ", ""}));
  EXPECT_EQ(flatten(text::split_sentences("No end here")), (Flat{"No end here", ""}));
  EXPECT_EQ(flatten(text::split_sentences("Hi!\u00a0there")), (Flat{"Hi!\u00a0there", ""}));
}

TEST(TextSplit, SectionsCountCharacters) {
  auto sections = text::mk_sections(text::split_lines("\u03b1\u03b2\r\n\U0001F600x"));
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].chars, 4u);
  EXPECT_EQ(sections[1].chars, 2u);
}

TEST(TextCut, WordBoundaries) {
  struct Case {
    const char* name;
    const char* text;
    std::size_t n;
    const char* prefix;
    std::size_t chars;
  } const kCases[] = {
      {"boundary late enough", "Hello world, this is long", 15, "Hello world,", 12},
      {"boundary too early", "ab cdefghijklmnopqrs", 10, "ab cdefghi", 10},
      {"fits whole", "short", 5, "short", 5},
      {"zero", "abc", 0, "", 0},
      {"empty", "", 3, "", 0},
      {"trims run of blanks", "one two   three", 10, "one two", 7},
      {"first char never counts", " abcdefgh", 1, " ", 1},
      {"exactly three quarters", "abcdef gh", 8, "abcdef", 6},
      {"just below three quarters", "abcde fgh", 8, "abcde fg", 8},
      {"whitespace right at limit is outside", "abcdefgh ij", 8, "abcdefgh", 8},
      {"greek", "\u03b1\u03b2\u03b3\u03b4 \u03b5\u03b6\u03b7\u03b8 \u03b9\u03ba\u03bb\u03bc", 10,
       "\u03b1\u03b2\u03b3\u03b4 \u03b5\u03b6\u03b7\u03b8", 9},
      {"unicode white space", "abcdef\u2003gh\u2003", 8, "abcdef", 6},
      {"emoji", "\U0001F600\U0001F601\U0001F602\U0001F603", 3, "\U0001F600\U0001F601\U0001F602", 3},
      {"all blank before", "  \t abcdefghij", 4, "", 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    text::Cut got = text::cut(c.text, c.n);
    EXPECT_EQ(got.prefix, c.prefix);
    EXPECT_EQ(got.chars, c.chars);
  }
}

TEST(TextFitFlat, LongestCutThatFits) {
  EXPECT_EQ(text::fit_flat("abcdefghijklmnopqrstuvwxyz", 26, 20), "abcdef\u2026[+20 chars]");
  EXPECT_EQ(text::fit_flat("abcdefghijklmnopqrstuvwxyz", 26, 14), "\u2026[+26 chars]");
  EXPECT_EQ(text::fit_flat("abcdefghijklmnopqrstuvwxyz", 26, 5), "\u2026[+26 chars]");
  EXPECT_EQ(text::fit_flat("alpha beta gamma delta", 22, 24), "alpha beta\u2026[+12 chars]");
  EXPECT_EQ(text::fit_flat("\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u03b7\u03b8\u03b9\u03ba\u03bb\u03bc"
                           "\u03bd\u03be\u03bf\u03c0\u03c1\u03c3\u03c4\u03c5\u03c6\u03c7\u03c8\u03c9",
                           24, 20),
            "\u03b1\u03b2\u03b3\u03b4\u03b5\u03b6\u2026[+18 chars]");
  // Escaped characters count double against the budget.
  EXPECT_EQ(text::fit_flat("\"\"\"\"\"\"\"\"\"\"\"\"", 12, 20), "\"\"\"\u2026[+9 chars]");
}

TEST(TextPreview, SingleLine) {
  EXPECT_EQ(text::preview("Hello world, this is long", 15, quoted), "Hello world,\u2026[+13 chars]");
  EXPECT_EQ(text::preview("Hello world, this is long", 25, quoted), "Hello world, this is long");
  // Cutting one character off would make the text longer.
  EXPECT_EQ(text::preview("abcdefghijklmnop", 15, quoted), "abcdefghijklmnop");
  EXPECT_EQ(text::preview("trailing newline counts as one line\n", 8, quoted),
            "trailing\u2026[+28 chars]");
}

TEST(TextPreview, MultiLine) {
  EXPECT_EQ(text::preview("Title\nalpha beta gamma delta epsilon\nok\nlast line here is long enough\nend",
                          20, quoted),
            "Title\nalpha be\u2026[+22 chars]\nok\n\u2026[+2 lines, 33 chars]");
  EXPECT_EQ(text::preview("Title\r\nalpha beta gamma delta epsilon\r\nok\r\nlast line here is long enough\r\nend",
                          20, quoted),
            "Title\r\nalpha be\u2026[+22 chars]\r\nok\r\n\u2026[+2 lines, 34 chars]");
  // The first line is kept whole when shortening it would not save anything.
  EXPECT_EQ(text::preview("first line here\nsecond\nthird line that is long\nx\ny", 10, quoted),
            "first line here\n\u2026[+4 lines, 34 chars]");
  // Every line shown: no lines marker, but the long one is shortened.
  EXPECT_EQ(text::preview("a\nb\nthe quick brown fox jumps over", 12, quoted),
            "a\nb\nthe quic\u2026[+22 chars]");
}

TEST(TextRenderPieces, WholeThenPreviewed) {
  auto sentences = text::mk_sections(text::split_sentences("One. Two. Three."));
  EXPECT_EQ(text::render_pieces(sentences, 10, 3, quoted),
            (Flat{"One. ", "Two. ", "Three."}));
  EXPECT_EQ(text::render_pieces(sentences, 16, 1, quoted), (Flat{"One. ", "Two. ", "Three."}));

  auto lines = text::mk_sections(
      text::split_lines("alpha beta gamma delta epsilon zeta\nsecond line is here and more\nthird"));
  EXPECT_EQ(text::render_pieces(lines, 12, 8, quoted),
            (Flat{"alpha beta\u2026[+25 chars]\n", "second\u2026[+22 chars]\n", "third"}));
}

TextSettings section_options(std::size_t head, std::size_t per_section, std::size_t min_section) {
  return TextSettings{head, per_section, min_section};
}

TEST(TextFit, Sections) {
  const char* kText = "Alpha beta gamma. Delta epsilon zeta. Eta theta iota. Kappa.";
  const TextSettings o = section_options(10, 10, 4);
  struct Case {
    std::size_t budget;
    const char* want;
  } const kCases[] = {
      {60, "Alpha beta gamma. Delta\u2026[+14 chars] Eta theta iota. Kappa."},
      {58, "Alph\u2026[+13 chars] Delt\u2026[+15 chars] Eta theta iota. Kappa."},
      {57, "Alph\u2026[+13 chars] \u2026[+3 sections, 42 chars]"},
      {43, "Alph\u2026[+13 chars] \u2026[+3 sections, 42 chars]"},
      {42, "\u2026[+4 sections, 60 chars]"},
      {26, "\u2026[+4 sections, 60 chars]"},
      {25, "Alpha beta\u2026[+50 chars]"},
      {3, "\u2026[+60 chars]"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.budget);
    EXPECT_EQ(fit_text(kText, c.budget, o), c.want);
  }
}

TEST(TextFit, ParagraphsWithDefaults) {
  std::string text = std::string(200, 'a') + "\n\n" + std::string(200, 'b');
  EXPECT_EQ(fit_text(text, 130, TextSettings{}),
            std::string(80, 'a') + "\u2026[+120 chars]\n\n" + std::string(16, 'b') + "\u2026[+184 chars]");
  EXPECT_EQ(fit_text(text, 100, TextSettings{}), "\u2026[+2 sections, 402 chars]");
}

TEST(TextFit, SingleWordCutsFlat) {
  EXPECT_EQ(fit_text("abcdefghijklmnopqrstuvwxyz", 20, TextSettings{}), "abcdef\u2026[+20 chars]");
  EXPECT_EQ(fit_text("abcdefghijklmnopqrstuvwxyz", 5, TextSettings{}), "\u2026[+26 chars]");
  EXPECT_EQ(fit_text("One. Two. Three.", 17, TextSettings{}), "One\u2026[+13 chars]");
}

// Whatever the text and budget: the result is valid UTF-8 and fits, unless it
// is the bare marker for the whole text.
TEST(TextFit, FitsOrIsBareMarker) {
  static constexpr const char* kWords[] = {"a", "word", "longerword", "\u00e9t\u00e9", "\U0001F600",
                                           "\"q\"", "tab\there", "\u03b1\u03b2\u03b3"};
  static constexpr const char* kGlue[] = {" ", " ", " ", ". ", "! ", "\n", "\r\n", "\n\n", "\n \n", "\u2003"};
  std::mt19937_64 rng(7);
  auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  for (int i = 0; i < 400; ++i) {
    std::string s;
    for (std::size_t n = 1 + below(80); n > 0; --n) {
      s += kWords[below(std::size(kWords))];
      s += kGlue[below(std::size(kGlue))];
    }
    TextSettings o = section_options(below(60), below(30), below(20));
    std::size_t budget = below(quoted(s));
    SCOPED_TRACE(s + " / budget " + std::to_string(budget));
    std::string got = fit_text(s, budget, o);
    ASSERT_TRUE(unicode::valid_utf8(got));
    if (quoted(got) > budget) {
      EXPECT_EQ(got, string_marker(unicode::count_chars(s)));
    }
  }
}

}  // namespace
}  // namespace quendra

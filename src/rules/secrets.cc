#include "rules/secrets.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "engine/fields.h"
#include "unicode/unicode.h"

namespace quendra::secrets {
namespace {

// Key words that make a key sensitive on their own, and pairs of words that
// do so in sequence.
constexpr std::string_view kSensitiveWords[] = {
    "password", "passwd", "secret", "token",       "apikey",      "auth",
    "authorization", "credential", "credentials", "cookie", "sessionid"};
constexpr std::pair<std::string_view, std::string_view> kSensitivePairs[] = {
    {"api", "key"}, {"access", "key"}, {"private", "key"}, {"session", "id"}};

// What a pair of bytes can start: the one matcher worth calling there. A
// byte that starts a secret is looked at with the byte after it, which rules
// out most of the places where that byte stands in ordinary text.
enum Start : std::uint8_t {
  kNothing,
  kScheme,  // "be" or "ba" in any case: Bearer or Basic
  kUrl,     // ":/" of "://"
  kPem,     // "--" of "-----BEGIN "
  kAws,     // "AK" or "AS": AKIA or ASIA
  kForge,   // "gh", "gi" or "gl": ghp_ and the like, github_pat_, glpat-
  kSlack,   // "xo": xoxb- and the like
  kJwt,     // "yJ" of "eyJ", which the byte before it completes
};

Start start(unsigned char b, unsigned char next) {
  const unsigned char bl = b | 0x20, nl = next | 0x20;
  if (bl == 'b') return nl == 'e' || nl == 'a' ? kScheme : kNothing;
  switch (b) {
    case ':': return next == '/' ? kUrl : kNothing;
    case '-': return next == '-' ? kPem : kNothing;
    case 'A': return next == 'K' || next == 'S' ? kAws : kNothing;
    case 'g': return next == 'h' || next == 'i' || next == 'l' ? kForge : kNothing;
    case 'x': return next == 'o' ? kSlack : kNothing;
    case 'y': return next == 'J' ? kJwt : kNothing;
    default: return kNothing;
  }
}

// The bytes for which start() may answer something but kNothing.
constexpr std::array<bool, 256> kFirst = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view("bB:-Agxy")) t[c] = true;
  return t;
}();

// Sixteen bytes at a time (GCC's and Clang's vector types, which become
// the machine's vector instructions where it has them).
typedef signed char Lanes __attribute__((vector_size(16)));

Lanes load(const unsigned char* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Lanes whose byte `b`, followed by the byte `next`, may start a secret
// (start() is not kNothing there): all bits set; the others are 0.
Lanes candidates(Lanes b, Lanes next) {
  const Lanes bl = b | 0x20, nl = next | 0x20;
  return ((bl == 'b') & ((nl == 'e') | (nl == 'a'))) | ((b == ':') & (next == '/')) |
         ((b == '-') & (next == '-')) | ((b == 'A') & ((next == 'K') | (next == 'S'))) |
         ((b == 'g') & ((next == 'h') | (next == 'i') | (next == 'l'))) |
         ((b == 'x') & (next == 'o')) | ((b == 'y') & (next == 'J'));
}

// How a byte stands in the authority of a URL: it ends it ('/', '?', '#',
// a quote, an angle bracket, ASCII white space), it may begin a white space
// character that ends it, it is a ':' or an '@', or it is any other byte of
// it.
enum : std::uint8_t { kBelongs, kEnds, kMaybeSpace, kColon, kAt };
constexpr std::array<std::uint8_t, 256> kAuthority = [] {
  std::array<std::uint8_t, 256> t{};
  for (unsigned char c : std::string_view("/?#\"'<> \t\n\v\f\r")) t[c] = kEnds;
  for (int c = 0x80; c < 0x100; ++c) t[c] = kMaybeSpace;
  t[':'] = kColon;
  t['@'] = kAt;
  return t;
}();

bool is_upper_or_digit(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool is_alnum(unsigned char c) { return is_upper_or_digit(c) || (c >= 'a' && c <= 'z'); }
// The base64url alphabet; the characters of GitHub tokens are these but '-'.
bool is_base64url(unsigned char c) { return is_alnum(c) || c == '-' || c == '_'; }
bool is_word(unsigned char c) { return is_alnum(c) || c == '_'; }
bool is_slack(unsigned char c) { return is_alnum(c) || c == '-'; }
bool one_of(unsigned char c, std::string_view set) {
  return set.find(static_cast<char>(c)) != std::string_view::npos;
}

// One pass over a text, appending the spans it finds.
class Scanner {
 public:
  Scanner(std::string_view text, std::vector<Span>& out) : t_(text), out_(out) {}

  void run() {
    const auto* p = reinterpret_cast<const unsigned char*>(t_.data());
    const std::size_t n = t_.size();
    constexpr std::size_t kLanes = sizeof(Lanes);
    if (n <= kLanes) {
      for (std::size_t i = 0; i < n; ++i) {
        if (kFirst[p[i]]) match(i);
      }
      return;
    }
    // Lanes of 16 bytes while the byte after each lane's can be loaded; the
    // last lanes overlap those before, whose bytes are not matched again;
    // the last byte starts nothing.
    std::size_t i = 0;
    for (; n - i > kLanes; i += kLanes) scan(p + i, i, 0);
    scan(p + n - kLanes - 1, n - kLanes - 1, i - (n - kLanes - 1));
  }

 private:
  // Matches at the places among the 16 bytes at `lanes` (the text's from
  // `offset`, and one more byte) where a secret may start, from lane
  // `first` on. Such places are rare: the check stays small enough to be
  // inlined, the matching not.
  void scan(const unsigned char* lanes, std::size_t offset, std::size_t first) {
    const Lanes found = candidates(load(lanes), load(lanes + 1));
    std::uint64_t halves[2];
    std::memcpy(halves, &found, sizeof halves);
    if ((halves[0] | halves[1]) != 0) match_lanes(halves, offset, first);
  }

  // The matching of scan(), kept out of its loop.
  [[gnu::noinline]] void match_lanes(const std::uint64_t (&halves)[2], std::size_t offset,
                                     std::size_t first) {
    for (std::size_t h = 0; h < 2; ++h) {
      for (std::uint64_t bits = halves[h]; bits != 0;) {
        const std::size_t lane = static_cast<std::size_t>(std::countr_zero(bits)) / 8;
        bits &= ~(std::uint64_t{0xFF} << (8 * lane));
        if (8 * h + lane >= first) match(offset + 8 * h + lane);
      }
    }
  }

  // Calls the matcher that the bytes at `i` ask for, if any.
  void match(std::size_t i) {
    switch (start(at(i), i + 1 < t_.size() ? at(i + 1) : 0)) {
      case kNothing: break;
      case kScheme: scheme(i); break;
      case kUrl: url(i); break;
      case kPem: pem(i); break;
      case kAws: aws(i); break;
      case kForge: forge(i); break;
      case kSlack: slack(i); break;
      case kJwt: jwt(i + 1); break;
    }
  }

  unsigned char at(std::size_t i) const { return static_cast<unsigned char>(t_[i]); }
  bool has(std::size_t i, std::string_view s) const { return t_.substr(i).starts_with(s); }

  // The end of the run of bytes from `i` that `ok` accepts.
  template <typename Ok>
  std::size_t run_of(std::size_t i, Ok ok) const {
    while (i < t_.size() && ok(at(i))) ++i;
    return i;
  }

  // Whether the character at `i` is white space; `next` is set past it.
  bool white_space(std::size_t i, std::size_t& next) const {
    const unsigned char c = at(i);
    next = i + 1;
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    next = i;
    return unicode::is_white_space(unicode::decode(t_, next));
  }

  void add(std::size_t begin, std::size_t end) { out_.push_back(Span{begin, end}); }

  // "Bearer X" or "Basic X", the scheme in any case and standing as a word
  // of its own: X, up to the next white space, quote or the end.
  void scheme(std::size_t i) {
    if (i > 0 && is_alnum(at(i - 1))) return;
    std::size_t k = i;
    for (std::string_view word : {"bearer", "basic"}) {
      if (t_.size() - i > word.size() &&
          std::equal(word.begin(), word.end(), t_.begin() + static_cast<std::ptrdiff_t>(i),
                     [](char w, char c) { return w == (c | 0x20); })) {
        k = i + word.size();
        break;
      }
    }
    if (k == i || (at(k) != ' ' && at(k) != '\t')) return;
    k = run_of(k, [](unsigned char c) { return c == ' ' || c == '\t'; });
    const std::size_t begin = k;
    while (k < t_.size() && at(k) != '"' && at(k) != '\'') {
      std::size_t next;
      if (white_space(k, next)) break;
      k = next;
    }
    if (k > begin) add(begin, k);
  }

  // "://user:password@": the password, from the first ':' of the part
  // before the last '@' of the authority to that '@'.
  void url(std::size_t i) {
    if (i + 2 >= t_.size() || at(i + 2) != '/') return;
    // Most URLs have no '@' anywhere after them, let alone a password.
    if (next_at(i + 3) == t_.size()) return;
    std::size_t colon = 0, last_at = 0;
    for (std::size_t k = i + 3; k < t_.size(); ++k) {
      const std::uint8_t kind = kAuthority[at(k)];
      if (kind == kBelongs) continue;
      if (kind == kColon) {
        if (colon == 0) colon = k;
      } else if (kind == kAt) {
        last_at = k;
      } else {
        std::size_t next;
        if (kind == kEnds || white_space(k, next)) break;
        k = next - 1;
      }
    }
    if (colon != 0 && colon + 1 < last_at) add(colon + 1, last_at);
  }

  // The first '@' at or after `from`, or the text's size. Remembered: the
  // URLs of a text ask from further and further on, and each byte is
  // searched once.
  std::size_t next_at(std::size_t from) {
    if (from < at_searched_from_ || from > at_) {
      const void* found = std::memchr(t_.data() + from, '@', t_.size() - from);
      at_ = found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - t_.data())
                             : t_.size();
      at_searched_from_ = from;
    }
    return at_;
  }

  // A run of bytes of one class, as far as it goes.
  struct Run {
    std::size_t begin = 0, end = 0;
  };

  // run_of(i, Ok), answered from `known` when `i` stands inside the run it
  // holds, which then ends where that one does: a text such as "eyJeyJeyJ..."
  // or "ghp_ghp_ghp_..." starts a token at every few bytes, and each would
  // otherwise read the whole run again.
  template <bool (*Ok)(unsigned char)>
  std::size_t run_end(std::size_t i, Run& known) const {
    if (i < known.begin || i >= known.end) known = Run{i, run_of(i, Ok)};
    return known.end;
  }

  // "eyJ" and base64url, '.', base64url, '.', base64url possibly empty.
  void jwt(std::size_t i) {
    if (i < 2 || at(i - 2) != 'e' || at(i - 1) != 'y') return;
    std::size_t k = run_end<is_base64url>(i + 1, base64url_);
    if (k >= t_.size() || at(k) != '.') return;
    const std::size_t second = k + 1;
    k = run_end<is_base64url>(second, base64url_);
    if (k == second || k >= t_.size() || at(k) != '.') return;
    add(i - 2, run_end<is_base64url>(k + 1, base64url_));
  }

  // "-----BEGIN <label>PRIVATE KEY-----" through the end of the next
  // "-----END ...-----" line, or through the end of the text without one.
  void pem(std::size_t i) {
    constexpr std::string_view kBegin = "-----BEGIN ";
    if (!has(i, kBegin)) return;
    const std::size_t label = i + kBegin.size();
    const std::size_t k =
        run_of(label, [](unsigned char c) { return is_upper_or_digit(c) || c == ' '; });
    if (!t_.substr(label, k - label).ends_with("PRIVATE KEY") || !has(k, "-----")) return;
    add(i, block_end(k + 5));
  }

  // The end of the first END line at or after `from`, or of the text. Many
  // BEGIN lines before one END line ask for the same one: the answer is
  // kept so that no byte is searched twice.
  std::size_t block_end(std::size_t from) {
    if (!end_known_ || from < end_searched_from_ || from > end_line_) {
      end_known_ = true;
      end_searched_from_ = from;
      const std::size_t line = t_.find("-----END ", from);
      end_line_ = line == std::string_view::npos ? t_.size() : line;
      const std::size_t close =
          line == std::string_view::npos ? line : t_.find("-----", line + 9);
      block_end_ = close == std::string_view::npos ? t_.size() : close + 5;
    }
    return block_end_;
  }

  // "AKIA" or "ASIA" and 16 capitals or digits.
  void aws(std::size_t i) {
    if (t_.size() - i < 20 || !(has(i, "AKIA") || has(i, "ASIA"))) return;
    for (std::size_t k = i + 4; k < i + 20; ++k) {
      if (!is_upper_or_digit(at(k))) return;
    }
    add(i, i + 20);
  }

  // GitHub's ghp_, gho_, ghu_, ghs_, ghr_ and github_pat_ tokens, GitLab's
  // glpat- tokens: the prefix and the token's characters after it.
  void forge(std::size_t i) {
    std::size_t end;
    if (has(i, "github_pat_")) {
      end = run_end<is_word>(i + 11, word_);
      if (end > i + 11) add(i, end);
    } else if (has(i, "glpat-")) {
      end = run_end<is_base64url>(i + 6, base64url_);
      if (end > i + 6) add(i, end);
    } else if (t_.size() - i > 4 && at(i + 1) == 'h' && one_of(at(i + 2), "pousr") &&
               at(i + 3) == '_') {
      end = run_end<is_word>(i + 4, word_);
      if (end > i + 4) add(i, end);
    }
  }

  // Slack's xoxa-, xoxb-, xoxp- and xoxr- tokens.
  void slack(std::size_t i) {
    if (t_.size() - i <= 5 || !has(i, "xox") || !one_of(at(i + 3), "abpr") || at(i + 4) != '-') {
      return;
    }
    const std::size_t end = run_end<is_slack>(i + 5, slack_);
    if (end > i + 5) add(i, end);
  }

  std::string_view t_;
  std::vector<Span>& out_;
  Run base64url_, word_, slack_;  // the last run of each class read
  std::size_t at_searched_from_ = 1, at_ = 0;  // next_at()'s last answer (none yet)
  bool end_known_ = false;
  std::size_t end_searched_from_ = 0, end_line_ = 0, block_end_ = 0;
};

}  // namespace

bool sensitive_key(std::string_view key) {
  // The words of the key as the field scorers split them, each cut again
  // where digits meet other characters: "password2" and "token_v2" hold
  // their key word as well as "db_password".
  WordReader reader(key);
  std::string word, previous;
  auto sensitive = [&](std::string_view part) {
    if (std::find(std::begin(kSensitiveWords), std::end(kSensitiveWords), part) !=
        std::end(kSensitiveWords)) {
      return true;
    }
    for (const auto& [first, second] : kSensitivePairs) {
      if (previous == first && part == second) return true;
    }
    return false;
  };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  while (reader.next(word)) {
    for (std::size_t start = 0, i = 1; i <= word.size(); ++i) {
      if (i < word.size() && digit(word[i]) == digit(word[i - 1])) continue;
      const std::string_view part = std::string_view(word).substr(start, i - start);
      if (sensitive(part)) return true;
      previous.assign(part);
      start = i;
    }
  }
  return false;
}

void find(std::string_view text, std::vector<Span>& out) {
  const std::size_t first = out.size();
  Scanner(text, out).run();
  if (out.size() - first < 2) return;
  // A web token is found at the byte after its first, and a URL's password
  // after its ':'; order the spans, then merge overlapping ones.
  const auto begin = out.begin() + static_cast<std::ptrdiff_t>(first);
  std::stable_sort(begin, out.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  auto merged = begin;
  for (auto it = begin + 1; it != out.end(); ++it) {
    if (it->begin < merged->end) {
      merged->end = std::max(merged->end, it->end);
    } else {
      *++merged = *it;
    }
  }
  out.erase(merged + 1, out.end());
}

}  // namespace quendra::secrets

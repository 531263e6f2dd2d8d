// Scalar texts of the YAML reader: the core schema's null, bool, int and
// float texts, the JSON number check, and the decoding of single-quoted,
// double-quoted and block scalars from their source text, with block headers.
#include "document/yaml_in_scalar.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "unicode/unicode.h"

namespace quendra::yaml_in {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_break(char c) { return c == '\n' || c == '\r'; }
bool is_white(char c) { return c == ' ' || c == '\t'; }

// Position just past the line break at `i` (LF, CR or CR LF).
std::size_t skip_break(std::string_view s, std::size_t i) {
  return i + (s.compare(i, 2, "\r\n") == 0 ? 2 : 1);
}

// From `i`, just past a line break inside a double-quoted scalar: appends a
// line feed for each empty line and returns the position of the next line's
// first character after its leading white space.
std::size_t skip_empty_lines(std::string_view s, std::size_t i, std::string& out,
                             std::size_t& empty_lines) {
  empty_lines = 0;
  while (true) {
    std::size_t j = i;
    while (j < s.size() && is_white(s[j])) ++j;
    if (j == s.size() || !is_break(s[j])) return j;
    out += '\n';
    ++empty_lines;
    i = skip_break(s, j);
  }
}

bool hex_value(std::string_view digits, char32_t& cp) {
  cp = 0;
  for (char c : digits) {
    int d = is_digit(c) ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0) return false;
    cp = cp * 16 + static_cast<char32_t>(d);
  }
  return true;
}

}  // namespace

bool is_null_text(std::string_view s) {
  return s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL";
}

std::optional<bool> bool_text(std::string_view s) {
  if (s == "true" || s == "True" || s == "TRUE") return true;
  if (s == "false" || s == "False" || s == "FALSE") return false;
  return std::nullopt;
}

IntForm parse_int(std::string_view s, std::int64_t& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'o' || s[1] == 'x')) {
    unsigned radix = s[1] == 'o' ? 8 : 16;
    std::uint64_t v = 0;
    for (char c : s.substr(2)) {
      unsigned d;
      if (c >= '0' && c <= '7') {
        d = static_cast<unsigned>(c - '0');
      } else if (radix == 16 && is_digit(c)) {
        d = static_cast<unsigned>(c - '0');
      } else if (radix == 16 && c >= 'a' && c <= 'f') {
        d = static_cast<unsigned>(c - 'a' + 10);
      } else if (radix == 16 && c >= 'A' && c <= 'F') {
        d = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return IntForm::None;
      }
      if (v > (std::numeric_limits<std::uint64_t>::max() - d) / radix) {
        v = std::numeric_limits<std::uint64_t>::max();
      } else {
        v = v * radix + d;
      }
    }
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return IntForm::RadixOverflow;
    }
    out = static_cast<std::int64_t>(v);
    return IntForm::Fits;
  }
  bool negative = false;
  std::size_t i = 0;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return IntForm::None;
  // The magnitude limit is 2^63 so that the most negative value fits.
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t v = 0;
  bool overflow = false;
  for (; i < s.size(); ++i) {
    if (!is_digit(s[i])) return IntForm::None;
    auto d = static_cast<std::uint64_t>(s[i] - '0');
    if (v > (kLimit - d) / 10) {
      overflow = true;
    } else {
      v = v * 10 + d;
    }
  }
  if (overflow || (!negative && v == kLimit)) return IntForm::DecimalOverflow;
  out = negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
  return IntForm::Fits;
}

bool is_float_text(std::string_view s) {
  if (s == ".nan" || s == ".NaN" || s == ".NAN") return true;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  std::string_view rest = s.substr(i);
  if (rest == ".inf" || rest == ".Inf" || rest == ".INF") return true;
  auto digits = [&] {
    std::size_t start = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    return i - start;
  };
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (digits() == 0) return false;
  } else {
    if (digits() == 0) return false;
    if (i < s.size() && s[i] == '.') {
      ++i;
      digits();
    }
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

std::optional<double> finite_value(std::string_view s) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  double d = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(d)) {
    return std::nullopt;
  }
  return d;
}

bool is_json_number(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  if (i == s.size()) return false;
  if (s[i] == '0') {
    ++i;
  } else if (s[i] >= '1' && s[i] <= '9') {
    while (i < s.size() && is_digit(s[i])) ++i;
  } else {
    return false;
  }
  if (i < s.size() && s[i] == '.') {
    std::size_t start = ++i;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == start) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t start = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == start) return false;
  }
  return i == s.size();
}

void decode_single_quoted(std::string_view raw, std::string& out) {
  auto append_unquoted = [&out](std::string_view line) {
    for (std::size_t q; (q = line.find('\'')) != std::string_view::npos;) {
      out.append(line.substr(0, q + 1));
      line.remove_prefix(std::min(q + 2, line.size()));
    }
    out.append(line);
  };
  std::size_t empty_lines = 0;
  bool first = true;
  while (true) {
    std::size_t end = 0;
    while (end < raw.size() && !is_break(raw[end])) ++end;
    std::string_view line = raw.substr(0, end);
    bool last = end == raw.size();
    if (!first) {
      while (!line.empty() && is_white(line.front())) line.remove_prefix(1);
    }
    if (!last) {
      while (!line.empty() && is_white(line.back())) line.remove_suffix(1);
    }
    if (first) {
      append_unquoted(line);
      first = false;
    } else if (line.empty() && !last) {
      ++empty_lines;
    } else {
      if (empty_lines == 0) {
        out += ' ';
      } else {
        out.append(empty_lines, '\n');
      }
      empty_lines = 0;
      append_unquoted(line);
    }
    if (last) return;
    end += raw.compare(end, 2, "\r\n") == 0 ? 2 : 1;
    raw.remove_prefix(end);
  }
}

bool decode_double_quoted(std::string_view raw, std::string& out) {
  std::size_t white = 0;  // white space seen since the last content
  for (std::size_t i = 0; i < raw.size();) {
    char c = raw[i];
    if (is_white(c)) {
      ++white;
      ++i;
      continue;
    }
    std::size_t empty_lines = 0;
    if (is_break(c)) {
      // White space before an unescaped break is not content.
      white = 0;
      std::size_t at = out.size();
      i = skip_empty_lines(raw, skip_break(raw, i), out, empty_lines);
      if (empty_lines == 0) out.insert(at, 1, ' ');
      continue;
    }
    out.append(raw.substr(i - white, white));
    white = 0;
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 == raw.size()) return false;
    char e = raw[i + 1];
    i += 2;
    if (is_break(e)) {
      i = skip_empty_lines(raw, skip_break(raw, i - 1), out, empty_lines);
      continue;
    }
    std::size_t digits = e == 'x' ? 2 : e == 'u' ? 4 : e == 'U' ? 8 : 0;
    if (digits > 0) {
      char32_t cp = 0;
      if (raw.size() - i < digits || !hex_value(raw.substr(i, digits), cp) ||
          cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return false;
      }
      unicode::append_utf8(out, cp);
      i += digits;
      continue;
    }
    switch (e) {
      case '0': out += '\0'; break;
      case 'a': out += '\a'; break;
      case 'b': out += '\b'; break;
      case 't': case '\t': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'v': out += '\v'; break;
      case 'f': out += '\f'; break;
      case 'r': out += '\r'; break;
      case 'e': out += '\x1B'; break;
      case ' ': case '"': case '/': case '\\': out += e; break;
      case 'N': unicode::append_utf8(out, 0x85); break;
      case '_': unicode::append_utf8(out, 0xA0); break;
      case 'L': unicode::append_utf8(out, 0x2028); break;
      case 'P': unicode::append_utf8(out, 0x2029); break;
      default: return false;
    }
  }
  out.append(raw.substr(raw.size() - white));
  return true;
}

std::optional<BlockHeader> block_header(std::string_view text, std::size_t start) {
  std::size_t end = start;
  if (end > 0 && text[end - 1] == '\n') --end;
  if (end > 0 && text[end - 1] == '\r') --end;
  std::size_t begin = text.find_last_of("\r\n", end == 0 ? 0 : end - 1);
  begin = begin == std::string_view::npos || begin >= end ? 0 : begin + 1;
  std::string_view line = text.substr(begin, end - begin);
  // Cut off a comment, stepping over quoted keys (which may hold " #").
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (i > 0 && !is_white(line[i - 1])) continue;
    if (c == '#') {
      line = line.substr(0, i);
      break;
    }
    if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (true) {
        if (j >= line.size()) return std::nullopt;
        if (c == '"' && line[j] == '\\') {
          j += 2;
        } else if (line[j] != c) {
          ++j;
        } else if (c == '\'' && j + 1 < line.size() && line[j + 1] == '\'') {
          j += 2;
        } else {
          break;
        }
      }
      i = j;
    }
  }
  while (!line.empty() && is_white(line.back())) line.remove_suffix(1);
  std::size_t word = line.find_last_of(" \t");
  line.remove_prefix(word == std::string_view::npos ? 0 : word + 1);
  if (line.empty() || (line[0] != '|' && line[0] != '>')) return std::nullopt;
  BlockHeader h;
  for (char c : line.substr(1)) {
    if (c == '+') {
      h.chomp = Chomp::Keep;
    } else if (c == '-') {
      h.chomp = Chomp::Strip;
    } else if (c >= '1' && c <= '9') {
      h.explicit_indent = true;
    } else {
      return std::nullopt;
    }
  }
  return h;
}

void decode_block(std::string_view raw, bool folded, Chomp chomp,
                  std::size_t indent, bool ends_text, std::string& out) {
  for (std::size_t i = 0; indent == std::string_view::npos && i < raw.size();) {
    std::size_t spaces = 0;
    while (i + spaces < raw.size() && raw[i + spaces] == ' ') ++spaces;
    if (i + spaces < raw.size() && !is_break(raw[i + spaces])) {
      indent = spaces;
      break;
    }
    i += spaces;
    if (i < raw.size()) i = skip_break(raw, i);
  }
  std::size_t breaks = 0;  // line breaks since the last content line
  bool seen_content = false;
  bool last_spaced = false;
  for (std::size_t i = 0; i < raw.size();) {
    std::size_t end = i;
    while (end < raw.size() && !is_break(raw[end])) ++end;
    std::string_view line = raw.substr(i, end - i);
    bool has_break = end < raw.size();
    i = has_break ? skip_break(raw, end) : end;
    std::size_t spaces = line.find_first_not_of(' ');
    if (!has_break && ends_text && spaces == std::string_view::npos) has_break = true;
    if (spaces == std::string_view::npos && line.size() <= indent) {
      if (has_break) ++breaks;
      continue;
    }
    if (spaces == std::string_view::npos) spaces = line.size();
    std::string_view content = line.substr(std::min(indent, spaces));
    bool spaced = !content.empty() && is_white(content[0]);
    if (seen_content && folded && !spaced && !last_spaced) {
      if (breaks <= 1) {
        out += ' ';
      } else {
        out.append(breaks - 1, '\n');
      }
    } else {
      out.append(breaks, '\n');
    }
    out.append(content);
    seen_content = true;
    last_spaced = spaced;
    breaks = has_break ? 1 : 0;
  }
  if (chomp == Chomp::Keep) {
    out.append(breaks, '\n');
  } else if (chomp == Chomp::Clip && seen_content && breaks > 0) {
    out += '\n';
  }
}

}  // namespace quendra::yaml_in

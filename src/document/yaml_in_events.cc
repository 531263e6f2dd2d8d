// Reading a YAML text as libfyaml's events: the parser session and what it
// gathers from libfyaml's diagnostics, positions and located messages, and
// the values of scalar tokens read from their source text.
#include "document/yaml_in_events.h"

#include <algorithm>
#include <utility>

#include "document/yaml_in_scalar.h"
#include "unicode/unicode.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUENDRA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUENDRA_LEAK_CHECKER 1
#endif
#endif
#ifdef QUENDRA_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace quendra::yaml_in {
namespace {

// libfyaml 0.7.12 frees a token twice when a parser that stopped on this
// error is destroyed.
constexpr std::string_view kTabIndentError =
    "cannot use tab for indentation of block entry";

void capture_output(fy_diag* /*diag*/, void* user, const char* buf,
                    std::size_t len) {
  static_cast<std::string*>(user)->append(buf, len);
}

}  // namespace

std::string located(std::string_view message, const Position& at) {
  std::string out(message);
  out += " at byte ";
  out += std::to_string(at.byte);
  out += " line ";
  out += std::to_string(at.line + 1);
  out += " column ";
  out += std::to_string(at.column + 1);
  return out;
}

Position position_of(std::string_view text, std::size_t byte) {
  std::string_view before = text.substr(0, byte);
  std::size_t line_start = before.rfind('\n');
  line_start = line_start == std::string_view::npos ? 0 : line_start + 1;
  Position p;
  p.byte = byte;
  p.line = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  p.column = unicode::count_chars(before.substr(line_start));
  return p;
}

Position position_of(const fy_mark* m) {
  Position p;
  if (m != nullptr) {
    p.byte = m->input_pos;
    p.line = static_cast<std::size_t>(std::max(m->line, 0));
    p.column = static_cast<std::size_t>(std::max(m->column, 0));
  }
  return p;
}

std::string_view token_text(fy_token* token) {
  if (token == nullptr) return {};
  std::size_t len = 0;
  const char* p = fy_token_get_text(token, &len);
  return p == nullptr ? std::string_view() : std::string_view(p, len);
}

Session::Session(std::string_view text) : text_(text) {
  fy_diag_cfg dcfg;
  fy_diag_cfg_default(&dcfg);
  dcfg.fp = nullptr;
  dcfg.output_fn = capture_output;
  dcfg.user = &printed_;
  dcfg.colorize = false;
  dcfg.show_source = false;
  dcfg.show_position = false;
  dcfg.show_type = false;
  dcfg.show_module = false;
  diag_ = fy_diag_create(&dcfg);
  if (diag_ == nullptr) return;
  fy_diag_set_collect_errors(diag_, true);
  fy_parse_cfg pcfg{};
  pcfg.flags = static_cast<fy_parse_cfg_flags>(
      FYPCF_QUIET | FYPCF_DEFAULT_VERSION_1_2 | FYPCF_JSON_NONE);
  pcfg.diag = diag_;
  parser_ = fy_parser_create(&pcfg);
  if (parser_ != nullptr &&
      fy_parser_set_string(parser_, text.data(), text.size()) != 0) {
    fy_parser_destroy(parser_);
    parser_ = nullptr;
  }
  iter_ = fy_token_iter_create(nullptr);
}

Session::~Session() {
  if (iter_ != nullptr) fy_token_iter_destroy(iter_);
  if (parser_ != nullptr && !leak_parser_) fy_parser_destroy(parser_);
  if (diag_ != nullptr) fy_diag_destroy(diag_);
}

std::optional<std::string> Session::finish(const Position& last) {
  void* iter = nullptr;
  while (fy_diag_error* e = fy_diag_errors_iterate(diag_, &iter)) {
    if (e->msg != nullptr && e->msg == kTabIndentError) leak_parser();
  }
  if (fy_parser_get_stream_error(parser_)) return failure(last);
  return std::nullopt;
}

void Session::leak_parser() {
  leak_parser_ = true;
#ifdef QUENDRA_LEAK_CHECKER
  // The leak is deliberate; the leak checker need not report it.
  __lsan_ignore_object(parser_);
#endif
}

std::string Session::failure(const Position& last) const {
  void* iter = nullptr;
  while (fy_diag_error* e = fy_diag_errors_iterate(diag_, &iter)) {
    if (e->type < FYET_ERROR) continue;
    std::string_view message = e->msg != nullptr && *e->msg != '\0' ? e->msg : "invalid YAML";
    if (e->fyt != nullptr) {
      return located(message, position_of(fy_token_start_mark(e->fyt)));
    }
    // Without a token the diagnostic still has a line and column from 1.
    Position at;
    if (e->line > 0) {
      std::size_t line = static_cast<std::size_t>(e->line) - 1;
      std::size_t byte = 0;
      for (std::size_t n = 0; n < line && byte < text_.size(); ++n) {
        std::size_t lf = text_.find('\n', byte);
        byte = lf == std::string_view::npos ? text_.size() : lf + 1;
      }
      std::size_t line_end = std::min(text_.find('\n', byte), text_.size());
      std::size_t column = e->column > 0 ? static_cast<std::size_t>(e->column) - 1 : 0;
      byte += unicode::byte_offset(text_.substr(byte, line_end - byte), column);
      at = position_of(text_, byte);
    }
    return located(message, at);
  }
  // Some failures (an unsupported %YAML version) are only printed.
  std::string_view printed = printed_;
  printed = printed.substr(0, printed.find('\n'));
  if (printed.empty()) printed = "invalid YAML";
  return located(printed, last);
}

std::optional<std::string_view> ScalarReader::read(fy_token* token) {
  if (token == nullptr) return std::string_view();
  const fy_mark* start = fy_token_start_mark(token);
  const fy_mark* end = fy_token_end_mark(token);
  if (start == nullptr || end == nullptr || start->input_pos > end->input_pos ||
      end->input_pos > text_.size()) {
    return std::nullopt;
  }
  // Quoted and block scalars are read from their source text: libfyaml
  // 0.7.12 misreads runs of doubled quotes ('it''''s'), an escaped line break
  // after an escape ("a\n\<break>b"), folded lines before a more indented
  // line, and the end of a block scalar that ends a text without a final
  // line break. Between the quotes, or after the block header, the token
  // spans exactly the scalar's content.
  std::string_view raw = text_.substr(start->input_pos, end->input_pos - start->input_pos);
  switch (fy_token_scalar_style(token)) {
    case FYSS_SINGLE_QUOTED:
      if (raw.find_first_of("'\r\n") == std::string_view::npos) return raw;
      scratch_.clear();
      decode_single_quoted(raw, scratch_);
      return std::string_view(scratch_);
    case FYSS_DOUBLE_QUOTED:
      if (raw.find_first_of("\\\r\n") == std::string_view::npos) return raw;
      scratch_.clear();
      if (!decode_double_quoted(raw, scratch_)) return std::nullopt;
      return std::string_view(scratch_);
    case FYSS_LITERAL:
      return block_text(token, raw, false, start->input_pos);
    case FYSS_FOLDED:
      return block_text(token, raw, true, start->input_pos);
    default:
      return library_text(token);
  }
}

std::optional<std::string_view> ScalarReader::block_text(fy_token* token, std::string_view raw,
                                                         bool folded, std::size_t start) {
  std::optional<BlockHeader> header = block_header(text_, start);
  if (!header) return library_text(token);
  std::size_t indent = std::string_view::npos;
  if (header->explicit_indent) {
    // An explicit indentation counts from the parent node's, which only
    // libfyaml knows: it is what libfyaml removed from the first line with
    // content.
    std::optional<std::string_view> s = library_text(token);
    if (!s) return std::nullopt;
    std::size_t first = raw.find_first_not_of(" \r\n");
    if (first == std::string_view::npos) return s;
    std::size_t line = raw.find_last_of("\r\n", first);
    std::size_t raw_spaces = first - (line == std::string_view::npos ? 0 : line + 1);
    std::size_t text_start = std::min(s->find_first_not_of('\n'), s->size());
    std::size_t kept_spaces =
        std::min(s->find_first_not_of(' ', text_start), s->size()) - text_start;
    if (raw_spaces < kept_spaces) return s;
    indent = raw_spaces - kept_spaces;
  }
  std::string decoded;
  decode_block(raw, folded, header->chomp, indent,
               raw.data() + raw.size() == text_.data() + text_.size(), decoded);
  scratch_ = std::move(decoded);
  return std::string_view(scratch_);
}

std::optional<std::string_view> ScalarReader::library_text(fy_token* token) {
  // The token iterator, unlike fy_token_get_text, never hands out bytes it
  // did not fill in (fy_token_get_text does for some block scalars).
  std::string_view s;
  int failed = 0;
  fy_token_iter_start(token, iter_);
  const fy_iter_chunk* chunk = fy_token_iter_chunk_next(iter_, nullptr, &failed);
  if (chunk != nullptr) {
    s = std::string_view(chunk->str, chunk->len);
    chunk = fy_token_iter_chunk_next(iter_, chunk, &failed);
    if (chunk != nullptr) {
      scratch_.assign(s);
      for (; chunk != nullptr; chunk = fy_token_iter_chunk_next(iter_, chunk, &failed)) {
        scratch_.append(chunk->str, chunk->len);
      }
      s = scratch_;
    }
  }
  fy_token_iter_finish(iter_);
  if (failed != 0) return std::nullopt;
  bool in_input = s.data() >= text_.data() && s.data() + s.size() <= text_.data() + text_.size();
  if (!in_input && !unicode::valid_utf8(s)) return std::nullopt;
  return s;
}

}  // namespace quendra::yaml_in

#include "path_rules.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "protect.h"
#include "secrets.h"

namespace quendra::path_rules {
namespace {

// A segment of a JSON Pointer with "~1" read as '/' and "~0" as '~'; none
// when a '~' is followed by anything else, which no key can match.
std::optional<std::string> unescape(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '~') {
      out.push_back(raw[i]);
    } else if (i + 1 < raw.size() && (raw[i + 1] == '0' || raw[i + 1] == '1')) {
      out.push_back(raw[++i] == '0' ? '~' : '/');
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The child of `value` named by the pointer segment `segment`: the last
// member of that key, or the item at an index written "0" or without a
// leading zero.
std::optional<Value> child(const Value& value, std::string_view segment) {
  if (value.is_object()) {
    const std::span<const Member> members = value.members();
    for (auto m = members.rbegin(); m != members.rend(); ++m) {
      if (m->key.text() == segment) return m->value;
    }
    return std::nullopt;
  }
  if (!value.is_array() || segment.empty() || (segment[0] == '0' && segment.size() > 1)) {
    return std::nullopt;
  }
  std::size_t index = 0;
  for (char c : segment) {
    if (c < '0' || c > '9' || index > value.count()) return std::nullopt;
    index = index * 10 + static_cast<std::size_t>(c - '0');
  }
  if (index >= value.count()) return std::nullopt;
  return value.items()[index];
}

// The value at `pointer` ("" or starting with '/'), or the failure naming
// the pointer up to and including its first segment that names nothing.
Result<Value, Error> resolve(const Value& document, std::string_view pointer) {
  Value at = document;
  std::size_t pos = 0;
  while (pos < pointer.size()) {
    std::size_t next = pointer.find('/', pos + 1);
    if (next == std::string_view::npos) next = pointer.size();
    const std::optional<std::string> segment = unescape(pointer.substr(pos + 1, next - pos - 1));
    std::optional<Value> found = segment ? child(at, *segment) : std::nullopt;
    if (!found) return Error{Error::RootNotFound{std::string(pointer.substr(0, next))}};
    at = *found;
    pos = next;
  }
  return at;
}

// One walk over the tree applying exclusion and redaction. A container is
// copied only when something below it changes; its path (kept only when
// there are patterns to match) spells members by their keys and items as
// "*", as protect patterns read it.
class Rewriter {
 public:
  Rewriter(const Options& options, Arena& arena)
      : exclude_(compile_patterns(options.exclude)),
        redact_paths_(compile_patterns(options.redact_paths)),
        redact_(options.redact),
        paths_(!exclude_.empty() || !redact_paths_.empty()),
        arena_(arena),
        redacted_(Value::string_view(arena, kRedacted)) {}

  bool active() const { return redact_ || paths_; }

  // Rewrites `value` in place (the handle, never the nodes it points to);
  // false when nothing in it changed.
  bool rewrite(Value& value) {
    switch (value.kind()) {
      case Kind::String: return redact_ && redact_text(value);
      case Kind::Array: return rewrite_children<Value>(value);
      case Kind::Object: return rewrite_children<Member>(value);
      default: return false;
    }
  }

  Counts counts;

 private:
  enum class Verdict { Keep, Exclude, Redact };

  // The parts of an array item or an object member the walk needs.
  static std::string_view segment(const Value&) { return "*"; }
  static std::string_view segment(const Member& m) { return m.key.text(); }
  static Value& value_of(Value& item) { return item; }
  static Value& value_of(Member& m) { return m.value; }

  bool matched(const std::vector<Pattern>& patterns) const {
    for (const Pattern& p : patterns) {
      if (matches(p, path_)) return true;
    }
    return false;
  }

  // Whether a child whose path is on path_ goes, is replaced, or stays.
  // Exclusion comes first and wins.
  template <typename Child>
  Verdict verdict([[maybe_unused]] const Child& c) const {
    if (paths_ && matched(exclude_)) return Verdict::Exclude;
    if (paths_ && matched(redact_paths_)) return Verdict::Redact;
    if constexpr (std::is_same_v<Child, Member>) {
      if (redact_ && secrets::sensitive_key(c.key.text())) return Verdict::Redact;
    }
    return Verdict::Keep;
  }

  template <typename Child>
  bool rewrite_children(Value& container) {
    std::span<const Child> in;
    if constexpr (std::is_same_v<Child, Member>) {
      in = container.members();
    } else {
      in = container.items();
    }
    std::vector<Child> out;  // filled from the first change on
    bool changed = false;
    for (std::size_t i = 0; i < in.size(); ++i) {
      Child c = in[i];
      if (paths_) path_.push_back(segment(c));
      const Verdict v = verdict(c);
      bool differs = true;
      if (v == Verdict::Exclude) {
        ++counts.values_excluded;
      } else if (v == Verdict::Redact) {
        // Exclusion runs before redaction: what it would have removed
        // inside the replaced value counts as removed.
        if (!exclude_.empty()) count_exclusions(value_of(c));
        value_of(c) = redacted_;
        ++counts.values_redacted;
      } else {
        differs = rewrite(value_of(c));
      }
      if (paths_) path_.pop_back();
      if (differs && !changed) {
        changed = true;
        out.reserve(in.size());
        out.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(i));
      }
      if (changed && v != Verdict::Exclude) out.push_back(c);
    }
    if (!changed) return false;
    if constexpr (std::is_same_v<Child, Member>) {
      container = Value::object(arena_, out);
    } else {
      container = Value::array(arena_, out);
    }
    return true;
  }

  // Counts the members and items below `value` (standing at path_) that
  // exclusion removes.
  void count_exclusions(const Value& value) {
    auto visit = [this](std::string_view segment, const Value& child) {
      path_.push_back(segment);
      if (matched(exclude_)) {
        ++counts.values_excluded;
      } else {
        count_exclusions(child);
      }
      path_.pop_back();
    };
    for (const Value& item : value.items()) visit("*", item);
    for (const Member& m : value.members()) visit(m.key.text(), m.value);
  }

  // Replaces the secrets inside a string; false when it holds none.
  bool redact_text(Value& value) {
    const std::string_view text = value.text();
    spans_.clear();
    secrets::find(text, spans_);
    if (spans_.empty()) return false;
    std::size_t length = text.size();
    for (const secrets::Span& s : spans_) length = length - (s.end - s.begin) + kRedacted.size();
    char* out = arena_.allocate_array<char>(length);
    char* end = out;
    std::size_t from = 0;
    for (const secrets::Span& s : spans_) {
      end = std::copy(text.begin() + static_cast<std::ptrdiff_t>(from),
                      text.begin() + static_cast<std::ptrdiff_t>(s.begin), end);
      end = std::copy(kRedacted.begin(), kRedacted.end(), end);
      from = s.end;
    }
    std::copy(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), end);
    value = Value::string_view(arena_, std::string_view(out, length));
    counts.values_redacted += spans_.size();
    return true;
  }

  const std::vector<Pattern> exclude_;
  const std::vector<Pattern> redact_paths_;
  const bool redact_;
  const bool paths_;  // there are patterns to match
  Arena& arena_;
  const Value redacted_;
  std::vector<std::string_view> path_;
  std::vector<secrets::Span> spans_;
};

}  // namespace

Result<Ruled, Error> apply(const Value& document, const Options& options, Arena& arena) {
  Ruled ruled{document, {}};
  if (options.root) {
    auto found = resolve(document, *options.root);
    if (!found.ok()) return found.error();
    ruled.document = found.value();
  }
  Rewriter rewriter(options, arena);
  if (rewriter.active()) {
    rewriter.rewrite(ruled.document);
    ruled.counts = rewriter.counts;
  }
  return ruled;
}

}  // namespace quendra::path_rules

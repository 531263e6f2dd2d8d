#include "rules/path_rules.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "document/protect.h"
#include "rules/secrets.h"

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

// Whether two keys are equal, compared in words of 8 bytes where they are
// that long: keys are short, and a call of memcmp costs more than the test.
bool same(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (n < 8) return std::equal(a.begin(), a.end(), b.begin());
  std::uint64_t x, y;
  for (std::size_t at : {std::size_t{0}, n - 8}) {
    std::memcpy(&x, a.data() + at, 8);
    std::memcpy(&y, b.data() + at, 8);
    if (x != y) return false;
  }
  return n <= 16 || std::memcmp(a.data() + 8, b.data() + 8, n - 16) == 0;
}

// One walk over the tree applying exclusion and redaction. A container that
// changes is edited in its own storage (the request's, made by the reader):
// its children that stay move down over those removed, and its handle is
// cut to their count. The path of a node (kept only when there are patterns
// to match) spells members by their keys and items as "*", as protect
// patterns read it.
class Rewriter {
 public:
  Rewriter(const Options& options, Arena& arena)
      : exclude_(compile_patterns(options.exclude)),
        redact_paths_(compile_patterns(options.redact_paths)),
        redact_(options.redact),
        paths_(!exclude_.empty() || !redact_paths_.empty()),
        arena_(arena),
        redacted_(Value::string_view(arena, kRedacted)),
        item_facts_{false, ends_with(exclude_, "*"), ends_with(redact_paths_, "*")} {}

  bool active() const { return redact_ || paths_; }

  // Rewrites `value` and what is below it; false when nothing changed.
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
  // What the walk needs to know of a key (or of the item segment "*"),
  // worked out once per distinct key.
  struct Facts {
    bool sensitive = false;  // with redact, the member's value is replaced
    bool may_exclude = false;  // an exclude pattern ends with the segment
    bool may_redact = false;   // a redact_paths pattern ends with it
  };

  // Whether the last segment of one of `patterns` matches `segment`.
  static bool ends_with(const std::vector<Pattern>& patterns, std::string_view segment) {
    for (const Pattern& p : patterns) {
      if (p.segments.back() == "*" || p.segments.back() == segment) return true;
    }
    return false;
  }

  // The facts of `key`, remembered for the last key of each slot: the
  // records of an array repeat their keys over and over.
  const Facts& facts(std::string_view key) {
    std::size_t h = key.size();
    if (!key.empty()) {
      for (char c : {key.front(), key[key.size() / 2], key.back()}) {
        h = h * 131 + static_cast<unsigned char>(c);
      }
    }
    KeySlot& slot = key_slots_[h % kKeySlots];
    if (!slot.known || !same(slot.key, key)) {
      slot.key = key;
      slot.known = true;
      slot.facts = Facts{redact_ && secrets::sensitive_key(key), ends_with(exclude_, key),
                         ends_with(redact_paths_, key)};
    }
    return slot.facts;
  }

  bool matched(const std::vector<Pattern>& patterns) const {
    for (const Pattern& p : patterns) {
      if (matches(p, path_)) return true;
    }
    return false;
  }

  enum class Verdict { Keep, Exclude, Redact };

  // Whether a child whose path is on path_ goes, is replaced, or stays.
  // Exclusion comes first and wins.
  Verdict verdict(const Facts& f) const {
    if (f.may_exclude && matched(exclude_)) return Verdict::Exclude;
    if ((f.may_redact && matched(redact_paths_)) || f.sensitive) return Verdict::Redact;
    return Verdict::Keep;
  }

  template <typename Child>
  bool rewrite_children(Value& container) {
    std::span<Child> in;
    if constexpr (std::is_same_v<Child, Member>) {
      in = container.mutable_members();
    } else {
      in = container.mutable_items();
    }
    // From the first change on, the children that stay are written over
    // those read, in the container's own storage.
    Child* out = nullptr;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
      Child c = in[i];
      Value* value;
      std::string_view segment = "*";
      const Facts* f = &item_facts_;
      if constexpr (std::is_same_v<Child, Member>) {
        value = &c.value;
        segment = c.key.text();
        f = &facts(segment);
      } else {
        value = &c;
      }
      if (paths_) path_.push_back(segment);
      const Verdict v = verdict(*f);
      bool differs = true;
      if (v == Verdict::Exclude) {
        ++counts.values_excluded;
      } else if (v == Verdict::Redact) {
        // Exclusion runs before redaction: what it would have removed
        // inside the replaced value counts as removed.
        if (!exclude_.empty()) count_exclusions(*value);
        *value = redacted_;
        ++counts.values_redacted;
      } else {
        differs = rewrite(*value);
      }
      if (paths_) path_.pop_back();
      if (differs && out == nullptr) {
        out = in.data();
        kept = i;
      }
      if (out != nullptr && v != Verdict::Exclude) out[kept++] = c;
    }
    if (out == nullptr) return false;
    container = container.first(kept);
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
    const std::string_view text = value.text_once(text_);
    if (text.size() < secrets::kShortest) return false;
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
  const Facts item_facts_;
  std::vector<std::string_view> path_;
  std::vector<secrets::Span> spans_;
  std::string text_;  // the text of a string not decoded yet
  struct KeySlot {
    std::string_view key;
    Facts facts;
    bool known = false;
  };
  static constexpr std::size_t kKeySlots = 256;
  std::array<KeySlot, kKeySlots> key_slots_{};
};

}  // namespace

std::optional<Error> apply(Value& document, const Options& options, Arena& arena, Counts& counts) {
  if (options.root) {
    auto found = resolve(document, *options.root);
    if (!found.ok()) return found.error();
    document = found.value();
  }
  if (!options.redact && options.exclude.empty() && options.redact_paths.empty()) return std::nullopt;
  Rewriter rewriter(options, arena);
  if (rewriter.active()) {
    rewriter.rewrite(document);
    counts = rewriter.counts;
  }
  return std::nullopt;
}

}  // namespace quendra::path_rules

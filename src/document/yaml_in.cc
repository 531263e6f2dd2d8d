#include "document/yaml_in.h"

#include <libfyaml.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "document/yaml_in_events.h"
#include "document/yaml_in_scalar.h"
#include "unicode/unicode.h"

// Reading happens in two phases. The loader drives libfyaml's event parser
// over the whole text and stores every document as a flat list of resolved
// nodes; duplicate keys, alias expansion limits and syntax errors are load
// failures, so all of them are found before any node is converted. The
// converter then walks each list with an explicit stack and builds Values,
// refusing nodes that have no Value form. Neither phase recurses.

namespace quendra::yaml_in {
namespace {

constexpr std::string_view kTagPrefix = "tag:yaml.org,2002:";
// Mappings with more keys than this find duplicates through a hash table;
// smaller ones compare hashes with every earlier key's.
constexpr std::size_t kLinearKeys = 32;
// Objects with more members than this find repeated key texts through a
// hash table.
constexpr std::size_t kLinearMembers = 8;

// ---------------------------------------------------------------------------
// Loaded documents

enum class NodeKind : std::uint8_t {
  Null, Bool, Int, Real, Str, Bad, Unresolved, Seq, Map
};

// One node of a flat document, 16 bytes. A Seq or Map is followed by its
// children's subtrees; a Map's children alternate key and value.
class Node {
 public:
  Node() = default;
  // `a` is: Bool 0 or 1; Int the value's bits; Real, Str where the text lies
  // (kInArena set: in the arena, else in the input); Seq, Map the number of
  // children (a Map counts keys and values). `len`: Real, Str the text's
  // length in bytes.
  explicit Node(NodeKind kind, std::uint64_t a = 0, std::uint64_t len = 0)
      : a_(a), bits_(static_cast<std::uint64_t>(kind) | len << kLenShift) {}

  NodeKind kind() const { return static_cast<NodeKind>(bits_ & kKindMask); }
  std::uint64_t a() const { return a_; }
  std::uint64_t len() const { return bits_ >> kLenShift; }
  void add_child() { ++a_; }

  // Seq or Map carrying a tag other than its own kind's.
  bool bad_tag() const { return bits_ & kBadTag; }
  void set_bad_tag() { bits_ |= kBadTag; }
  // Map with a key that is not a string: only then can two keys that
  // differ as values (1 and '1') have the same text.
  bool mixed_keys() const { return bits_ & kMixedKeys; }
  void set_mixed_keys() { bits_ |= kMixedKeys; }

  // A Str whose text is a block scalar's content lines in the input, `len`
  // bytes at `offset`, decoded only when the Value is built: block scalars
  // are the longest strings of most documents, and are never keys.
  static Node block(std::uint64_t offset, std::uint64_t len, bool folded, Chomp chomp) {
    Node n(NodeKind::Str, offset, len);
    n.bits_ |= kBlock | (folded ? kFolded : 0) |
               static_cast<std::uint64_t>(chomp) << kChompShift;
    return n;
  }
  bool is_block() const { return bits_ & kBlock; }
  bool folded() const { return bits_ & kFolded; }
  Chomp chomp() const { return static_cast<Chomp>((bits_ >> kChompShift) & 3); }

 private:
  static constexpr std::uint64_t kKindMask = 0xF;
  static constexpr std::uint64_t kBadTag = 0x10;
  static constexpr std::uint64_t kMixedKeys = 0x20;
  static constexpr std::uint64_t kBlock = 0x40;
  static constexpr std::uint64_t kFolded = 0x80;
  static constexpr int kChompShift = 8;
  static constexpr int kLenShift = 12;

  std::uint64_t a_ = 0;
  std::uint64_t bits_ = 0;
};

constexpr std::uint64_t kInArena = std::uint64_t{1} << 63;

class Loader;

// Open-addressing set of the keys of one large mapping, by node index.
class KeyTable {
 public:
  // Adds key node `node` whose key_hash is `hash`; false when an equal key
  // is already present.
  bool insert(const Loader& in, std::size_t node, std::size_t hash);

 private:
  struct Slot {
    std::size_t hash = 0;
    std::size_t node = 0;  // node index + 1; 0 marks an empty slot
  };
  void grow();

  std::vector<Slot> slots_;
  std::size_t used_ = 0;
};

class Loader {
 public:
  explicit Loader(std::string_view text)
      : text_(text),
        alias_node_limit_(std::max(kMinAliasNodes, text.size())),
        alias_byte_limit_(std::max(kMinAliasBytes, 4 * text.size())) {}

  // Reads the whole text; a failure comes back as the full message.
  std::optional<std::string> load();

  const std::vector<Node>& nodes() const { return nodes_; }
  const std::vector<std::size_t>& documents() const { return documents_; }

  // The text of a Str node, decoded.
  std::string string_of(const Node& n) const {
    if (!n.is_block()) return std::string(text_of(n));
    std::string out;
    out.reserve(n.len() + 1);  // the value is at most its lines and a line break
    decode_block(text_.substr(n.a(), n.len()), n.folded(), n.chomp(),
                 std::string_view::npos, n.a() + n.len() == text_.size(), out);
    return out;
  }

  // Whether text_of(n) lies in the input text (rather than the loader's).
  static bool in_input(const Node& n) { return (n.a() & kInArena) == 0; }

  // The text of a Real or Str node that is not a block.
  std::string_view text_of(const Node& n) const {
    if (n.a() & kInArena) {
      return std::string_view(arena_).substr(n.a() & ~kInArena, n.len());
    }
    return text_.substr(n.a(), n.len());
  }

  // Duplicate-key identity: resolved values, so 0x10 equals 16 and 1 does
  // not equal '1'. Collections, bad values and unresolved aliases never
  // compare equal.
  static bool comparable(const Node& n) {
    return n.kind() <= NodeKind::Str;
  }
  bool same_key(const Node& x, const Node& y) const;
  std::size_t key_hash(const Node& n) const;

 private:
  struct Frame {
    std::size_t node;        // the container's node
    std::size_t keys_begin;  // a Map's first entry on keys_
    std::unique_ptr<KeyTable> table;
  };
  struct PendingAnchor {
    std::string name;
    std::size_t frame;        // index of the anchored container's frame
    std::size_t bytes_start;  // bytes_ when the container began
  };
  struct Anchor {
    std::size_t begin;  // node range of the anchored subtree
    std::size_t end;
    std::size_t bytes;  // scalar text bytes in the range
  };
  struct KeyRef {
    std::size_t node;
    std::size_t hash;
  };

  std::optional<std::string> on_event(fy_event* ev);
  std::optional<std::string> scalar(fy_event* ev, const Position& at);
  std::optional<std::string> alias(fy_event* ev, const Position& at);
  void start(fy_event* ev, NodeKind kind);
  void end();
  // Counts a new child of the innermost container; true when it is a key.
  bool begin_child();
  std::optional<std::string> check_key(std::size_t node, const Position& at);
  // A block node for an untagged block scalar that is not a key and whose
  // indentation shows in its text.
  std::optional<Node> block_node(fy_token* token, std::string_view tag, bool key);
  Node resolve(std::string_view s, bool plain, std::string_view tag);
  std::uint64_t keep_text(std::string_view s);

  std::string_view text_;
  std::vector<Node> nodes_;
  std::vector<std::size_t> documents_;  // root node of each document
  std::string arena_;                   // scalar texts not found in text_
  std::vector<Frame> frames_;
  std::vector<KeyRef> keys_;  // keys of open small mappings
  std::vector<PendingAnchor> pending_;
  std::unordered_map<std::string, Anchor> anchors_;
  std::size_t bytes_ = 0;  // scalar text bytes stored so far
  std::size_t alias_nodes_ = 0;
  std::size_t alias_bytes_ = 0;
  std::size_t alias_node_limit_;
  std::size_t alias_byte_limit_;
  Position last_;  // the most recent event position, for events without one
  ScalarReader* scalars_ = nullptr;  // load()'s, while it runs
};

bool KeyTable::insert(const Loader& in, std::size_t node, std::size_t hash) {
  if ((used_ + 1) * 2 > slots_.size()) grow();
  std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (s.node == 0) {
      s = Slot{hash, node + 1};
      ++used_;
      return true;
    }
    if (s.hash == hash && in.same_key(in.nodes()[s.node - 1], in.nodes()[node])) {
      return false;
    }
  }
}

void KeyTable::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(std::max<std::size_t>(32, old.size() * 2), Slot{});
  std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.node == 0) continue;
    std::size_t i = s.hash & mask;
    while (slots_[i].node != 0) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

bool Loader::same_key(const Node& x, const Node& y) const {
  if (x.kind() != y.kind()) return false;
  switch (x.kind()) {
    case NodeKind::Null:
      return true;
    case NodeKind::Bool:
    case NodeKind::Int:
      return x.a() == y.a();
    case NodeKind::Str:
      return text_of(x) == text_of(y);
    case NodeKind::Real: {
      std::optional<double> dx = finite_value(text_of(x));
      std::optional<double> dy = finite_value(text_of(y));
      if (dx && dy) return *dx == *dy;
      return text_of(x) == text_of(y);
    }
    default:
      return false;
  }
}

std::size_t Loader::key_hash(const Node& n) const {
  std::size_t h = static_cast<std::size_t>(n.kind()) * 0x9E3779B97F4A7C15ull;
  switch (n.kind()) {
    case NodeKind::Bool:
    case NodeKind::Int:
      h ^= std::hash<std::uint64_t>()(n.a() * 0xBF58476D1CE4E5B9ull);
      break;
    case NodeKind::Str:
      h ^= std::hash<std::string_view>()(text_of(n));
      break;
    case NodeKind::Real:
      if (std::optional<double> d = finite_value(text_of(n))) {
        h ^= std::hash<double>()(*d == 0 ? 0.0 : *d);
      } else {
        h ^= std::hash<std::string_view>()(text_of(n));
      }
      break;
    default:
      break;
  }
  return h;
}

std::optional<std::string> Loader::load() {
  // libfyaml takes a NUL byte for the end of the input and would drop the
  // rest of the text without a word.
  if (std::size_t nul = text_.find('\0'); nul != std::string_view::npos) {
    return located("NUL character is not allowed", position_of(text_, nul));
  }
  // Most documents need fewer nodes than this; memory that stays unused is
  // never touched, so reserving generously costs little.
  nodes_.reserve(text_.size() / 8 + 16);
  arena_.reserve(text_.size() / 2);
  Session session(text_);
  if (!session.ok()) return "cannot create the YAML parser";
  ScalarReader scalars(text_, session.iter());
  scalars_ = &scalars;
  while (fy_event* ev = fy_parser_parse(session.parser())) {
    std::optional<std::string> failure = on_event(ev);
    fy_parser_event_free(session.parser(), ev);
    if (failure) return failure;
  }
  return session.finish(last_);
}

std::optional<std::string> Loader::on_event(fy_event* ev) {
  const fy_mark* mark = fy_event_start_mark(ev);
  if (mark != nullptr) last_ = position_of(mark);
  switch (ev->type) {
    case FYET_DOCUMENT_START:
      anchors_.clear();
      documents_.push_back(nodes_.size());
      return std::nullopt;
    case FYET_SCALAR:
      return scalar(ev, last_);
    case FYET_ALIAS:
      return alias(ev, last_);
    case FYET_SEQUENCE_START:
      start(ev, NodeKind::Seq);
      return std::nullopt;
    case FYET_MAPPING_START:
      start(ev, NodeKind::Map);
      return std::nullopt;
    case FYET_SEQUENCE_END:
    case FYET_MAPPING_END:
      end();
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

bool Loader::begin_child() {
  if (frames_.empty()) return false;
  Node& parent = nodes_[frames_.back().node];
  bool key = parent.kind() == NodeKind::Map && parent.a() % 2 == 0;
  parent.add_child();
  return key;
}

std::optional<std::string> Loader::check_key(std::size_t node,
                                             const Position& at) {
  const Node& key = nodes_[node];
  Frame& frame = frames_.back();
  if (key.kind() != NodeKind::Str) nodes_[frame.node].set_mixed_keys();
  if (!comparable(key)) return std::nullopt;
  std::size_t hash = key_hash(key);
  bool fresh = true;
  if (frame.table) {
    fresh = frame.table->insert(*this, node, hash);
  } else {
    for (std::size_t i = frame.keys_begin; i < keys_.size() && fresh; ++i) {
      fresh = keys_[i].hash != hash || !same_key(nodes_[keys_[i].node], key);
    }
    if (fresh) {
      keys_.push_back(KeyRef{node, hash});
      if (keys_.size() - frame.keys_begin > kLinearKeys) {
        frame.table = std::make_unique<KeyTable>();
        for (std::size_t i = frame.keys_begin; i < keys_.size(); ++i) {
          frame.table->insert(*this, keys_[i].node, keys_[i].hash);
        }
        keys_.resize(frame.keys_begin);
      }
    }
  }
  if (!fresh) return located("duplicated key in mapping", at);
  return std::nullopt;
}

std::uint64_t Loader::keep_text(std::string_view s) {
  bytes_ += s.size();
  // Plain scalars usually point straight into the input.
  if (s.data() >= text_.data() && s.data() + s.size() <= text_.data() + text_.size()) {
    return static_cast<std::uint64_t>(s.data() - text_.data());
  }
  std::uint64_t at = arena_.size() | kInArena;
  arena_.append(s);
  return at;
}

Node Loader::resolve(std::string_view s, bool plain, std::string_view tag) {
  auto text_node = [&](NodeKind kind) {
    return Node(kind, keep_text(s), s.size());
  };
  auto bool_node = [](bool b) {
    return Node(NodeKind::Bool, b ? 1 : 0);
  };
  // An int text that fits, or a decimal one beyond 64 bits as a float.
  auto int_node = [&](bool tagged) -> std::optional<Node> {
    std::int64_t v = 0;
    switch (parse_int(s, v)) {
      case IntForm::Fits: {
        return Node(NodeKind::Int, static_cast<std::uint64_t>(v));
      }
      case IntForm::DecimalOverflow:
        return text_node(NodeKind::Real);
      case IntForm::RadixOverflow:
        return tagged ? Node(NodeKind::Bad) : text_node(NodeKind::Str);
      case IntForm::None:
        break;
    }
    return std::nullopt;
  };

  if (tag.empty()) {
    if (!plain) return text_node(NodeKind::Str);
    if (is_null_text(s)) return Node(NodeKind::Null);
    if (std::optional<bool> b = bool_text(s)) return bool_node(*b);
    if (std::optional<Node> n = int_node(false)) return *n;
    if (is_float_text(s)) return text_node(NodeKind::Real);
    return text_node(NodeKind::Str);
  }
  if (tag == "!") return text_node(NodeKind::Str);
  if (!tag.starts_with(kTagPrefix)) return Node(NodeKind::Bad);
  tag.remove_prefix(kTagPrefix.size());
  if (tag == "str") return text_node(NodeKind::Str);
  if (tag == "null" && is_null_text(s)) return Node(NodeKind::Null);
  if (tag == "bool") {
    if (std::optional<bool> b = bool_text(s)) return bool_node(*b);
  }
  if (tag == "int") {
    if (std::optional<Node> n = int_node(true)) return *n;
  }
  // The float forms include the decimal ints, so !!float 3 is the float 3.
  if (tag == "float" && is_float_text(s)) return text_node(NodeKind::Real);
  return Node(NodeKind::Bad);
}

std::optional<Node> Loader::block_node(fy_token* token, std::string_view tag, bool key) {
  if (key || token == nullptr) return std::nullopt;
  enum fy_scalar_style style = fy_token_scalar_style(token);
  if (style != FYSS_LITERAL && style != FYSS_FOLDED) return std::nullopt;
  if (!tag.empty() && tag != "!" &&
      !(tag.starts_with(kTagPrefix) && tag.substr(kTagPrefix.size()) == "str")) {
    return std::nullopt;
  }
  const fy_mark* start = fy_token_start_mark(token);
  const fy_mark* end = fy_token_end_mark(token);
  if (start == nullptr || end == nullptr || start->input_pos > end->input_pos ||
      end->input_pos > text_.size()) {
    return std::nullopt;
  }
  std::optional<BlockHeader> header = block_header(text_, start->input_pos);
  if (!header || header->explicit_indent) return std::nullopt;
  std::size_t len = end->input_pos - start->input_pos;
  bytes_ += len;
  return Node::block(start->input_pos, len, style == FYSS_FOLDED, header->chomp);
}

std::optional<std::string> Loader::scalar(fy_event* ev, const Position& at) {
  std::string_view tag = token_text(ev->scalar.tag);
  fy_token* value = ev->scalar.value;
  bool key = begin_child();
  std::size_t index = nodes_.size();
  if (std::optional<Node> block = block_node(value, tag, key)) {
    nodes_.push_back(*block);
  } else {
    std::optional<std::string_view> s = scalars_->read(value);
    if (!s) return located("cannot read the scalar", at);
    bool plain = value == nullptr || fy_token_scalar_style(value) == FYSS_PLAIN;
    nodes_.push_back(resolve(*s, plain, tag));
  }
  if (fy_token* anchor = fy_event_get_anchor_token(ev)) {
    anchors_[std::string(token_text(anchor))] =
        Anchor{index, index + 1, static_cast<std::size_t>(nodes_[index].len())};
  }
  if (key) return check_key(index, at);
  return std::nullopt;
}

std::optional<std::string> Loader::alias(fy_event* ev, const Position& at) {
  bool key = begin_child();
  std::size_t index = nodes_.size();
  auto found = anchors_.find(std::string(token_text(ev->alias.anchor)));
  if (found == anchors_.end()) {
    nodes_.push_back(Node(NodeKind::Unresolved));
    return std::nullopt;
  }
  const Anchor anchor = found->second;
  std::size_t count = anchor.end - anchor.begin;
  alias_nodes_ += count;
  alias_bytes_ += anchor.bytes;
  if (alias_nodes_ > alias_node_limit_) {
    return located("aliases expand to more than " +
                       std::to_string(alias_node_limit_) + " nodes",
                   at);
  }
  if (alias_bytes_ > alias_byte_limit_) {
    return located("aliases expand to more than " +
                       std::to_string(alias_byte_limit_) + " bytes of text",
                   at);
  }
  bytes_ += anchor.bytes;
  if (nodes_.capacity() < nodes_.size() + count) {
    nodes_.reserve(std::max(nodes_.size() + count, 2 * nodes_.capacity()));
  }
  for (std::size_t i = anchor.begin; i < anchor.end; ++i) {
    nodes_.push_back(nodes_[i]);
  }
  if (key && nodes_[index].is_block()) {
    // Keys are compared by their text, so a copied block becomes a string.
    std::string t = string_of(nodes_[index]);
    nodes_[index] = Node(NodeKind::Str, keep_text(t), t.size());
  }
  if (key) return check_key(index, at);
  return std::nullopt;
}

void Loader::start(fy_event* ev, NodeKind kind) {
  std::string_view tag = token_text(fy_event_get_tag_token(ev));
  begin_child();
  Node n(kind);
  if (!tag.empty() && tag != "!") {
    std::string_view own = kind == NodeKind::Seq ? "seq" : "map";
    if (!(tag.starts_with(kTagPrefix) && tag.substr(kTagPrefix.size()) == own)) {
      n.set_bad_tag();
    }
  }
  if (fy_token* anchor = fy_event_get_anchor_token(ev)) {
    pending_.push_back(
        PendingAnchor{std::string(token_text(anchor)), frames_.size(), bytes_});
  }
  frames_.push_back(Frame{nodes_.size(), keys_.size(), nullptr});
  nodes_.push_back(n);
}

void Loader::end() {
  if (frames_.empty()) return;
  Frame& frame = frames_.back();
  keys_.resize(std::min(keys_.size(), frame.keys_begin));
  if (!pending_.empty() && pending_.back().frame == frames_.size() - 1) {
    PendingAnchor& p = pending_.back();
    anchors_[std::move(p.name)] =
        Anchor{frame.node, nodes_.size(), bytes_ - p.bytes_start};
    pending_.pop_back();
  }
  frames_.pop_back();
}

// ---------------------------------------------------------------------------
// Conversion

// Builds the Values of a loaded document in an arena. The children of each
// container are read onto scratch stacks and copied out at their exact count
// when the container is complete.
class Converter {
 public:
  Converter(const Loader& in, Arena& arena) : in_(in), arena_(arena) {}

  Result<Value, std::string> convert(std::size_t root);

 private:
  // An Array or Object being filled.
  struct Build {
    bool object = false;
    std::size_t base = 0;          // its first child on the scratch stack
    std::uint64_t remaining = 0;   // children still to come (keys and values)
    Value key;                     // the key whose value comes next
    // Whether two keys may share a text (see Node::mixed_keys()).
    bool merge = false;
    // Key positions of a large Object, for replacing repeated keys.
    std::unique_ptr<std::unordered_map<std::string_view, std::size_t>> index;
  };

  void add_member(Build& b, Value key, Value v);
  Value key_text(std::string_view text) { return Value::string(arena_, text); }
  // A Str or Real text: a view of the input, or a copy of the loader's own.
  Value string(const Node& n);

  const Loader& in_;
  Arena& arena_;
  std::vector<Build> stack_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

void Converter::add_member(Build& b, Value key, Value v) {
  std::span<Member> members = std::span(members_).subspan(b.base);
  if (b.merge) {
    if (members.size() < kLinearMembers) {
      for (Member& m : members) {
        if (m.key.text() == key.text()) {
          m.value = v;
          return;
        }
      }
    } else {
      if (!b.index) {
        b.index = std::make_unique<std::unordered_map<std::string_view, std::size_t>>();
        for (std::size_t i = 0; i < members.size(); ++i) {
          b.index->emplace(members[i].key.text(), i);
        }
      }
      auto found = b.index->find(key.text());
      if (found != b.index->end()) {
        members[found->second].value = v;
        return;
      }
      b.index->emplace(key.text(), members.size());
    }
  }
  members_.push_back(Member{key, v});
}

Value Converter::string(const Node& n) {
  if (n.is_block()) return Value::string(arena_, in_.string_of(n));
  std::string_view text = in_.text_of(n);
  if (in_.in_input(n)) return Value::string_view(arena_, text);
  return Value::string(arena_, text);
}

std::string int_text(const Node& n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, static_cast<std::int64_t>(n.a()));
  return std::string(buf, r.ptr);
}

Result<Value, std::string> Converter::convert(std::size_t root) {
  const std::vector<Node>& nodes = in_.nodes();
  for (std::size_t i = root;; ++i) {
    const Node& n = nodes[i];
    if (!stack_.empty() && stack_.back().object && stack_.back().remaining % 2 == 0) {
      Build& top = stack_.back();
      switch (n.kind()) {
        case NodeKind::Null: top.key = key_text("null"); break;
        case NodeKind::Bool: top.key = key_text(n.a() ? "true" : "false"); break;
        case NodeKind::Int: top.key = key_text(int_text(n)); break;
        case NodeKind::Real:
        case NodeKind::Str: top.key = string(n); break;
        default: return std::string("complex mapping keys are not supported");
      }
      --top.remaining;
      continue;
    }
    if (stack_.size() > kMaxDepth) {
      return std::string("nesting deeper than 512 levels");
    }
    Value v;
    switch (n.kind()) {
      case NodeKind::Null:
        break;
      case NodeKind::Bool:
        v = Value::boolean(n.a() != 0);
        break;
      case NodeKind::Int:
        v = Value::number(arena_, int_text(n));
        break;
      case NodeKind::Real: {
        std::string_view text = in_.text_of(n);
        std::optional<double> d = finite_value(text);
        v = d ? Value::number(arena_, json_number(text, *d)) : string(n);
        break;
      }
      case NodeKind::Str:
        v = string(n);
        break;
      case NodeKind::Bad:
        return std::string("invalid value");
      case NodeKind::Unresolved:
        return std::string("unresolved alias");
      case NodeKind::Seq:
      case NodeKind::Map:
        if (n.bad_tag()) return std::string("invalid value");
        if (n.a() > 0) {
          const bool object = n.kind() == NodeKind::Map;
          stack_.push_back(Build{object, object ? members_.size() : items_.size(), n.a(),
                                 Value(), n.mixed_keys(), nullptr});
          continue;
        }
        v = n.kind() == NodeKind::Seq ? Value::array() : Value::object();
        break;
    }
    // Attach the finished value, closing every container it completes.
    while (true) {
      if (stack_.empty()) return v;
      Build& top = stack_.back();
      if (top.object) {
        add_member(top, top.key, v);
      } else {
        items_.push_back(v);
      }
      if (--top.remaining > 0) break;
      if (top.object) {
        v = Value::object(arena_, std::span(members_).subspan(top.base));
        members_.resize(top.base);
      } else {
        v = Value::array(arena_, std::span(items_).subspan(top.base));
        items_.resize(top.base);
      }
      stack_.pop_back();
    }
  }
}

}  // namespace

std::string json_number(std::string_view text, double number) {
  if (is_json_number(text)) return std::string(text);
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, number, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

Result<Value, Error> parse(std::string_view text, Arena& arena) {
  auto refused = [](std::string message) { return Error{Error::InputNotYaml{std::move(message)}}; };
  // libfyaml loops forever on some malformed UTF-8, so it never sees any.
  if (!unicode::valid_utf8(text)) return refused("input is not valid UTF-8");
  if (text.empty()) return Value::null();
  Loader loader(text);
  if (std::optional<std::string> failure = loader.load()) return refused(std::move(*failure));
  const std::vector<std::size_t>& docs = loader.documents();
  if (docs.empty()) return Value::null();
  std::vector<Value> values;
  values.reserve(docs.size());
  Converter converter(loader, arena);
  for (std::size_t root : docs) {
    Result<Value, std::string> v = converter.convert(root);
    if (!v.ok()) return refused(std::move(v).error());
    values.push_back(v.value());
  }
  if (values.size() == 1) return values[0];
  return Value::array(arena, values);
}

}  // namespace quendra::yaml_in
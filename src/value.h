// The document tree shared by the readers, the writers and the pruning
// engine. Numbers keep their source text; objects keep member order and any
// repeated keys. Every Value owns its subtree; copying copies it whole.
#ifndef QUENDRA_VALUE_H_
#define QUENDRA_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quendra {

// The tag order is part of the model (0 to 5).
enum class Kind : std::uint8_t { Null, Bool, Number, String, Array, Object };

// "null", "bool", "number", "string", "array", "object".
std::string_view kind_name(Kind kind);

struct Member;

class Value {
 public:
  Value() = default;  // null

  static Value null();
  static Value boolean(bool b);
  // `text` is the number's text, written back unchanged.
  static Value number(std::string text);
  static Value string(std::string text);
  static Value array();
  static Value array(std::vector<Value> items);
  static Value object();
  static Value object(std::vector<Member> members);

  Kind kind() const { return static_cast<Kind>(payload_.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_bool() const { return kind() == Kind::Bool; }
  bool is_number() const { return kind() == Kind::Number; }
  bool is_string() const { return kind() == Kind::String; }
  bool is_array() const { return kind() == Kind::Array; }
  bool is_object() const { return kind() == Kind::Object; }
  bool is_container() const { return is_array() || is_object(); }

  // False for every kind but a true Bool.
  bool as_bool() const;
  // The text of a Number or String; empty for other kinds.
  const std::string& text() const;
  // Elements of an Array; empty for other kinds.
  const std::vector<Value>& items() const;
  // Members of an Object, in source order; empty for other kinds.
  const std::vector<Member>& members() const;
  // Mutable payloads. REQUIRES: the value is of the matching kind.
  std::string& text();
  std::vector<Value>& items();
  std::vector<Member>& members();

  // Null, "", [] or {}.
  bool is_empty() const;

  // Deep structural equality (kind, payload, order, repeated keys).
  friend bool operator==(const Value& a, const Value& b);

 private:
  // The alternative's index is the kind's tag.
  using Payload = std::variant<std::monostate, bool, std::string, std::string,
                               std::vector<Value>, std::vector<Member>>;
  explicit Value(Payload payload);

  Payload payload_;
};

struct Member {
  std::string key;
  Value value;

  friend bool operator==(const Member& a, const Member& b) {
    return a.key == b.key && a.value == b.value;
  }
};

// Defined here, where Member is complete: the variant needs every
// alternative complete wherever it is built or copied.
inline Value::Value(Payload payload) : payload_(std::move(payload)) {}
inline Value Value::null() { return Value(); }
inline Value Value::boolean(bool b) { return Value(Payload(std::in_place_index<1>, b)); }
inline Value Value::number(std::string text) {
  return Value(Payload(std::in_place_index<2>, std::move(text)));
}
inline Value Value::string(std::string text) {
  return Value(Payload(std::in_place_index<3>, std::move(text)));
}
inline bool Value::as_bool() const { return is_bool() && std::get<1>(payload_); }
inline std::string& Value::text() {
  return is_number() ? std::get<2>(payload_) : std::get<3>(payload_);
}
inline std::vector<Value>& Value::items() { return std::get<4>(payload_); }
inline std::vector<Member>& Value::members() { return std::get<5>(payload_); }
inline Value Value::array() { return array(std::vector<Value>()); }
inline Value Value::object() { return object(std::vector<Member>()); }

inline Value Value::array(std::vector<Value> items) {
  return Value(Payload(std::in_place_index<4>, std::move(items)));
}

inline Value Value::object(std::vector<Member> members) {
  return Value(Payload(std::in_place_index<5>, std::move(members)));
}

}  // namespace quendra

#endif  // QUENDRA_VALUE_H_

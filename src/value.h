// The document tree shared by the readers, the writers and the pruning
// engine. Numbers keep their source text; objects keep member order and any
// repeated keys. Every Value owns its subtree; copying copies it whole.
#ifndef QUENDRA_VALUE_H_
#define QUENDRA_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
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

  static Value null() { return Value(); }
  static Value boolean(bool b) {
    Value v(Kind::Bool);
    v.bool_ = b;
    return v;
  }
  // `text` is the number's text, written back unchanged.
  static Value number(std::string text) {
    Value v(Kind::Number);
    v.text_ = std::move(text);
    return v;
  }
  static Value string(std::string text) {
    Value v(Kind::String);
    v.text_ = std::move(text);
    return v;
  }
  static Value array(std::vector<Value> items = {});
  static Value object(std::vector<Member> members = {});

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  bool is_bool() const { return kind_ == Kind::Bool; }
  bool is_number() const { return kind_ == Kind::Number; }
  bool is_string() const { return kind_ == Kind::String; }
  bool is_array() const { return kind_ == Kind::Array; }
  bool is_object() const { return kind_ == Kind::Object; }
  bool is_container() const { return is_array() || is_object(); }

  // REQUIRES: is_bool().
  bool as_bool() const { return bool_; }
  // The text of a Number or String; empty for other kinds.
  const std::string& text() const { return text_; }
  std::string& text() { return text_; }
  // Elements of an Array; empty for other kinds.
  const std::vector<Value>& items() const { return items_; }
  std::vector<Value>& items() { return items_; }
  // Members of an Object, in source order; empty for other kinds.
  const std::vector<Member>& members() const { return members_; }
  std::vector<Member>& members() { return members_; }

  // Deep structural equality (kind, payload, order, repeated keys).
  friend bool operator==(const Value& a, const Value& b);

 private:
  explicit Value(Kind kind) : kind_(kind) {}

  Kind kind_ = Kind::Null;
  bool bool_ = false;
  std::string text_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

struct Member {
  std::string key;
  Value value;

  friend bool operator==(const Member& a, const Member& b) {
    return a.key == b.key && a.value == b.value;
  }
};

inline Value Value::array(std::vector<Value> items) {
  Value v(Kind::Array);
  v.items_ = std::move(items);
  return v;
}

inline Value Value::object(std::vector<Member> members) {
  Value v(Kind::Object);
  v.members_ = std::move(members);
  return v;
}

}  // namespace quendra

#endif  // QUENDRA_VALUE_H_

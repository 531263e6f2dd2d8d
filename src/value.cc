#include "value.h"

namespace quendra {

std::string_view kind_name(Kind kind) {
  switch (kind) {
    case Kind::Null: return "null";
    case Kind::Bool: return "bool";
    case Kind::Number: return "number";
    case Kind::String: return "string";
    case Kind::Array: return "array";
    case Kind::Object: return "object";
  }
  return "null";
}

namespace {
// Shared, never modified: what the read accessors give for other kinds.
const std::string kNoText;
const std::vector<Value> kNoItems;
const std::vector<Member> kNoMembers;
}  // namespace

const std::string& Value::text() const {
  if (payload_.index() == 2) return std::get<2>(payload_);
  if (payload_.index() == 3) return std::get<3>(payload_);
  return kNoText;
}

const std::vector<Value>& Value::items() const {
  const auto* items = std::get_if<4>(&payload_);
  return items ? *items : kNoItems;
}

const std::vector<Member>& Value::members() const {
  const auto* members = std::get_if<5>(&payload_);
  return members ? *members : kNoMembers;
}

bool Value::is_empty() const {
  switch (kind()) {
    case Kind::Null: return true;
    case Kind::String: return text().empty();
    case Kind::Array: return items().empty();
    case Kind::Object: return members().empty();
    default: return false;
  }
}

bool operator==(const Value& a, const Value& b) { return a.payload_ == b.payload_; }

}  // namespace quendra

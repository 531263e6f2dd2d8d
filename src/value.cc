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

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Kind::Null: return true;
    case Kind::Bool: return a.bool_ == b.bool_;
    case Kind::Number:
    case Kind::String: return a.text_ == b.text_;
    case Kind::Array: return a.items_ == b.items_;
    case Kind::Object: return a.members_ == b.members_;
  }
  return false;
}

}  // namespace quendra

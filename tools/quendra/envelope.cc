// The library boundary and the reading of its envelopes.

#include "envelope.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <cstdio>

#include "io.h"
#include "quendra.h"

namespace quendra_cli {
namespace {

// Envelope numbers are read as their text: a score of 0.750 stays 0.750.
constexpr unsigned kReadFlags = rapidjson::kParseNumbersAsStringsFlag;

// The one place where a message is read for its kind: by the fixed prefix
// the library begins it with. What follows a prefix is not looked at.
LibraryError classify_error(std::string message) {
  struct Prefix {
    std::string_view text;
    ErrorKind kind;
  };
  static constexpr Prefix kPrefixes[] = {
      {"input is not valid UTF-8", ErrorKind::InputNotUtf8},
      {"options are not valid UTF-8", ErrorKind::OptionsNotUtf8},
      {"invalid options JSON: ", ErrorKind::OptionsNotJson},
      {"invalid options: ", ErrorKind::OptionsInvalid},
      {"invalid JSON input: ", ErrorKind::InputNotJson},
      {"invalid YAML input: ", ErrorKind::InputNotYaml},
      {"output too large to render", ErrorKind::OutputTooLarge},
      {"internal error (panic) in quendra", ErrorKind::Internal},
  };
  LibraryError error;
  for (const Prefix& p : kPrefixes) {
    if (message.starts_with(p.text)) {
      error.kind = p.kind;
      error.detail_at = p.text.size();
      break;
    }
  }
  error.message = std::move(message);
  return error;
}

// The events of an envelope, as RapidJSON's reader hands them out, sorted
// into the members that read_members looks for. Returning false stops the
// reader: once every wanted member is found, the rest is not read.
class MemberHandler : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, MemberHandler> {
 public:
  MemberHandler(unsigned wanted, std::string* text) : wanted_(wanted), text_(text) {}

  bool Default() { return true; }
  bool StartObject() { return enter(); }
  bool EndObject(rapidjson::SizeType) { return leave(); }
  bool StartArray() { return enter(); }
  bool EndArray(rapidjson::SizeType) { return leave(); }

  bool Key(const char* str, rapidjson::SizeType length, bool) {
    std::string_view key(str, length);
    if (depth_ == 1) {
      top_ = Top::Other;
      if (key == "text") top_ = Top::Text;
      if (key == "report") top_ = Top::Report;
      if (key == "error") top_ = Top::Error;
    }
    at_fits_ = depth_ == 2 && top_ == Top::Report && key == "fits";
    return true;
  }

  bool String(const char* str, rapidjson::SizeType length, bool) {
    if (depth_ != 1) return true;
    if (top_ == Top::Text && (wanted_ & kWantText) != 0 && !members_.has_text) {
      text_->append(str, length);
      members_.has_text = true;
      found_ |= kWantText;
    } else if (top_ == Top::Error && (wanted_ & kWantError) != 0 && !members_.error) {
      members_.error.emplace(str, length);
      found_ |= kWantError;
    }
    return found_ != wanted_;
  }

  bool Bool(bool value) {
    if (!at_fits_ || depth_ != 2 || (wanted_ & kWantFits) == 0 || members_.fits) return true;
    members_.fits = value;
    found_ |= kWantFits;
    return found_ != wanted_;
  }

  EnvelopeMembers& members() { return members_; }

 private:
  bool enter() {
    ++depth_;
    return true;
  }
  bool leave() {
    --depth_;
    return true;
  }

  enum class Top { Other, Text, Report, Error };

  const unsigned wanted_;
  std::string* const text_;
  unsigned found_ = 0;
  int depth_ = 0;
  Top top_ = Top::Other;
  bool at_fits_ = false;
  EnvelopeMembers members_;
};

}  // namespace

Envelope::Envelope(std::string_view input, std::string_view options) {
  data_ = quendra_shrink(reinterpret_cast<const std::uint8_t*>(input.data()), input.size(),
                         reinterpret_cast<const std::uint8_t*>(options.data()), options.size(),
                         &size_);
}

Envelope::~Envelope() { quendra_free(data_, size_); }

LibraryError envelope_error(std::string_view envelope) {
  std::optional<std::string> error = read_members(envelope, kWantError).error;
  if (!error) {
    LibraryError unknown;
    unknown.message = std::string(envelope);
    return unknown;
  }
  return classify_error(std::move(*error));
}

int print_error(std::string_view envelope) {
  std::fprintf(stderr, "quendra: %s\n", envelope_error(envelope).message.c_str());
  return kExitError;
}

EnvelopeMembers read_members(std::string_view envelope, unsigned wanted, std::string* text) {
  // A reader keeps the buffer it decodes strings into from one envelope to
  // the next: batch mode reads one envelope per line on every thread.
  thread_local rapidjson::Reader reader;
  MemberHandler handler(wanted, text);
  rapidjson::MemoryStream stream(envelope.data(), envelope.size());
  const std::size_t text_size = text != nullptr ? text->size() : 0;
  rapidjson::ParseResult read = reader.Parse<kReadFlags>(stream, handler);
  if (read.IsError() && read.Code() != rapidjson::kParseErrorTermination) {
    // Not JSON after all: nothing of it counts.
    if (text != nullptr) text->resize(text_size);
    return {};
  }
  return std::move(handler.members());
}

bool read_tree(std::string_view text, rapidjson::Document& tree) {
  tree.Parse<kReadFlags>(text.data(), text.size());
  return !tree.HasParseError();
}

const rapidjson::Value* member(const rapidjson::Value& object, std::string_view key) {
  if (!object.IsObject()) return nullptr;
  auto found = object.FindMember(
      rapidjson::Value(rapidjson::StringRef(key.data(), static_cast<rapidjson::SizeType>(key.size()))));
  return found == object.MemberEnd() ? nullptr : &found->value;
}

std::string_view text_of(const rapidjson::Value& object, std::string_view key,
                         std::string_view otherwise) {
  const rapidjson::Value* value = member(object, key);
  if (value == nullptr || !value->IsString()) return otherwise;
  return {value->GetString(), value->GetStringLength()};
}

bool flag_of(const rapidjson::Value& object, std::string_view key) {
  const rapidjson::Value* value = member(object, key);
  return value != nullptr && value->IsTrue();
}

}  // namespace quendra_cli

// Writing the options object.

#include "options.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "envelope.h"

namespace quendra_cli {
namespace {

using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

// Numbers are read as their text, and copied as they were written.
constexpr unsigned kReadFlags = rapidjson::kParseNumbersAsStringsFlag;

rapidjson::SizeType size_of(std::string_view text) {
  return static_cast<rapidjson::SizeType>(text.size());
}

// Whether `text` is a JSON number and nothing else, not even white space.
bool is_json_number(std::string_view text) {
  struct OnlyNumber : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, OnlyNumber> {
    std::size_t length = 0;
    bool Default() { return false; }
    bool RawNumber(const char*, rapidjson::SizeType n, bool) {
      length = n;
      return true;
    }
  } number;
  rapidjson::MemoryStream stream(text.data(), text.size());
  rapidjson::Reader reader;
  return !reader.Parse<kReadFlags>(stream, number).IsError() && number.length == text.size();
}

// Hands the members of a JSON object on to a writer that is inside an object
// of its own: everything but the object's own braces. A text whose value is
// not an object stops the reader at once, before anything is written.
class MemberCopy : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, MemberCopy> {
 public:
  explicit MemberCopy(Writer& writer) : writer_(writer) {}

  bool not_object() const { return not_object_; }

  bool Default() { return false; }
  bool Null() { return in_root() && writer_.Null(); }
  bool Bool(bool b) { return in_root() && writer_.Bool(b); }
  bool RawNumber(const char* str, rapidjson::SizeType length, bool) {
    return in_root() && writer_.RawValue(str, length, rapidjson::kNumberType);
  }
  bool String(const char* str, rapidjson::SizeType length, bool) {
    return in_root() && writer_.String(str, length);
  }
  bool Key(const char* str, rapidjson::SizeType length, bool) { return writer_.Key(str, length); }
  bool StartObject() { return depth_++ == 0 || writer_.StartObject(); }
  bool EndObject(rapidjson::SizeType) { return --depth_ == 0 || writer_.EndObject(); }
  bool StartArray() {
    if (!in_root()) return false;
    ++depth_;
    return writer_.StartArray();
  }
  bool EndArray(rapidjson::SizeType) {
    --depth_;
    return writer_.EndArray();
  }

 private:
  // Whether a value stands inside the root object; one outside it means the
  // root is not an object.
  bool in_root() {
    not_object_ = depth_ == 0;
    return !not_object_;
  }

  Writer& writer_;
  int depth_ = 0;
  bool not_object_ = false;
};

// Writes the members of the --options text `text`. The library reads the
// text alone first: a text that is not UTF-8, not JSON or not an object is
// refused with its answer, so that the message and its positions refer to
// the text as the user wrote it. A bad value in a good object is not refused
// here: a later flag may override it.
std::optional<OptionsRefused> copy_members(const std::string& text, Writer& writer) {
  Envelope check(kProbeDocument, text);
  if (!check.ok()) {
    ErrorKind kind = envelope_error(check.text()).kind;
    if (kind == ErrorKind::OptionsNotUtf8 || kind == ErrorKind::OptionsNotJson) {
      return OptionsRefused{std::string(check.text()), {}};
    }
  }
  MemberCopy copy(writer);
  rapidjson::MemoryStream bytes(text.data(), text.size());
  // Skips a byte-order mark, as the library does.
  rapidjson::EncodedInputStream<rapidjson::UTF8<>, rapidjson::MemoryStream> stream(bytes);
  rapidjson::Reader reader;
  rapidjson::ParseResult read =
      reader.Parse<kReadFlags | rapidjson::kParseIterativeFlag>(stream, copy);
  if (copy.not_object()) return OptionsRefused{std::string(check.text()), {}};
  if (read.IsError()) {
    // JSON that the library reads and RapidJSON does not: a number beyond the
    // range of a double, a lone UTF-16 surrogate escape.
    return OptionsRefused{{},
                          "cannot read the JSON of --options at byte " +
                              std::to_string(read.Offset()) + ": " +
                              rapidjson::GetParseError_En(read.Code())};
  }
  return std::nullopt;
}

// Whether a setting of the list option `key` stands in `settings` after `i`.
bool listed_later(const std::vector<Setting>& settings, std::size_t i) {
  for (std::size_t j = i + 1; j < settings.size(); ++j) {
    if (settings[j].flag->kind == Kind::List && settings[j].flag->key == settings[i].flag->key) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<OptionsRefused> write_options(const Command& cmd, const std::vector<Preset>& before,
                                            const std::vector<Preset>& after, std::string& out) {
  std::vector<Setting> settings;
  for (const Preset& p : before) settings.push_back({option_flag(p.key), std::string(p.value)});
  settings.insert(settings.end(), cmd.settings.begin(), cmd.settings.end());
  for (const Preset& p : after) settings.push_back({option_flag(p.key), std::string(p.value)});

  rapidjson::StringBuffer buffer;
  Writer writer(buffer);
  writer.StartObject();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const Flag& flag = *settings[i].flag;
    const std::string& value = settings[i].value;
    if (flag.kind == Kind::Options) {
      if (std::optional<OptionsRefused> refused = copy_members(value, writer)) return refused;
      continue;
    }
    // A list stands where the last of its flags stands.
    if (flag.kind == Kind::List && listed_later(settings, i)) continue;
    writer.Key(flag.key.data(), size_of(flag.key));
    switch (flag.kind) {
      case Kind::Number:
      case Kind::Tokens:
        // Anything else goes as a string, for the library to refuse with its
        // own message.
        if (is_json_number(value)) {
          writer.RawValue(value.data(), value.size(), rapidjson::kNumberType);
        } else {
          writer.String(value.data(), size_of(value));
        }
        if (flag.kind == Kind::Tokens) {
          writer.Key("budget_unit");
          writer.String("tokens");
        }
        break;
      case Kind::Boolean: writer.Bool(value == "true"); break;
      case Kind::List:
        writer.StartArray();
        for (const Setting& s : settings) {
          if (s.flag->kind == Kind::List && s.flag->key == flag.key) {
            writer.String(s.value.data(), size_of(s.value));
          }
        }
        writer.EndArray();
        break;
      default: writer.String(value.data(), size_of(value)); break;
    }
  }
  writer.EndObject();
  out.assign(buffer.GetString(), buffer.GetSize());
  return std::nullopt;
}

std::string unit_words(std::string_view options) {
  std::string unit = "chars";
  rapidjson::Document tree;
  if (read_tree(options, tree) && tree.IsObject()) {
    for (auto m = tree.MemberBegin(); m != tree.MemberEnd(); ++m) {
      std::string_view key(m->name.GetString(), m->name.GetStringLength());
      if (key != "budget_unit" || !m->value.IsString()) continue;
      unit.assign(m->value.GetString(), m->value.GetStringLength());
      for (char& c : unit) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
  }
  if (unit == "bytes") return "bytes";
  if (unit == "utf16") return "UTF-16 code units";
  if (unit == "tokens") return "tokens";
  return "characters";
}

}  // namespace quendra_cli

// The Node.js addon: hands a document and an options text to the library's C
// interface and returns the envelope text, either at once on the calling
// thread (shrink) or through a Promise whose library call runs on the libuv
// thread pool (shrinkAsync). index.js writes the options and reads the
// envelope; this file only moves bytes across.
#include <napi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "quendra.h"

namespace {

const std::uint8_t* bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// An envelope returned by quendra_shrink, given back to the library when
// destroyed.
class Envelope {
 public:
  Envelope() = default;
  Envelope(const Envelope&) = delete;
  Envelope& operator=(const Envelope&) = delete;
  ~Envelope() { quendra_free(data_, length_); }

  // Shrinks `input` under `options`, replacing any earlier envelope.
  void shrink(const std::uint8_t* input, std::size_t input_len, const std::string& options) {
    quendra_free(data_, length_);
    data_ = quendra_shrink(input, input_len, bytes(options), options.size(), &length_);
  }

  Napi::String to_js(Napi::Env env) const {
    return Napi::String::New(env, reinterpret_cast<const char*>(data_), length_);
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t length_ = 0;
};

bool is_bytes(const Napi::Value& value) {
  return value.IsTypedArray() &&
         value.As<Napi::TypedArray>().TypedArrayType() == napi_uint8_array;
}

// Checks the arguments (document: string or Uint8Array, options: string) and
// reads the options text. Throws a TypeError and returns false when they are
// wrong.
bool read_arguments(const Napi::CallbackInfo& info, std::string& options) {
  if (info.Length() < 2 || !(info[0].IsString() || is_bytes(info[0]))) {
    Napi::TypeError::New(info.Env(), "document must be a string or a Uint8Array")
        .ThrowAsJavaScriptException();
    return false;
  }
  if (!info[1].IsString()) {
    Napi::TypeError::New(info.Env(), "options must be a JSON text").ThrowAsJavaScriptException();
    return false;
  }
  options = info[1].As<Napi::String>().Utf8Value();
  return true;
}

// shrink(document, optionsText): the envelope text, computed on this thread.
// A Uint8Array is read in place: nothing else runs during the call.
Napi::Value shrink(const Napi::CallbackInfo& info) {
  std::string options;
  if (!read_arguments(info, options)) return info.Env().Undefined();
  Envelope envelope;
  if (info[0].IsString()) {
    std::string document = info[0].As<Napi::String>().Utf8Value();
    envelope.shrink(bytes(document), document.size(), options);
  } else {
    auto document = info[0].As<Napi::Uint8Array>();
    envelope.shrink(document.Data(), document.ByteLength(), options);
  }
  return envelope.to_js(info.Env());
}

// One shrinkAsync call. It owns copies of the document and the options, so
// the caller may change its buffer while the call runs; Execute runs on a
// thread of the libuv pool and touches nothing of JavaScript's.
class ShrinkWorker : public Napi::AsyncWorker {
 public:
  ShrinkWorker(Napi::Env env, std::string document, std::string options)
      : Napi::AsyncWorker(env, "quendra.shrinkAsync"),
        deferred_(Napi::Promise::Deferred::New(env)),
        document_(std::move(document)),
        options_(std::move(options)) {}

  Napi::Promise promise() const { return deferred_.Promise(); }

 protected:
  void Execute() override { envelope_.shrink(bytes(document_), document_.size(), options_); }
  void OnOK() override { deferred_.Resolve(envelope_.to_js(Env())); }
  void OnError(const Napi::Error& error) override { deferred_.Reject(error.Value()); }

 private:
  Napi::Promise::Deferred deferred_;
  std::string document_;
  std::string options_;
  Envelope envelope_;
};

// shrinkAsync(document, optionsText): a Promise of the envelope text.
Napi::Value shrink_async(const Napi::CallbackInfo& info) {
  std::string options;
  if (!read_arguments(info, options)) return info.Env().Undefined();
  std::string document;
  if (info[0].IsString()) {
    document = info[0].As<Napi::String>().Utf8Value();
  } else {
    auto bytes = info[0].As<Napi::Uint8Array>();
    document.assign(reinterpret_cast<const char*>(bytes.Data()), bytes.ByteLength());
  }
  auto* worker = new ShrinkWorker(info.Env(), std::move(document), std::move(options));
  Napi::Promise promise = worker->promise();
  worker->Queue();  // the worker deletes itself once settled
  return promise;
}

Napi::Object init(Napi::Env env, Napi::Object exports) {
  exports.Set("shrink", Napi::Function::New(env, shrink, "shrink"));
  exports.Set("shrinkAsync", Napi::Function::New(env, shrink_async, "shrinkAsync"));
  exports.Set("version", Napi::String::New(env, quendra_version()));
  return exports;
}

}  // namespace

NODE_API_MODULE(quendra, init)

// The Node.js addon: hands a document and an options text to the library's C
// interface and returns the envelope text, either at once on the calling
// thread (shrink) or through a Promise whose library call runs on the libuv
// thread pool (shrinkAsync). A token counter, a JavaScript function, is
// called on the JavaScript thread: directly by shrink, and through a
// thread-safe function by shrinkAsync, whose pool thread waits for each
// count. index.js writes the options, checks the counter's answers and reads
// the envelope; this file only moves bytes and calls across.
#include <napi.h>

#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "quendra.h"

namespace {

const std::uint8_t* bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// A count as the library takes it: a whole number from 0 up to 2^53 - 1, or
// SIZE_MAX for anything else (a failed count).
std::size_t to_count(const Napi::Value& value) {
  if (!value.IsNumber()) return SIZE_MAX;
  const double n = value.As<Napi::Number>().DoubleValue();
  if (!(n >= 0 && n <= 9007199254740991.0) || std::floor(n) != n) return SIZE_MAX;
  return static_cast<std::size_t>(n);
}

// What a counter threw, whatever it is (a thrown value need not be an
// object), kept alive past the call that caught it.
class Thrown {
 public:
  bool empty() const { return holder_.IsEmpty(); }

  // Takes the pending exception of `env`.
  void take(Napi::Env env) {
    napi_value value;
    napi_get_and_clear_last_exception(env, &value);
    Napi::Object holder = Napi::Object::New(env);
    holder.Set("thrown", value);
    holder_ = Napi::Persistent(holder);
  }

  Napi::Value value() const { return holder_.Value().Get("thrown"); }

 private:
  Napi::ObjectReference holder_;
};

// Calls `count` with `text` on the JavaScript thread. Returns the count, or
// SIZE_MAX after keeping what the function threw in `thrown`.
std::size_t call_counter(Napi::Env env, const Napi::Function& count, const std::uint8_t* text,
                         std::size_t len, Thrown& thrown) {
  Napi::HandleScope scope(env);
  Napi::Value n = count.Call({Napi::String::New(env, reinterpret_cast<const char*>(text), len)});
  if (env.IsExceptionPending()) {
    thrown.take(env);
    return SIZE_MAX;
  }
  return to_count(n);
}

// An envelope returned by the library, given back to it when destroyed.
class Envelope {
 public:
  Envelope() = default;
  Envelope(const Envelope&) = delete;
  Envelope& operator=(const Envelope&) = delete;
  ~Envelope() { quendra_free(data_, length_); }

  // Shrinks `input` under `options`, replacing any earlier envelope; texts
  // measured in tokens are counted by `counter` with `context`.
  void shrink(const std::uint8_t* input, std::size_t input_len, const std::string& options,
              quendra_counter counter = nullptr, void* context = nullptr) {
    quendra_free(data_, length_);
    data_ = quendra_shrink_with_counter(input, input_len, bytes(options), options.size(), counter,
                                        context, &length_);
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

// Checks the arguments (document: string or Uint8Array, options: string,
// then an optional counting function) and reads the options text. Throws a
// TypeError and returns false when they are wrong.
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
  if (info.Length() > 2 && !info[2].IsUndefined() && !info[2].IsFunction()) {
    Napi::TypeError::New(info.Env(), "the token counter must be a function").ThrowAsJavaScriptException();
    return false;
  }
  options = info[1].As<Napi::String>().Utf8Value();
  return true;
}

// The counter of a shrink on the JavaScript thread: the function, and what
// it threw.
struct DirectCounter {
  Napi::Env env;
  Napi::Function count;
  Thrown error;

  static std::size_t call(const std::uint8_t* text, std::size_t len, void* context) {
    auto* self = static_cast<DirectCounter*>(context);
    return call_counter(self->env, self->count, text, len, self->error);
  }
};

// shrink(document, optionsText[, countTokens]): the envelope text, computed
// on this thread; what countTokens throws is thrown. A Uint8Array is read in
// place: nothing else runs during the call but the counter, which index.js
// gives no access to the document.
Napi::Value shrink(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  std::string options;
  if (!read_arguments(info, options)) return env.Undefined();
  DirectCounter counter{env, info.Length() > 2 && info[2].IsFunction() ? info[2].As<Napi::Function>()
                                                                        : Napi::Function(), {}};
  quendra_counter count = counter.count.IsEmpty() ? nullptr : DirectCounter::call;
  Envelope envelope;
  if (info[0].IsString()) {
    std::string document = info[0].As<Napi::String>().Utf8Value();
    envelope.shrink(bytes(document), document.size(), options, count, &counter);
  } else {
    auto document = info[0].As<Napi::Uint8Array>();
    envelope.shrink(document.Data(), document.ByteLength(), options, count, &counter);
  }
  if (!counter.error.empty()) {
    napi_throw(env, counter.error.value());  // the very value the counter threw
    return env.Undefined();
  }
  return envelope.to_js(env);
}

class ShrinkWorker;

// One text that a pool thread asks the JavaScript thread to count.
struct CountRequest {
  const std::uint8_t* text;
  std::size_t len;
  std::size_t count = SIZE_MAX;
  bool done = false;
};

void count_on_js_thread(Napi::Env env, Napi::Function count, ShrinkWorker* worker,
                        CountRequest* request);

using CountFunction = Napi::TypedThreadSafeFunction<ShrinkWorker, CountRequest, count_on_js_thread>;

// One shrinkAsync call. It owns copies of the document and the options, so
// the caller may change its buffer while the call runs; Execute runs on a
// thread of the libuv pool and touches nothing of JavaScript's. With a
// counter, each count is handed to the JavaScript thread through a
// thread-safe function, and the pool thread waits for the answer.
class ShrinkWorker : public Napi::AsyncWorker {
 public:
  ShrinkWorker(Napi::Env env, std::string document, std::string options)
      : Napi::AsyncWorker(env, "quendra.shrinkAsync"),
        deferred_(Napi::Promise::Deferred::New(env)),
        document_(std::move(document)),
        options_(std::move(options)) {}

  Napi::Promise promise() const { return deferred_.Promise(); }

  // Counts through `count` from now on. REQUIRES: before Queue().
  void count_with(Napi::Env env, Napi::Function count) {
    counter_ = CountFunction::New(env, count, "quendra.countTokens", 0, 1, this);
    counting_ = true;
  }

  // On the JavaScript thread: counts one text, or fails it when the
  // environment is going away (`env` is then null).
  void answer(Napi::Env env, Napi::Function count, CountRequest& request) {
    std::size_t n = SIZE_MAX;
    if (env != nullptr && !count.IsEmpty() && error_.empty()) {
      n = call_counter(env, count, request.text, request.len, error_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    request.count = n;
    request.done = true;
    answered_.notify_all();
  }

 protected:
  void Execute() override {
    if (counting_) {
      envelope_.shrink(bytes(document_), document_.size(), options_, count_from_pool, this);
      counter_.Release();
    } else {
      envelope_.shrink(bytes(document_), document_.size(), options_);
    }
  }
  void OnOK() override {
    if (!error_.empty()) {
      deferred_.Reject(error_.value());
    } else {
      deferred_.Resolve(envelope_.to_js(Env()));
    }
  }
  void OnError(const Napi::Error& error) override { deferred_.Reject(error.Value()); }

 private:
  // The library's counter on the pool thread: waits for the JavaScript
  // thread's count. A call that cannot be queued (the environment is
  // closing) is a failed count.
  static std::size_t count_from_pool(const std::uint8_t* text, std::size_t len, void* context) {
    auto* self = static_cast<ShrinkWorker*>(context);
    CountRequest request{text, len};
    if (self->counter_.BlockingCall(&request) != napi_ok) return SIZE_MAX;
    std::unique_lock<std::mutex> lock(self->mutex_);
    self->answered_.wait(lock, [&] { return request.done; });
    return request.count;
  }

  Napi::Promise::Deferred deferred_;
  std::string document_;
  std::string options_;
  Envelope envelope_;
  bool counting_ = false;
  CountFunction counter_;
  std::mutex mutex_;
  std::condition_variable answered_;
  Thrown error_;  // what the counter threw; JavaScript thread only
};

void count_on_js_thread(Napi::Env env, Napi::Function count, ShrinkWorker* worker,
                        CountRequest* request) {
  worker->answer(env, count, *request);
}

// shrinkAsync(document, optionsText[, countTokens]): a Promise of the
// envelope text, rejected with what countTokens threw.
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
  if (info.Length() > 2 && info[2].IsFunction()) worker->count_with(info.Env(), info[2].As<Napi::Function>());
  Napi::Promise promise = worker->promise();
  worker->Queue();  // the worker deletes itself once settled
  return promise;
}

// tokenCount(text, tokenizer): the tokens of a string or of UTF-8 bytes (read
// in place) in the encoding named `tokenizer`; -1 when no encoding has that
// name, -2 when the bytes are not UTF-8. index.js checks the arguments.
Napi::Value token_count(const Napi::CallbackInfo& info) {
  Napi::Env env = info.Env();
  const std::string name = info[1].As<Napi::String>().Utf8Value();
  // The empty text counts in every known encoding, and in no other.
  if (quendra_count_tokens(nullptr, 0, bytes(name), name.size()) == SIZE_MAX) return Napi::Number::New(env, -1);
  std::size_t n;
  if (info[0].IsString()) {
    const std::string text = info[0].As<Napi::String>().Utf8Value();
    n = quendra_count_tokens(bytes(text), text.size(), bytes(name), name.size());
  } else {
    auto text = info[0].As<Napi::Uint8Array>();
    n = quendra_count_tokens(text.Data(), text.ByteLength(), bytes(name), name.size());
  }
  return Napi::Number::New(env, n == SIZE_MAX ? -2.0 : static_cast<double>(n));
}

Napi::Object init(Napi::Env env, Napi::Object exports) {
  exports.Set("shrink", Napi::Function::New(env, shrink, "shrink"));
  exports.Set("shrinkAsync", Napi::Function::New(env, shrink_async, "shrinkAsync"));
  exports.Set("tokenCount", Napi::Function::New(env, token_count, "tokenCount"));
  exports.Set("version", Napi::String::New(env, quendra_version()));
  return exports;
}

}  // namespace

NODE_API_MODULE(quendra, init)

// The Node.js addon: hands a document and an options text to the library's C
// interface and returns the envelope text, either at once on the calling
// thread (shrink) or through a Promise (shrinkAsync), whose library call
// runs on the libuv thread pool, or, with a token counter, on a thread of
// its own. A token counter, a JavaScript function, is called on the
// JavaScript thread: directly by shrink, and through a thread-safe function
// by shrinkAsync, whose thread waits for each count, which may be a Promise. index.js writes the options, checks the counter's answers and reads
// the envelope; this file only moves bytes and calls across.
#include <napi.h>

#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "quendra.h"

namespace {

const std::uint8_t* bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// A count as the library takes it: a whole number from 0 up to 2^53 - 1, or
// SIZE_MAX for anything else (a failed count).
std::size_t to_count(napi_env env, napi_value value) {
  napi_valuetype type;
  double n;
  if (napi_typeof(env, value, &type) != napi_ok || type != napi_number ||
      napi_get_value_double(env, value, &n) != napi_ok) {
    return SIZE_MAX;
  }
  if (!(n >= 0 && n <= 9007199254740991.0) || std::floor(n) != n) return SIZE_MAX;
  return static_cast<std::size_t>(n);
}

// The calls into JavaScript below that may fail go through the C interface
// and fail quietly: node-addon-api, without C++ exceptions, ends the process
// when it cannot make the error of a failed call, as while a worker is
// being terminated.

// What a counter threw or rejected with, whatever it is (a thrown value
// need not be an object), kept alive past the call that caught it.
class Thrown {
 public:
  Thrown() = default;
  Thrown(const Thrown&) = delete;
  Thrown& operator=(const Thrown&) = delete;
  ~Thrown() {
    if (holder_ != nullptr) napi_delete_reference(env_, holder_);
  }

  bool empty() const { return holder_ == nullptr; }

  // Takes the pending exception of `env`, if any.
  void take(napi_env env) {
    bool pending = false;
    napi_value value;
    if (napi_is_exception_pending(env, &pending) == napi_ok && pending &&
        napi_get_and_clear_last_exception(env, &value) == napi_ok) {
      keep(env, value);
    }
  }

  // Keeps `value` unless a value is kept already.
  void keep(napi_env env, napi_value value) {
    napi_value holder;
    if (holder_ != nullptr || napi_create_object(env, &holder) != napi_ok ||
        napi_set_named_property(env, holder, "thrown", value) != napi_ok) {
      return;
    }
    if (napi_create_reference(env, holder, 1, &holder_) == napi_ok) env_ = env;
  }

  // The value, or nullptr.
  napi_value value(napi_env env) const {
    napi_value holder, value;
    if (napi_get_reference_value(env, holder_, &holder) != napi_ok ||
        napi_get_named_property(env, holder, "thrown", &value) != napi_ok) {
      return nullptr;
    }
    return value;
  }

 private:
  napi_env env_ = nullptr;
  napi_ref holder_ = nullptr;
};

// Calls `count` with `text` on the JavaScript thread. Returns true with what
// it returned in `result`, or false after keeping what it threw (if
// anything) in `thrown`.
bool call_counter(napi_env env, napi_value count, const std::uint8_t* text, std::size_t len,
                  Thrown& thrown, napi_value* result) {
  napi_value receiver, argument;
  if (napi_get_undefined(env, &receiver) != napi_ok ||
      napi_create_string_utf8(env, reinterpret_cast<const char*>(text), len, &argument) != napi_ok ||
      napi_call_function(env, receiver, count, 1, &argument, result) != napi_ok) {
    thrown.take(env);
    return false;
  }
  return true;
}

// A count as the library takes it, from what `count` returned or
// SIZE_MAX.
std::size_t count_with(napi_env env, napi_value count, const std::uint8_t* text, std::size_t len,
                       Thrown& thrown) {
  Napi::HandleScope scope(env);
  napi_value n;
  return call_counter(env, count, text, len, thrown, &n) ? to_count(env, n) : SIZE_MAX;
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

  // The text, or nullptr.
  napi_value to_js_quietly(napi_env env) const {
    napi_value text;
    return napi_create_string_utf8(env, reinterpret_cast<const char*>(data_), length_, &text) == napi_ok
               ? text
               : nullptr;
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
    return count_with(self->env, self->count, text, len, self->error);
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
    napi_throw(env, counter.error.value(env));  // the very value the counter threw
    return env.Undefined();
  }
  return envelope.to_js(env);
}

// One shrinkAsync call without a counter. It owns copies of the document
// and the options, so the caller may change its buffer while the call runs;
// Execute runs on a thread of the libuv pool and touches nothing of
// JavaScript's.
class ShrinkWorker : public Napi::AsyncWorker {
 public:
  ShrinkWorker(Napi::Env env, napi_deferred deferred, std::string document, std::string options)
      : Napi::AsyncWorker(env, "quendra.shrinkAsync"),
        deferred_(deferred),
        document_(std::move(document)),
        options_(std::move(options)) {}

 protected:
  void Execute() override { envelope_.shrink(bytes(document_), document_.size(), options_); }
  // Through the C interface, which may fail (a worker being terminated).
  void OnOK() override { napi_resolve_deferred(Env(), deferred_, envelope_.to_js_quietly(Env())); }
  void OnError(const Napi::Error&) override {}  // Execute sets no error

 private:
  napi_deferred deferred_;
  std::string document_;
  std::string options_;
  Envelope envelope_;
};

class CountingShrink;

// What the shrink's thread asks of the JavaScript thread: a count
// (`request` is the call's pending text) or, with nullptr, to settle.
struct CountRequest {
  const std::uint8_t* text = nullptr;
  std::size_t len = 0;
  std::size_t count = SIZE_MAX;
  bool done = false;
};

void on_js_thread(Napi::Env env, Napi::Function count, CountingShrink* call, CountRequest* request);

using CallJs = Napi::TypedThreadSafeFunction<CountingShrink, CountRequest, on_js_thread>;

// One shrinkAsync call with a counter. The library runs on a thread of the
// call's own, not on the libuv pool, so that no pool thread is held while a
// count is pending (the counter may itself need the pool). Each count is
// handed to the JavaScript thread through a thread-safe function; the
// counter answers a number, or a Promise (index.js makes any thenable a
// native Promise) whose settling answers later. The thread waits for the
// answer. When done it asks the JavaScript thread to join it and settle.
//
// Lifetime: the object is deleted by the thread-safe function's finalizer,
// on the JavaScript thread, after the thread is joined: after the call
// settles, or when the environment closes. An environment cleanup hook
// fails the pending count and every later one (`closing_`) and joins the
// thread, so that neither a worker's teardown nor the end of the process
// waits for a count that can no longer come.
class CountingShrink {
 public:
  // Starts the call; returns its Promise.
  static Napi::Value start(Napi::Env env, std::string document, std::string options,
                           Napi::Function count) {
    napi_value promise;
    napi_deferred deferred;
    NAPI_THROW_IF_FAILED(env, napi_create_promise(env, &deferred, &promise), Napi::Value());
    auto* self = new CountingShrink(deferred, std::move(document), std::move(options));
    self->call_js_ = CallJs::New(env, count, "quendra.countTokens", 0, 1, self, finalize,
                                 static_cast<void*>(nullptr));
    if (env.IsExceptionPending()) {  // no thread-safe function: nothing started
      napi_value error;
      napi_get_and_clear_last_exception(env, &error);
      napi_reject_deferred(env, self->deferred_, error);
      delete self;
      return Napi::Value(env, promise);
    }
    napi_add_env_cleanup_hook(env, cleanup, self);
    self->hooked_ = true;
    self->thread_ = std::thread([self] { self->run(); });
    return Napi::Value(env, promise);
  }

  // On the JavaScript thread: serves a request of the thread.
  void serve(Napi::Env env, Napi::Function count, CountRequest* request) {
    if (closing_) return;  // the thread no longer waits; `request` may be stale
    Napi::HandleScope scope(env);
    if (request == nullptr) {
      settle(env);
      return;
    }
    napi_value n;
    if (!error_.empty() || count.IsEmpty() ||
        !call_counter(env, count, request->text, request->len, error_, &n)) {
      answer(SIZE_MAX);
      return;
    }
    bool promise = false;
    if (napi_is_promise(env, n, &promise) != napi_ok || !promise) {
      answer(to_count(env, n));
      return;
    }
    // The loop need not stay alive for the thread while the Promise is
    // pending: what will settle it keeps the loop alive, if anything does.
    call_js_.Unref(env);
    napi_value then, callbacks[2], ignored;
    if (napi_get_named_property(env, n, "then", &then) != napi_ok ||
        napi_create_function(env, "resolved", NAPI_AUTO_LENGTH, resolved, this, &callbacks[0]) != napi_ok ||
        napi_create_function(env, "rejected", NAPI_AUTO_LENGTH, rejected, this, &callbacks[1]) != napi_ok ||
        napi_call_function(env, n, then, 2, callbacks, &ignored) != napi_ok) {
      call_js_.Ref(env);
      error_.take(env);
      answer(SIZE_MAX);
    }
  }

 private:
  CountingShrink(napi_deferred deferred, std::string document, std::string options)
      : deferred_(deferred),
        document_(std::move(document)),
        options_(std::move(options)) {}

  ~CountingShrink() { close(); }

  // On the call's thread.
  void run() {
    envelope_.shrink(bytes(document_), document_.size(), options_, count_on_thread, this);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closing_) return;
    }
    // Failing only when the environment closes, which joins this thread.
    call_js_.NonBlockingCall(nullptr);
  }

  // The library's counter, on the call's thread: waits for the JavaScript
  // thread's answer. A count that cannot be asked for or answered (the
  // environment is closing) is a failed count.
  static std::size_t count_on_thread(const std::uint8_t* text, std::size_t len, void* context) {
    auto* self = static_cast<CountingShrink*>(context);
    std::unique_lock<std::mutex> lock(self->mutex_);
    if (self->closing_) return SIZE_MAX;
    self->request_ = CountRequest{text, len};
    lock.unlock();
    if (self->call_js_.NonBlockingCall(&self->request_) != napi_ok) return SIZE_MAX;
    lock.lock();
    self->answered_.wait(lock, [self] { return self->request_.done || self->closing_; });
    return self->request_.done ? self->request_.count : SIZE_MAX;
  }

  // On the JavaScript thread: hands the thread its count.
  void answer(std::size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    request_.count = n;
    request_.done = true;
    answered_.notify_all();
  }

  // The settled Promise of a count; the callback's data is the call. A
  // native Promise calls one of them, once.
  static napi_value resolved(napi_env env, napi_callback_info info) {
    return settled(env, info, true);
  }
  static napi_value rejected(napi_env env, napi_callback_info info) {
    return settled(env, info, false);
  }
  static napi_value settled(napi_env env, napi_callback_info info, bool resolved) {
    std::size_t argc = 1;
    napi_value value = nullptr;
    void* data = nullptr;
    if (napi_get_cb_info(env, info, &argc, &value, nullptr, &data) != napi_ok) return nullptr;
    auto* self = static_cast<CountingShrink*>(data);
    if (self->closing_) return nullptr;
    self->call_js_.Ref(env);
    if (resolved) {
      self->answer(argc > 0 ? to_count(env, value) : SIZE_MAX);
    } else {
      if (argc > 0) self->error_.keep(env, value);
      self->answer(SIZE_MAX);
    }
    return nullptr;
  }

  // On the JavaScript thread, once the library is done: joins the thread,
  // settles the Promise and lets the thread-safe function go, whose
  // finalizer deletes the call.
  void settle(napi_env env) {
    thread_.join();
    unhook(env);
    if (!error_.empty()) {
      napi_reject_deferred(env, deferred_, error_.value(env));
    } else {
      napi_resolve_deferred(env, deferred_, envelope_.to_js_quietly(env));
    }
    call_js_.Release();
  }

  // Fails the pending count and every later one, and joins the thread.
  void close() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
      answered_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
  }

  void unhook(napi_env env) {
    if (hooked_) napi_remove_env_cleanup_hook(env, cleanup, this);
    hooked_ = false;
  }

  // The environment is closing (a worker's teardown, the end of the process).
  static void cleanup(void* data) {
    auto* self = static_cast<CountingShrink*>(data);
    self->hooked_ = false;  // a hook runs once
    self->close();
  }

  static void finalize(Napi::Env env, void*, CountingShrink* self) {
    self->close();
    self->unhook(env);
    delete self;
  }

  napi_deferred deferred_;
  std::string document_;
  std::string options_;
  Envelope envelope_;
  CallJs call_js_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable answered_;
  CountRequest request_;  // guarded by mutex_
  bool closing_ = false;  // guarded by mutex_; set on the JavaScript thread only
  bool hooked_ = false;   // JavaScript thread only
  Thrown error_;          // what the counter threw or rejected with; JavaScript thread only
};

void on_js_thread(Napi::Env env, Napi::Function count, CountingShrink* call, CountRequest* request) {
  // Without an environment the function is being torn down, and `call` may
  // be gone.
  if (env != nullptr) call->serve(env, count, request);
}

// shrinkAsync(document, optionsText[, countTokens]): a Promise of the
// envelope text, rejected with what countTokens threw or rejected with.
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
  if (info.Length() > 2 && info[2].IsFunction()) {
    return CountingShrink::start(info.Env(), std::move(document), std::move(options),
                                 info[2].As<Napi::Function>());
  }
  napi_value promise;
  napi_deferred deferred;
  NAPI_THROW_IF_FAILED(info.Env(), napi_create_promise(info.Env(), &deferred, &promise), Napi::Value());
  auto* worker = new ShrinkWorker(info.Env(), deferred, std::move(document), std::move(options));
  worker->Queue();  // the worker deletes itself once settled
  return Napi::Value(info.Env(), promise);
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

/* quendra: shrink a JSON or YAML document so that its rendered text fits a
 * character budget, and report exactly what was left out.
 *
 * Six functions: quendra_alloc, quendra_free, quendra_shrink,
 * quendra_shrink_with_counter (budgets in a host's tokens),
 * quendra_count_tokens (a model's tokens, counted by the library) and
 * quendra_version.
 *
 * Conventions:
 *  1. Texts are UTF-8 byte ranges (pointer, length in bytes). No NUL
 *     terminator is read or written. A NULL pointer or a zero length is the
 *     empty text.
 *  2. The caller owns its input buffers; the library only reads them during
 *     the call. Buffers may come from quendra_alloc (then the caller frees
 *     them with quendra_free) or from anywhere else.
 *  3. Every buffer the library returns is allocated with the C heap and must
 *     be given back through quendra_free with its exact length.
 *  4. Any thread may call any function at any time, also concurrently: calls
 *     share nothing and the library keeps no state between them.
 */
#ifndef QUENDRA_H_
#define QUENDRA_H_

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define QUENDRA_EXPORT __declspec(dllexport)
#else
#define QUENDRA_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Returns a zero-filled buffer of `len` bytes for the caller to fill, or the
 * non-null placeholder pointer (void*)1 when `len` is 0 (nothing allocated).
 * Aborts the process when memory is exhausted or `len` exceeds PTRDIFF_MAX.
 * Release with quendra_free(ptr, len).
 *
 * Example:
 *   uint8_t* doc = quendra_alloc(n);
 *   memcpy(doc, text, n);
 *   ... quendra_shrink(doc, n, ...) ...
 *   quendra_free(doc, n);
 */
QUENDRA_EXPORT uint8_t* quendra_alloc(size_t len);

/* Frees a buffer from quendra_alloc or quendra_shrink. Does nothing when
 * `ptr` is NULL or `len` is 0. `len` must be the buffer's exact length. */
QUENDRA_EXPORT void quendra_free(uint8_t* ptr, size_t len);

/* Shrinks the document `input` (JSON or YAML) under the options `options`
 * (a JSON object text such as {"max_chars":2000}; pass "{}" for the
 * defaults). Always returns a newly allocated envelope, never NULL:
 *   {"ok":true,"text":"...","report":{...}}  or  {"ok":false,"error":"..."}
 * Its length in bytes is stored in *out_len (which must be writable); there
 * is no NUL terminator. The caller releases it with
 * quendra_free(envelope, *out_len).
 *
 * Example:
 *   size_t len;
 *   uint8_t* env = quendra_shrink((const uint8_t*)doc, doc_len,
 *                                 (const uint8_t*)"{\"max_chars\":500}", 17,
 *                                 &len);
 *   fwrite(env, 1, len, stdout);
 *   quendra_free(env, len);
 */
QUENDRA_EXPORT uint8_t* quendra_shrink(const uint8_t* input, size_t input_len,
                                       const uint8_t* options,
                                       size_t options_len, size_t* out_len);

/* Counts the tokens of `text` (`len` bytes of UTF-8, not NUL-terminated).
   Returns the count, or SIZE_MAX when it cannot count. */
typedef size_t (*quendra_counter)(const uint8_t* text, size_t len, void* context);

/* Shrinks like quendra_shrink, except that under the option
 * "budget_unit":"tokens" every text is measured by `counter`: the whole
 * document once, then each attempt of the budget search (at most 25 calls),
 * each text exactly as it would be returned. Under any other unit `counter`
 * is never called. It runs on the caller's thread, during this call only,
 * and gets `context` untouched. A counter that answers SIZE_MAX ends the
 * call with {"ok":false,"error":"the token counter failed"}. With a NULL
 * counter (or through quendra_shrink), "tokens" is refused as an invalid
 * option. The envelope is released with quendra_free(envelope, *out_len).
 *
 * Example:
 *   static size_t count(const uint8_t* t, size_t n, void* tok) {
 *     return my_tokenizer_count(tok, (const char*)t, n);
 *   }
 *   uint8_t* env = quendra_shrink_with_counter(doc, doc_len, opts, opts_len,
 *                                              count, tokenizer, &len);
 */
QUENDRA_EXPORT uint8_t* quendra_shrink_with_counter(const uint8_t* input, size_t input_len,
                                                    const uint8_t* options, size_t options_len,
                                                    quendra_counter counter, void* context,
                                                    size_t* out_len);

/* Counts the tokens of `text` (`len` bytes of UTF-8, not NUL-terminated)
 * in the byte-pair encoding named `tokenizer` (`tokenizer_len` bytes):
 * "o200k_base" or "cl100k_base", ignoring ASCII case; a NULL or empty name
 * is "o200k_base". The count equals tiktoken's encode_ordinary for that
 * encoding: texts such as "<|endoftext|>" count as ordinary text. Returns
 * SIZE_MAX for an unknown encoding, or for a text that is not valid UTF-8
 * (encoded surrogates included) or has 4 GiB or more. Allocates nothing
 * that outlives the call.
 *
 * Example:
 *   size_t n = quendra_count_tokens((const uint8_t*)"hello world", 11,
 *                                   (const uint8_t*)"cl100k_base", 11);
 *   // n == 2
 */
QUENDRA_EXPORT size_t quendra_count_tokens(const uint8_t* text, size_t len,
                                           const uint8_t* tokenizer, size_t tokenizer_len);

/* The library's version as a static NUL-terminated text such as "0.4.0".
 * Do not free it. */
QUENDRA_EXPORT const char* quendra_version(void);

#ifdef __cplusplus
}
#endif

#endif /* QUENDRA_H_ */

/* A C host that loads the built library with dlopen and drives the four
 * exported functions, checking envelopes byte for byte. Inputs are handed
 * over in buffers of their exact size with no NUL after them, so that the
 * address sanitizer catches any over-read. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef uint8_t* (*alloc_fn)(size_t);
typedef void (*free_fn)(uint8_t*, size_t);
typedef uint8_t* (*shrink_fn)(const uint8_t*, size_t, const uint8_t*, size_t, size_t*);
typedef const char* (*version_fn)(void);

static alloc_fn q_alloc;
static free_fn q_free;
static shrink_fn q_shrink;
static int failures;

/* Copies `text` into a library buffer of exactly its length (no NUL). */
static uint8_t* exact(const char* text, size_t* len) {
  *len = strlen(text);
  uint8_t* buf = q_alloc(*len);
  if (*len) memcpy(buf, text, *len);
  return buf;
}

static void check(const char* name, const char* input, const char* options, const char* want) {
  size_t in_len, opt_len, out_len = 12345;
  uint8_t* in = input ? exact(input, &in_len) : NULL;
  uint8_t* opt = options ? exact(options, &opt_len) : NULL;
  if (!input) in_len = 0;
  if (!options) opt_len = 0;
  uint8_t* out = q_shrink(in, in_len, opt, opt_len, &out_len);
  if (out == NULL || out_len != strlen(want) || memcmp(out, want, out_len) != 0) {
    fprintf(stderr, "FAIL %s\n  got:  %.*s\n  want: %s\n", name, (int)(out ? out_len : 0),
            out ? (const char*)out : "", want);
    ++failures;
  }
  q_free(out, out_len);
  if (in) q_free(in, in_len);
  if (opt) q_free(opt, opt_len);
}

#define REPORT0(in, out, max, fmt, infmt)                                                  \
  "\"report\":{\"input_chars\":" in ",\"output_chars\":" out ",\"max_chars\":" max         \
  ",\"format\":\"" fmt "\",\"input_format\":\"" infmt "\",\"pruned\":false,\"fits\":true," \
  "\"strings_truncated\":0,\"arrays_sampled\":0,\"items_omitted\":0,\"objects_trimmed\":0," \
  "\"keys_omitted\":0,\"containers_collapsed\":0,\"arrays_condensed\":0,"                 \
  "\"protected_omitted\":0,\"field_decisions\":[],\"fields_dropped\":0,\"dropped_fields\":[]}}"

#define SMILE "\xf0\x9f\x98\x80"
#define SMILES5 SMILE SMILE SMILE SMILE SMILE
#define SMILES SMILES5 SMILES5 SMILES5 SMILES5
#define PARTY "\xf0\x9f\x8e\x89"
#define ROCKET "\xf0\x9f\x9a\x80"
#define SPARKLES "\xe2\x9c\xa8"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: c_host path/to/libquendra.so\n");
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 1;
  }
  /* POSIX guarantees that dlsym's object pointer converts to a function
   * pointer; copying the bytes says so without a pedantic cast. */
  void* p;
  version_fn q_version;
  p = dlsym(lib, "quendra_alloc"), memcpy(&q_alloc, &p, sizeof p);
  p = dlsym(lib, "quendra_free"), memcpy(&q_free, &p, sizeof p);
  p = dlsym(lib, "quendra_shrink"), memcpy(&q_shrink, &p, sizeof p);
  p = dlsym(lib, "quendra_version"), memcpy(&q_version, &p, sizeof p);
  if (!q_alloc || !q_free || !q_shrink || !q_version) {
    fprintf(stderr, "missing symbol\n");
    return 1;
  }

  if (strcmp(q_version(), "0.2.1") != 0) {
    fprintf(stderr, "FAIL version %s\n", q_version());
    ++failures;
  }
  if (q_alloc(0) != (uint8_t*)1) {
    fprintf(stderr, "FAIL alloc(0)\n");
    ++failures;
  }
  q_free((uint8_t*)1, 0);
  q_free(NULL, 10);
  uint8_t* zeros = q_alloc(64);
  static const uint8_t kZeros[64];
  if (memcmp(zeros, kZeros, 64) != 0) {
    fprintf(stderr, "FAIL alloc not zero-filled\n");
    ++failures;
  }
  q_free(zeros, 64);

  check("compact", "{\"a\":1}", "{\"indent\":0}",
        "{\"ok\":true,\"text\":\"{\\\"a\\\":1}\"," REPORT0("7", "7", "10000", "json", "json"));
  check("null input", NULL, "{}",
        "{\"ok\":false,\"error\":\"invalid JSON input: unexpected end of input at line 1, column 1\"}");
  check("null options", "{}", NULL,
        "{\"ok\":false,\"error\":\"invalid options JSON: unexpected end of input at line 1, column 1\"}");
  check("bad input utf8", "\xff", "[]", "{\"ok\":false,\"error\":\"input is not valid UTF-8\"}");

  /* Budgets in UTF-8 bytes and UTF-16 code units. */
  check("unit refused", "{}", "{\"budget_unit\":\"utf-16\"}",
        "{\"ok\":false,\"error\":\"invalid options: budget_unit must be \\\"chars\\\", "
        "\\\"bytes\\\" or \\\"utf16\\\"\"}");
  check("bytes fit", "[\"\xe6\x97\xa5\xe6\x9c\xac\"]", "{\"indent\":0,\"max_chars\":10,\"budget_unit\":\"bytes\"}",
        "{\"ok\":true,\"text\":\"[\\\"\xe6\x97\xa5\xe6\x9c\xac\\\"]\"," REPORT0("10", "10", "10", "json", "json"));
  check("bytes overflow", "[\"\xe6\x97\xa5\xe6\x9c\xac\"]",
        "{\"indent\":0,\"max_chars\":9,\"budget_unit\":\"bytes\"}",
        "{\"ok\":true,\"text\":\"[\\\"\xe6\x97\xa5\xe6\x9c\xac\\\"]\",\"report\":{\"input_chars\":10,"
        "\"output_chars\":10,\"max_chars\":9,\"format\":\"json\",\"input_format\":\"json\","
        "\"pruned\":true,\"fits\":false,\"strings_truncated\":0,\"arrays_sampled\":0,"
        "\"items_omitted\":0,\"objects_trimmed\":0,\"keys_omitted\":0,\"containers_collapsed\":0,"
        "\"arrays_condensed\":0,\"protected_omitted\":0,\"field_decisions\":[],"
        "\"fields_dropped\":0,\"dropped_fields\":[]}}");
  check("utf16 astral", "{\"greeting\":\"hi " SMILES " there\",\"tags\":[\"" PARTY "\",\"" ROCKET "\",\"" SPARKLES "\"]}",
        "{\"indent\":0,\"max_chars\":50,\"budget_unit\":\"utf16\"}",
        "{\"ok\":true,\"text\":\"{\\\"greeting\\\":\\\"\xe2\x80\xa6[+29 chars]\\\",\\\"tags\\\":[\\\"" PARTY
        "\\\",\\\"" ROCKET "\\\",\\\"" SPARKLES "\\\"]}\",\"report\":{\"input_chars\":87,\"output_chars\":50,"
        "\"max_chars\":50,\"format\":\"json\",\"input_format\":\"json\",\"pruned\":true,\"fits\":true,"
        "\"strings_truncated\":1,\"arrays_sampled\":0,\"items_omitted\":0,\"objects_trimmed\":0,"
        "\"keys_omitted\":0,\"containers_collapsed\":0,\"arrays_condensed\":0,\"protected_omitted\":0,"
        "\"field_decisions\":[],\"fields_dropped\":0,\"dropped_fields\":[]}}");

  dlclose(lib);
  if (failures) {
    fprintf(stderr, "%d failed\n", failures);
    return 1;
  }
  printf("c_host: all checks passed\n");
  return 0;
}

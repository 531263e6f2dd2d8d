/* A C host that loads the built library with dlopen and drives the six
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
typedef size_t (*counter_fn)(const uint8_t*, size_t, void*);
typedef uint8_t* (*shrink_counter_fn)(const uint8_t*, size_t, const uint8_t*, size_t, counter_fn,
                                      void*, size_t*);
typedef size_t (*count_tokens_fn)(const uint8_t*, size_t, const uint8_t*, size_t);

static alloc_fn q_alloc;
static free_fn q_free;
static shrink_fn q_shrink;
static shrink_counter_fn q_shrink_counter;
static count_tokens_fn q_count_tokens;
static int failures;

/* Copies `text` into a library buffer of exactly its length (no NUL); NULL stays NULL. */
static uint8_t* exact(const char* text, size_t* len) {
  *len = text ? strlen(text) : 0;
  uint8_t* buf = text ? q_alloc(*len) : NULL;
  if (*len) memcpy(buf, text, *len);
  return buf;
}

/* The counter of the token cases: a maximal run of ASCII letters and digits
 * is one token, and so is every other character but space, tab, line feed
 * and carriage return. `context` counts the calls, and from call `fail_from`
 * on (0: never) the counter answers SIZE_MAX. */
struct counting {
  int calls;
  int fail_from;
};

static int is_word_byte(uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static size_t test_counter(const uint8_t* text, size_t len, void* context) {
  struct counting* seen = context;
  ++seen->calls;
  if (seen->fail_from && seen->calls >= seen->fail_from) return SIZE_MAX;
  size_t tokens = 0;
  for (size_t i = 0; i < len;) {
    uint8_t c = text[i];
    if (is_word_byte(c)) {
      while (i < len && is_word_byte(text[i])) ++i;
      ++tokens;
    } else {
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') ++tokens;
      ++i;
      while (i < len && (text[i] & 0xC0) == 0x80) ++i;
    }
  }
  return tokens;
}

/* A request and its envelope. `counter`: 0 through quendra_shrink; 1 through
 * quendra_shrink_with_counter with the test counter, failing from call
 * `fail_from`, which must be asked `least` to `most` times; -1 through it with
 * a NULL counter. */
struct request {
  const char *name, *input, *options;
  int counter, fail_from, least, most;
  const char* want;
};

static void check(const struct request* r) {
  size_t in_len, opt_len, out_len = 12345;
  uint8_t* in = exact(r->input, &in_len);
  uint8_t* opt = exact(r->options, &opt_len);
  struct counting seen = {0, r->fail_from};
  uint8_t* out = r->counter ? q_shrink_counter(in, in_len, opt, opt_len, r->counter > 0 ? test_counter : NULL,
                                               r->counter > 0 ? &seen : NULL, &out_len)
                            : q_shrink(in, in_len, opt, opt_len, &out_len);
  if (out == NULL || out_len != strlen(r->want) || memcmp(out, r->want, out_len) != 0) {
    fprintf(stderr, "FAIL %s\n  got:  %.*s\n  want: %s\n", r->name, (int)(out ? out_len : 0),
            out ? (const char*)out : "", r->want);
    ++failures;
  }
  if (r->counter > 0 && (seen.calls < r->least || seen.calls > r->most)) {
    fprintf(stderr, "FAIL %s: the counter was asked %d times, not %d to %d\n", r->name, seen.calls,
            r->least, r->most);
    ++failures;
  }
  q_free(out, out_len);
  if (in) q_free(in, in_len);
  if (opt) q_free(opt, opt_len);
}

/* Counts `text` (a NULL name passes NULL) in library buffers of their exact
 * size, and compares the count. */
static void check_tokens(const char* text, const char* name, size_t want) {
  size_t text_len, name_len = 0;
  uint8_t* t = exact(text, &text_len);
  uint8_t* n = name ? exact(name, &name_len) : NULL;
  size_t got = q_count_tokens(t, text_len, n, name_len);
  if (got != want) {
    fprintf(stderr, "FAIL tokens of \"%s\" in %s: got %zu, want %zu\n", text, name ? name : "NULL", got,
            want);
    ++failures;
  }
  q_free(t, text_len);
  if (n) q_free(n, name_len);
}

/* Envelopes: a text, then a report of JSON read and written with its sizes,
 * flags and the counters strings_truncated to containers_collapsed. */
#define OK(text) "{\"ok\":true,\"text\":\"" text "\","
#define ERROR(message) "{\"ok\":false,\"error\":\"" message "\"}"
#define REPORT_OF(in, out, max, pruned, fits, st, as, io, ot, ko, cc)                         \
  "\"report\":{\"input_chars\":" in ",\"output_chars\":" out ",\"max_chars\":" max             \
  ",\"format\":\"json\",\"input_format\":\"json\",\"pruned\":" pruned ",\"fits\":" fits       \
  ",\"strings_truncated\":" st ",\"arrays_sampled\":" as ",\"items_omitted\":" io              \
  ",\"objects_trimmed\":" ot ",\"keys_omitted\":" ko ",\"containers_collapsed\":" cc          \
  ",\"arrays_condensed\":0,\"protected_omitted\":0,\"field_decisions\":[],\"fields_dropped\":0," \
  "\"dropped_fields\":[]"
#define REPORT(...) REPORT_OF(__VA_ARGS__) "}}"
/* A report under a token budget: what counted (an encoding or "host"), and
 * how many distinct texts. */
#define COUNTED(by, n, ...) \
  REPORT_OF(__VA_ARGS__) ",\"budget_unit\":\"tokens\",\"tokenizer\":\"" by "\",\"token_counts\":" n "}}"
#define WHOLE(in, out, max) REPORT(in, out, max, "false", "true", "0", "0", "0", "0", "0", "0")
#define FAILED ERROR("the token counter failed")

#define SMILE "\xf0\x9f\x98\x80"
#define SMILES5 SMILE SMILE SMILE SMILE SMILE
#define SMILES SMILES5 SMILES5 SMILES5 SMILES5
#define PARTY "\xf0\x9f\x8e\x89"
#define ROCKET "\xf0\x9f\x9a\x80"
#define SPARKLES "\xe2\x9c\xa8"
#define NIHON "\xe6\x97\xa5\xe6\x9c\xac"
#define TAGS "\\\"" PARTY "\\\",\\\"" ROCKET "\\\",\\\"" SPARKLES "\\\""
#define USERS                                                                                     \
  "{\"users\":[{\"id\":1,\"name\":\"user 1\",\"role\":\"dev\"},{\"id\":2,\"name\":\"user 2\",\"role\":\"dev\"}," \
  "{\"id\":3,\"name\":\"user 3\",\"role\":\"dev\"},{\"id\":4,\"name\":\"user 4\",\"role\":\"dev\"},"          \
  "{\"id\":5,\"name\":\"user 5\",\"role\":\"dev\"},{\"id\":6,\"name\":\"user 6\",\"role\":\"dev\"}]}"
#define TOKENS "\"budget_unit\":\"tokens\""

static const struct request kRequests[] = {
    {"compact", "{\"a\":1}", "{\"indent\":0}", 0, 0, 0, 0, OK("{\\\"a\\\":1}") WHOLE("7", "7", "10000")},
    {"null input", NULL, "{}", 0, 0, 0, 0,
     ERROR("invalid JSON input: unexpected end of input at line 1, column 1")},
    {"null options", "{}", NULL, 0, 0, 0, 0,
     ERROR("invalid options JSON: unexpected end of input at line 1, column 1")},
    {"bad input utf8", "\xff", "[]", 0, 0, 0, 0, ERROR("input is not valid UTF-8")},
    /* Budgets in UTF-8 bytes and UTF-16 code units. */
    {"unit refused", "{}", "{\"budget_unit\":\"utf-16\"}", 0, 0, 0, 0,
     ERROR("invalid options: budget_unit must be \\\"chars\\\", \\\"bytes\\\", \\\"utf16\\\" or \\\"tokens\\\"")},
    {"bytes fit", "[\"" NIHON "\"]", "{\"indent\":0,\"max_chars\":10,\"budget_unit\":\"bytes\"}", 0, 0, 0, 0,
     OK("[\\\"" NIHON "\\\"]") WHOLE("10", "10", "10")},
    {"bytes overflow", "[\"" NIHON "\"]", "{\"indent\":0,\"max_chars\":9,\"budget_unit\":\"bytes\"}", 0, 0, 0, 0,
     OK("[\\\"" NIHON "\\\"]") REPORT("10", "10", "9", "true", "false", "0", "0", "0", "0", "0", "0")},
    {"utf16 astral", "{\"greeting\":\"hi " SMILES " there\",\"tags\":[\"" PARTY "\",\"" ROCKET "\",\"" SPARKLES "\"]}",
     "{\"indent\":0,\"max_chars\":50,\"budget_unit\":\"utf16\"}", 0, 0, 0, 0,
     OK("{\\\"greeting\\\":\\\"\xe2\x80\xa6[+29 chars]\\\",\\\"tags\\\":[" TAGS "]}")
         REPORT("87", "50", "50", "true", "true", "1", "0", "0", "0", "0", "0")},
    /* Budgets in tokens, counted by a built-in encoding (o200k_base unless the tokenizer
     * option names another) or by the host. */
    {"built-in: an object trimmed", "{\"name\":\"Ada Lovelace\",\"born\":1815,\"tags\":[\"math\",\"poetry\"]}",
     "{\"max_chars\":12," TOKENS ",\"tokenizer\":\"o200k_base\"}", 0, 0, 0, 0,
     OK("{\\n  \\\"3 keys omitted\\\": \\\"\xe2\x80\xa6\\\"\\n}")
         COUNTED("o200k_base", "3", "36", "11", "12", "true", "true", "0", "0", "0", "0", "3", "1")},
    {"built-in: records sampled", USERS, "{\"max_chars\":40," TOKENS ",\"indent\":0}", 0, 0, 0, 0,
     OK("{\\\"users\\\":[{\\\"id\\\":1,\\\"name\\\":\\\"user 1\\\",\\\"role\\\":\\\"dev\\\"},\\\"\xe2\x80\xa6[5 items omitted]\\\"]}")
         COUNTED("o200k_base", "4", "89", "27", "40", "true", "true", "0", "1", "5", "0", "0", "0")},
    {"built-in: cl100k_base", USERS, "{\"max_chars\":40," TOKENS ",\"indent\":0,\"tokenizer\":\"CL100K_BASE\"}",
     0, 0, 0, 0,
     OK("{\\\"users\\\":[{\\\"id\\\":1,\\\"name\\\":\\\"user 1\\\",\\\"role\\\":\\\"dev\\\"},\\\"\xe2\x80\xa6[4 items omitted]\\\","
        "{\\\"id\\\":6,\\\"name\\\":\\\"user 6\\\",\\\"role\\\":\\\"dev\\\"}]}")
         COUNTED("cl100k_base", "3", "88", "39", "40", "true", "true", "0", "1", "4", "0", "0", "0")},
    {"built-in with a NULL counter", "{}", "{\"budget_unit\":\"Tokens\"}", -1, 0, 0, 0,
     OK("{}") COUNTED("o200k_base", "1", "1", "1", "10000", "false", "true", "0", "0", "0", "0", "0", "0")},
    {"tokenizer without tokens", "{}", "{\"budget_unit\":\"chars\",\"tokenizer\":\"o200k_base\"}", 0, 0, 0, 0,
     ERROR("invalid options: tokenizer needs budget_unit \\\"tokens\\\"")},
    {"tokenizer unknown", "{}", "{" TOKENS ",\"tokenizer\":\"p50k_base\"}", 0, 0, 0, 0,
     ERROR("invalid options: tokenizer must be \\\"o200k_base\\\" or \\\"cl100k_base\\\"")},
    {"a tokenizer beside a counter", "{}", "{" TOKENS ",\"tokenizer\":\"o200k_base\"}", 1, 0, 0, 0,
     ERROR("invalid options: a tokenizer and a token counter cannot both be given")},
    /* The unit is checked once the options are complete: a later "chars" counts nothing,
     * and bad options keep their own message first. */
    {"tokens overridden", "[1]", "{" TOKENS ",\"budget_unit\":\"chars\",\"indent\":0}", 0, 0, 0, 0,
     OK("[1]") WHOLE("3", "3", "10000")},
    {"tokens, then a bad option", "{}", "{" TOKENS ",\"indent\":-1}", 0, 0, 0, 0,
     ERROR("invalid options: indent must be a non-negative integer")},
    {"chars never counts", "{\"a\":[1,2,3,4,5,6,7,8,9]}", "{\"max_chars\":10}", 1, 0, 0, 0,
     OK("{\\n  \\\"1 keys omitted\\\": \\\"\xe2\x80\xa6\\\"\\n}")
         REPORT("78", "27", "10", "true", "false", "0", "0", "0", "0", "1", "1")},
    {"tokens overridden by chars", "[1]", "{" TOKENS ",\"budget_unit\":\"chars\",\"indent\":0}", 1, 0, 0, 0,
     OK("[1]") WHOLE("3", "3", "10000")},
    {"tokens fit as they are", "{\"a\": \"hello world\"}", "{" TOKENS ",\"max_chars\":10,\"indent\":0}", 1, 0, 1, 1,
     OK("{\\\"a\\\":\\\"hello world\\\"}")
         COUNTED("host", "1", "10", "10", "10", "false", "true", "0", "0", "0", "0", "0", "0")},
    {"tokens: an object trimmed", "{\"name\":\"Ada Lovelace\",\"born\":1815,\"tags\":[\"math\",\"poetry\"]}",
     "{\"max_chars\":20," TOKENS "}", 1, 0, 2, 2,
     OK("{\\n  \\\"name\\\": \\\"Ada Lovelace\\\",\\n  \\\"2 keys omitted\\\": \\\"\xe2\x80\xa6\\\"\\n}")
         COUNTED("host", "2", "30", "20", "20", "true", "true", "0", "0", "0", "1", "2", "0")},
    /* Five distinct texts: the search meets some of its texts twice and counts them once. */
    {"tokens: records sampled", USERS, "{\"max_chars\":30," TOKENS ",\"indent\":0}", 1, 0, 5, 5,
     OK("{\\\"users\\\":[{\\\"3 keys omitted\\\":\\\"\xe2\x80\xa6\\\"},\\\"\xe2\x80\xa6[5 items omitted]\\\"]}")
         COUNTED("host", "5", "157", "28", "30", "true", "true", "0", "1", "5", "0", "3", "1")},
    {"tokens: the counter fails", USERS, "{\"max_chars\":30," TOKENS "}", 1, 1, 1, 1, FAILED},
    {"tokens: the counter fails in the search", USERS, "{\"max_chars\":30," TOKENS ",\"format\":\"yaml\"}", 1, 2,
     2, 2, FAILED},
};

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
  p = dlsym(lib, "quendra_shrink_with_counter"), memcpy(&q_shrink_counter, &p, sizeof p);
  p = dlsym(lib, "quendra_count_tokens"), memcpy(&q_count_tokens, &p, sizeof p);
  if (!q_alloc || !q_free || !q_shrink || !q_version || !q_shrink_counter || !q_count_tokens) {
    fprintf(stderr, "missing symbol\n");
    return 1;
  }
  static const uint8_t kZeros[64];
  uint8_t* zeros = q_alloc(64);
  const char* wrong = strcmp(q_version(), "0.4.0") != 0 ? "version"
                      : q_alloc(0) != (uint8_t*)1    ? "alloc(0)"
                      : memcmp(zeros, kZeros, 64)    ? "alloc not zero-filled"
                                                     : NULL;
  if (wrong) fprintf(stderr, "FAIL %s\n", wrong), ++failures;
  q_free(zeros, 64);
  q_free((uint8_t*)1, 0);
  q_free(NULL, 10);
  for (size_t i = 0; i < sizeof kRequests / sizeof kRequests[0]; ++i) check(&kRequests[i]);
  /* Token counts: the name as given, NULL or empty for o200k_base. */
  static const struct {
    const char *text, *name;
    size_t want;
  } kTokens[] = {
      {"hello world", NULL, 2},
      {"hello world", "", 2},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88", "O200K_Base", 6},
      {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x81\xae\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88", "CL100K_BASE", 8},
      {"Don't STOP'LL", "cl100k_base", 5},
      {"", NULL, 0},
      {"hello", "p50k_base", SIZE_MAX},
      {"hello", "o200k_base ", SIZE_MAX},
      {"bad \xff byte", NULL, SIZE_MAX},
      {"surrogate \xed\xa0\x80", "cl100k_base", SIZE_MAX},
  };
  for (size_t i = 0; i < sizeof kTokens / sizeof kTokens[0]; ++i) {
    check_tokens(kTokens[i].text, kTokens[i].name, kTokens[i].want);
  }
  dlclose(lib);
  if (failures) {
    fprintf(stderr, "%d failed\n", failures);
    return 1;
  }
  printf("c_host: all checks passed\n");
  return 0;
}

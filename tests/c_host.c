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

/* Copies `text` into a library buffer of exactly its length (no NUL). */
static uint8_t* exact(const char* text, size_t* len) {
  *len = strlen(text);
  uint8_t* buf = q_alloc(*len);
  if (*len) memcpy(buf, text, *len);
  return buf;
}

/* The counter of the token cases: a maximal run of ASCII letters and digits
 * is one token, and so is every other character but space, tab, line feed
 * and carriage return. `context` counts the calls; a text of "fail" in the
 * context's limit makes it answer SIZE_MAX from that call on. */
struct counting {
  int calls;
  int fail_from; /* 0: never fails */
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

/* Shrinks through quendra_shrink, or through quendra_shrink_with_counter
 * with the test counter when `seen` is given, and compares the envelope. */
static void check_counted(const char* name, const char* input, const char* options,
                          struct counting* seen, const char* want) {
  size_t in_len, opt_len, out_len = 12345;
  uint8_t* in = input ? exact(input, &in_len) : NULL;
  uint8_t* opt = options ? exact(options, &opt_len) : NULL;
  if (!input) in_len = 0;
  if (!options) opt_len = 0;
  uint8_t* out = seen ? q_shrink_counter(in, in_len, opt, opt_len, test_counter, seen, &out_len)
                      : q_shrink(in, in_len, opt, opt_len, &out_len);
  if (out == NULL || out_len != strlen(want) || memcmp(out, want, out_len) != 0) {
    fprintf(stderr, "FAIL %s\n  got:  %.*s\n  want: %s\n", name, (int)(out ? out_len : 0),
            out ? (const char*)out : "", want);
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

static void check(const char* name, const char* input, const char* options, const char* want) {
  check_counted(name, input, options, NULL, want);
}

/* The counter was asked between `least` and `most` times. */
static void check_calls(const char* name, const struct counting* seen, int least, int most) {
  if (seen->calls < least || seen->calls > most) {
    fprintf(stderr, "FAIL %s: the counter was asked %d times, not %d to %d\n", name, seen->calls,
            least, most);
    ++failures;
  }
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
  p = dlsym(lib, "quendra_shrink_with_counter"), memcpy(&q_shrink_counter, &p, sizeof p);
  p = dlsym(lib, "quendra_count_tokens"), memcpy(&q_count_tokens, &p, sizeof p);
  if (!q_alloc || !q_free || !q_shrink || !q_version || !q_shrink_counter || !q_count_tokens) {
    fprintf(stderr, "missing symbol\n");
    return 1;
  }

  if (strcmp(q_version(), "0.4.0") != 0) {
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
        "\\\"bytes\\\", \\\"utf16\\\" or \\\"tokens\\\"\"}");
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

  /* Budgets in tokens, counted by the host. */
  {
    static const char kNeedsCounter[] =
        "{\"ok\":false,\"error\":\"invalid options: budget_unit \\\"tokens\\\" needs a token counter\"}";
    static const char kUsers[] =
        "{\"users\":[{\"id\":1,\"name\":\"user 1\",\"role\":\"dev\"},{\"id\":2,\"name\":\"user 2\",\"role\":\"dev\"},"
        "{\"id\":3,\"name\":\"user 3\",\"role\":\"dev\"},{\"id\":4,\"name\":\"user 4\",\"role\":\"dev\"},"
        "{\"id\":5,\"name\":\"user 5\",\"role\":\"dev\"},{\"id\":6,\"name\":\"user 6\",\"role\":\"dev\"}]}";
    struct counting none = {0, 0}, ada = {0, 0}, users = {0, 0}, failing = {0, 1}, later = {0, 2},
                    chars = {0, 0}, overridden = {0, 0};
    check("tokens without a counter", "{}", "{\"budget_unit\":\"tokens\"}", kNeedsCounter);
    size_t out_len;
    uint8_t* out = q_shrink_counter((const uint8_t*)"{}", 2, (const uint8_t*)"{\"budget_unit\":\"Tokens\"}",
                                    24, NULL, NULL, &out_len);
    if (out_len != strlen(kNeedsCounter) || memcmp(out, kNeedsCounter, out_len) != 0) {
      fprintf(stderr, "FAIL tokens with a NULL counter: %.*s\n", (int)out_len, (const char*)out);
      ++failures;
    }
    q_free(out, out_len);
    /* The unit is checked once the options are complete: a later "chars" needs no counter,
     * and bad options and a bad document keep their own messages first. */
    check("tokens overridden", "[1]", "{\"budget_unit\":\"tokens\",\"budget_unit\":\"chars\",\"indent\":0}",
          "{\"ok\":true,\"text\":\"[1]\"," REPORT0("3", "3", "10000", "json", "json"));
    check("tokens, then a bad option", "{}", "{\"budget_unit\":\"tokens\",\"indent\":-1}",
          "{\"ok\":false,\"error\":\"invalid options: indent must be a non-negative integer\"}");
    check("tokens and a bad document", "[", "{\"budget_unit\":\"tokens\"}", kNeedsCounter);
    check_counted("chars never counts", "{\"a\":[1,2,3,4,5,6,7,8,9]}", "{\"max_chars\":10}", &chars,
                  "{\"ok\":true,\"text\":\"{\\n  \\\"1 keys omitted\\\": \\\"\xe2\x80\xa6\\\"\\n}\",\"report\":{"
                  "\"input_chars\":78,\"output_chars\":27,\"max_chars\":10,\"format\":\"json\",\"input_format\":\"json\","
                  "\"pruned\":true,\"fits\":false,\"strings_truncated\":0,\"arrays_sampled\":0,\"items_omitted\":0,"
                  "\"objects_trimmed\":0,\"keys_omitted\":1,\"containers_collapsed\":1,\"arrays_condensed\":0,"
                  "\"protected_omitted\":0,\"field_decisions\":[],\"fields_dropped\":0,\"dropped_fields\":[]}}");
    check_calls("chars never counts", &chars, 0, 0);
    check_counted("tokens overridden by chars", "[1]",
                  "{\"budget_unit\":\"tokens\",\"budget_unit\":\"chars\",\"indent\":0}", &overridden,
                  "{\"ok\":true,\"text\":\"[1]\"," REPORT0("3", "3", "10000", "json", "json"));
    check_calls("tokens overridden by chars", &overridden, 0, 0);
    check_counted("tokens fit as they are", "{\"a\": \"hello world\"}",
                  "{\"budget_unit\":\"tokens\",\"max_chars\":10,\"indent\":0}", &none,
                  "{\"ok\":true,\"text\":\"{\\\"a\\\":\\\"hello world\\\"}\"," REPORT0("10", "10", "10", "json", "json"));
    check_calls("tokens fit as they are", &none, 1, 1);
    check_counted("tokens: an object trimmed", "{\"name\":\"Ada Lovelace\",\"born\":1815,\"tags\":[\"math\",\"poetry\"]}",
                  "{\"max_chars\":20,\"budget_unit\":\"tokens\"}", &ada,
                  "{\"ok\":true,\"text\":\"{\\n  \\\"name\\\": \\\"Ada Lovelace\\\",\\n  \\\"2 keys omitted\\\": \\\"\xe2\x80\xa6\\\"\\n}\","
                  "\"report\":{\"input_chars\":30,\"output_chars\":20,\"max_chars\":20,\"format\":\"json\","
                  "\"input_format\":\"json\",\"pruned\":true,\"fits\":true,\"strings_truncated\":0,"
                  "\"arrays_sampled\":0,\"items_omitted\":0,\"objects_trimmed\":1,\"keys_omitted\":2,"
                  "\"containers_collapsed\":0,\"arrays_condensed\":0,\"protected_omitted\":0,"
                  "\"field_decisions\":[],\"fields_dropped\":0,\"dropped_fields\":[]}}");
    check_calls("tokens: an object trimmed", &ada, 1, 2);
    check_counted("tokens: records sampled", kUsers, "{\"max_chars\":30,\"budget_unit\":\"tokens\",\"indent\":0}",
                  &users,
                  "{\"ok\":true,\"text\":\"{\\\"users\\\":[{\\\"3 keys omitted\\\":\\\"\xe2\x80\xa6\\\"},"
                  "\\\"\xe2\x80\xa6[5 items omitted]\\\"]}\",\"report\":{\"input_chars\":157,\"output_chars\":28,"
                  "\"max_chars\":30,\"format\":\"json\",\"input_format\":\"json\",\"pruned\":true,\"fits\":true,"
                  "\"strings_truncated\":0,\"arrays_sampled\":1,\"items_omitted\":5,\"objects_trimmed\":0,"
                  "\"keys_omitted\":3,\"containers_collapsed\":1,\"arrays_condensed\":0,\"protected_omitted\":0,"
                  "\"field_decisions\":[],\"fields_dropped\":0,\"dropped_fields\":[]}}");
    check_calls("tokens: records sampled", &users, 1, 8);
    check_counted("tokens: the counter fails", kUsers, "{\"max_chars\":30,\"budget_unit\":\"tokens\"}", &failing,
                  "{\"ok\":false,\"error\":\"the token counter failed\"}");
    check_calls("tokens: the counter fails", &failing, 1, 1);
    check_counted("tokens: the counter fails in the search", kUsers,
                  "{\"max_chars\":30,\"budget_unit\":\"tokens\",\"format\":\"yaml\"}", &later,
                  "{\"ok\":false,\"error\":\"the token counter failed\"}");
    check_calls("tokens: the counter fails in the search", &later, 2, 2);
  }

  /* Token counts: the name as given, NULL or empty for o200k_base. */
  {
    static const struct {
      const char* text;
      const char* name;
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
  }

  dlclose(lib);
  if (failures) {
    fprintf(stderr, "%d failed\n", failures);
    return 1;
  }
  printf("c_host: all checks passed\n");
  return 0;
}

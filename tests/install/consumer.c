/* A program built against an installed quendra: shrinks an array of 100
 * short strings to 60 characters and checks the answer. Exits 0 when the
 * envelope is the expected one, and prints the shrunk text. */
#include <quendra.h>

#include <stdio.h>
#include <string.h>

int main(void) {
  char doc[1024];
  size_t n = 0;
  doc[n++] = '[';
  for (int i = 0; i < 100; ++i) {
    n += (size_t)snprintf(doc + n, sizeof doc - n, "%s\"w%03d\"", i ? "," : "", i);
  }
  doc[n++] = ']';

  const char* options = "{\"max_chars\":60,\"indent\":0}";
  size_t len = 0;
  uint8_t* env = quendra_shrink((const uint8_t*)doc, n, (const uint8_t*)options,
                                strlen(options), &len);
  const char* want_text =
      "{\"ok\":true,\"text\":\"[\\\"w000\\\",\\\"w001\\\",\\\"w002\\\",\\\"w003\\\","
      "\\\"\xE2\x80\xA6[95 items omitted]\\\",\\\"w099\\\"]\",\"report\":";
  const char* want_counts = "\"arrays_sampled\":1,\"items_omitted\":95,";
  int ok = len > strlen(want_text) && memcmp(env, want_text, strlen(want_text)) == 0 &&
           memmem(env, len, want_counts, strlen(want_counts)) != NULL &&
           strcmp(quendra_version(), QUENDRA_EXPECTED_VERSION) == 0;
  printf("quendra %s: %.*s\n", quendra_version(), (int)len, (const char*)env);
  quendra_free(env, len);
  if (!ok) fprintf(stderr, "consumer: unexpected answer\n");
  return ok ? 0 : 1;
}

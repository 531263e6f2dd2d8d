// What redaction recognises as secret: keys whose words name a credential,
// and the shapes of credentials inside any text (authorization headers,
// passwords in URLs, web tokens, private keys, cloud and forge tokens).
#ifndef QUENDRA_RULES_SECRETS_H_
#define QUENDRA_RULES_SECRETS_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace quendra::secrets {

// Whether the words of `key`, split as the field scorers split keys (words()
// of fields.h), hold one of the sequences password, passwd, secret, token,
// api key, apikey, access key, private key, auth, authorization, credential,
// credentials, cookie, sessionid, session id.
// REQUIRES: `key` is valid UTF-8.
bool sensitive_key(std::string_view key);

// No secret that find() looks for is shorter than this many bytes
// ("ghp_" and one character).
inline constexpr std::size_t kShortest = 5;

// A byte range [begin, end) of a text.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Finds the secret parts of `text` and appends them to `out` in text order,
// overlapping ones merged into one: the credential after the word Bearer or
// Basic (any case; it runs to the next white space, quote or the end), the
// password of a URL's user:password@, a JSON Web Token, a PEM private-key
// block through its END line (or to the end), an AWS access key id, and the
// prefixed tokens of GitHub, Slack and GitLab. Looks at each byte once: a
// text without a byte that can start one costs a table lookup a byte.
// REQUIRES: `text` is valid UTF-8.
void find(std::string_view text, std::vector<Span>& out);

}  // namespace quendra::secrets

#endif  // QUENDRA_RULES_SECRETS_H_

// Masking of credential-shaped content in message texts.
#pragma once

#include <string>
#include <string_view>

namespace lorebox {

// Replaces private keys (PEM blocks, base64-wrapped PEM keys, PuTTY keys) by
// "[redacted-private-key]", and credentials by "[redacted-secret]": tokens
// with a known credential prefix or shape (a token is a maximal run of ASCII
// letters, digits, '-', '.' and '_'; one made of words joined by '_', '-' or
// '.' is a name, not a credential), JWTs, bot tokens, base64 session
// tokens, Django keys, passwords in URLs, curl options and .netrc lines,
// Authorization values, values assigned to keys that name a secret or given
// to them in a sentence, and webhook paths. A marker is never masked again,
// and nothing else changes. Best effort: a secret written in prose without
// a key that names it is not recognised. The function is pure.
std::string redact_secrets(std::string_view text);

}  // namespace lorebox

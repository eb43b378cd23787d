// Masking of values assigned to keys that name a secret ("password: ...",
// "API_KEY=...", "\"client_secret\": \"...\"").
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "text/redact_spans.h"

namespace lorebox {

// The literals that start a separator: '=' ("=", "=>"), ':' (":", ":="),
// U+FF1A FULLWIDTH COLON, and the words of a sentence that gives a value:
// " is", " as", " was", " to" and " are".
inline constexpr std::array<Literal, 8> kAssignmentSeparators = {{
    {"=", '='},
    {":", ':'},
    {"\xEF\xBC\x9A", '\xEF'},
    {" is", 's'},
    {" as", 's'},
    {" was", 'w'},
    {" to", 'o'},
    {" are", 'r'},
}};

// kAssignmentSeparators from this one on are words of a sentence.
inline constexpr size_t kFirstProseSeparator = 3;

// Pieces of the keywords a sentence may give a value to ("secret",
// "credential", "password", "passwd", "token", "key"), in lower, upper and
// capitalised form; "secret" and "credential" only capitalised or in upper
// case ("clientSecret", "JWT_SECRET"), since looking for every small 'c'
// would cost more than the rest of the probe. A key counts in a sentence
// only when its last 11 characters hold one of them, so a text without them
// has no such value.
inline constexpr std::array<Literal, 10> kProseKeyPieces = {{
    {"Secret", 'S'},
    {"Cred", 'C'},
    {"CRE", 'C'},  // "SECRET", "CREDENTIAL"
    {"assw", 'w'},
    {"ASSW", 'W'},
    {"oken", 'k'},
    {"OKEN", 'K'},
    {"key", 'k'},
    {"Key", 'K'},
    {"KEY", 'K'},
}};

// True when the run of token characters from `pos` on (at most 11 of them,
// as many as "credentials" holds after its 'c') ends a key that
// names a secret and " is", " as", " was", " to" or " are" follows it (after
// an optional closing quote and white space). A text where this holds
// nowhere gives mask_keyword_assignments no value in a sentence to mask.
bool precedes_prose_value(std::string_view text, size_t pos);

// True when the separator at `pos` follows a key that names a secret (with
// an optional closing quote, escaped or not, and white space between them,
// on one line). A text without such a separator gives
// mask_keyword_assignments nothing to mask.
bool follows_secret_key(std::string_view text, size_t pos);

// A key is a run of ASCII letters, digits, '_', '-', '.' and spaces whose
// lower-case form, with '-' and ' ' read as '_' ("API key", "client
// secret"), ends with secret, secret_key, password,
// passwd, token, auth_token, api_key, apikey, access_key, private_key,
// privatekey, client_secret, credential, credentials or accountkey, or with
// the word "auth" or "pwd" ("DOCKER_AUTH", not "oauth"); or one of a few words for
// password, secret key, private key and token in Chinese, Japanese and Korean (密码,
// パスワード, 비밀번호, 私钥, 令牌...). After it come an optional closing quote (also
// "\""), optional white space, and a separator on the key's line, then optional white
// space and an optional opening quote (also "\"").
//
// A quoted value runs to the same quote on the same line (and is left alone
// without one); any other value runs to white space, a quote, one of
// ", ; ) ] }" or a non-ASCII character that is neither a letter nor a digit
// (CJK punctuation such as "。" or "，"), and full stops, exclamation and
// question marks that end it are the sentence's, not the value's.
//
// After "=", ":" or U+FF1A, a value becomes "[redacted-secret]" when it has
// at least 8 characters, holds an ASCII digit and an ASCII letter, does not
// begin with '$', '{', '<', '%' or '[' (a placeholder), holds no control
// character (terminal output), is not a dotted name such
// as "self.config.token1", and, when not quoted, holds no '(' or '[' (a call,
// a subscript or a list). A quoted value after a password, passwd, pwd or
// secret key needs no digit when it is ASCII, holds no white space or '/'
// and is neither one word nor words joined by '_' or '.'
// ("correct-horse-battery-staple" is masked, "Password" and "DB_PASSWORD"
// are not). A "pwd" key counts only with a quoted value holding no '/'. An
// "auth" key counts only with a base64 value that decodes to "user:password"
// (a Docker config).
//
// After " is", " as", " was", " to" or " are" (then white space or ':'), when
// the key is an ASCII one other than "auth" and "pwd" and holds one of
// kProseKeyPieces in its last 11 characters, as in "I
// set MISTRAL_API_KEY to 3vQ...x9.", the value must look generated: at
// least 16 characters with an ASCII letter and digit, not words joined by
// '_', '-' or '.' ("Rename decode_token to decode_nla_in6_addr"), and none
// of the exceptions above. Returns the text unchanged when nothing matched.
//
// Keeping the value on the key's line leaves alone the next line after an
// empty assignment ("SECRET_KEY=") or a block's colon ("if token:").
std::string mask_keyword_assignments(std::string text);

}  // namespace lorebox

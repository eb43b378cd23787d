// Masking of values assigned to keys that name a secret ("password: ...",
// "API_KEY=...", "\"client_secret\": \"...\"").
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "text/redact_spans.h"

namespace lorebox {

// The bytes that start a separator: '=' ("=", "=>"), ':' (":", ":=") and
// U+FF1A FULLWIDTH COLON.
inline constexpr std::array<Literal, 3> kAssignmentSeparators = {{
    {"=", '='},
    {":", ':'},
    {"\xEF\xBC\x9A", '\xEF'},
}};

// True when the separator at `pos` follows a key that names a secret (with
// an optional closing quote and white space between them, on one line). A text without
// such a separator gives mask_keyword_assignments nothing to mask.
bool follows_secret_key(std::string_view text, size_t pos);

// A key is a run of ASCII letters, digits, '_', '-' and '.' whose lower-case
// form, with '-' read as '_', ends with secret, secret_key, password,
// passwd, token, auth_token, api_key, apikey, access_key, private_key,
// privatekey, client_secret, credential, credentials or accountkey. After
// it come an optional closing quote, optional white space, one of "=", ":",
// "=>", ":=" and U+FF1A, optional white space and an optional opening
// quote, all on the key's line. A quoted value runs to the same quote on the
// same line (and is left alone without one); any other value runs to white
// space, a quote or one of ", ; ) ] }". The value becomes "[redacted-secret]"
// when it has at least 8 characters, holds an ASCII digit and an ASCII
// letter, does not begin with '$', '{', '<' or '%' (a placeholder), holds no
// '(' or '[' (a call, a subscript or a list) and is not a dotted name such
// as "self.config.token1". Returns the text unchanged when nothing matched.
//
// Keeping the value on the key's line leaves alone the next line after an
// empty assignment ("SECRET_KEY=") or a block's colon ("if token:").
std::string mask_keyword_assignments(std::string text);

}  // namespace lorebox

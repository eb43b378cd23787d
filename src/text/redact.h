// Masking of credential-shaped content in message texts.
#pragma once

#include <string>
#include <string_view>

namespace lorebox {

// Replaces every PEM private-key block by "[redacted-private-key]" and every
// token that starts with a known credential prefix and is long enough by
// "[redacted-secret]". A token is a maximal run of ASCII letters, digits,
// '-', '.' and '_'. Nothing else changes; the function is pure.
std::string redact_secrets(std::string_view text);

}  // namespace lorebox

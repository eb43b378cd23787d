// Masking passes for credentials recognised by their own shape where a
// token of letters, digits, '-', '.' and '_' cannot hold them: they contain
// ':' or base64's '+', '/' and '=', or span several lines. Each pass takes
// the previous pass's output and returns it unchanged when nothing matched.
#pragma once

#include <array>
#include <string>

#include "text/redact_spans.h"

namespace lorebox {

// What each pass starts from. A pass finds nothing in a text that holds none
// of its literals.
inline constexpr Literal kTelegramSeparator(":AA", ':');
inline constexpr std::array<Literal, 6> kBase64CredentialPrefixes = {{
    {"IQoJb3JpZ2luX2Vj", 'Z'},  // AWS session tokens
    {"FwoGZXIvYXdz", 'Z'},
    {"sntrys_", '_'},  // Sentry organisation tokens
    {"glc_", '_'},     // Grafana Cloud
    {"ops_eyJ", '_'},  // 1Password service accounts
    {"fm2_", '_'},     // Fly.io
}};
inline constexpr Literal kEncodedPemBegin("LS0tLS1CRUdJTi", 'J');  // "-----BEGI"
inline constexpr Literal kPuttyKeyFile("PuTTY-User-Key-File-", 'Y');
inline constexpr Literal kDjangoInsecure("django-insecure-", 'j');

// Telegram bot tokens: 8 to 10 ASCII digits (not part of a longer digit
// run), ':', "AA" and at least 33 more of letters, digits, '_' and '-'.
// The digits and the whole run after ':' become "[redacted-secret]".
std::string mask_telegram_tokens(std::string text);

// Tokens that begin with one of kBase64CredentialPrefixes are credentials at
// any length. The token and the run of
// token characters, '+', '/' and '=' that follows it become
// "[redacted-secret]".
std::string mask_base64_credentials(std::string text);

// A base64 run from "LS0tLS1CRUdJTi" ("-----BEGIN" encoded, also inside a
// longer run such as "KEY=LS0t...") to the end of the run becomes
// "[redacted-private-key]" when its first 64 characters decode to text
// holding "PRIVATE KEY" (a PEM key in a kubeconfig's client-key-data). A
// run wrapped over several lines goes on over a line break (LF or CR LF,
// also written "\n" or "\r\n" inside a JSON string) and the blanks that
// indent the next line, as long as the line before was full: at least 60
// characters, and at least as long as the next, which must be base64 to its
// end (a short last line also holds a digit, '+', '/' or '=').
std::string mask_base64_private_keys(std::string text);

// In a text holding "PuTTY-User-Key-File-", the N lines after a line
// "Private-Lines: N" become one "[redacted-private-key]"; the line break
// after the last of them stays. Lines end at line feeds, or, when the label
// follows a literal "\n" (a key inside a JSON string), at each "\n".
std::string mask_putty_private_keys(std::string text);

// Django secret keys: "django-insecure-" at the start of a token and the run
// of the characters Django draws them from (a-z, 0-9 and "!@#$%^&*(-_=+)")
// after it, when that run has at least 20 of them, become
// "[redacted-secret]".
std::string mask_django_keys(std::string text);

}  // namespace lorebox

// Masking passes for secrets recognised by what stands around them: a URL's
// userinfo, an Authorization header, a webhook address. Each pass takes the
// previous pass's output and returns it unchanged when nothing matched.
#pragma once

#include <array>
#include <string>

#include "text/redact_spans.h"

namespace lorebox {

// What each pass starts from. A pass finds nothing in a text that holds none
// of its literals.
inline constexpr Literal kUrlSchemeEnd("://", ':');
inline constexpr std::array<Literal, 4> kAuthorizationWords = {{
    {"Authorization", 'z'},
    {"authorization", 'z'},
    {"AUTHORIZATION", 'Z'},
    {"Bearer ", 'B'},
}};
inline constexpr std::array<Literal, 2> kCurlUserOptions = {{
    {" -u", '-'},
    {" --user", '-'},
}};
inline constexpr Literal kNetrcLogin("login", 'g');
inline constexpr Literal kNetrcPassword("password", 'w');  // what the probe looks for
inline constexpr std::array<Literal, 4> kWebhookPrefixes = {{
    {"hooks.slack.com/services/", '/'},
    {"discord.com/api/webhooks/", '/'},
    {"discordapp.com/api/webhooks/", '/'},
    {"webhook.office.com/webhookb2/", '/'},
}};

// Passwords in URLs. After "://" the authority runs to the first '/', '?',
// '#', white space or the end; the userinfo is what precedes its last '@',
// and the password what follows the userinfo's first ':'. A password of at
// least 3 characters that does not begin with '$', '{', '<' or '%' (a
// placeholder) becomes "[redacted-secret]".
std::string mask_url_passwords(std::string text);

// Authorization values: the run of ASCII letters, digits and ". _ ~ + / = -"
// after "Bearer " anywhere, or after "Authorization" (also
// all in lower or upper case), an optional quote, ':' or '=', an optional
// quote and one of the schemes "Bearer", "Basic", "Token" and "Bot" in any
// case (white space allowed around each part, and required after the
// scheme). A value of at least 16 characters that holds a digit becomes
// "[redacted-secret]".
std::string mask_authorization_values(std::string text);

// Passwords given to curl: on a line that holds "curl" before it, the
// option " -u" or " --user" (then white space, or '=' after "--user"), an
// optional quote, a user name and ':'; the password after that ':' runs to
// the closing quote on its line, or without a quote to white space. One of
// at least 3 characters that is not a placeholder (see mask_url_passwords),
// not all digits (a uid:gid) and does not begin with '/' becomes
// "[redacted-secret]".
std::string mask_curl_passwords(std::string text);

// Passwords in .netrc entries: "machine HOST" or "default", then "login
// USER password PASSWORD", the words separated by any white space. The
// password (to the next white space), when it is not a placeholder,
// becomes "[redacted-secret]".
std::string mask_netrc_passwords(std::string text);

// Webhook URLs: the rest of the path after one of kWebhookPrefixes, up to
// white space, a quote, '<', '>', ')' or ']', becomes "[redacted-secret]".
std::string mask_webhook_urls(std::string text);

}  // namespace lorebox

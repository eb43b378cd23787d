// The masking passes of redact_secrets that follow the token pass, and a
// quick look at a text that tells which of them can find anything there, so
// that the texts that hold nothing of the kind (nearly all) skip them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lorebox {

// The masking passes after the token pass, one bit each.
enum LaterPass : uint32_t {
  kTelegramPass = 1u << 0,
  kBase64CredentialPass = 1u << 1,
  kBase64PrivateKeyPass = 1u << 2,
  kPuttyPrivateKeyPass = 1u << 3,
  kUrlPasswordPass = 1u << 4,
  kAuthorizationPass = 1u << 5,
  kKeywordAssignmentPass = 1u << 6,
  kWebhookPass = 1u << 7,
  kDjangoKeyPass = 1u << 8,
  kCurlPasswordPass = 1u << 9,
  kNetrcPasswordPass = 1u << 10,
};
inline constexpr uint32_t kAllLaterPasses = (1u << 11) - 1;

// The passes whose starting literals occur in `text` (for the keyword
// assignments: a separator after a key that names a secret). A pass left out
// finds nothing in the text, nor in what earlier passes make of it: they only
// replace spans by markers, and no literal holds a bracket or lies inside a
// marker.
uint32_t later_passes_to_run(std::string_view text);

// Runs the passes named in `passes` over `text`, each over the previous
// one's output, in this order: Telegram, base64 credentials, base64 private
// keys, PuTTY keys, Django keys, URL passwords, curl passwords, .netrc
// passwords, Authorization values, keyword assignments, webhooks.
std::string run_later_passes(std::string text, uint32_t passes);

}  // namespace lorebox

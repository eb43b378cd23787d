// Every starting literal of every later pass is found by one byte of it (its
// anchor). The literals are grouped by anchor byte, and each group walks the
// text once with memchr, checking its literals around each hit. That is one
// walk per distinct anchor byte, about ten, each at memchr's speed, instead
// of one per literal and pass.
#include "text/redact_passes.h"

#include <array>
#include <cstring>

#include "text/redact_assignment.h"
#include "text/redact_context.h"
#include "text/redact_shapes.h"
#include "text/redact_spans.h"

namespace lorebox {

namespace {

// What a trigger's literal must stand next to to count.
enum class Context : uint8_t {
  kAny,
  kAfterKey,     // after a key that names a secret (follows_secret_key)
  kBeforeProse,  // in a key a sentence gives a value to (precedes_prose_value)
};

struct Trigger {
  Literal literal;
  uint32_t pass;
  Context context;
};

constexpr char anchor_byte(const Trigger& trigger) {
  return trigger.literal.text[trigger.literal.anchor];
}

constexpr size_t kTriggerCount = 35;

// The triggers ordered by anchor byte, so that each group is one run.
constexpr std::array<Trigger, kTriggerCount> by_anchor(
    std::array<Trigger, kTriggerCount> triggers) {
  for (size_t i = 1; i < kTriggerCount; ++i) {
    for (size_t j = i; j > 0 && anchor_byte(triggers[j]) < anchor_byte(triggers[j - 1]);
         --j) {
      const Trigger swapped = triggers[j];
      triggers[j] = triggers[j - 1];
      triggers[j - 1] = swapped;
    }
  }
  return triggers;
}

constexpr std::array<Trigger, kTriggerCount> kTriggers = by_anchor({{
    {kTelegramSeparator, kTelegramPass, Context::kAny},
    {kBase64CredentialPrefixes[0], kBase64CredentialPass, Context::kAny},
    {kBase64CredentialPrefixes[1], kBase64CredentialPass, Context::kAny},
    {kBase64CredentialPrefixes[2], kBase64CredentialPass, Context::kAny},
    {kBase64CredentialPrefixes[3], kBase64CredentialPass, Context::kAny},
    {kBase64CredentialPrefixes[4], kBase64CredentialPass, Context::kAny},
    {kBase64CredentialPrefixes[5], kBase64CredentialPass, Context::kAny},
    {kEncodedPemBegin, kBase64PrivateKeyPass, Context::kAny},
    {kPuttyKeyFile, kPuttyPrivateKeyPass, Context::kAny},
    {kUrlSchemeEnd, kUrlPasswordPass, Context::kAny},
    {kAuthorizationWords[0], kAuthorizationPass, Context::kAny},
    {kAuthorizationWords[1], kAuthorizationPass, Context::kAny},
    {kAuthorizationWords[2], kAuthorizationPass, Context::kAny},
    {kAuthorizationWords[3], kAuthorizationPass, Context::kAny},
    {kDjangoInsecure, kDjangoKeyPass, Context::kAny},
    {kCurlUserOptions[0], kCurlPasswordPass, Context::kAny},
    {kCurlUserOptions[1], kCurlPasswordPass, Context::kAny},
    {kNetrcPassword, kNetrcPasswordPass, Context::kAny},
    {kAssignmentSeparators[0], kKeywordAssignmentPass, Context::kAfterKey},
    {kAssignmentSeparators[1], kKeywordAssignmentPass, Context::kAfterKey},
    {kAssignmentSeparators[2], kKeywordAssignmentPass, Context::kAfterKey},
    {kProseKeyPieces[0], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[1], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[2], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[3], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[4], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[5], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[6], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[7], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[8], kKeywordAssignmentPass, Context::kBeforeProse},
    {kProseKeyPieces[9], kKeywordAssignmentPass, Context::kBeforeProse},
    {kWebhookPrefixes[0], kWebhookPass, Context::kAny},
    {kWebhookPrefixes[1], kWebhookPass, Context::kAny},
    {kWebhookPrefixes[2], kWebhookPass, Context::kAny},
    {kWebhookPrefixes[3], kWebhookPass, Context::kAny},
}});

// The triggers that share one anchor byte: kTriggers[first, last).
struct Group {
  char anchor = 0;
  uint8_t first = 0;
  uint8_t last = 0;
  uint32_t passes = 0;  // of all its triggers
};

struct Groups {
  std::array<Group, kTriggerCount> groups{};
  size_t count = 0;
  constexpr Groups() {
    for (size_t i = 0; i < kTriggerCount; ++i) {
      if (i == 0 || anchor_byte(kTriggers[i]) != groups[count - 1].anchor)
        groups[count++] = Group{anchor_byte(kTriggers[i]), static_cast<uint8_t>(i),
                                static_cast<uint8_t>(i), 0};
      groups[count - 1].last = static_cast<uint8_t>(i + 1);
      groups[count - 1].passes |= kTriggers[i].pass;
    }
  }
};
constexpr Groups kGroups;

// Adds to `needed` the passes of the group whose literals occur in the text.
void probe_group(std::string_view text, const Group& group, uint32_t* needed) {
  const char* const data = text.data();
  const char* const end = data + text.size();
  const char* hit =
      static_cast<const char*>(std::memchr(data, group.anchor, text.size()));
  while (hit != nullptr) {
    const size_t pos = static_cast<size_t>(hit - data);
    for (size_t i = group.first; i < group.last; ++i) {
      const Trigger& trigger = kTriggers[i];
      if (*needed & trigger.pass) continue;
      const size_t start = pos - trigger.literal.anchor;  // wraps when pos is too small
      if (!holds_at(text, start, trigger.literal.text)) continue;
      if (trigger.context == Context::kAfterKey && !follows_secret_key(text, start))
        continue;
      if (trigger.context == Context::kBeforeProse && !precedes_prose_value(text, start))
        continue;
      *needed |= trigger.pass;
    }
    if ((group.passes & ~*needed) == 0) return;
    hit = static_cast<const char*>(
        std::memchr(hit + 1, group.anchor, static_cast<size_t>(end - hit - 1)));
  }
}

}  // namespace

uint32_t later_passes_to_run(std::string_view text) {
  uint32_t needed = 0;
  if (text.empty()) return needed;
  for (size_t i = 0; i < kGroups.count; ++i) {
    if (kGroups.groups[i].passes & ~needed) probe_group(text, kGroups.groups[i], &needed);
  }
  return needed;
}

std::string run_later_passes(std::string text, uint32_t passes) {
  if (passes & kTelegramPass) text = mask_telegram_tokens(std::move(text));
  if (passes & kBase64CredentialPass) text = mask_base64_credentials(std::move(text));
  if (passes & kBase64PrivateKeyPass) text = mask_base64_private_keys(std::move(text));
  if (passes & kPuttyPrivateKeyPass) text = mask_putty_private_keys(std::move(text));
  if (passes & kDjangoKeyPass) text = mask_django_keys(std::move(text));
  if (passes & kUrlPasswordPass) text = mask_url_passwords(std::move(text));
  if (passes & kCurlPasswordPass) text = mask_curl_passwords(std::move(text));
  if (passes & kNetrcPasswordPass) text = mask_netrc_passwords(std::move(text));
  if (passes & kAuthorizationPass) text = mask_authorization_values(std::move(text));
  if (passes & kKeywordAssignmentPass) text = mask_keyword_assignments(std::move(text));
  if (passes & kWebhookPass) text = mask_webhook_urls(std::move(text));
  return text;
}

}  // namespace lorebox

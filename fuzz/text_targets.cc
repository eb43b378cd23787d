// Targets for the text rules: redaction with the finishing step, the Codex
// prompt cleanup and the Claude Code markup rules.
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "redact_model.h"
#include "text/cleanup.h"
#include "text/redact.h"
#include "text/redact_passes.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

std::string_view as_text(const uint8_t* data, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// A message limit chosen by the input's first byte: none for most inputs,
// else 0 to 63 characters.
std::optional<uint64_t> limit_from(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const auto first = static_cast<unsigned char>(text[0]);
  if (first >= 128) return std::nullopt;
  return first % 64;
}

}  // namespace

int fuzz_redact(const uint8_t* data, size_t size) {
  const std::string_view text = as_text(data, size);
  const bool valid = is_valid_utf8(text);
  const std::string out = redact_secrets(text);

  if (valid) expect(is_valid_utf8(out), "redact_secrets made valid UTF-8 invalid");
  expect(!holds_credential(out), "a credential survived redact_secrets");
  expect(!holds_private_key_header(out), "a private key survived redact_secrets");
  // The model covers the private-key and token passes; every later pass runs
  // over its output, so this also checks that the probe that lets most texts
  // skip the later passes never skips one that would mask something.
  expect(out == run_later_passes(model_redact(text), kAllLaterPasses),
         "redact_secrets differs from the plain model");

  const std::optional<uint64_t> limit = limit_from(text);
  const std::optional<std::string> finished = finish_message(text, true, limit);
  expect(finished.has_value() == !trim(out).empty(),
         "finish_message dropped a text that is not blank after redaction");
  if (finished) {
    expect(*finished == truncate_message(out, limit),
           "finish_message is not truncate_message of the redacted text");
    if (valid) {
      expect_message_text(*finished, /*redacted=*/true, limit);
    } else {
      expect(!holds_credential(*finished) && !holds_private_key_header(*finished),
             "a secret survived finish_message");
    }
  }

  const std::optional<std::string> plain = finish_message(text, false, std::nullopt);
  expect(plain ? *plain == trim(text) : trim(text).empty(),
         "finish_message without redaction is not the trimmed text");
  return 0;
}

int fuzz_codex_prompt(const uint8_t* data, size_t size) {
  const std::string_view text = as_text(data, size);
  const std::string out = clean_codex_prompt(text);

  if (is_valid_utf8(text))
    expect(is_valid_utf8(out), "clean_codex_prompt made valid UTF-8 invalid");
  expect(trim(out) == out, "clean_codex_prompt result is not trimmed");
  expect(out.size() <= text.size(), "clean_codex_prompt made the text longer");
  const bool unwrapped =
      text.find("<image ") == std::string_view::npos &&
      text.find("# Files mentioned by the user:") == std::string_view::npos;
  if (unwrapped)
    expect(out == trim(text), "clean_codex_prompt changed a text without wrappers");
  if (out.empty()) expect(is_codex_internal(out), "an empty Codex prompt is kept");
  (void)is_codex_internal(text);
  return 0;
}

int fuzz_claude_markup(const uint8_t* data, size_t size) {
  const std::string_view text = as_text(data, size);
  const bool valid = is_valid_utf8(text);

  if (const std::optional<std::string> prompt = command_prompt(text)) {
    expect(!prompt->empty(), "command_prompt gave an empty prompt");
    expect(trim(*prompt) == *prompt, "command_prompt result is not trimmed");
    if (valid) expect(is_valid_utf8(*prompt), "command_prompt made valid UTF-8 invalid");
  }
  if (const std::optional<std::string> inner = element_text(text, "command-args")) {
    expect(trim(*inner) == *inner, "element_text result is not trimmed");
    expect(inner->size() <= text.size(), "element_text result is longer than the text");
  }
  if (trim(text).empty())
    expect(is_claude_noise(text), "a blank Claude text is not noise");
  return 0;
}

}  // namespace lorebox::fuzz

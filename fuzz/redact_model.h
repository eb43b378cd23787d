// A second, deliberately plain implementation of credential masking, to
// compare redact_secrets with byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace lorebox::fuzz {

// Pass 1 masks private-key blocks: each "-----BEGIN" header (ending at the
// first "-----\n" after it, else "-----\r\n", else the "-----" that closes
// its label) that names a PRIVATE KEY is replaced through the next
// "PRIVATE KEY-----", or to the end of the text. Pass 2 masks every
// credential token of pass 1's output as testing::mask_credential_tokens
// does (the credential oracle).
std::string model_redact(std::string_view text);

}  // namespace lorebox::fuzz

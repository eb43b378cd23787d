// Invariant checks shared by the fuzz targets.
//
// A target reports a broken invariant through expect() instead of aborting,
// so the same code runs under libFuzzer (whose entry point aborts after the
// call when something was reported) and under GoogleTest (which fails the
// case and names the input file).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lorebox::fuzz {

// Records `what` as broken unless `condition` holds, and returns
// `condition`. Only the first broken invariant of a call is kept.
bool expect(bool condition, std::string_view what);

// The broken invariant recorded since the last call ("" when none), and
// forgets it.
std::string take_violation();

// True when the text holds a token that the credential table names: a
// maximal run of ASCII letters, digits, '-', '.' and '_' that starts with a
// known prefix and is at least that prefix's minimum length. Written apart
// from the redaction code so that it can judge it.
bool holds_credential(std::string_view text);

// True when some "-----BEGIN" in the text opens a header that names a
// PRIVATE KEY and holds no redaction marker. The header runs to the first
// "-----\n" after the BEGIN, else the first "-----\r\n", else the first
// "-----" after it. (Masking a token or a later key block can swallow the
// dashes that ended a harmless header, so that the header then reaches
// further; such a header holds the marker and is not a key the text had.)
bool holds_private_key_header(std::string_view text);

// What every kept message text must satisfy: not empty, valid UTF-8,
// trimmed, no credential and no private-key header when it was redacted,
// and at most `limit` characters plus the truncation marker.
void expect_message_text(std::string_view text, bool redacted,
                         std::optional<uint64_t> limit);

}  // namespace lorebox::fuzz

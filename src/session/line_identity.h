// The identity of a Claude Code transcript line, which survives the copies
// Claude Code makes when a session is resumed, handed to the background or
// forked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lorebox {

// 128 bits standing for one identity text. A canonical lower-case UUID (the
// form Claude Code writes) is held exactly; any other text by a 128-bit
// hash of it, so two different texts meet only by a vanishingly unlikely
// collision.
struct LineIdentity {
  uint64_t high = 0;
  uint64_t low = 0;

  friend bool operator==(const LineIdentity&, const LineIdentity&) = default;
  friend bool operator<(const LineIdentity& a, const LineIdentity& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  }
};

// The identity standing for `text`.
LineIdentity line_identity(std::string_view text);

// Hash for unordered containers keyed by identity.
struct LineIdentityHash {
  size_t operator()(const LineIdentity& id) const {
    return static_cast<size_t>(id.low ^ (id.high * 0x9E3779B97F4A7C15ull));
  }
};

}  // namespace lorebox

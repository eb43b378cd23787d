// MemberTable: the members of an object that a reader consults many times,
// found in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "json/value.h"

namespace lorebox::json {

// The last value of each of a fixed list of members, all found in one pass
// over an object. For an object consulted many times (the top level of a
// transcript line), this replaces a scan of every member per lookup.
class MemberTable {
 public:
  // At most kMaxKeys distinct names of at most 31 bytes; `keys` must outlive
  // the table.
  explicit MemberTable(std::span<const std::string_view> keys);

  static constexpr size_t kMaxKeys = 16;

  // Reads the members of `value`. False, with every entry empty, when it is
  // not an object.
  bool read(Element value);
  // Empties every entry.
  void clear();

  // The value of the last member named keys[index], as member() would
  // give it, or nothing.
  std::optional<Element> get(size_t index) const {
    if (!found_[index]) return std::nullopt;
    return values_[index];
  }
  // That value when it is a string.
  std::optional<std::string_view> get_string(size_t index) const;

 private:
  static constexpr size_t kMaxLength = 31;  // longer names are not looked for

  std::span<const std::string_view> keys_;
  uint16_t by_length_[kMaxLength + 1] = {};  // bit i: keys_[i] has this length
  Element values_[kMaxKeys];
  bool found_[kMaxKeys] = {};
};

}  // namespace lorebox::json

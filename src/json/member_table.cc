#include "json/member_table.h"

#include <algorithm>

#include "json/access.h"
#include "json/key_equal.h"

namespace lorebox::json {

MemberTable::MemberTable(std::span<const std::string_view> keys) : keys_(keys) {
  if (keys_.size() > kMaxKeys) keys_ = keys_.first(kMaxKeys);
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i].size() <= kMaxLength) by_length_[keys_[i].size()] |= uint16_t(1u << i);
  }
}

void MemberTable::clear() { std::fill(std::begin(found_), std::end(found_), false); }

bool MemberTable::read(Element value) {
  clear();
  simdjson::dom::object fields;
  if (Access::raw(value).get_object().get(fields) != simdjson::SUCCESS) return false;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    const std::string_view key = it.key();
    if (key.size() > kMaxLength) continue;
    // Only the names of this length can match.
    for (unsigned bits = by_length_[key.size()]; bits != 0; bits &= bits - 1) {
      const unsigned i = static_cast<unsigned>(__builtin_ctz(bits));
      if (key_equal(keys_[i], key)) {
        values_[i] = Access::wrap(it.value());
        found_[i] = true;
        break;
      }
    }
  }
  return true;
}

std::optional<std::string_view> MemberTable::get_string(size_t index) const {
  if (!found_[index]) return std::nullopt;
  return as_string(values_[index]);
}

}  // namespace lorebox::json

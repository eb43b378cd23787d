// A parsed JSON value and the accessors readers use on it. The module in
// src/json is the only code that names the parser libraries: readers see
// Element, look members up, walk arrays and objects with for_each_element
// and for_each_member, and read strings and numbers through the typed
// getters below. Values follow these rules:
//   - a member that appears twice in an object: the last one counts
//     (member(), MemberTable); for_each_member shows every occurrence;
//   - an integer that fits in 64 bits is an integer, anything else a float.
// An Element borrows from the parser that produced it and is valid until
// that parser parses again.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <simdjson.h>

namespace lorebox::json {

// One parsed value. Cheap to copy (a pointer into the parser's document).
class Element {
 public:
  Element() = default;

 private:
  explicit Element(simdjson::dom::element raw) : raw_(raw) {}

  simdjson::dom::element raw_;

  friend struct Access;
  template <typename Fn>
  friend bool for_each_element(Element array, Fn&& visit);
  template <typename Fn>
  friend bool for_each_member(Element object, Fn&& visit);
};

// True when the value is an object.
bool is_object(Element value);
// True when the value is an array.
bool is_array(Element value);

// The value of member `key` (the last occurrence), or nothing when the
// value is not an object or has no such member.
std::optional<Element> member(Element object, std::string_view key);
// The member's value when it is a string.
std::optional<std::string_view> string_member(Element object, std::string_view key);
// The value when it is a string.
std::optional<std::string_view> as_string(Element value);
// True only for the JSON literal true.
bool is_true(Element value);
// The value when it is a JSON integer >= 0.
std::optional<uint64_t> non_negative_integer(Element value);
// Any JSON number as a double.
std::optional<double> as_number(Element value);

// Calls visit(element) for each element of an array, in order. False, with
// no call, when the value is not an array.
template <typename Fn>
bool for_each_element(Element array, Fn&& visit) {
  simdjson::dom::array items;
  if (array.raw_.get_array().get(items) != simdjson::SUCCESS) return false;
  for (simdjson::dom::element item : items) visit(Element(item));
  return true;
}

// Calls visit(key, value) for each member of an object in the order written,
// duplicates included (so the last call for a key carries the value that
// counts). False, with no call, when the value is not an object.
template <typename Fn>
bool for_each_member(Element object, Fn&& visit) {
  simdjson::dom::object fields;
  if (object.raw_.get_object().get(fields) != simdjson::SUCCESS) return false;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    visit(it.key(), Element(it.value()));
  }
  return true;
}

}  // namespace lorebox::json

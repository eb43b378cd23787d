// Accessors on parsed values; see value.h.
#include "json/value.h"

#include "json/access.h"
#include "json/key_equal.h"

namespace lorebox::json {

bool is_object(Element value) { return Access::raw(value).is_object(); }

bool is_array(Element value) { return Access::raw(value).is_array(); }

std::optional<Element> member(Element object, std::string_view key) {
  simdjson::dom::object fields;
  if (Access::raw(object).get_object().get(fields) != simdjson::SUCCESS)
    return std::nullopt;
  std::optional<Element> found;
  for (auto it = fields.begin(); it != fields.end(); ++it) {
    if (key_equal(it.key(), key)) found = Access::wrap(it.value());
  }
  return found;
}

std::optional<std::string_view> string_member(Element object, std::string_view key) {
  std::optional<Element> value = member(object, key);
  if (!value) return std::nullopt;
  return as_string(*value);
}

std::optional<std::string_view> as_string(Element value) {
  std::string_view text;
  if (Access::raw(value).get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  return text;
}

bool is_true(Element value) {
  bool flag = false;
  return Access::raw(value).get_bool().get(flag) == simdjson::SUCCESS && flag;
}

std::optional<uint64_t> non_negative_integer(Element element) {
  const simdjson::dom::element value = Access::raw(element);
  switch (value.type()) {
    case simdjson::dom::element_type::INT64: {
      int64_t number = value.get_int64().value_unsafe();
      if (number < 0) return std::nullopt;
      return static_cast<uint64_t>(number);
    }
    case simdjson::dom::element_type::UINT64:
      return value.get_uint64().value_unsafe();
    default:
      return std::nullopt;
  }
}

std::optional<double> as_number(Element element) {
  const simdjson::dom::element value = Access::raw(element);
  switch (value.type()) {
    case simdjson::dom::element_type::INT64:
      return static_cast<double>(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
      return static_cast<double>(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
      return value.get_double().value_unsafe();
    default:
      return std::nullopt;
  }
}

}  // namespace lorebox::json

// Inside the JSON module only: the library value behind an Element, and an
// Element made from one.
#pragma once

#include <simdjson.h>

#include "json/value.h"

namespace lorebox::json {

struct Access {
  static simdjson::dom::element raw(Element value) { return value.raw_; }
  static Element wrap(simdjson::dom::element raw) { return Element(raw); }
};

}  // namespace lorebox::json

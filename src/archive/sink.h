// Sink: where a writer's bytes go (an archive entry, a file, a string).
#pragma once

#include <string>
#include <string_view>

#include "session/result.h"

namespace lorebox {

// A destination for bytes. write() either takes all the bytes or fails with
// the reason alone ("No space left on device"); the caller adds the context.
// After a failure the sink need not accept anything more.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual Result<void> write(std::string_view bytes) = 0;
};

// Collects everything written into a string; never fails.
class StringSink : public Sink {
 public:
  Result<void> write(std::string_view bytes) override {
    text_.append(bytes);
    return {};
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace lorebox

// Result<T>: either a value or one failure message.
//
// Shaped like std::expected so it can be swapped for it later. The failing
// call writes the context into the message ("path: reason"); callers pass it
// up unchanged. Messages carry no "lorebox: " prefix and no final line feed.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace lorebox {

// A failure message on its way up the call chain.
struct Error {
  std::string message;
};

// Builds an Error; reads as `return Fail("could not open x")`.
inline Error Fail(std::string message) { return Error{std::move(message)}; }

template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit on purpose
  Result(Error error) : state_(std::move(error)) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // The failure message; only valid when !has_value().
  const std::string& error() const { return std::get<1>(state_).message; }

 private:
  std::variant<T, Error> state_;
};

// Success without a value, or one failure message.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error.message)), failed_(true) {}  // NOLINT

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
  bool failed_ = false;
};

}  // namespace lorebox

// Small builders shared by the archive tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/sink.h"
#include "session/session.h"

namespace lorebox::testing {

inline Message user(std::string text, double at) {
  return Message{std::move(text), std::nullopt, at, Role::User};
}

inline Message reply(std::string text, double at, std::optional<std::string> model) {
  return Message{std::move(text), std::move(model), at, Role::Assistant};
}

// A session whose created_at is its first message's time (0.0 without one).
inline Session make_session(std::string id, SourceKind source,
                            std::vector<Message> messages) {
  Session session;
  session.id = std::move(id);
  session.source = source;
  session.messages = std::move(messages);
  if (!session.messages.empty()) session.created_at = session.messages.front().timestamp;
  return session;
}

// The bytes a writer puts into a string sink; expects success.
inline std::string rendered(const std::function<Result<void>(Sink&)>& write) {
  StringSink sink;
  Result<void> written = write(sink);
  EXPECT_TRUE(written.has_value()) << written.error();
  return sink.text();
}

}  // namespace lorebox::testing

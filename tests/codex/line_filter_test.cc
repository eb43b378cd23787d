#include "codex/line_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace lorebox {
namespace {

TEST(LineFilter, PassesEveryLineThatCanMatter) {
  const struct {
    std::string line;
    bool with_usage;
    bool without_usage;
  } cases[] = {
      {R"({"type":"session_meta","payload":{}})", true, true},
      {R"({"type":"turn_context","payload":{"model":"m"}})", true, true},
      {R"({"type":"compacted","payload":{}})", true, true},
      {R"({"type":"response_item","payload":{"type":"message"}})", true, true},
      {R"({"type":"response_item","payload":{"type":"function_call"}})", true, false},
      {R"({"type":"response_item","payload":{"type":"custom_tool_call_output"}})", true,
       false},
      {R"({"type":"event_msg","payload":{"type":"token_count"}})", true, false},
      // An escape could spell any name.
      {R"({"type":"event\u005fmsg","payload":{"type":"token_count"}})", true, true},
      {R"({"type":"x","payload":"\u0041"})", true, true},
      // A name met elsewhere than its place still passes.
      {R"({"type":"world_state","payload":{"session_meta":1}})", true, true},
      {R"({"type":"session_meta","payload":{"x":"response_item"}})", true, true},
      // A whole string equal to a name passes, though the line is ignored.
      {R"({"type":"response_item","payload":{"type":"reasoning","text":"message"}})", true,
       true},
      // Ignored whatever their content.
      {R"({"type":"response_item","payload":{"type":"reasoning","text":"a message"}})", false,
       false},
      {R"({"type":"response_item","payload":{"type":"reasoning","t":"say \"message\\"}})",
       false, false},
      {R"({"type":"event_msg","payload":{"type":"exec_command_end","out":"token_count: 3"}})",
       false, false},
      {R"({"type":"world_state","payload":{}})", false, false},
      {"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(may_affect_rollout(c.line, true), c.with_usage) << c.line;
    EXPECT_EQ(may_affect_rollout(c.line, false), c.without_usage) << c.line;
  }
}

}  // namespace
}  // namespace lorebox

#include "codex/rollout_name.h"

#include <gtest/gtest.h>

namespace lorebox {
namespace {

TEST(RolloutNameId, DropsTheLastExtension) {
  const struct {
    std::string name;
    std::string expected;
  } cases[] = {
      {"rollout-2025-05-01T10-00-00-abc.jsonl", "rollout-2025-05-01T10-00-00-abc"},
      {"rollout-abc.jsonl.zst", "rollout-abc"},  // same id as the plain file
      {"a.b.jsonl", "a.b"},
      {"notes", "notes"},
      {".jsonl", ".jsonl"},  // a leading dot is no extension
      {".jsonl.zst", ".jsonl"},
      {"caf\xc3\xa9.jsonl", "caf\xc3\xa9"},
      {"bad\xff.jsonl", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(rollout_name_id(c.name), c.expected) << c.name;
}

}  // namespace
}  // namespace lorebox

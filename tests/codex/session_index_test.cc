#include "codex/session_index.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace lorebox {
namespace {

TEST(SessionIndex, LastLineForAnIdWinsAndBadLinesAreSkipped) {
  testing::TempDir home;
  testing::write_file(home / "session_index.jsonl",
                      "{\"id\":\"t1\",\"thread_name\":\"first\"}\n"
                      "not json\n"
                      "[\"t2\",\"array\"]\n"
                      "{\"id\":\"t2\",\"thread_name\":null}\n"
                      "{\"id\":\"t3\"}\n"
                      "{\"id\":4,\"thread_name\":\"number id\"}\n"
                      "{\"id\":\"t4\",\"thread_name\":\"\",\"updated_at\":1}\r\n"
                      "{\"id\":\"t1\",\"thread_name\":\" renamed \"}\n"
                      "{\"id\":\"t5\",\"thread_name\":\"after \xff ends\"}\n"
                      "{\"id\":\"t6\",\"thread_name\":\"never read\"}\n");
  const TitleTable expected = {{"t1", " renamed "}, {"t4", ""}};
  EXPECT_EQ(read_session_index(home.path()), expected);
}

TEST(SessionIndex, MissingIndexGivesAnEmptyTable) {
  testing::TempDir home;
  EXPECT_TRUE(read_session_index(home.path()).empty());
  EXPECT_TRUE(read_session_index(home / "no-such-home").empty());
}

}  // namespace
}  // namespace lorebox

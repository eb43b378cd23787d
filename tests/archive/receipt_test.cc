#include "archive/receipt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "archive/test_sessions.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

using testing::TempDir;

Session session_with(std::string id, int prompts, int replies) {
  std::vector<Message> messages(prompts, testing::user("p", 1));
  messages.insert(messages.end(), replies, testing::reply("r", 2, std::nullopt));
  return testing::make_session(std::move(id), SourceKind::ClaudeCode,
                               std::move(messages));
}

StampedSource stamp(std::string path, int64_t size, std::string session_id) {
  return StampedSource{FileStamp{std::move(path), 16777230, 9123456, 0100644, size,
                                 1760000000, 125000000, 1760000001, 0},
                       std::move(session_id)};
}

TEST(ReceiptTest, WritesTheExampleReceiptWithFinalLineFeedAndMode0600) {
  TempDir dir;
  const std::filesystem::path path = dir / "receipt.json";
  Result<void> written = write_receipt(
      path, {stamp("/home/u/.claude/projects/p/s.jsonl", 40960, "claude-s")}, 0,
      {session_with("claude-s", 3, 4)});
  ASSERT_TRUE(written.has_value()) << written.error();
  EXPECT_EQ(testing::read_file(path), R"({
  "format": "lorebox-receipt/1",
  "sourceFiles": 1,
  "sourceBytes": 40960,
  "sessions": 1,
  "prompts": 3,
  "messages": 7,
  "skippedFiles": 0,
  "sources": [
    {
      "path": "/home/u/.claude/projects/p/s.jsonl",
      "device": 16777230,
      "inode": 9123456,
      "size": 40960,
      "modifiedSeconds": 1760000000,
      "modifiedNanoseconds": 125000000,
      "changedSeconds": 1760000001,
      "changedNanoseconds": 0
    }
  ]
}
)");
  struct stat status;
  ASSERT_EQ(::stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST(ReceiptTest, EmptyMatchNeverOverwritten) {
  TempDir dir;
  const std::filesystem::path path = dir / "r.json";
  ASSERT_TRUE(
      write_receipt(path, {stamp("/x/a.jsonl", 10, "claude-gone")}, 4, {}).has_value());
  const std::string first = R"({
  "format": "lorebox-receipt/1",
  "sourceFiles": 0,
  "sourceBytes": 0,
  "sessions": 0,
  "prompts": 0,
  "messages": 0,
  "skippedFiles": 4,
  "sources": []
}
)";
  EXPECT_EQ(testing::read_file(path), first);
  Result<void> again = write_receipt(path, {}, 2, {session_with("claude-a", 1, 0)});
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error(), "could not create receipt: File exists");
  EXPECT_EQ(testing::read_file(path), first);
}

TEST(ReceiptTest, ListsOnlyFilesOfPackedSessionsInReaderOrder) {
  TempDir dir;
  const std::filesystem::path path = dir / "sel.json";
  ASSERT_TRUE(
      write_receipt(
          path,
          {stamp("/s/one", 100, "codex-a"), stamp("/s/dropped", 1000, "claude-x"),
           stamp("/s/two \"q\"", -5, "claude-b"), stamp("/s/three", 7, "codex-a")},
          0, {session_with("claude-b", 1, 1), session_with("codex-a", 2, 0)})
          .has_value());
  const nlohmann::json receipt = nlohmann::json::parse(testing::read_file(path));
  EXPECT_EQ(receipt["sourceFiles"], 3);
  EXPECT_EQ(receipt["sourceBytes"], 107);  // a negative size counts as 0
  EXPECT_EQ(receipt["prompts"], 3);
  EXPECT_EQ(receipt["messages"], 4);
  ASSERT_EQ(receipt["sources"].size(), 3u);
  EXPECT_EQ(receipt["sources"][1]["path"], "/s/two \"q\"");
  EXPECT_EQ(receipt["sources"][1]["size"], -5);
  EXPECT_EQ(receipt["sources"][2]["path"], "/s/three");
}

TEST(ReceiptTest, FailureMessages) {
  TempDir dir;
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"no/such/dir/r.json", "/ok",
       "could not create receipt: No such file or directory"},
      {"bad.json", "/s/\xFF\xFE",
       "could not write receipt: path contains invalid UTF-8 characters"},
  };
  for (const auto& [relative, stamp_path, expected] : cases) {
    Result<void> written =
        write_receipt(dir / relative, {stamp(stamp_path, 1, "claude-a")}, 0,
                      {session_with("claude-a", 1, 0)});
    ASSERT_FALSE(written.has_value()) << relative;
    EXPECT_EQ(written.error(), expected);
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "bad.json"));  // left where it is
}

}  // namespace
}  // namespace lorebox

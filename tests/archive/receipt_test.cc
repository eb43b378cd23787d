#include "archive/receipt.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/temp_dir.h"

namespace lorebox {
namespace {

using testing::TempDir;

Session session_with(std::string id, int prompts, int replies) {
  Session session;
  session.id = std::move(id);
  for (int i = 0; i < prompts; ++i)
    session.messages.push_back(Message{"p", std::nullopt, 1.0, Role::User});
  for (int i = 0; i < replies; ++i)
    session.messages.push_back(Message{"r", std::nullopt, 2.0, Role::Assistant});
  return session;
}

StampedSource stamp(std::string path, int64_t size, std::string session_id) {
  StampedSource source;
  source.stamp.path = std::move(path);
  source.stamp.device = 16777230;
  source.stamp.inode = 9123456;
  source.stamp.size = size;
  source.stamp.modified_seconds = 1760000000;
  source.stamp.modified_nanoseconds = 125000000;
  source.stamp.changed_seconds = 1760000001;
  source.stamp.changed_nanoseconds = 0;
  source.session_id = std::move(session_id);
  return source;
}

TEST(ReceiptTest, WritesTheDocumentedReceiptWithFinalLineFeedAndMode0600) {
  TempDir dir;
  const std::filesystem::path path = dir / "receipt.json";
  Result<void> written =
      write_receipt(path, {stamp("/home/u/.claude/projects/p/s.jsonl", 40960, "claude-s")}, 0,
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
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(ReceiptTest, NeverOverwrites) {
  TempDir dir;
  const std::filesystem::path path = dir / "r.json";
  ASSERT_TRUE(write_receipt(path, {}, 1, {}).has_value());
  const std::string first = testing::read_file(path);
  Result<void> again = write_receipt(path, {}, 2, {session_with("codex-a", 1, 0)});
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error(), "could not create receipt: File exists");
  EXPECT_EQ(testing::read_file(path), first);
}

TEST(ReceiptTest, EmptyMatchKeepsSkippedCount) {
  TempDir dir;
  const std::filesystem::path path = dir / "empty.json";
  ASSERT_TRUE(write_receipt(path, {stamp("/x/a.jsonl", 10, "claude-gone")}, 4, {}).has_value());
  EXPECT_EQ(testing::read_file(path), R"({
  "format": "lorebox-receipt/1",
  "sourceFiles": 0,
  "sourceBytes": 0,
  "sessions": 0,
  "prompts": 0,
  "messages": 0,
  "skippedFiles": 4,
  "sources": []
}
)");
}

TEST(ReceiptTest, ListsOnlyFilesOfPackedSessionsInReaderOrder) {
  TempDir dir;
  const std::filesystem::path path = dir / "sel.json";
  const std::vector<StampedSource> sources = {
      stamp("/s/one.jsonl", 100, "codex-a"),
      stamp("/s/dropped.jsonl", 1000, "claude-dropped"),
      stamp("/s/two \"q\".jsonl", -5, "claude-b"),
      stamp("/s/three.jsonl", 7, "codex-a"),
  };
  ASSERT_TRUE(write_receipt(path, sources, 0,
                            {session_with("claude-b", 1, 1), session_with("codex-a", 2, 0)})
                  .has_value());
  const nlohmann::json receipt = nlohmann::json::parse(testing::read_file(path));
  EXPECT_EQ(receipt["sourceFiles"], 3);
  EXPECT_EQ(receipt["sourceBytes"], 107);  // a negative size counts as 0
  EXPECT_EQ(receipt["sessions"], 2);
  EXPECT_EQ(receipt["prompts"], 3);
  EXPECT_EQ(receipt["messages"], 4);
  ASSERT_EQ(receipt["sources"].size(), 3u);
  EXPECT_EQ(receipt["sources"][0]["path"], "/s/one.jsonl");
  EXPECT_EQ(receipt["sources"][1]["path"], "/s/two \"q\".jsonl");
  EXPECT_EQ(receipt["sources"][1]["size"], -5);
  EXPECT_EQ(receipt["sources"][2]["path"], "/s/three.jsonl");
}

struct FailureCase {
  const char* name;
  std::string relative_path;
  std::string stamp_path;
  std::string expected;
};

TEST(ReceiptTest, FailureMessages) {
  TempDir dir;
  const FailureCase cases[] = {
      {"missing directory", "no/such/dir/r.json", "/ok",
       "could not create receipt: No such file or directory"},
      {"invalid UTF-8 path", "bad.json", "/s/\xFF\xFE.jsonl",
       "could not write receipt: path contains invalid UTF-8 characters"},
  };
  for (const FailureCase& c : cases) {
    Result<void> written = write_receipt(dir / c.relative_path, {stamp(c.stamp_path, 1, "claude-a")},
                                         0, {session_with("claude-a", 1, 0)});
    ASSERT_FALSE(written.has_value()) << c.name;
    EXPECT_EQ(written.error(), c.expected) << c.name;
  }
  // The partly written receipt stays where it is.
  EXPECT_TRUE(std::filesystem::exists(dir / "bad.json"));
}

}  // namespace
}  // namespace lorebox

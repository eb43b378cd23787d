// Odd file systems under the agents' homes: unreadable entries, special
// files, symbolic-link loops, a relative home and a very large tree. Each
// run ends promptly, succeeds, and packs exactly the readable transcripts.
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "hostile_support.h"
#include "io/file.h"

namespace lorebox::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStrictBound = "4102444800";  // 2100-01-01

class HostileFiles : public ::testing::Test {
 protected:
  // One readable transcript in project "a" holding the prompt "good".
  void write_good() { home_.write_claude("a", "good", claude_line(json_text("good"))); }

  // Runs an export and expects success with exactly `texts` packed (in
  // order) and `skipped` files counted in the receipt.
  void expect_export(const std::vector<std::string>& texts, int skipped,
                     const HostileSettings& settings = {}) {
    const HostileRun run = home_.export_all({}, settings);
    ASSERT_FALSE(run.timed_out) << "lorebox did not finish";
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(packed_texts(home_.archive()), texts);
    const nlohmann::json receipt = read_receipt(home_.receipt());
    ASSERT_TRUE(receipt.is_object()) << run.err;
    EXPECT_EQ(receipt["skippedFiles"], skipped);
    EXPECT_EQ(receipt["sourceFiles"], 1);
  }

  HostileHome home_;
};

TEST_F(HostileFiles, UnreadableEntriesAreSkippedAsAnOrdinaryUserSeesThem) {
  write_good();
  home_.write_claude("a", "locked",
                     claude_line(json_text("locked file"), "2026-01-02T03:04:06Z"));
  home_.write_claude("hidden", "inside",
                     claude_line(json_text("hidden dir"), "2026-01-02T03:04:07Z"));
  fs::permissions(home_.projects() / "a" / "locked.jsonl", fs::perms::none);
  fs::permissions(home_.projects() / "hidden", fs::perms::none);

  // Root reads anything, so the run drops to the user nobody. The locked
  // file is found, fails to open and is counted; the directory that cannot
  // be listed is passed over without a count.
  HostileSettings as_user;
  as_user.unprivileged = true;
  const std::string why_not = home_.why_no_unprivileged_run();
  if (!why_not.empty()) GTEST_SKIP() << why_not;
  expect_export({"good"}, 1, as_user);

  // With a bound the checks are strict: the unreadable file ends the run.
  fs::remove(home_.archive());
  const HostileRun strict = home_.run({"--modified-before", kStrictBound, "--no-history",
                                       "--output", home_.archive().string()},
                                      as_user);
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find("lorebox: selected transcript changed before read\n"),
            std::string::npos)
      << strict.err;
  EXPECT_FALSE(fs::exists(home_.archive()));
}

// Several transcripts fail a strict run's checks, two different ways:
// files in directories that can be listed but not entered become
// unavailable, unreadable files fail to open. Whichever worker meets its
// failure first, the run reports the failure of the first such file in
// walk order, as a one-thread run does.
TEST_F(HostileFiles, StrictRunReportsTheFirstFailureInWalkOrderWithAnyJobs) {
  const std::string big = claude_line(json_text(std::string(200000, 'b')));
  for (int i = 0; i < 12; ++i) {
    const std::string project = "p" + std::to_string(i);
    std::string text;
    for (int copy = 0; copy < (i % 4 == 0 ? 25 : 1); ++copy) text += big;
    home_.write_claude(project, "t" + std::to_string(i), text);
    if (i % 4 == 1)
      fs::permissions(home_.projects() / project,
                      fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                         fs::perms::others_exec));
    if (i % 4 == 3)
      fs::permissions(home_.projects() / project / ("t" + std::to_string(i) + ".jsonl"),
                      fs::perms::none);
  }
  HostileSettings as_user;
  as_user.unprivileged = true;
  const std::string why_not = home_.why_no_unprivileged_run();
  if (!why_not.empty()) GTEST_SKIP() << why_not;
  std::string first_err;
  for (const char* jobs : {"1", "2", "7", "2", "7", "7"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    const HostileRun run =
        home_.run({"--source", "claude", "--modified-before", kStrictBound,
                   "--no-history", "--jobs", jobs, "--output", home_.archive().string()},
                  as_user);
    ASSERT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 1);
    if (first_err.empty()) {
      first_err = run.err;
      EXPECT_TRUE(
          run.err.ends_with("lorebox: selected transcript became unavailable\n") ||
          run.err.ends_with("lorebox: selected transcript changed before read\n"))
          << run.err;
    }
    EXPECT_EQ(run.err, first_err);
    EXPECT_FALSE(fs::exists(home_.archive()));
  }
}

TEST_F(HostileFiles, RootReadsWhatModesForbid) {
  if (!running_as_root()) GTEST_SKIP() << "only root reads files whatever their mode";
  write_good();
  home_.write_claude("a", "locked",
                     claude_line(json_text("locked file"), "2026-01-02T03:04:06Z"));
  fs::permissions(home_.projects() / "a" / "locked.jsonl", fs::perms::none);
  fs::permissions(home_.projects() / "a", fs::perms::owner_write);
  const HostileRun run = home_.export_all();
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(packed_texts(home_.archive()),
            (std::vector<std::string>{"good", "locked file"}));
}

TEST_F(HostileFiles, SpecialFilesAreNeverOpened) {
  write_good();
  const fs::path a = home_.projects() / "a";
  const fs::path rollouts = home_.sessions() / "2026";
  fs::create_directories(rollouts);
  ASSERT_EQ(::mkfifo((a / "fifo.jsonl").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((rollouts / "rollout-fifo.jsonl").c_str(), 0644), 0);
  // The history files and the session index are opened by name; as FIFOs
  // an open without a writer would wait for ever.
  ASSERT_EQ(::mkfifo((home_.claude() / "history.jsonl").c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((home_.codex() / "history.jsonl").c_str(), 0644), 0);
  fs::create_symlink("/dev/zero", home_.codex() / "session_index.jsonl");

  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string sock_path = (a / "sock.jsonl").string();
  ASSERT_LT(sock_path.size(), sizeof address.sun_path);
  sock_path.copy(address.sun_path, sock_path.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(sock, 1), 0);
  if (running_as_root()) {
    struct stat zero;
    ASSERT_EQ(::stat("/dev/zero", &zero), 0);
    ASSERT_EQ(::mknod((a / "zero.jsonl").c_str(), S_IFCHR | 0644, zero.st_rdev), 0);
  }

  // A FIFO or device that blocked the run would show as a timeout.
  expect_export({"good"}, 0);
  ::close(sock);
}

TEST_F(HostileFiles, SymbolicLinkLoopsEndTheWalk) {
  write_good();
  const fs::path a = home_.projects() / "a";
  fs::create_directory_symlink("..", a / "parent");
  fs::create_directory_symlink("../..", home_.projects() / "up");
  fs::create_symlink("self", home_.projects() / "self");
  fs::create_symlink("good.jsonl", a / "link.jsonl");
  fs::create_directory_symlink("../sessions", home_.sessions() / "again");
  fs::create_symlink("archived_sessions", home_.codex() / "archived_sessions");

  expect_export({"good"}, 0);
}

TEST_F(HostileFiles, LoopingRootsFindNothing) {
  fs::remove_all(home_.projects());
  fs::remove_all(home_.sessions());
  fs::create_symlink("projects", home_.projects());
  fs::create_symlink("sessions", home_.sessions());

  const HostileRun run = home_.run({"--output", home_.archive().string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("lorebox: No sessions were found. Check --claude-dir and "
                         "--codex-dir, or widen --since.\n"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(home_.archive()));
}

TEST_F(HostileFiles, RelativeHomeRecordsAbsolutePaths) {
  write_good();
  const std::string expected_path = (home_.projects() / "a" / "good.jsonl").string();
  for (const bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "strict" : "lenient");
    std::vector<std::string> args;
    if (strict) args = {"--modified-before", kStrictBound, "--no-history"};
    HostileSettings relative;
    relative.home_variable = "home";  // the working directory is root()
    fs::remove(home_.receipt());
    expect_export({"good"}, 0, relative);
    EXPECT_EQ(read_receipt(home_.receipt())["sources"][0]["path"], expected_path);
  }
}

TEST_F(HostileFiles, HundredThousandFilesAreEachReadOnce) {
  write_good();
  for (int dir = 0; dir < 100; ++dir) {
    const fs::path project = home_.projects() / ("p" + std::to_string(dir));
    fs::create_directory(project);
    for (int file = 0; file < 1000; ++file) {
      const fs::path path = project / ("f" + std::to_string(file) + ".jsonl");
      ASSERT_TRUE(File::open(path, OpenMode::CreateOrTruncate).has_value()) << path;
    }
  }
  // Every empty file is settled, opened and read; none may be left open,
  // or later files would fail to open and be counted as skipped.
  const HostileRun run = home_.export_all({"--source", "claude"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(packed_texts(home_.archive()), (std::vector<std::string>{"good"}));
  const nlohmann::json receipt = read_receipt(home_.receipt());
  EXPECT_EQ(receipt["skippedFiles"], 0);
  EXPECT_EQ(receipt["sourceFiles"], 1);
  // The work is bounded by the files, not by how busy the machine is: one
  // read finds each empty file's end, and nothing is read twice. (Start-up
  // reads a few library headers, and under the sanitizers the runtime reads
  // the process's memory map, some tens of KB.)
  if (run.read_calls == 0)
    GTEST_SKIP() << "no read counts here (only Linux keeps them, and shows an exited "
                    "child's only to root)";
  EXPECT_GE(run.read_calls, 100000u);
  EXPECT_LT(run.read_calls, 100000u + 1000u);
  EXPECT_LT(run.bytes_read, 1024u * 1024u);
}

}  // namespace
}  // namespace lorebox::testing

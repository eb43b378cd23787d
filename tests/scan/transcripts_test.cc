#include "scan/transcripts.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zstd.h>

#include "scan/progress.h"
#include "scan/snapshot.h"
#include "scan/transcripts_testing.h"
#include "scan/walk.h"

namespace lorebox {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

TEST(TranscriptsTest, NameRuleKeepsNoExtensionJsonlAndCompressedJsonl) {
  struct Case {
    std::string_view name;
    bool candidate;
  };
  const Case cases[] = {
      {"a.jsonl", true},    {"notes", true},          {".jsonl", true},
      {".hidden", true},    {"a.b.jsonl", true},      {"a..jsonl", true},
      {"jsonl", true},      {"a.jsonl.zst", true},    {".jsonl.zst", true},
      {"a.json", false},    {"a.jsonl.bak", false},   {"a.zst", false},
      {"a.JSONL", false},   {"a.", false},            {"a.txt", false},
      {"a.jsonlx", false},  {"x.json.zst", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(passes_name_rule(c.name), c.candidate) << c.name;
  }
}

// A temporary tree under /tmp, removed afterwards.
class TranscriptsTreeTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lorebox-scan-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    // The canonical form, so expected paths compare equal.
    base_ = fs::canonical(pattern).string();
  }

  void TearDown() override {
    set_before_open_hook_for_testing(nullptr);
    set_progress_observer(nullptr);
    // Restore permissions so everything can be removed.
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(base_, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory(error) && !it->is_symlink(error)) {
        ::chmod(it->path().c_str(), 0755);
      }
    }
    fs::remove_all(base_, error);
  }

  std::string path(std::string_view relative) const { return join_path(base_, relative); }

  void write(std::string_view relative, const std::string& content) {
    fs::create_directories(fs::path(path(relative)).parent_path());
    std::ofstream out(path(relative), std::ios::binary);
    out << content;
  }

  void append(const std::string& absolute, const std::string& content) {
    std::ofstream out(absolute, std::ios::binary | std::ios::app);
    out << content;
  }

  void link(std::string_view target, std::string_view relative) {
    fs::create_directories(fs::path(path(relative)).parent_path());
    ASSERT_EQ(::symlink(std::string(target).c_str(), path(relative).c_str()), 0);
  }

  void set_mtime(std::string_view relative, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path(relative).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }

  // What read_transcripts gave: each file's lines by absolute path, in
  // reading order, and the skipped count.
  struct Run {
    Result<void> result;
    std::vector<std::string> order;
    std::map<std::string, Lines> lines;
    uint64_t skipped = 0;
  };

  Run read(const std::string& root, std::optional<double> modified_before = std::nullopt,
           const std::function<void(const std::string&)>& during_read = nullptr) {
    Run run;
    run.result = read_transcripts(
        root, modified_before, &run.skipped, [](std::string_view) { return true; },
        [&](const FileStamp& stamp, LineReader& lines) {
          run.order.push_back(stamp.path);
          Lines& kept = run.lines[stamp.path];
          std::string_view line;
          while (lines.next(&line)) {
            kept.emplace_back(line);
            if (during_read) during_read(stamp.path);
          }
        });
    return run;
  }

  std::vector<std::string> sorted_keys(const Run& run) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : run.lines) keys.push_back(key);
    return keys;
  }

  std::string base_;
};

TEST_F(TranscriptsTreeTest, WalkReadsCandidatesAndPassesOverTheRest) {
  write("a.jsonl", "{\"a\":1}\n");
  write("b.json", "{}\n");
  write("notes", "n\n");
  write(".jsonl", "hidden\n");
  write("sub/c.jsonl", "c\n");
  write("sub/deeper/d.jsonl", "d1\nd2");
  write("sub/readme.txt", "x\n");
  write("outside/e.jsonl", "e\n");
  link(path("a.jsonl"), "file-link.jsonl");
  link(path("outside"), "sub/dir-link");
  link("loop-b", "loop-a");
  link("loop-a", "loop-b");
  link("..", "sub/up");
  ASSERT_EQ(::mkfifo(path("sub/pipe.jsonl").c_str(), 0600), 0);
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string socket_path = path("sock.jsonl");
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, socket_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  Run run = read(base_);
  ::close(sock);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(run.skipped, 0u);
  std::vector<std::string> expected = {path(".jsonl"), path("a.jsonl"), path("notes"),
                                       path("outside/e.jsonl"), path("sub/c.jsonl"),
                                       path("sub/deeper/d.jsonl")};
  EXPECT_EQ(sorted_keys(run), expected);
  EXPECT_EQ(run.lines[path("sub/deeper/d.jsonl")], (Lines{"d1", "d2"}));
  EXPECT_EQ(run.lines[path("a.jsonl")], (Lines{"{\"a\":1}"}));
}

TEST_F(TranscriptsTreeTest, WalkFollowsDirectoryOrderDepthFirst) {
  // Whatever order the directories list, every file of a directory comes
  // right after the entries listed before it, subdirectories included.
  for (const char* name : {"z/1", "a/2", "m/3", "a/b/4", "a/b/c/5", "6", "z/y/7"}) {
    write(name, "x\n");
  }
  Run run = read(base_);
  std::vector<std::string> walked = walk_candidates(base_, [](std::string_view) { return true; });
  ASSERT_EQ(walked.size(), 7u);
  for (size_t i = 0; i < walked.size(); ++i) EXPECT_EQ(run.order[i], path(walked[i]));
  // Depth first: the files below one top-level directory are contiguous.
  auto top = [](const std::string& relative) { return relative.substr(0, relative.find('/')); };
  for (size_t i = 0; i + 2 < walked.size(); ++i) {
    if (top(walked[i]) == top(walked[i + 2])) {
      EXPECT_EQ(top(walked[i + 1]), top(walked[i]));
    }
  }
}

TEST_F(TranscriptsTreeTest, ReaderRulesPassFilesOverWithoutCounting) {
  write("p/keep.jsonl", "k\n");
  write("p/subagents/agent.jsonl", "s\n");
  uint64_t skipped = 0;
  std::vector<std::string> seen;
  Result<void> result = read_transcripts(
      base_, std::nullopt, &skipped,
      [](std::string_view relative) { return relative.find("subagents") == std::string_view::npos; },
      [&](const FileStamp& stamp, LineReader&) { seen.push_back(stamp.path); });
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(seen, std::vector<std::string>{path("p/keep.jsonl")});
  EXPECT_EQ(skipped, 0u);
}

TEST_F(TranscriptsTreeTest, LinkedRootsAreReadThroughTheirCanonicalPath) {
  // A home whose .claude is a link into a dotfiles folder, and a projects
  // root that is itself a link.
  write("dotfiles/claude/projects/p/s.jsonl", "one\n");
  link(path("dotfiles/claude"), "home/.claude");
  link(path("dotfiles/claude/projects"), "projects-link");
  for (std::string root : {path("home/.claude/projects"), path("projects-link")}) {
    SCOPED_TRACE(root);
    std::optional<std::string> canonical = canonical_root(root);
    ASSERT_TRUE(canonical.has_value());
    EXPECT_EQ(*canonical, path("dotfiles/claude/projects"));
    Run run = read(*canonical);
    ASSERT_TRUE(run.result.has_value());
    EXPECT_EQ(run.skipped, 0u);
    EXPECT_EQ(run.lines[path("dotfiles/claude/projects/p/s.jsonl")], Lines{"one"});
    // Read through the link itself (not canonical), every file is behind a
    // link and unavailable.
    Run linked = read(root);
    EXPECT_TRUE(linked.lines.empty());
    EXPECT_EQ(linked.skipped, 1u);
  }
  EXPECT_EQ(canonical_root(path("missing")), std::nullopt);
  EXPECT_EQ(canonical_root(path("dotfiles/claude/projects/p/s.jsonl")), std::nullopt);
}

TEST_F(TranscriptsTreeTest, RelativeRootsBecomeAbsolute) {
  write("rel/x.jsonl", "x\n");
  fs::path previous = fs::current_path();
  fs::current_path(base_);
  std::optional<std::string> canonical = canonical_root("rel");
  fs::current_path(previous);
  ASSERT_TRUE(canonical.has_value());
  EXPECT_EQ(*canonical, path("rel"));
}

TEST_F(TranscriptsTreeTest, SettleRefusesLinksAnywhereAndNonRegularFiles) {
  write("dir/file.jsonl", "x\n");
  link(path("dir"), "dir-link");
  link(path("dir/file.jsonl"), "file-link.jsonl");
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  struct Case {
    std::string path;
    bool available;
  };
  const Case cases[] = {
      {path("dir/file.jsonl"), true},
      {path("dir-link/file.jsonl"), false},
      {path("file-link.jsonl"), false},
      {path("dir/missing.jsonl"), false},
      {path("dir"), false},
      {path("fifo"), false},
      {"dir/file.jsonl", false},  // not absolute
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(settle_file(c.path).has_value(), c.available) << c.path;
  }
  std::optional<FileStamp> stamp = settle_file(path("dir/file.jsonl"));
  ASSERT_TRUE(stamp.has_value());
  struct stat info;
  ASSERT_EQ(::lstat(path("dir/file.jsonl").c_str(), &info), 0);
  EXPECT_EQ(stamp->path, path("dir/file.jsonl"));
  EXPECT_EQ(stamp->device, static_cast<uint64_t>(info.st_dev));
  EXPECT_EQ(stamp->inode, static_cast<uint64_t>(info.st_ino));
  EXPECT_EQ(stamp->mode, static_cast<uint16_t>(info.st_mode));
  EXPECT_EQ(stamp->size, 2);
  EXPECT_EQ(stamp->modified_seconds, info.st_mtim.tv_sec);
  EXPECT_EQ(stamp->modified_nanoseconds, info.st_mtim.tv_nsec);
  EXPECT_EQ(stamp->changed_seconds, info.st_ctim.tv_sec);
  EXPECT_EQ(stamp->changed_nanoseconds, info.st_ctim.tv_nsec);
}

TEST(FileStampTest, SameStampComparesEverythingButThePath) {
  FileStamp a{"/a", 1, 2, 0100644, 10, 100, 5, 200, 6};
  FileStamp b = a;
  b.path = "/b";
  EXPECT_TRUE(same_stamp(a, b));
  std::vector<std::function<void(FileStamp&)>> changes = {
      [](FileStamp& s) { s.device++; },
      [](FileStamp& s) { s.inode++; },
      [](FileStamp& s) { s.mode = 0100600; },
      [](FileStamp& s) { s.size++; },
      [](FileStamp& s) { s.modified_seconds++; },
      [](FileStamp& s) { s.modified_nanoseconds++; },
      [](FileStamp& s) { s.changed_seconds++; },
      [](FileStamp& s) { s.changed_nanoseconds++; },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    FileStamp changed = a;
    changes[i](changed);
    EXPECT_FALSE(same_stamp(a, changed)) << "field " << i;
  }
}

TEST(FileStampTest, AdmitByTimeIsStrictlyBeforeTheBound) {
  struct Case {
    int64_t seconds;
    int64_t nanoseconds;
    double bound;
    bool admitted;
  };
  const Case cases[] = {
      {999, 500000000, 1000.0, true},
      {1000, 0, 1000.0, false},
      {999, 999999999, 1000.0, true},
      {1000, 1, 1000.0, false},
      {0, 0, 1000.0, true},
      {-1, 500000000, 1000.0, false},  // before the epoch
      {1700000000, 500000000, 1700000000.5, false},
      {1700000000, 499999000, 1700000000.5, true},
  };
  for (const Case& c : cases) {
    FileStamp stamp;
    stamp.modified_seconds = c.seconds;
    stamp.modified_nanoseconds = c.nanoseconds;
    EXPECT_EQ(admit_by_time(stamp, c.bound), c.admitted)
        << c.seconds << "." << c.nanoseconds << " < " << c.bound;
  }
}

TEST_F(TranscriptsTreeTest, ModifiedBeforeBoundAdmitsOnlyEarlierFiles) {
  write("early.jsonl", "early\n");
  write("exact.jsonl", "exact\n");
  write("before-epoch.jsonl", "old\n");
  set_mtime("early.jsonl", 999, 500000000);
  set_mtime("exact.jsonl", 1000, 0);
  set_mtime("before-epoch.jsonl", -5, 0);
  Run run = read(base_, 1000.0);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(sorted_keys(run), std::vector<std::string>{path("early.jsonl")});
  EXPECT_EQ(run.skipped, 2u);
  // Without a bound all three are read.
  Run all = read(base_);
  EXPECT_EQ(all.lines.size(), 3u);
  EXPECT_EQ(all.skipped, 0u);
}

TEST_F(TranscriptsTreeTest, LinesStopAtTheFirstLineThatIsNotUtf8) {
  write("bad.jsonl", "{\"n\":1}\r\n{\"n\":2}\n{\"n\":\"\xC3\x28\"}\n{\"n\":4}\n");
  write("plain.jsonl", "one\r\ntwo\nlast without line feed");
  Run run = read(base_);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(run.lines[path("bad.jsonl")], (Lines{"{\"n\":1}", "{\"n\":2}"}));
  EXPECT_EQ(run.lines[path("plain.jsonl")], (Lines{"one", "two", "last without line feed"}));
}

TEST_F(TranscriptsTreeTest, FileChangedBetweenSettleAndOpen) {
  struct Case {
    std::optional<double> bound;
    std::optional<std::string_view> failure;
    uint64_t skipped;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 1},
      {4102444800.0, kTranscriptChangedBeforeRead, 0},
  };
  for (const Case& c : cases) {
    write("grows.jsonl", "first\n");
    set_mtime("grows.jsonl", 1000, 0);
    set_before_open_hook_for_testing([this](const std::string& file) {
      if (file == path("grows.jsonl")) append(file, "appended\n");
    });
    Run run = read(base_, c.bound);
    set_before_open_hook_for_testing(nullptr);
    EXPECT_EQ(run.result.has_value(), !c.failure.has_value());
    if (c.failure) {
      EXPECT_EQ(run.result.error(), *c.failure);
    }
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(run.skipped, c.skipped);
  }
}

TEST_F(TranscriptsTreeTest, FileChangedWhileReadFailsOnlyStrictRuns) {
  struct Case {
    std::optional<double> bound;
    bool fails;
  };
  for (const Case& c : {Case{std::nullopt, false}, Case{4102444800.0, true}}) {
    write("grows.jsonl", "first\nsecond\n");
    set_mtime("grows.jsonl", 1000, 0);
    bool appended = false;
    Run run = read(base_, c.bound, [&](const std::string& file) {
      if (!appended) append(file, "third\n");
      appended = true;
    });
    EXPECT_EQ(run.result.has_value(), !c.fails);
    if (c.fails) {
      EXPECT_EQ(run.result.error(), kTranscriptChangedDuringRead);
    }
    EXPECT_EQ(run.skipped, 0u);
    // The lenient run keeps what it read.
    EXPECT_GE(run.lines[path("grows.jsonl")].size(), 2u);
  }
}

TEST_F(TranscriptsTreeTest, FileBehindANewLinkBecomesUnavailable) {
  // The walk sees a plain directory; before the file is settled the
  // directory is swapped for a link to a copy.
  struct Case {
    std::optional<double> bound;
    std::optional<std::string_view> failure;
    uint64_t skipped;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, 1},
      {4102444800.0, kTranscriptUnavailable, 0},
  };
  for (const Case& c : cases) {
    fs::remove_all(path("p"));
    fs::remove_all(path("moved"));
    write("p/s.jsonl", "x\n");
    uint64_t skipped = 0;
    int reads = 0;
    Result<void> result = read_transcripts(
        base_, c.bound, &skipped,
        [this](std::string_view) {
          fs::rename(path("p"), path("moved"));
          EXPECT_EQ(::symlink(path("moved").c_str(), path("p").c_str()), 0);
          return true;
        },
        [&](const FileStamp&, LineReader&) { ++reads; });
    EXPECT_EQ(result.has_value(), !c.failure.has_value());
    if (c.failure) {
      EXPECT_EQ(result.error(), *c.failure);
    }
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(skipped, c.skipped);
  }
}

std::string compress(const std::string& data) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
  out.resize(size);
  return out;
}

TEST_F(TranscriptsTreeTest, CompressedTranscriptsReadLikePlainOnes) {
  std::string plain;
  for (int i = 0; i < 3000; ++i) plain += "{\"line\":" + std::to_string(i) + "}\n";
  write("plain/rollout.jsonl", plain);
  write("zst/rollout.jsonl.zst", compress(plain));
  std::string compressed = compress(plain);
  write("cut/rollout.jsonl.zst", compressed.substr(0, compressed.size() / 2));
  Run run = read(base_);
  ASSERT_TRUE(run.result.has_value());
  const Lines& expected = run.lines[path("plain/rollout.jsonl")];
  ASSERT_EQ(expected.size(), 3000u);
  EXPECT_EQ(run.lines[path("zst/rollout.jsonl.zst")], expected);
  const Lines& cut = run.lines[path("cut/rollout.jsonl.zst")];
  EXPECT_LT(cut.size(), expected.size());
  EXPECT_EQ(cut, Lines(expected.begin(), expected.begin() + cut.size()));
}

class CountingObserver : public ProgressObserver {
 public:
  void on_candidates(uint64_t count) override { candidates += count; }
  void on_file_done(uint64_t bytes) override {
    ++done;
    done_bytes += bytes;
  }
  void on_bytes(uint64_t bytes) override {
    EXPECT_GE(bytes, last_progress);
    last_progress = bytes;
    ++progress_calls;
  }
  void on_skipped(SkipReason reason) override { skipped.push_back(reason); }

  uint64_t candidates = 0;
  uint64_t done = 0;
  uint64_t done_bytes = 0;
  uint64_t last_progress = 0;
  int progress_calls = 0;
  std::vector<SkipReason> skipped;
};

TEST_F(TranscriptsTreeTest, ProgressReportsEveryCandidate) {
  std::string big(9 * 1024 * 1024, 'b');
  write("big.jsonl", big + "\n");
  write("small.jsonl", "s\n");
  write("late.jsonl", "l\n");
  write("skip.json", "{}\n");
  set_mtime("big.jsonl", 10, 0);
  set_mtime("small.jsonl", 10, 0);
  set_mtime("late.jsonl", 5000, 0);
  CountingObserver observer;
  set_progress_observer(&observer);
  Run run = read(base_, 1000.0);
  set_progress_observer(nullptr);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(observer.candidates, 3u);
  EXPECT_EQ(observer.done, 2u);
  EXPECT_EQ(observer.done_bytes, big.size() + 1 + 2);
  EXPECT_GE(observer.progress_calls, 2);  // every few MB of the big file
  EXPECT_EQ(observer.skipped, std::vector<SkipReason>{SkipReason::NotAdmitted});
}

// Runs `body` in a child process without root's right to read any
// directory; returns its exit status.
int run_unprivileged(const std::function<int()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
    ::_exit(body());
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST_F(TranscriptsTreeTest, UnreadableDirectoriesArePassedOverUncounted) {
  write("open/a.jsonl", "a\n");
  write("closed/b.jsonl", "b\n");
  write("closed-file.jsonl", "c\n");
  for (const char* dir : {"", "open"}) ::chmod(path(dir).c_str(), 0755);
  for (const char* file : {"open/a.jsonl", "closed/b.jsonl"}) ::chmod(path(file).c_str(), 0644);
  ::chmod(path("closed").c_str(), 0);
  ::chmod(path("closed-file.jsonl").c_str(), 0);
  int status = run_unprivileged([this] {
    Run run = read(base_);
    // Exit codes: 0 as expected, 1 otherwise.
    bool ok = run.result.has_value() && run.skipped == 1 &&
              run.lines.size() == 1 && run.lines.count(path("open/a.jsonl")) == 1;
    return ok ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(TranscriptsTreeTest, PlainLinesReadOnlyRegularFiles) {
  write("history.jsonl", "h1\nh2\n");
  ASSERT_EQ(::mkfifo(path("fifo.jsonl").c_str(), 0600), 0);
  link(path("history.jsonl"), "linked.jsonl");
  struct Case {
    std::string path;
    std::optional<Lines> lines;
  };
  const Case cases[] = {
      {path("history.jsonl"), Lines{"h1", "h2"}},
      {path("linked.jsonl"), Lines{"h1", "h2"}},  // links are followed here
      {path("missing.jsonl"), std::nullopt},
      {path("fifo.jsonl"), std::nullopt},  // never blocks
      {base_, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<Lines> lines;
    read_plain_lines(c.path, [&](LineReader& reader) {
      lines.emplace();
      std::string_view line;
      while (reader.next(&line)) lines->emplace_back(line);
    });
    EXPECT_EQ(lines, c.lines) << c.path;
  }
}

}  // namespace
}  // namespace lorebox

#include "scan/transcripts.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

#include <zstd.h>

#include "parallel/worker_pool.h"
#include "scan/progress.h"
#include "scan/transcript_name.h"
#include "scan/walk.h"
#include "temp_tree.h"

namespace lorebox {
namespace {

using Lines = std::vector<std::string>;
constexpr double kYear2100 = 4102444800.0;  // a bound every test file is before

TEST(NameRuleTest, KeepsNoExtensionJsonlAndCompressedJsonl) {
  const std::pair<std::string_view, bool> cases[] = {
      {"a.jsonl", true},      {"notes", true},     {".jsonl", true},
      {".hidden", true},      {"a.b.jsonl", true}, {"a.jsonl.zst", true},
      {".jsonl.zst", true},   {"a.json", false},   {"a.zst", false},
      {"a.jsonl.bak", false}, {"a.JSONL", false},  {"a.", false},
  };
  for (const auto& [name, candidate] : cases)
    EXPECT_EQ(passes_name_rule(name), candidate) << name;
}

TEST(NameRuleTest, StemIsTheLastComponentWithoutItsExtension) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"/r/p/abc.jsonl", "abc"},
      {"abc.jsonl.zst", "abc"},
      {"/r/a.b.jsonl", "a.b"},
      {"/r/.jsonl", ".jsonl"},
      {"/r/.jsonl.zst", ".jsonl"},
      {"notes", "notes"},
      {"/r.d/notes", "notes"},
      {"a.zst", "a"},
      {"/r/p/", ""},
      {"/r/\xff.jsonl", "\xff"},  // bytes pass through unchanged
  };
  for (const auto& [path, stem] : cases) EXPECT_EQ(transcript_stem(path), stem) << path;
}

// What read_transcripts gave: each file's lines by absolute path (as the
// reader saw them, kept or not), the files whose results were kept, in the
// order they were, and the skipped count.
struct ReadRun {
  Result<void> result;
  std::map<std::string, Lines> lines;
  std::vector<std::string> kept;
  uint64_t skipped = 0;
};

// Reads every file into run->lines (on the thread that reads it, so only
// for reads without workers) and keeps its path; `during_read` runs after
// each line.
MakeReadFn record_into(ReadRun* run,
                       std::function<void(const std::string&)> during_read = nullptr) {
  return [run, during_read]() -> ReadFn {
    return [run, during_read](const FileStamp& stamp, LineReader& lines) -> FileResult {
      std::string_view line;
      while (lines.next(&line)) {
        run->lines[stamp.path].emplace_back(line);
        if (during_read) during_read(stamp.path);
      }
      return [run, path = stamp.path] { run->kept.push_back(path); };
    };
  };
}

bool accept_all(std::string_view) { return true; }

class TranscriptsTest : public TempTreeTest {
 protected:
  // Reads `root` one file after another; `during_read` runs after each line.
  ReadRun read(const std::string& root, std::optional<double> bound = std::nullopt,
               const std::function<void(const std::string&)>& during_read = nullptr,
               const ReadingContext& context = {}) {
    ReadRun run;
    run.result = read_transcripts(root, bound, context, &run.skipped, accept_all,
                                  record_into(&run, during_read));
    return run;
  }

  std::vector<std::string> files(const ReadRun& run) {
    std::vector<std::string> names;
    for (const auto& [name, lines] : run.lines) names.push_back(name);
    return names;
  }
};

TEST_F(TranscriptsTest, ReadsCandidatesAndPassesOverTheRestUncounted) {
  write("a.jsonl", "{\"a\":1}\n");
  write("b.json", "{}\n");
  write("notes", "n\n");
  write(".jsonl", "hidden\n");
  write("sub/deeper/d.jsonl", "d1\r\nd2");
  write("sub/skip.jsonl", "s\n");
  write("outside/e.jsonl", "e\n");
  link(path("a.jsonl"), "file-link.jsonl");
  link(path("outside"), "sub/dir-link");
  link("loop-b", "loop-a");
  link("loop-a", "loop-b");
  link("..", "sub/up");
  ASSERT_EQ(::mkfifo(path("sub/pipe.jsonl").c_str(), 0600), 0);
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path("sock.jsonl").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  ReadRun run;
  run.result = read_transcripts(
      base_, std::nullopt, ReadingContext{}, &run.skipped,
      [](std::string_view relative) { return relative != "sub/skip.jsonl"; },
      record_into(&run));
  ::close(sock);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(run.skipped, 0u);
  EXPECT_EQ(files(run), (Lines{path(".jsonl"), path("a.jsonl"), path("notes"),
                               path("outside/e.jsonl"), path("sub/deeper/d.jsonl")}));
  EXPECT_EQ(run.lines[path("sub/deeper/d.jsonl")], (Lines{"d1", "d2"}));
}

TEST_F(TranscriptsTest, RootDocumentsAreReadWholeOnlyWhenAskedFor) {
  write("a.jsonl", "one\ntwo\n");
  write("doc.json", "{\n  \"a\": 1\n}\n");
  write("sub/deep.json", "{}\n");
  link(path("doc.json"), "linked.json");
  for (bool documents : {false, true}) {
    std::map<std::string, Lines> lines;
    std::map<std::string, bool> whole;
    uint64_t skipped = 0;
    Result<void> result = read_transcripts(
        base_, std::nullopt, ReadingContext(), &skipped, accept_all,
        [&]() -> ReadFn {
          return [&](const FileStamp& stamp, LineReader& reader) -> FileResult {
            whole[stamp.path] = reader.whole();
            std::string_view line;
            while (reader.next(&line)) lines[stamp.path].emplace_back(line);
            return nullptr;
          };
        },
        documents);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(skipped, 0u);
    std::map<std::string, bool> expected_whole = {{path("a.jsonl"), false}};
    if (documents) expected_whole[path("doc.json")] = true;
    EXPECT_EQ(whole, expected_whole) << documents;
    EXPECT_EQ(lines[path("a.jsonl")], (Lines{"one", "two"}));
    EXPECT_EQ(lines[path("doc.json")], documents ? Lines{"{\n  \"a\": 1\n}\n"} : Lines{});
  }
  // A document passes the same checks as any transcript.
  uint64_t skipped = 0;
  set_mtime("doc.json", 2000, 0);
  Result<void> strict = read_transcripts(
      base_, 1000.0, ReadingContext(), &skipped, accept_all,
      []() -> ReadFn {
        return [](const FileStamp&, LineReader&) -> FileResult { return nullptr; };
      },
      true);
  EXPECT_TRUE(strict.has_value());
  EXPECT_EQ(skipped, 2u);  // doc.json and a.jsonl are not before the bound
}

TEST_F(TranscriptsTest, LinkedRootsAreReadThroughTheirCanonicalPath) {
  // A home whose .claude links into a dotfiles folder, and a root that is
  // itself a link.
  write("dotfiles/claude/projects/p/s.jsonl", "one\n");
  link(path("dotfiles/claude"), "home/.claude");
  link(path("dotfiles/claude/projects"), "projects-link");
  for (const std::string& root : {path("home/.claude/projects"), path("projects-link")}) {
    std::optional<std::string> canonical = canonical_root(root);
    ASSERT_EQ(canonical, path("dotfiles/claude/projects"));
    ReadRun run = read(*canonical);
    EXPECT_EQ(run.lines[path("dotfiles/claude/projects/p/s.jsonl")], Lines{"one"});
    EXPECT_EQ(run.skipped, 0u);
    // Walked without resolving the link, the file is behind a link.
    EXPECT_EQ(read(root).skipped, 1u);
  }
  EXPECT_EQ(canonical_root(path("missing")), std::nullopt);
  EXPECT_EQ(canonical_root(path("dotfiles/claude/projects/p/s.jsonl")), std::nullopt);
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(path("dotfiles"));
  std::optional<std::string> relative = canonical_root("claude");
  std::filesystem::current_path(previous);
  EXPECT_EQ(relative, path("dotfiles/claude"));
}

TEST_F(TranscriptsTest, ModifiedBeforeBoundAdmitsOnlyEarlierFiles) {
  write("early.jsonl", "early\n");
  write("exact.jsonl", "exact\n");
  write("before-epoch.jsonl", "old\n");
  set_mtime("early.jsonl", 999, 500000000);
  set_mtime("exact.jsonl", 1000, 0);
  set_mtime("before-epoch.jsonl", -5, 0);
  ReadRun run = read(base_, 1000.0);
  ASSERT_TRUE(run.result.has_value());
  EXPECT_EQ(files(run), Lines{path("early.jsonl")});
  EXPECT_EQ(run.skipped, 2u);
  EXPECT_EQ(read(base_).lines.size(), 3u);
}

TEST_F(TranscriptsTest, ReadingStopsAtTheFirstLineThatIsNotUtf8) {
  write("bad.jsonl", "{\"n\":1}\r\n{\"n\":2}\n{\"n\":\"\xC3\x28\"}\n{\"n\":4}\n");
  EXPECT_EQ(read(base_).lines[path("bad.jsonl")], (Lines{"{\"n\":1}", "{\"n\":2}"}));
}

// A change at each point of a file's reading, in lenient and strict runs.
TEST_F(TranscriptsTest, ChangedFilesAreSkippedOrFailStrictRuns) {
  enum class When { BeforeOpen, DuringRead, LinkBeforeSettle };
  struct Case {
    When when;
    std::optional<double> bound;
    std::optional<std::string_view> failure;
    uint64_t skipped;
    bool read;
  };
  const Case cases[] = {
      {When::BeforeOpen, std::nullopt, std::nullopt, 1, false},
      {When::BeforeOpen, kYear2100, kTranscriptChangedBeforeRead, 0, false},
      {When::DuringRead, std::nullopt, std::nullopt, 0, true},
      {When::DuringRead, kYear2100, kTranscriptChangedDuringRead, 0, true},
      {When::LinkBeforeSettle, std::nullopt, std::nullopt, 1, false},
      {When::LinkBeforeSettle, kYear2100, kTranscriptUnavailable, 0, false},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(path("p"));
    std::filesystem::remove_all(path("moved"));
    write("p/grows.jsonl", "first\nsecond\n");
    std::string file = path("p/grows.jsonl");
    ReadingContext context;
    context.before_open_for_testing = [&](const std::string&) {
      if (c.when == When::BeforeOpen) append(file, "appended\n");
    };
    bool appended = false;
    ReadRun run;
    run.result = read_transcripts(
        base_, c.bound, context, &run.skipped,
        [&](std::string_view) {
          // The walk saw a plain directory; it becomes a link to a copy.
          if (c.when == When::LinkBeforeSettle) {
            std::filesystem::rename(path("p"), path("moved"));
            EXPECT_EQ(::symlink(path("moved").c_str(), path("p").c_str()), 0);
          }
          return true;
        },
        record_into(&run, [&](const std::string&) {
          if (c.when == When::DuringRead && !appended) append(file, "during\n");
          appended = true;
        }));
    SCOPED_TRACE(static_cast<int>(c.when));
    EXPECT_EQ(run.result.has_value(), !c.failure);
    if (c.failure) {
      EXPECT_EQ(run.result.error(), *c.failure);
    }
    EXPECT_EQ(run.skipped, c.skipped);
    // A lenient run keeps a file that grew while it was read; a strict one
    // reads it but keeps nothing of it.
    EXPECT_EQ(run.lines[file].size() >= 2, c.read);
    EXPECT_EQ(run.kept.size(), c.read && !c.failure ? 1u : 0u);
  }
}

std::string compress(const std::string& data) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3));
  return out;
}

TEST_F(TranscriptsTest, CompressedTranscriptsReadLikePlainOnes) {
  std::string plain;
  for (int i = 0; i < 3000; ++i) plain += "{\"line\":" + std::to_string(i) + "}\n";
  std::string compressed = compress(plain);
  write("plain/rollout.jsonl", plain);
  write("zst/rollout.jsonl.zst", compressed);
  write("cut/rollout.jsonl.zst", compressed.substr(0, compressed.size() / 2));
  ReadRun run = read(base_);
  const Lines& expected = run.lines[path("plain/rollout.jsonl")];
  ASSERT_EQ(expected.size(), 3000u);
  EXPECT_EQ(run.lines[path("zst/rollout.jsonl.zst")], expected);
  const Lines& cut = run.lines[path("cut/rollout.jsonl.zst")];
  EXPECT_LT(cut.size(), expected.size());
  EXPECT_EQ(cut, Lines(expected.begin(), expected.begin() + cut.size()));
  // A strict run promises whole files: one that cannot be read to its end
  // fails it.
  ReadRun strict = read(base_, kYear2100);
  ASSERT_FALSE(strict.result.has_value());
  EXPECT_EQ(strict.result.error(), kTranscriptChangedDuringRead);
}

class CountingObserver : public ProgressObserver {
 public:
  void on_candidates(uint64_t count) override { candidates += count; }
  void on_file_done(uint64_t bytes) override {
    done_bytes.push_back(bytes);
    last_progress = 0;
  }
  // The bytes in flight only grow until the next file is done.
  void on_bytes(uint64_t bytes) override {
    EXPECT_GE(bytes, last_progress);
    last_progress = bytes;
    ++progress_calls;
  }
  void on_skipped(SkipReason reason) override {
    skipped.push_back(reason);
    last_progress = 0;
  }

  uint64_t candidates = 0;
  std::vector<uint64_t> done_bytes;
  uint64_t last_progress = 0;
  int progress_calls = 0;
  std::vector<SkipReason> skipped;
};

TEST_F(TranscriptsTest, ProgressReportsEveryCandidate) {
  std::string big(9 * 1024 * 1024, 'b');
  write("big.jsonl", big + "\n");
  write("late.jsonl", "l\n");
  write("skip.json", "{}\n");
  set_mtime("big.jsonl", 10, 0);
  set_mtime("late.jsonl", 5000, 0);
  CountingObserver observer;
  ReadingContext context;
  context.progress = &observer;
  ASSERT_TRUE(read(base_, 1000.0, nullptr, context).result.has_value());
  EXPECT_EQ(observer.candidates, 2u);
  EXPECT_EQ(observer.done_bytes, std::vector<uint64_t>{big.size() + 1});
  EXPECT_EQ(observer.progress_calls, 2);  // at 4 and 8 MB
  EXPECT_EQ(observer.skipped, std::vector<SkipReason>{SkipReason::NotAdmitted});
}

// Reads every file into a FileResult that records its lines and path when
// the calling thread takes it, so it is safe on workers; `after_reading`
// runs on the reading thread once the file's lines are read.
MakeReadFn record_when_taken(
    ReadRun* run, std::function<void(const std::string&)> after_reading = nullptr) {
  return [run, after_reading]() -> ReadFn {
    return [run, after_reading](const FileStamp& stamp, LineReader& lines) -> FileResult {
      auto seen = std::make_shared<Lines>();
      std::string_view line;
      while (lines.next(&line)) seen->emplace_back(line);
      if (after_reading) after_reading(stamp.path);
      return [run, seen, path = stamp.path] {
        run->lines[path] = *seen;
        run->kept.push_back(path);
      };
    };
  };
}

// Reads `base` on `workers` workers (0: none, one file after another).
ReadRun read_on(size_t workers, const std::string& base, std::optional<double> bound,
                ReadingContext context,
                std::function<void(const std::string&)> after_reading = nullptr) {
  std::optional<WorkerPool> pool;
  if (workers > 0) pool.emplace(workers);
  context.pool = pool ? &*pool : nullptr;
  ReadRun run;
  run.result = read_transcripts(base, bound, context, &run.skipped, accept_all,
                                record_when_taken(&run, after_reading));
  return run;
}

constexpr size_t kWorkerCounts[] = {0, 1, 2, 7};

// Many files of many sizes, some compressed, some skipped: every worker
// count takes the same files in the same (walk) order, with the same
// progress calls, as reading them one after another.
TEST_F(TranscriptsTest, SideBySideReadingTakesFilesInWalkOrder) {
  for (int i = 0; i < 30; ++i) {
    std::string text;
    const int lines = i % 7 == 0 ? 40000 : 1 + i * 13;
    for (int n = 0; n < lines; ++n)
      text += "{\"file\":" + std::to_string(i) + ",\"n\":" + std::to_string(n) + "}\n";
    const std::string dir = i % 3 == 0 ? "a/" : i % 3 == 1 ? "b/c/" : "";
    if (i % 5 == 4) {
      write(dir + "f" + std::to_string(i) + ".jsonl.zst", compress(text));
    } else {
      write(dir + "f" + std::to_string(i) + ".jsonl", text);
    }
  }
  write("a/late.jsonl", "{}\n");
  set_mtime("a/late.jsonl", 5000, 0);
  write("b/changes.jsonl", "{}\n");
  ReadingContext context;
  // A lenient run skips a file that changes before its open.
  const std::string changes = path("b/changes.jsonl");
  context.before_open_for_testing = [&](const std::string& file) {
    if (file == changes) append(file, "{}\n");
  };

  for (std::optional<double> bound :
       {std::optional<double>(), std::optional<double>(1000.0)}) {
    if (bound) {
      // Every file but one is old enough.
      for (const auto& entry : std::filesystem::recursive_directory_iterator(base_))
        if (entry.is_regular_file() && entry.path().filename() != "late.jsonl")
          set_mtime(std::filesystem::relative(entry.path(), base_).string(), 10, 0);
      context.before_open_for_testing = nullptr;
    }
    CountingObserver expected_progress;
    context.progress = &expected_progress;
    const ReadRun expected = read_on(0, base_, bound, context);
    ASSERT_TRUE(expected.result.has_value());
    EXPECT_EQ(expected.kept.size(), 31u);
    EXPECT_EQ(expected.skipped, 1u);
    for (size_t workers : kWorkerCounts) {
      SCOPED_TRACE(::testing::Message()
                   << workers << " workers, bound " << bound.has_value());
      write("b/changes.jsonl", "{}\n");
      if (bound) set_mtime("b/changes.jsonl", 10, 0);
      CountingObserver progress;
      context.progress = &progress;
      const ReadRun run = read_on(workers, base_, bound, context);
      ASSERT_TRUE(run.result.has_value());
      EXPECT_EQ(run.kept, expected.kept);
      EXPECT_EQ(run.lines, expected.lines);
      EXPECT_EQ(run.skipped, expected.skipped);
      EXPECT_EQ(progress.candidates, expected_progress.candidates);
      EXPECT_EQ(progress.done_bytes, expected_progress.done_bytes);
      EXPECT_EQ(progress.skipped, expected_progress.skipped);
    }
    write("b/changes.jsonl", "{}\n");
  }
}

// Two files fail a strict run in different ways; whichever worker meets its
// failure first, the message is that of the earlier file in walk order,
// and no file after it is kept.
TEST_F(TranscriptsTest, FirstStrictFailureInWalkOrderWins) {
  enum class Change { BeforeOpen, DuringRead };
  const struct {
    Change first;
    Change later;
    std::string_view message;
  } cases[] = {
      {Change::BeforeOpen, Change::DuringRead, kTranscriptChangedBeforeRead},
      {Change::DuringRead, Change::BeforeOpen, kTranscriptChangedDuringRead},
  };
  for (const auto& c : cases) {
    for (size_t workers : kWorkerCounts) {
      SCOPED_TRACE(::testing::Message() << workers << " workers, " << c.message);
      std::filesystem::remove_all(path("t"));
      for (int i = 0; i < 12; ++i)
        write("t/f" + std::to_string(i) + ".jsonl", "{}\n{}\n");
      const std::vector<std::string> order = walk_candidates(base_, accept_all);
      ASSERT_EQ(order.size(), 12u);
      const std::string first = path(order[3]);
      const std::string later = path(order[7]);
      // The earlier file changes late, so that with workers the later
      // file's failure comes first.
      auto change = [&](Change when, const std::string& file) {
        if (file == first) {
          if (when == c.first) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            append(file, "{}\n");
          }
        } else if (file == later && when == c.later) {
          append(file, "{}\n");
        }
      };
      ReadingContext context;
      context.before_open_for_testing = [&](const std::string& file) {
        change(Change::BeforeOpen, file);
      };
      const ReadRun run =
          read_on(workers, base_, kYear2100, context,
                  [&](const std::string& file) { change(Change::DuringRead, file); });
      ASSERT_FALSE(run.result.has_value());
      EXPECT_EQ(run.result.error(), c.message);
      EXPECT_EQ(run.kept, (Lines{path(order[0]), path(order[1]), path(order[2])}));
    }
  }
}

// An exception thrown while a file is read on a worker (the way a failed
// allocation ends a one-thread run) comes out of read_transcripts on the
// calling thread when that file's turn comes: the earliest file's, as in a
// one-thread run, with the files before it kept. Nothing hangs, and the
// pool serves the next read.
TEST_F(TranscriptsTest, ExceptionOnAWorkerIsThrownWhenItsFileComesUp) {
  for (int i = 0; i < 12; ++i) write("f" + std::to_string(i) + ".jsonl", "{}\n");
  const std::vector<std::string> order = walk_candidates(base_, accept_all);
  ASSERT_EQ(order.size(), 12u);
  ReadingContext context;
  context.before_open_for_testing = [&](const std::string& file) {
    if (file == path(order[2])) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      throw std::runtime_error("first " + file);
    }
    if (file == path(order[6])) throw std::bad_alloc();
  };
  for (size_t workers : kWorkerCounts) {
    SCOPED_TRACE(::testing::Message() << workers << " workers");
    std::optional<WorkerPool> pool;
    if (workers > 0) pool.emplace(workers);
    context.pool = pool ? &*pool : nullptr;
    ReadRun run;
    try {
      run.result = read_transcripts(base_, std::nullopt, context, &run.skipped,
                                    accept_all, record_when_taken(&run));
      ADD_FAILURE() << "nothing was thrown";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(error.what(), "first " + path(order[2]));
    }
    EXPECT_EQ(run.kept, (Lines{path(order[0]), path(order[1])}));

    // The later file's failure alone.
    ReadingContext later = context;
    later.before_open_for_testing = [&](const std::string& file) {
      if (file == path(order[6])) throw std::bad_alloc();
    };
    ReadRun second;
    EXPECT_THROW((void)read_transcripts(base_, std::nullopt, later, &second.skipped,
                                        accept_all, record_when_taken(&second)),
                 std::bad_alloc);
    EXPECT_EQ(second.kept.size(), 6u);

    // And the same workers read the tree once more.
    later.before_open_for_testing = nullptr;
    ReadRun third;
    third.result = read_transcripts(base_, std::nullopt, later, &third.skipped,
                                    accept_all, record_when_taken(&third));
    EXPECT_TRUE(third.result.has_value());
    EXPECT_EQ(third.kept.size(), 12u);
  }
}

TEST_F(TranscriptsTest, UnreadableDirectoriesArePassedOverUncounted) {
  write("open/a.jsonl", "a\n");
  write("closed/b.jsonl", "b\n");
  write("closed-file.jsonl", "c\n");
  ::chmod(base_.c_str(), 0755);
  ::chmod(path("closed").c_str(), 0);
  ::chmod(path("closed-file.jsonl").c_str(), 0);
  // Root may read anything, so the reading runs in a child as "nobody".
  pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ReadRun run = read(base_);
    // The unreadable file is skipped and counted, the directory is not.
    ::_exit(run.skipped == 1 && files(run) == Lines{path("open/a.jsonl")} ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(TranscriptsTest, PlainLinesReadOnlyRegularFiles) {
  write("history.jsonl", "h1\nh2\n");
  ASSERT_EQ(::mkfifo(path("fifo.jsonl").c_str(), 0600), 0);
  link(path("history.jsonl"), "linked.jsonl");
  const std::pair<std::string, std::optional<Lines>> cases[] = {
      {path("history.jsonl"), Lines{"h1", "h2"}},
      {path("linked.jsonl"), Lines{"h1", "h2"}},  // links are followed here
      {path("missing.jsonl"), std::nullopt},
      {path("fifo.jsonl"), std::nullopt},  // and it does not block
      {base_, std::nullopt},
  };
  for (const auto& [file, expected] : cases) {
    std::optional<Lines> lines;
    read_plain_lines(file, [&](LineReader& reader) {
      lines.emplace();
      std::string_view line;
      while (reader.next(&line)) lines->emplace_back(line);
    });
    EXPECT_EQ(lines, expected) << file;
  }
}

}  // namespace
}  // namespace lorebox

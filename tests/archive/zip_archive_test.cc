#include "archive/zip_archive.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>

#include "archive/conversations_json.h"
#include "archive/dos_time.h"
#include "archive/efficiency_json.h"
#include "archive/manifest.h"
#include "archive/readme.h"
#include "archive/test_sessions.h"
#include "parallel/worker_pool.h"
#include "support/shell.h"
#include "support/temp_dir.h"
#include "time/timestamp.h"

namespace lorebox {
namespace {

using testing::TempDir;

// What two independent readers see: `unzip -t` must accept the archive, and
// Python's zipfile lists and reads it. Null when either refuses.
nlohmann::json inspect_zip(const TempDir& dir, const std::filesystem::path& archive) {
  if (std::system(
          ("unzip -tqq " + testing::shell_quoted(archive.string()) + " >/dev/null 2>&1")
              .c_str()) != 0)
    return nullptr;
  testing::write_file(
      dir / "inspect.py",
      "import json, struct, sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None and z.comment == b''\n"
      "data = open(sys.argv[1], 'rb').read()\n"
      "def zip64(i):  # the local header's extra field opens with ZIP64's\n"
      "    at = i.header_offset\n"
      "    name, extra = struct.unpack('<HH', data[at + 26:at + 30])\n"
      "    return data[at + 30 + name:at + 32 + name] == b'\\x01\\x00' and extra >= 20\n"
      "print(json.dumps([{'name': i.filename, 'method': i.compress_type,\n"
      "    'time': i.date_time, 'text': i.internal_attr, 'flags': i.flag_bits,\n"
      "    'zip64': zip64(i), 'content': z.read(i).decode()}\n"
      "    for i in z.infolist()]))\n");
  FILE* pipe =
      ::popen(("python3 " + testing::shell_quoted((dir / "inspect.py").string()) + " " +
               testing::shell_quoted(archive.string()))
                  .c_str(),
              "r");
  std::string output;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  if (::pclose(pipe) != 0) return nullptr;
  return nlohmann::json::parse(output);
}

std::vector<Session> sample_sessions(bool with_accounting) {
  Session claude = testing::make_session(
      "claude-9d2e", SourceKind::ClaudeCode,
      {testing::user("Rename the loader", 1760000000.25),
       testing::reply("Done. \xF0\x9F\x98\x80", 1760000042.0, "model-a")});
  claude.project = "/home/u/app";
  // Large enough to span many writer blocks and deflate calls.
  std::string big;
  for (int i = 0; big.size() < 1024 * 1024; ++i)
    big += "line " + std::to_string(i) + "\n";
  Session codex = testing::make_session("codex-7f3a", SourceKind::Codex,
                                        {testing::user(big, 1760100000.5)});
  if (with_accounting) codex.efficiency.tools["Bash"] = codex.efficiency.turns = 2;
  return {claude, codex};
}

// Writes the archive compressing on `workers` workers (0: on this thread).
Result<WrittenArchive> write_on(size_t workers, const std::filesystem::path& path,
                                const std::vector<Session>& sessions,
                                const PackOptions& options) {
  std::optional<WorkerPool> pool;
  if (workers > 0) pool.emplace(workers);
  return write_archive(path, sessions, options, pool ? &*pool : nullptr);
}

constexpr size_t kWorkerCounts[] = {0, 2, 7};

std::vector<int> dos_fields_now() {
  const CivilTime c = civil_from_instant(current_instant());
  return {c.year, c.month, c.day, c.hour, c.minute, c.second / 2 * 2};
}

TEST(ZipArchiveTest, WritesDeflatedEntriesInOrderWithOneTime) {
  TempDir dir;
  PackOptions options;
  options.max_message_chars = 5000;
  for (auto [accounting, workers] :
       {std::pair<bool, size_t>{true, 0}, {false, 0}, {true, 1}, {true, 2}, {false, 7}}) {
    SCOPED_TRACE(::testing::Message() << workers << " workers");
    const std::vector<Session> sessions = sample_sessions(accounting);
    const std::filesystem::path path = dir / "out.zip";
    const std::vector<int> before = dos_fields_now();
    Result<WrittenArchive> written = write_on(workers, path, sessions, options);
    const std::vector<int> after = dos_fields_now();
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_EQ(written->size, std::filesystem::file_size(path));

    const nlohmann::json entries = inspect_zip(dir, path);
    ASSERT_FALSE(entries.is_null());
    std::vector<std::string> expected_names = {"conversations.json", "lorebox.json",
                                               "README.txt"};
    if (accounting) expected_names.insert(expected_names.begin() + 1, "efficiency.json");
    ASSERT_EQ(entries.size(), expected_names.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i]["name"], expected_names[i]);
      EXPECT_EQ(entries[i]["method"], 8);  // Deflate
      EXPECT_EQ(entries[i]["text"], 1);
      EXPECT_EQ(entries[i]["flags"], 0);  // no data descriptor, normal level
      EXPECT_EQ(entries[i]["zip64"], true);
      EXPECT_EQ(entries[i]["time"], entries[0]["time"]);
    }
    const std::vector<int> time = entries[0]["time"].get<std::vector<int>>();
    EXPECT_TRUE(time == before || time == after) << entries[0]["time"].dump();

    EXPECT_EQ(entries[0]["content"], testing::rendered([&](Sink& sink) {
                return write_conversations(sink, build_conversations(sessions));
              }));
    if (accounting) {
      EXPECT_EQ(entries[1]["content"], testing::rendered([&](Sink& sink) {
                  return write_efficiency(sink, sessions);
                }));
    }
    // The manifest carries its own generation time; render ours with it.
    const std::string manifest = entries[entries.size() - 2]["content"];
    const double generated_at = nlohmann::json::parse(manifest)["generated_at"];
    EXPECT_EQ(manifest, testing::rendered([&](Sink& sink) {
                return write_manifest(sink, sessions, options, generated_at);
              }));
    EXPECT_EQ(entries.back()["content"], std::string(readme_text()));
  }
}

TEST(ZipArchiveTest, CreatesParentsUnderTheUmaskAndTruncatesExistingFiles) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  Result<WrittenArchive> written = write_on(0, dir / "a/b/c.zip", {}, PackOptions{});
  ::umask(old_mask);
  ASSERT_TRUE(written.has_value()) << written.error();
  struct stat status;
  ASSERT_EQ(::stat((dir / "a/b").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat((dir / "a/b/c.zip").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);

  for (size_t workers : kWorkerCounts) {
    const std::filesystem::path existing = dir / "existing.zip";
    testing::write_file(existing, std::string(1024 * 1024, 'z'));
    written = write_on(workers, existing, {}, PackOptions{});
    ASSERT_TRUE(written.has_value()) << written.error();
    EXPECT_LT(written->size, 4096u);
    const nlohmann::json entries = inspect_zip(dir, existing);
    ASSERT_FALSE(entries.is_null());
    EXPECT_EQ(entries[0]["content"], "[]");
  }
}

TEST(ZipArchiveTest, FailuresNameThePathAndTheReason) {
  TempDir dir;
  testing::write_file(dir / "file", "not a directory");
  const std::pair<std::string, std::string> cases[] = {
      {"/dev/full", "No space left on device"},
      {(dir / "file/x.zip").string(), "Not a directory"},
      {dir.path().string(), "Is a directory"},
  };
  for (size_t workers : kWorkerCounts) {
    for (const auto& [path, reason] : cases) {
      Result<WrittenArchive> written =
          write_on(workers, path, sample_sessions(true), PackOptions{});
      ASSERT_FALSE(written.has_value()) << path;
      EXPECT_EQ(written.error(), "Could not write " + path + ": " + reason) << workers;
    }
  }
}

TEST(ZipArchiveTest, FailureInsideAnEntryIsReported) {
  TempDir dir;
  std::mt19937 random(3);
  std::string noise(2 * 1024 * 1024, ' ');  // compresses to well over the limit
  for (char& c : noise) c = static_cast<char>('!' + random() % 90);
  const std::vector<Session> sessions = {
      testing::make_session("codex-n", SourceKind::Codex, {testing::user(noise, 1.0)})};
  rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const rlimit small = {256 * 1024, old_limit.rlim_max};
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  for (size_t workers : kWorkerCounts) {
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Result<WrittenArchive> written =
        write_on(workers, dir / "big.zip", sessions, PackOptions{});
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    ASSERT_FALSE(written.has_value());
    EXPECT_EQ(written.error(), "Could not write " + (dir / "big.zip").string() + ": " +
                                   std::strerror(EFBIG))
        << workers;
  }
  std::signal(SIGXFSZ, old_handler);
}

TEST(ZipArchiveTest, DefaultNameIsDatedByLatestActivity) {
  std::vector<Session> sessions = sample_sessions(false);
  Session late;
  late.created_at = parse_timestamp("2025-12-31T23:30:00Z").value();
  sessions.push_back(late);
  EXPECT_EQ(default_archive_name(sessions), "lorebox-2025-12-31.zip");
  EXPECT_EQ(default_archive_name({}), "lorebox-1970-01-01.zip");
}

TEST(DosTimeTest, PacksFieldsOrFallsBackTo1980) {
  const std::pair<CivilTime, uint32_t> cases[] = {
      {{1980, 1, 1, 0, 0, 0}, (1u << 21) | (1u << 16)},
      {{2025, 6, 1, 12, 34, 57},
       (45u << 25) | (6u << 21) | (1u << 16) | (12u << 11) | (34u << 5) | 28u},
      {{2107, 12, 31, 23, 59, 59},
       (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u},
      {{1979, 12, 31, 23, 59, 59}, kDosEpoch},
      {{2108, 1, 1, 0, 0, 0}, kDosEpoch},
  };
  for (const auto& [time, expected] : cases)
    EXPECT_EQ(dos_date_time(time), expected) << time.year;
}

TEST(ReadmeTest, EveryLineEndsInLineFeedAndDescriptionsStartAtColumn24) {
  const std::string_view text = readme_text();
  ASSERT_EQ(text.back(), '\n');
  int files = 0;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    if (line.substr(0, 2) != "  ") continue;
    if (line[2] != ' ') ++files;
    // After the file name (or none, on a continuation line), spaces up to
    // the 24th character.
    const size_t name_end = line[2] == ' ' ? 0 : line.find(' ', 2);
    EXPECT_EQ(line.find_first_not_of(' ', name_end), 23u) << line;
  }
  EXPECT_EQ(files, 3);
}

}  // namespace
}  // namespace lorebox

#include "archive/zip_archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "archive/conversations_json.h"
#include "archive/dos_time.h"
#include "archive/efficiency_json.h"
#include "archive/manifest.h"
#include "archive/readme.h"
#include "support/temp_dir.h"
#include "time/timestamp.h"

namespace lorebox {
namespace {

using testing::TempDir;

// What Python's zipfile, an independent reader, sees in an archive.
nlohmann::json inspect_zip(const TempDir& dir, const std::filesystem::path& archive) {
  const std::filesystem::path script = dir / "inspect.py";
  testing::write_file(script,
                      "import json, sys, zipfile\n"
                      "z = zipfile.ZipFile(sys.argv[1])\n"
                      "out = {'bad': z.testzip(), 'comment': z.comment.decode(), 'entries': []}\n"
                      "for i in z.infolist():\n"
                      "    out['entries'].append({'name': i.filename,\n"
                      "        'method': i.compress_type, 'time': list(i.date_time),\n"
                      "        'dir': i.is_dir(), 'content': z.read(i).decode('utf-8')})\n"
                      "print(json.dumps(out))\n");
  const std::string command = "python3 " + script.string() + " " + archive.string();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return nullptr;
  std::string output;
  char buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  if (::pclose(pipe) != 0) return nullptr;
  return nlohmann::json::parse(output);
}

bool unzip_accepts(const std::filesystem::path& archive) {
  const std::string command = "unzip -tqq " + archive.string() + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

std::vector<Session> sample_sessions(bool with_accounting) {
  Session claude;
  claude.id = "claude-9d2e";
  claude.source = SourceKind::ClaudeCode;
  claude.project = "/home/u/app";
  claude.messages = {
      Message{"Rename the config loader\nand update callers", std::nullopt, 1760000000.25,
              Role::User},
      Message{"Done. \xF0\x9F\x98\x80", std::string("model-a"), 1760000042.0, Role::Assistant}};
  claude.created_at = 1760000000.25;
  Session codex;
  codex.id = "codex-7f3a";
  codex.source = SourceKind::Codex;
  // Large enough to span many writer blocks and deflate calls.
  std::string big;
  for (int i = 0; big.size() < 1024 * 1024; ++i) big += "line " + std::to_string(i) + "\n";
  codex.messages = {Message{big, std::nullopt, 1760100000.5, Role::User}};
  codex.created_at = 1760100000.5;
  if (with_accounting) {
    codex.efficiency.turns = 3;
    codex.efficiency.tools["Bash"] = 2;
  }
  return {claude, codex};
}

std::string rendered(const std::function<Result<void>(Sink&)>& write) {
  StringSink sink;
  EXPECT_TRUE(write(sink).has_value());
  return sink.text();
}

std::vector<int> civil_fields(double instant) {
  const CivilTime c = civil_from_instant(instant);
  return {c.year, c.month, c.day, c.hour, c.minute, c.second / 2 * 2};
}

TEST(ZipArchiveTest, WritesFourDeflatedEntriesInOrderWithOneTime) {
  TempDir dir;
  const std::vector<Session> sessions = sample_sessions(true);
  PackOptions options;
  options.max_message_chars = 5000;
  const std::filesystem::path path = dir / "out.zip";
  const std::vector<int> before = civil_fields(current_instant());
  Result<WrittenArchive> written = write_archive(path, sessions, options);
  const std::vector<int> after = civil_fields(current_instant());
  ASSERT_TRUE(written.has_value()) << written.error();
  EXPECT_EQ(written->path, path);
  EXPECT_EQ(written->size, std::filesystem::file_size(path));
  EXPECT_TRUE(unzip_accepts(path));

  const nlohmann::json zip = inspect_zip(dir, path);
  ASSERT_FALSE(zip.is_null());
  EXPECT_TRUE(zip["bad"].is_null());
  EXPECT_EQ(zip["comment"], "");
  const nlohmann::json& entries = zip["entries"];
  ASSERT_EQ(entries.size(), 4u);
  const char* names[] = {"conversations.json", "efficiency.json", "lorebox.json",
                         "README.txt"};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(entries[i]["name"], names[i]);
    EXPECT_EQ(entries[i]["method"], 8) << names[i];
    EXPECT_FALSE(entries[i]["dir"].get<bool>());
    EXPECT_EQ(entries[i]["time"], entries[0]["time"]) << names[i];
  }
  const std::vector<int> time = entries[0]["time"].get<std::vector<int>>();
  EXPECT_TRUE(time == before || time == after) << entries[0]["time"].dump();

  EXPECT_EQ(entries[0]["content"], rendered([&](Sink& sink) {
              return write_conversations(sink, build_conversations(sessions));
            }));
  EXPECT_EQ(entries[1]["content"],
            rendered([&](Sink& sink) { return write_efficiency(sink, sessions); }));
  // The manifest carries its own generation time; render ours with it.
  const std::string manifest = entries[2]["content"];
  const double generated_at = nlohmann::json::parse(manifest)["generated_at"];
  EXPECT_EQ(manifest, rendered([&](Sink& sink) {
              return write_manifest(sink, sessions, options, generated_at);
            }));
  EXPECT_EQ(entries[3]["content"], std::string(readme_text()));
}

TEST(ZipArchiveTest, LeavesOutEfficiencyWithoutAccounting) {
  TempDir dir;
  const std::filesystem::path path = dir / "plain.zip";
  ASSERT_TRUE(write_archive(path, sample_sessions(false), PackOptions{}).has_value());
  EXPECT_TRUE(unzip_accepts(path));
  const nlohmann::json zip = inspect_zip(dir, path);
  ASSERT_FALSE(zip.is_null());
  std::vector<std::string> names;
  for (const auto& entry : zip["entries"]) names.push_back(entry["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"conversations.json", "lorebox.json", "README.txt"}));
}

TEST(ZipArchiveTest, CreatesMissingParentsAndTruncatesAnExistingFile) {
  TempDir dir;
  const std::filesystem::path path = dir / "a/b/c.zip";
  ASSERT_TRUE(write_archive(path, sample_sessions(false), PackOptions{}).has_value());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b"));

  const std::filesystem::path existing = dir / "existing.zip";
  testing::write_file(existing, std::string(8 * 1024 * 1024, 'z'));
  Result<WrittenArchive> written = write_archive(existing, {}, PackOptions{});
  ASSERT_TRUE(written.has_value()) << written.error();
  EXPECT_LT(written->size, 8u * 1024 * 1024);
  EXPECT_EQ(written->size, std::filesystem::file_size(existing));
  EXPECT_TRUE(unzip_accepts(existing));
  const nlohmann::json zip = inspect_zip(dir, existing);
  ASSERT_FALSE(zip.is_null());
  EXPECT_EQ(zip["entries"][0]["content"], "[]");
}

TEST(ZipArchiveTest, FileModeFollowsTheUmask) {
  TempDir dir;
  const mode_t old_mask = ::umask(022);
  Result<WrittenArchive> written =
      write_archive(dir / "new/m.zip", sample_sessions(false), PackOptions{});
  ::umask(old_mask);
  ASSERT_TRUE(written.has_value());
  struct stat status;
  ASSERT_EQ(::stat((dir / "new/m.zip").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat((dir / "new").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0755u);
}

struct FailureCase {
  const char* name;
  std::string path;  // relative to the temp dir unless absolute
  std::string reason;
};

TEST(ZipArchiveTest, FailuresNameThePathAndTheReason) {
  TempDir dir;
  testing::write_file(dir / "file", "not a directory");
  const FailureCase cases[] = {
      {"full device", "/dev/full", "No space left on device"},
      {"parent is a file", (dir / "file/x.zip").string(), "Not a directory"},
      {"target is a directory", dir.path().string(), "Is a directory"},
  };
  for (const FailureCase& c : cases) {
    Result<WrittenArchive> written = write_archive(c.path, sample_sessions(true), PackOptions{});
    ASSERT_FALSE(written.has_value()) << c.name;
    EXPECT_EQ(written.error(), "Could not write " + c.path + ": " + c.reason) << c.name;
  }
}

TEST(ZipArchiveTest, DefaultNameIsDatedByLatestActivity) {
  std::vector<Session> sessions = sample_sessions(false);
  Session late;
  late.created_at = parse_timestamp("2025-12-31T23:30:00Z").value();
  sessions.push_back(late);
  EXPECT_EQ(default_archive_name(sessions), "lorebox-2025-12-31.zip");
  EXPECT_EQ(default_archive_name({}), "lorebox-1970-01-01.zip");
}

struct DosCase {
  CivilTime time;
  uint32_t expected;
};

TEST(DosTimeTest, PacksFieldsOrFallsBackTo1980) {
  const DosCase cases[] = {
      {{1980, 1, 1, 0, 0, 0}, kDosEpoch},
      {{2025, 6, 1, 12, 34, 57}, 1522623580u},
      {{2107, 12, 31, 23, 59, 59}, 4288659325u},
      {{1979, 12, 31, 23, 59, 59}, kDosEpoch},
      {{2108, 1, 1, 0, 0, 0}, kDosEpoch},
      {{1970, 1, 1, 0, 0, 0}, kDosEpoch},
  };
  for (const DosCase& c : cases) {
    EXPECT_EQ(dos_date_time(c.time), c.expected) << c.time.year;
  }
  EXPECT_EQ(kDosEpoch, (1u << 21) | (1u << 16));
}

TEST(ReadmeTest, LinesEndInLineFeedsAndDescriptionsAlign) {
  const std::string_view text = readme_text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  int entries = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string_view::npos);
    const std::string_view line = text.substr(start, end - start);
    EXPECT_LE(line.size(), 80u) << line;
    if (line.substr(0, 2) == "  ") {
      // File lines and their continuations: the description starts at the
      // 24th character, after spaces.
      ASSERT_GT(line.size(), 23u) << line;
      EXPECT_NE(line[23], ' ') << line;
      EXPECT_EQ(line[22], ' ') << line;
      if (line[2] != ' ') {
        ++entries;
        const size_t name_end = line.find(' ', 2);
        EXPECT_EQ(line.find_first_not_of(' ', name_end), 23u) << line;
      } else {
        EXPECT_EQ(line.find_first_not_of(' '), 23u) << line;
      }
    }
    start = end + 1;
  }
  EXPECT_EQ(entries, 3);
  EXPECT_NE(text.find("  efficiency.json      Token"), std::string_view::npos);
}

}  // namespace
}  // namespace lorebox

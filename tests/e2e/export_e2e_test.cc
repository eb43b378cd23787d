// A whole export of the bundled example home, checked through the binary's
// output and an independent reading of the archive.
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/run_binary.h"
#include "support/shell.h"
#include "support/temp_dir.h"

namespace lorebox {
namespace {

using nlohmann::json;
using testing::read_file;
using testing::run_lorebox;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;

const std::string kExample = LOREBOX_SOURCE_DIR "/examples/home";
constexpr const char* kSessionA = "claude-6f1d2c9e-5b7a-4e21-9c3d-0a8b7e6f5d41";
constexpr const char* kSessionB = "claude-0c7e9a44-2d61-4f8b-b7a2-93e15c0d6f28";
constexpr const char* kPrunedD = "claude-e2b0f6a1-9d43-4c58-8e7f-51a6c3b2d907";
constexpr const char* kThread1 = "codex-019a4b2c-7e31-7c40-9a55-3f0e8d2b6c11";
constexpr const char* kThread2 = "codex-0199f3d0-11aa-7b62-8c0e-6d2a9f4e3b70";
constexpr const char* kPruned3 = "codex-01983c55-4410-7e0b-a2d4-8f61b09c7a35";

// Lists and extracts an archive with Python's zipfile: an independent reader.
struct Unzipped {
  std::vector<std::string> names;
  std::vector<int> methods;
  std::vector<std::string> times;
  std::filesystem::path dir;
};

Unzipped unzip(const std::filesystem::path& archive, const std::filesystem::path& into) {
  const std::filesystem::path listing = into / "listing.txt";
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "assert z.testzip() is None\n"
      "out = open(sys.argv[3], 'w')\n"
      "for i in z.infolist():\n"
      "    out.write('%s %d %s\\n' % (i.filename, i.compress_type, '-'.join(map(str, "
      "i.date_time))))\n"
      "z.extractall(sys.argv[2])\n";
  const std::filesystem::path script_path = into / "unzip.py";
  testing::write_file(script_path, script);
  const std::string command = "python3 " + testing::shell_quoted(script_path.string()) +
                              " " + testing::shell_quoted(archive.string()) + " " +
                              testing::shell_quoted((into / "x").string()) + " " +
                              testing::shell_quoted(listing.string());
  EXPECT_EQ(std::system(command.c_str()), 0);
  Unzipped result;
  result.dir = into / "x";
  std::istringstream lines(read_file(listing));
  std::string name, time;
  int method = 0;
  while (lines >> name >> method >> time) {
    result.names.push_back(name);
    result.methods.push_back(method);
    result.times.push_back(time);
  }
  return result;
}

class ExportEndToEnd : public ::testing::Test {
 protected:
  RunResult run(std::vector<std::string> args, size_t data_limit = 0) {
    args.insert(args.begin(), {"--claude-dir", kExample + "/.claude", "--codex-dir",
                               kExample + "/.codex"});
    RunOptions options;
    options.env = {{"HOME", work_.path().string()}};
    options.cwd = work_.path();
    options.data_limit = data_limit;
    return run_lorebox(args, options);
  }
  TempDir work_;
};

TEST_F(ExportEndToEnd, DryRunListsBothAgentsInStartOrder) {
  RunResult r = run({"--dry-run", "--list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.err,
      "Reading Claude Code sessions from " + kExample + "/.claude\n" +
          "Reading Codex sessions from " + kExample + "/.codex\n" +
          "Recovered 5 prompts from prompt history, rebuilding 2 pruned sessions\n");
  EXPECT_EQ(r.out,
            "\n"
            "Found 6 sessions spanning 2025-09-02 to 2025-11-05\n"
            "  Claude Code     3 sessions       7 prompts      11 messages\n"
            "  Codex           3 sessions       5 prompts       7 messages\n"
            "  2025-09-02  codex         2p  Draft the onboarding email\n"
            "  2025-09-25  claude-code   2p  Summarise what changed in the billing "
            "module since September\n"
            "  2025-10-12  codex         2p  Turn my meeting notes in "
            "notes/2025-10-11.md into a checklist.\n"
            "  2025-11-03  claude-code   3p  Fix upload test timeout on CI\n"
            "  2025-11-04  codex         1p  Retry backoff jitter\n"
            "  2025-11-05  claude-code   2p  Add a zsh alias that opens the repo's "
            "README in the browser.\n"
            "\n"
            "Dry run: nothing was written.\n");
  EXPECT_TRUE(std::filesystem::is_empty(work_.path()));
}

// Memory tuning at start-up must not cost a run under a tight limit on its
// data size any session or prompt.
TEST_F(ExportEndToEnd, TightDataLimitPacksTheSame) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory exceeds any tight limit";
#else
  RunResult unlimited = run({"--dry-run", "--list"});
  ASSERT_EQ(unlimited.status, 0) << unlimited.err;
  RunResult limited = run({"--dry-run", "--list"}, size_t{20} << 20);
  EXPECT_EQ(limited.status, 0) << limited.err;
  EXPECT_EQ(limited.out, unlimited.out);
#endif
}

TEST_F(ExportEndToEnd, WritesTheArchiveAndItsReport) {
  RunResult r = run({"--receipt", "receipt.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::filesystem::path archive = work_ / "lorebox-2025-11-05.zip";
  ASSERT_TRUE(std::filesystem::exists(archive));
  const uint64_t size = std::filesystem::file_size(archive);
  EXPECT_NE(r.out.find("\nWrote lorebox-2025-11-05.zip (12 prompts, " +
                       std::to_string((size + 512) / 1024) +
                       " KB)\n"
                       "Upload it to Hearthmark without unzipping it.\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("Secrets were not masked"), std::string::npos);

  TempDir scratch;
  Unzipped z = unzip(archive, scratch.path());
  EXPECT_EQ(z.names, (std::vector<std::string>{"conversations.json", "efficiency.json",
                                               "lorebox.json", "README.txt"}));
  for (int method : z.methods) EXPECT_EQ(method, 8);  // Deflate
  ASSERT_EQ(z.times.size(), 4u);
  for (const std::string& t : z.times) EXPECT_EQ(t, z.times.front());

  const json conversations = json::parse(read_file(z.dir / "conversations.json"));
  ASSERT_EQ(conversations.size(), 6u);
  std::vector<std::string> ids;
  for (const json& c : conversations) ids.push_back(c["id"]);
  EXPECT_EQ(ids, (std::vector<std::string>{kPruned3, kPrunedD, kThread2, kSessionA,
                                           kThread1, kSessionB}));

  // Session A: split responses, a command prompt, a masked key, noise dropped.
  const json& a = conversations[3];
  EXPECT_EQ(a["title"], "Fix upload test timeout on CI");
  EXPECT_EQ(a["default_model_slug"], "claude-sonnet-4-5");
  EXPECT_EQ(a["lorebox"],
            json({{"source", "claude-code"}, {"project", "/home/dev/webapp"}}));
  std::vector<std::string> texts;
  for (const auto& [node, value] : a["mapping"].items())
    texts.push_back(value["message"]["content"]["parts"][0]);
  ASSERT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[1], "Let me look at how the upload test sets its timeout.");
  EXPECT_EQ(texts[3], "/model sonnet");
  EXPECT_EQ(texts[4],
            "Make it per chunk. The staging key is [redacted-secret] if you need it.");
  EXPECT_EQ(a["current_node"], "n000005");

  // The rebuilt Claude Code session carries the pasted text.
  const json& d = conversations[1];
  EXPECT_EQ(
      d["mapping"]["n000001"]["message"]["content"]["parts"][0],
      "now write that up as release notes: [Pasted text #1 +3 lines]\n"
      "- invoices round half-even\n- VAT ids are validated\n- CSV export is streamed");
  EXPECT_FALSE(d.contains("default_model_slug"));

  const std::string raw = read_file(z.dir / "conversations.json");
  EXPECT_EQ(raw.find("sk-proj-"), std::string::npos);
  EXPECT_EQ(raw.find("environment_context"), std::string::npos);
  EXPECT_EQ(raw.find("Request interrupted"), std::string::npos);
  EXPECT_EQ(raw.find("One alias: gs."), std::string::npos);  // subagent left out

  // Accounting: one turn per response, not per line.
  const json efficiency = json::parse(read_file(z.dir / "efficiency.json"));
  EXPECT_EQ(efficiency["format"], "lorebox-efficiency/1");
  json entry_a, entry_1;
  for (const json& e : efficiency["sessions"]) {
    if (e["id"] == kSessionA) entry_a = e;
    if (e["id"] == kThread1) entry_1 = e;
  }
  EXPECT_EQ(entry_a["turns"], 4);
  EXPECT_EQ(entry_a["tokens"], json({{"cache_read", 78160},
                                     {"cache_write", 7830},
                                     {"input", 18},
                                     {"output", 1006},
                                     {"reasoning", 0}}));
  EXPECT_EQ(entry_a["tool_calls"], 3);
  EXPECT_EQ(entry_a["whole_file_reads"], 1);
  EXPECT_EQ(entry_a["top_commands"], json::parse(R"([["git log",1]])"));
  EXPECT_EQ(entry_1["turns"], 2);
  EXPECT_EQ(entry_1["tokens"]["input"], 39120);
  EXPECT_EQ(entry_1["tokens"]["reasoning"], 256);
  EXPECT_EQ(entry_1["top_commands"], json::parse(R"([["npm test",1],["rg",1]])"));
  EXPECT_EQ(entry_1["top_tools"],
            json::parse(R"([["exec_command",2],["apply_patch",1]])"));

  const json manifest = json::parse(read_file(z.dir / "lorebox.json"));
  EXPECT_EQ(manifest["totals"]["sessions"], 6);
  EXPECT_EQ(manifest["totals"]["prompts"], 12);
  EXPECT_EQ(manifest["totals"]["messages"], 18);
  EXPECT_EQ(manifest["options"]["redacted"], true);

  // The receipt lists the four transcript files that fed packed sessions.
  const json receipt = json::parse(read_file(work_ / "receipt.json"));
  EXPECT_EQ(receipt["format"], "lorebox-receipt/1");
  EXPECT_EQ(receipt["sourceFiles"], 4);
  EXPECT_EQ(receipt["sessions"], 6);
  EXPECT_EQ(receipt["skippedFiles"], 0);
  EXPECT_EQ(std::filesystem::status(work_ / "receipt.json").permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(ExportEndToEnd, OptionsShapeWhatIsPacked) {
  RunResult r = run({"--no-redact", "--no-usage", "--no-history", "--source", "claude",
                     "--include-subagents", "-o", "out/nested/x.zip"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Secrets were not masked: this archive was built with "
                       "--no-redact.\nUpload it to Hearthmark without unzipping it.\n"),
            std::string::npos);
  TempDir scratch;
  Unzipped z = unzip(work_ / "out/nested/x.zip", scratch.path());
  EXPECT_EQ(z.names, (std::vector<std::string>{"conversations.json", "lorebox.json",
                                               "README.txt"}));
  const std::string raw = read_file(z.dir / "conversations.json");
  EXPECT_NE(raw.find("sk-proj-Q2hh"), std::string::npos);
  EXPECT_NE(raw.find("One alias: gs."), std::string::npos);
  EXPECT_EQ(raw.find("codex"), std::string::npos);
  const json manifest = json::parse(read_file(z.dir / "lorebox.json"));
  EXPECT_EQ(manifest["totals"]["sessions"], 2);
  EXPECT_EQ(manifest["options"]["include_usage"], false);
  EXPECT_EQ(manifest["options"]["include_subagents"], true);
}

TEST_F(ExportEndToEnd, SinceDropsOlderSessionsAndTheirSources) {
  RunResult r = run({"--since", "2025-11-04", "--receipt", "r.json", "-o", "a.zip"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Found 2 sessions spanning 2025-11-04 to 2025-11-05\n"),
            std::string::npos);
  const json receipt = json::parse(read_file(work_ / "r.json"));
  EXPECT_EQ(receipt["sourceFiles"], 2);
  for (const json& source : receipt["sources"])
    EXPECT_EQ(source["path"].get<std::string>().find("archived_sessions"),
              std::string::npos);

  // A second run with the same receipt path fails and leaves the first alone.
  const std::string first = read_file(work_ / "r.json");
  r = run({"--since", "2025-11-04", "--receipt", "r.json", "-o", "b.zip"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lorebox: could not create receipt: "), std::string::npos);
  EXPECT_EQ(read_file(work_ / "r.json"), first);
}

TEST_F(ExportEndToEnd, NothingMatchedStillWritesTheReceipt) {
  RunResult r = run({"--since", "2030-01-01", "--receipt", "empty.json", "--dry-run"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "No sessions matched; wrote receipt.\n");
  EXPECT_EQ(read_file(work_ / "empty.json"),
            "{\n  \"format\": \"lorebox-receipt/1\",\n  \"sourceFiles\": 0,\n"
            "  \"sourceBytes\": 0,\n  \"sessions\": 0,\n  \"prompts\": 0,\n"
            "  \"messages\": 0,\n  \"skippedFiles\": 0,\n  \"sources\": []\n}\n");
}

TEST_F(ExportEndToEnd, UnwritableArchiveFails) {
  RunResult r = run({"-o", "/dev/full", "--receipt", "never.json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("lorebox: Could not write /dev/full: "), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(work_ / "never.json"));
}

}  // namespace
}  // namespace lorebox

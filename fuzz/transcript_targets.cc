// Targets for the two transcript readers: the input is written as one
// transcript file in a scratch home and read under each option set.
#include <functional>
#include <string_view>

#include "claude/claude_reader.h"
#include "codex/codex_reader.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "scratch_home.h"
#include "session_checks.h"
#include "text/cleanup.h"

namespace lorebox::fuzz {

namespace {

namespace fs = std::filesystem;

using ReaderFn = std::function<Result<SourceScan>(const fs::path&, const PackOptions&)>;
using MessageCheckFn = std::function<void(const Message&)>;

// Reads the home with `read` under the input's options and checks the
// result; `check_message` adds the reader's own rules for each kept message.
void read_and_check(const fs::path& home, const fs::path& file, std::string_view bytes,
                    SourceKind source, const ReaderFn& read,
                    const MessageCheckFn& check_message) {
  const PackOptions options = reader_options(bytes);
  Result<SourceScan> scan = read(home, options);
  if (!expect(scan.has_value(), "reading an unchanged transcript failed")) return;
  expect_single_file_scan(*scan, source, options);
  for (const StampedSource& source_file : scan->sources) {
    expect(source_file.stamp.path == file.string(), "a stamp names another path");
    expect(source_file.stamp.size == static_cast<int64_t>(bytes.size()),
           "a stamp has another size");
  }
  for (const Session& session : scan->sessions)
    for (const Message& message : session.messages) check_message(message);
}

}  // namespace

int fuzz_claude_reader(const uint8_t* data, size_t size) {
  const fs::path home = scratch_dir() / "claude";
  const fs::path file = home / "projects" / "project" / "transcript.jsonl";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!expect(put_file(file, bytes), "could not write the scratch transcript")) return 0;

  const ReaderFn read = [](const fs::path& claude_home, const PackOptions& options) {
    return read_claude_sessions(claude_home, options, ReadingContext{});
  };
  read_and_check(home, file, bytes, SourceKind::ClaudeCode, read,
                 [](const Message& message) {
                   if (message.role != Role::Assistant) return;
                   expect(!is_claude_noise(message.text), "a noise reply was kept");
                   expect(!message.model || !message.model->starts_with('<'),
                          "a reply's model begins with '<'");
                 });
  return 0;
}

int fuzz_codex_reader(const uint8_t* data, size_t size) {
  const fs::path home = scratch_dir() / "codex";
  const fs::path file =
      home / "sessions" / "2026" / "01" / "02" / "rollout-2026-01-02T03-04-05-fuzz.jsonl";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!expect(put_file(file, bytes), "could not write the scratch rollout")) return 0;

  const ReaderFn read = [](const fs::path& codex_home, const PackOptions& options) {
    return read_codex_sessions(codex_home, options, TitleTable(), ReadingContext{});
  };
  read_and_check(home, file, bytes, SourceKind::Codex, read, [](const Message& message) {
    if (message.role != Role::User) return;
    expect(!is_codex_internal(message.text), "an internal Codex prompt was kept");
  });
  return 0;
}

}  // namespace lorebox::fuzz

#include "archive/readme.h"

namespace lorebox {

namespace {

constexpr std::string_view kReadme =
    "This archive was produced by lorebox from Claude Code and Codex sessions\n"
    "stored on one machine.\n"
    "\n"
    "  conversations.json   Your prompts and the assistant's replies, in the same\n"
    "                       shape as a ChatGPT data export. Upload this archive to\n"
    "                       Hearthmark exactly as it is; do not unzip it first.\n"
    "  lorebox.json         What was packed, from which source, and with which\n"
    "                       options.\n"
    "  efficiency.json      Token and tool accounting per session: what each one\n"
    "                       cost, which calls repeated, which failed. This is what\n"
    "                       the report's efficiency findings are built from.\n"
    "\n"
    "Tool calls, tool output, reasoning traces, file contents, and attachments were\n"
    "never read into this archive. Credential-shaped tokens are masked unless the\n"
    "archive was built with --no-redact.\n"
    "\n"
    "Hearthmark analyses the archive in your browser. Nothing in it is uploaded to\n"
    "an application server.\n";

}  // namespace

std::string_view readme_text() { return kReadme; }

}  // namespace lorebox

// lorebox: packs local Claude Code and Codex sessions into one archive.
#include <exception>
#include <string>

#include "main/cli.h"
#include "main/console.h"
#include "main/driver.h"
#include "main/heap.h"

namespace {

// The whole run: parse the command line, run the driver, print its failure.
int run_tool(int argc, char** argv) {
  lorebox::prefer_huge_pages();
  lorebox::prepare_console();
  lorebox::ParsedCommandLine parsed = lorebox::parse_command_line(argc, argv);
  if (!parsed.cli) return parsed.exit_status;

  lorebox::Result<void> result = lorebox::run(*parsed.cli);
  if (result) return 0;
  lorebox::write_stderr("lorebox: " + result.error() + "\n");
  return 1;
}

// Written in pieces: joining them into one string could itself fail for
// want of memory.
int report_internal_error(const char* what) {
  lorebox::write_stderr("lorebox: internal error: ");
  lorebox::write_stderr(what);
  lorebox::write_stderr("\n");
  return 1;
}

}  // namespace

// Failures come back as values; an exception that still escapes (no memory
// left, a library call that throws) ends the run with the same prefix and
// status as any other failure instead of an abort.
int main(int argc, char** argv) {
  try {
    return run_tool(argc, argv);
  } catch (const std::exception& error) {
    return report_internal_error(error.what());
  } catch (...) {
    return report_internal_error("unexpected exception");
  }
}

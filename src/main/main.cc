// lorebox: packs local Claude Code and Codex sessions into one archive.
#include <string>

#include "main/cli.h"
#include "main/console.h"
#include "main/driver.h"
#include "main/heap.h"

int main(int argc, char** argv) {
  lorebox::prefer_huge_pages();
  lorebox::prepare_console();
  lorebox::ParsedCommandLine parsed = lorebox::parse_command_line(argc, argv);
  if (!parsed.cli) return parsed.exit_status;

  lorebox::Result<void> result = lorebox::run(*parsed.cli);
  if (result) return 0;
  lorebox::write_stderr("lorebox: " + result.error() + "\n");
  return 1;
}

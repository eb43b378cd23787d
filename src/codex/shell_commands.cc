#include "codex/shell_commands.h"

#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr std::string_view kCmdLiteral = "\"cmd\":\"";

// Reads one command starting at `pos` into *command (cleared first).
void read_command(std::string_view input, size_t pos, std::string* command) {
  command->clear();
  while (pos < input.size()) {
    char c = input[pos];
    if (c == '"') return;
    if (c == '\\') {
      if (pos + 1 == input.size()) return;
      char escaped = input[pos + 1];
      command->push_back(escaped == 'n' ? ' ' : escaped);
      pos += 2;
      continue;
    }
    command->push_back(c);
    ++pos;
  }
}

}  // namespace

void extract_commands(std::string_view input,
                      std::vector<std::string>* commands) {
  std::string command;
  size_t at = input.find(kCmdLiteral);
  while (at != std::string_view::npos) {
    size_t start = at + kCmdLiteral.size();
    read_command(input, start, &command);
    if (!trim(command).empty()) commands->push_back(command);
    at = input.find(kCmdLiteral, start);
  }
}

}  // namespace lorebox

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

// True when `program` names a POSIX shell, by the part after its last "/".
bool is_shell(std::string_view program) {
  const size_t slash = program.rfind('/');
  if (slash != std::string_view::npos) program.remove_prefix(slash + 1);
  return program == "bash" || program == "zsh" || program == "sh";
}

}  // namespace

void extract_commands(std::string_view input, std::vector<std::string>* commands) {
  std::string command;
  size_t at = input.find(kCmdLiteral);
  while (at != std::string_view::npos) {
    size_t start = at + kCmdLiteral.size();
    read_command(input, start, &command);
    if (!trim(command).empty()) commands->push_back(command);
    at = input.find(kCmdLiteral, start);
  }
}

std::optional<std::string> argv_command(json::Element arguments) {
  std::optional<json::Element> command = json::member(arguments, "command");
  if (!command) return std::nullopt;
  std::vector<std::string_view> argv;
  bool all_strings = true;
  const bool is_array = json::for_each_element(*command, [&](json::Element element) {
    std::optional<std::string_view> text = json::as_string(element);
    if (text) {
      argv.push_back(*text);
    } else {
      all_strings = false;
    }
  });
  if (!is_array || !all_strings || argv.empty()) return std::nullopt;
  if (argv.size() >= 3 && is_shell(argv[0]) && (argv[1] == "-c" || argv[1] == "-lc"))
    return std::string(argv[2]);
  std::string line(argv[0]);
  for (size_t i = 1; i < argv.size(); ++i) {
    line.push_back(' ');
    line.append(argv[i]);
  }
  return line;
}

}  // namespace lorebox

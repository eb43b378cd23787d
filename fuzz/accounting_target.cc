// Target for the accountant's command labels and tool-call records.
#include <string>
#include <string_view>

#include "efficiency/accountant.h"
#include "fuzz_check.h"
#include "fuzz_targets.h"
#include "text/utf8.h"

namespace lorebox::fuzz {

namespace {

uint64_t total(const std::map<std::string, uint64_t>& counts) {
  uint64_t sum = 0;
  for (const auto& [name, count] : counts) sum += count;
  return sum;
}

// True when `word` occurs in `text` as a run of bytes.
bool occurs_in(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

void check_command(std::string_view command) {
  SessionEfficiency record;
  record_command(record, command, /*redact=*/false);
  const uint64_t recorded = total(record.commands);
  expect(recorded <= 1, "record_command counted more than one command");
  expect(record.whole_file_reads <= recorded, "a whole-file read without a command");
  if (recorded == 0) return;

  const std::string& label = record.commands.begin()->first;
  expect(!label.empty() && label[0] != '-', "a command label is empty or an option");
  expect(label.size() <= command.size(), "a command label is longer than its command");
  if (is_valid_utf8(command))
    expect(is_valid_utf8(label), "a command label is not valid UTF-8");
  // The label is the program's base name, optionally followed by one space
  // and its subcommand, both taken from the command line.
  const size_t space = label.find(' ');
  const std::string_view program = std::string_view(label).substr(0, space);
  expect(occurs_in(command, program), "a command label names no word of the command");
  if (space != std::string::npos) {
    const std::string_view subcommand = std::string_view(label).substr(space + 1);
    expect(!subcommand.empty() && subcommand.find(' ') == std::string_view::npos &&
               occurs_in(command, subcommand),
           "a command label's subcommand is not a word of the command");
  }
  const bool pager = label == "cat" || label == "less" || label == "more";
  expect(record.whole_file_reads == (pager ? 1u : 0u),
         "whole-file reads do not follow the command label");
}

// The text up to the first line feed names a tool; the rest is its input.
void check_tool_call(std::string_view text) {
  const size_t split = text.find('\n');
  const std::string_view name = text.substr(0, split);
  const std::string_view input =
      split == std::string_view::npos ? std::string_view() : text.substr(split + 1);

  SessionEfficiency record;
  record_tool_call(record, name, input);
  expect(record.tool_calls == 1 && record.tools.size() == 1 &&
             record.tools.begin()->first == name && record.tools.begin()->second == 1,
         "record_tool_call did not count the call under its name");
  expect(record.repeated_calls == 0, "a first call counted as repeated");
  record_tool_call(record, name, input);
  expect(record.tool_calls == 2 && record.repeated_calls <= 1,
         "a second identical call was not counted once");
  expect(call_fingerprint(name, input) == call_fingerprint(name, input),
         "call_fingerprint is not deterministic");
}

}  // namespace

int fuzz_record_command(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_command(text);
  check_tool_call(text);
  return 0;
}

}  // namespace lorebox::fuzz

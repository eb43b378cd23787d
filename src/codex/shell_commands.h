// Shell commands named in the input of a Codex tool call.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"

namespace lorebox {

// Appends to *commands every command found in `input`, the compact JSON text
// of a tool call's input, in the order found. A command starts just after
// each occurrence of the literal "cmd":" and runs to the first unescaped
// quotation mark or the end of the text. A backslash escapes the character
// after it ("\n" gives one space, any other character stands for itself);
// a backslash at the very end of the text ends the command. Commands made
// only of white space are left out; the others are kept untrimmed.
void extract_commands(std::string_view input, std::vector<std::string>* commands);

// The command line of a call whose arguments object holds an argv array
// under "command" (["zsh", "-lc", "ls"], the shell tool of early Codex
// versions): the third element when there are at least three, the first
// one's base name is bash, zsh or sh and the second is -c or -lc (the
// script a shell was asked to run); otherwise all elements joined by single
// spaces. Nothing when "command" is missing, empty, or not an array of
// strings.
std::optional<std::string> argv_command(json::Element arguments);

}  // namespace lorebox

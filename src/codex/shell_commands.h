// Shell commands named in the input of a Codex tool call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lorebox {

// Appends to *commands every command found in `input`, the compact JSON text
// of a tool call's input, in the order found. A command starts just after
// each occurrence of the literal "cmd":" and runs to the first unescaped
// quotation mark or the end of the text. A backslash escapes the character
// after it ("\n" gives one space, any other character stands for itself);
// a backslash at the very end of the text ends the command. Commands made
// only of white space are left out; the others are kept untrimmed.
void extract_commands(std::string_view input, std::vector<std::string>* commands);

}  // namespace lorebox

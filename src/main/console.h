// Writing to standard output and standard error. A failed write (a closed
// pipe, a full disk) ends the process with an internal error that names
// the stream, instead of a signal or a silent loss.
#pragma once

#include <string_view>

namespace lorebox {

// Makes a closed pipe an ordinary write error instead of a fatal signal.
void prepare_console();

// Writes all of `text` to standard output or standard error.
void write_stdout(std::string_view text);
void write_stderr(std::string_view text);

// True when standard error is a terminal.
bool stderr_is_terminal();

}  // namespace lorebox

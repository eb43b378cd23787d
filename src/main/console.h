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

// Checks that the parser's own help, version or usage text, written through
// the C++ streams, reached its stream; ends the process like a failed write
// otherwise.
void check_library_streams();

// True when standard error is a terminal.
bool stderr_is_terminal();

}  // namespace lorebox

#include "main/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <unistd.h>

#include "io/file.h"

namespace lorebox {

namespace {

[[noreturn]] void stream_failed(const char* stream, const std::string& reason) {
  const std::string line = std::string("lorebox: internal error: could not write to ") +
                           stream + ": " + reason + "\n";
  // Telling the user may itself fail when the stream is standard error.
  (void)write_all(STDERR_FILENO, line);
  std::_Exit(1);
}

}  // namespace

void prepare_console() { std::signal(SIGPIPE, SIG_IGN); }

void write_stdout(std::string_view text) {
  if (Result<void> written = write_all(STDOUT_FILENO, text); !written)
    stream_failed("standard output", written.error());
}

void write_stderr(std::string_view text) {
  if (Result<void> written = write_all(STDERR_FILENO, text); !written)
    stream_failed("standard error", written.error());
}

void check_library_streams() {
  std::cout.flush();
  if (!std::cout) stream_failed("standard output", std::strerror(errno));
  std::cerr.flush();
  if (!std::cerr) stream_failed("standard error", std::strerror(errno));
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace lorebox

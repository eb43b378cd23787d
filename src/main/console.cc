#include "main/console.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include <unistd.h>

namespace lorebox {

namespace {

// Writes everything or returns false with errno set.
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

[[noreturn]] void stream_failed(const char* stream) {
  const std::string line = std::string("lorebox: internal error: could not write to ") +
                           stream + ": " + std::strerror(errno) + "\n";
  // Telling the user may itself fail when the stream is standard error.
  (void)write_all(STDERR_FILENO, line);
  std::_Exit(1);
}

}  // namespace

void prepare_console() { std::signal(SIGPIPE, SIG_IGN); }

void write_stdout(std::string_view text) {
  if (!write_all(STDOUT_FILENO, text)) stream_failed("standard output");
}

void write_stderr(std::string_view text) {
  if (!write_all(STDERR_FILENO, text)) stream_failed("standard error");
}

void check_library_streams() {
  std::cout.flush();
  if (!std::cout) stream_failed("standard output");
  std::cerr.flush();
  if (!std::cerr) stream_failed("standard error");
}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace lorebox

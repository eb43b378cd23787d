#include "support/run_binary.h"

#include <cerrno>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lorebox::testing {

namespace {

// A pipe whose two ends are closed on exec (pipe2 with O_CLOEXEC is not
// everywhere: macOS lacks it).
bool make_pipe(int ends[2]) {
  if (::pipe(ends) != 0) return false;
  for (int i = 0; i < 2; ++i) ::fcntl(ends[i], F_SETFD, FD_CLOEXEC);
  return true;
}

// Reads both pipes until both are closed.
void drain(int out_fd, int err_fd, std::string* out, std::string* err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

RunResult run_lorebox(const std::vector<std::string>& args, const RunOptions& options) {
  int out_pipe[2], err_pipe[2];
  if (!make_pipe(out_pipe) || !make_pipe(err_pipe))
    throw std::runtime_error("pipe failed");

  std::vector<std::string> env_strings;
  for (const auto& [name, value] : options.env) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string binary = LOREBOX_BINARY;
  std::vector<std::string> argv_strings = {binary};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    if (options.data_limit != 0) {
      const rlimit limit = {options.data_limit, options.data_limit};
      if (::setrlimit(RLIMIT_DATA, &limit) != 0) ::_exit(126);
    }
    if (!options.stdout_file.empty()) {
      const int fd = ::open(options.stdout_file.c_str(), O_WRONLY);
      if (fd < 0) ::_exit(126);
      ::dup2(fd, STDOUT_FILENO);
    } else {
      ::dup2(out_pipe[1], STDOUT_FILENO);
    }
    ::dup2(err_pipe[1], STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    ::execve(binary.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  RunResult result;
  drain(out_pipe[0], err_pipe[0], &result.out, &result.err);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace lorebox::testing

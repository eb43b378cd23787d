#include "hostile_support.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#include <sys/mount.h>
#endif

#include "support/shell.h"

namespace lorebox::testing {

namespace fs = std::filesystem;

namespace {

// The user nobody and its group, when the system has them.
struct Nobody {
  uid_t uid;
  gid_t gid;
};

std::optional<Nobody> find_nobody() {
  const passwd* entry = ::getpwnam("nobody");
  if (entry == nullptr) return std::nullopt;
  return Nobody{entry->pw_uid, entry->pw_gid};
}

// Becomes `nobody`, for good; false when the system refuses. Called in a
// child, between fork and exec.
bool become(const Nobody& nobody) {
  return ::setgroups(0, nullptr) == 0 && ::setgid(nobody.gid) == 0 &&
         ::setuid(nobody.uid) == 0;
}

// Mounts a tmpfs of 64 KiB on `dir` in a new mount namespace of this
// process; false where that cannot be done. Only Linux has mount
// namespaces.
bool mount_small_tmpfs(const char* dir) {
#if defined(__linux__)
  return ::unshare(CLONE_NEWNS) == 0 &&
         ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
         ::mount("tmpfs", dir, "tmpfs", 0, "size=64k") == 0;
#else
  (void)dir;
  return false;
#endif
}

// Runs a shell command and returns what it printed ("" on failure).
std::string command_output(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

// Lets the user nobody enter every directory of the tree and write the
// output directory; files become readable by all.
void open_up(const fs::path& root, const fs::path& out) {
  using fs::perms;
  std::error_code ignored;
  fs::permissions(root,
                  perms::owner_all | perms::group_read | perms::group_exec |
                      perms::others_read | perms::others_exec,
                  ignored);
  fs::permissions(out, perms::all, ignored);
}

// Collects every string of every "parts" array below `value`.
void collect_parts(const nlohmann::json& value, std::vector<std::string>* texts) {
  if (value.is_object()) {
    for (const auto& [key, member] : value.items()) {
      if (key == "parts" && member.is_array()) {
        for (const nlohmann::json& part : member)
          if (part.is_string()) texts->push_back(part.get<std::string>());
      } else {
        collect_parts(member, texts);
      }
    }
  } else if (value.is_array()) {
    for (const nlohmann::json& element : value) collect_parts(element, texts);
  }
}

// Reads the child's read counts from /proc/<pid>/io; call after it exited
// and before it is reaped. Where there is no such file (outside Linux)
// both stay 0.
void read_io_counts(pid_t pid, HostileRun* result) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string name;
  uint64_t value = 0;
  while (io >> name >> value) {
    if (name == "rchar:") result->bytes_read = value;
    if (name == "syscr:") result->read_calls = value;
  }
}

}  // namespace

bool running_as_root() { return ::geteuid() == 0; }

std::string json_text(std::string_view text) { return nlohmann::json(text).dump(); }

HostileHome::HostileHome() {
  fs::create_directories(projects());
  fs::create_directories(sessions());
  fs::create_directories(out());
}

void HostileHome::write_claude(std::string_view project, std::string_view name,
                               std::string_view bytes) {
  write_file(projects() / project / (std::string(name) + ".jsonl"), bytes);
}

void HostileHome::write_codex(std::string_view name, std::string_view bytes) {
  write_file(sessions() / "2026" / "01" / "02" / (std::string(name) + ".jsonl"), bytes);
}

fs::path HostileHome::prepare_unprivileged_run() {
  open_up(root(), out());
  if (!binary_dir_) {
    binary_dir_.emplace();
    using fs::perms;
    const perms mode = perms::owner_all | perms::group_read | perms::group_exec |
                       perms::others_read | perms::others_exec;
    fs::permissions(binary_dir_->path(), mode);
    fs::copy_file(LOREBOX_BINARY, binary_dir_->path() / "lorebox");
    fs::permissions(binary_dir_->path() / "lorebox", mode);
  }
  return binary_dir_->path() / "lorebox";
}

std::string HostileHome::why_no_unprivileged_run() {
  if (!running_as_root()) return "";
  const std::optional<Nobody> nobody = find_nobody();
  if (!nobody) return "this system has no user nobody to drop to";
  const fs::path binary = prepare_unprivileged_run();
  const fs::path home_dir = home();
  const fs::path out_dir = out();
  // A child becomes nobody and looks.
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!become(*nobody)) ::_exit(2);
    const bool reaches = ::access(binary.c_str(), X_OK) == 0 &&
                         ::access(home_dir.c_str(), R_OK | X_OK) == 0 &&
                         ::access(out_dir.c_str(), W_OK | X_OK) == 0;
    ::_exit(reaches ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
    return "the system does not let root become the user nobody";
  return "the user nobody cannot reach " + root().string() + " or run " +
         binary.string() + " (is the temporary directory private?)";
}

HostileRun HostileHome::run(const std::vector<std::string>& args,
                            const HostileSettings& settings) {
  const bool drop = settings.unprivileged && running_as_root();
  const std::optional<Nobody> nobody = drop ? find_nobody() : std::nullopt;
  if (drop && !nobody) throw std::runtime_error("no user nobody to drop to");
  const fs::path binary = drop ? prepare_unprivileged_run() : fs::path(LOREBOX_BINARY);

  const fs::path out_file = root() / ".stdout";
  const fs::path err_file = root() / ".stderr";
  const int out_fd =
      ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err_fd =
      ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out_fd < 0 || err_fd < 0) throw std::runtime_error("cannot capture output");

  const std::string home_value =
      settings.home_variable.empty() ? home().string() : settings.home_variable;
  std::vector<std::string> env_strings = {"HOME=" + home_value, "PATH=/usr/bin:/bin"};
  std::vector<char*> envp;
  for (std::string& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings = {binary.string()};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(root().c_str()) != 0) ::_exit(126);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    if (null_fd >= 0) ::dup2(null_fd, STDIN_FILENO);
    if (!settings.small_tmpfs.empty() && !mount_small_tmpfs(settings.small_tmpfs.c_str()))
      ::_exit(124);
    if (drop && !become(*nobody)) ::_exit(125);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out_fd);
  ::close(err_fd);

  HostileRun result;
  int status = 0;
  rusage usage{};
  while (true) {
    // Waits without reaping first, so that the exited child's counts can
    // still be read.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) ==
            0 &&
        info.si_pid == pid) {
      read_io_counts(pid, &result);
      while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
      break;
    }
    const auto limit = std::chrono::seconds(settings.timeout_seconds);
    if (std::chrono::steady_clock::now() - start > limit) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.max_rss_kb = usage.ru_maxrss;
  result.out = read_file(out_file);
  result.err = read_file(err_file);
  return result;
}

HostileRun HostileHome::export_all(std::vector<std::string> args,
                                   const HostileSettings& settings) {
  args.insert(args.end(),
              {"--output", archive().string(), "--receipt", receipt().string()});
  return run(args, settings);
}

std::string claude_line(std::string_view content, std::string_view time,
                        std::string_view session) {
  return R"({"type":"user","sessionId":")" + std::string(session) +
         R"(","cwd":"/p","timestamp":")" + std::string(time) +
         R"(","message":{"role":"user","content":)" + std::string(content) + "}}\n";
}

std::string codex_rollout(const std::vector<std::string>& texts) {
  const std::string time = R"("timestamp":"2026-01-02T03:04:05Z")";
  std::string rollout = "{" + time +
                        R"(,"type":"session_meta","payload":{"id":"t1","cwd":"/p"}})"
                        "\n";
  for (const std::string& text : texts) {
    rollout += "{" + time +
               R"(,"type":"response_item","payload":{"type":"message","role":"user",)"
               R"("content":[{"type":"input_text","text":)" +
               text + "}]}}\n";
  }
  return rollout;
}

std::vector<std::string> archive_names(const fs::path& archive) {
  std::vector<std::string> names;
  const std::string listing =
      command_output("unzip -Z1 " + shell_quoted(archive.string()) + " 2>/dev/null");
  size_t start = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    if (end > start) names.push_back(listing.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string archive_entry(const fs::path& archive, std::string_view name) {
  return command_output("unzip -p " + shell_quoted(archive.string()) + " " +
                        shell_quoted(name) + " 2>/dev/null");
}

std::vector<std::string> packed_texts(const fs::path& archive) {
  std::vector<std::string> texts;
  const nlohmann::json conversations = nlohmann::json::parse(
      archive_entry(archive, "conversations.json"), nullptr, /*allow_exceptions=*/false);
  collect_parts(conversations, &texts);
  return texts;
}

nlohmann::json read_receipt(const fs::path& path) {
  return nlohmann::json::parse(read_file(path), nullptr, /*allow_exceptions=*/false);
}

}  // namespace lorebox::testing

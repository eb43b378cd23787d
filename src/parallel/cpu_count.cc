// A container often runs with every CPU of the host in its affinity mask
// and a CPU quota in its cgroup instead; counting only the mask would start
// more workers than the quota lets run at once.
//
// Affinity masks and cgroups are Linux's. Elsewhere (macOS) the count is
// the CPUs online, and no quota applies.
#include "parallel/cpu_count.h"

#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace lorebox {

namespace {

std::string read_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

std::optional<int64_t> parse_integer(std::string_view text) {
  text = trimmed(text);
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Whole CPUs for a quota per period, rounded up; nothing when unlimited.
std::optional<unsigned> cpus_for(int64_t quota, int64_t period) {
  if (quota <= 0 || period <= 0) return std::nullopt;
  const int64_t cpus = (quota + period - 1) / period;
  return static_cast<unsigned>(std::clamp<int64_t>(cpus, 1, 1 << 20));
}

// The cgroup directory `path` ("/a/b") and each of its ancestors, inside
// the hierarchy at `mount`: "mount/a/b", "mount/a", "mount".
std::vector<std::filesystem::path> levels(const std::filesystem::path& mount,
                                          std::string_view path) {
  std::vector<std::filesystem::path> out;
  std::string relative(path);
  while (true) {
    while (!relative.empty() && relative.back() == '/') relative.pop_back();
    std::string_view inner = relative;
    while (!inner.empty() && inner.front() == '/') inner.remove_prefix(1);
    out.push_back(inner.empty() ? mount : mount / inner);
    if (inner.empty()) break;
    relative.resize(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/'));
  }
  return out;
}

void keep_smaller(std::optional<unsigned> limit, std::optional<unsigned>* smallest) {
  if (limit && (!*smallest || *limit < **smallest)) *smallest = limit;
}

bool names_cpu_controller(std::string_view controllers) {
  while (!controllers.empty()) {
    const size_t comma = controllers.find(',');
    if (controllers.substr(0, comma) == "cpu") return true;
    if (comma == std::string_view::npos) break;
    controllers.remove_prefix(comma + 1);
  }
  return false;
}

bool memory_limited() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)
      return true;
  }
  return false;
}

// The CPUs the system lets this process run on.
unsigned affinity_cpus() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
#else
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online > 0) return static_cast<unsigned>(online);
#endif
  // More CPUs than a cpu_set_t holds, or no answer: the machine's count.
  return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace

std::optional<unsigned> parse_cpu_max(std::string_view text) {
  text = trimmed(text);
  const size_t space = text.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  if (text.substr(0, space) == "max") return std::nullopt;
  std::optional<int64_t> quota = parse_integer(text.substr(0, space));
  std::optional<int64_t> period = parse_integer(text.substr(space + 1));
  if (!quota || !period) return std::nullopt;
  return cpus_for(*quota, *period);
}

std::optional<unsigned> cgroup_cpu_limit(std::string_view proc_self_cgroup,
                                         const std::filesystem::path& cgroup_root) {
  std::optional<unsigned> smallest;
  while (!proc_self_cgroup.empty()) {
    const size_t end = proc_self_cgroup.find('\n');
    std::string_view line = proc_self_cgroup.substr(0, end);
    proc_self_cgroup.remove_prefix(end == std::string_view::npos ? proc_self_cgroup.size()
                                                                 : end + 1);
    // "hierarchy-id:controllers:path"
    const size_t first = line.find(':');
    const size_t second =
        first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string_view path = line.substr(second + 1);
    if (id == "0" && controllers.empty()) {
      for (const std::filesystem::path& level : levels(cgroup_root, path))
        keep_smaller(parse_cpu_max(read_text(level / "cpu.max")), &smallest);
    } else if (names_cpu_controller(controllers)) {
      // The v1 cpu controller is mounted alone or together with cpuacct.
      for (const char* mount : {"cpu", "cpu,cpuacct", "cpuacct,cpu"}) {
        for (const std::filesystem::path& level : levels(cgroup_root / mount, path)) {
          std::optional<int64_t> quota =
              parse_integer(read_text(level / "cpu.cfs_quota_us"));
          std::optional<int64_t> period =
              parse_integer(read_text(level / "cpu.cfs_period_us"));
          if (quota && period) keep_smaller(cpus_for(*quota, *period), &smallest);
        }
      }
    }
  }
  return smallest;
}

unsigned usable_cpus() {
  const unsigned cpus = affinity_cpus();
#if defined(__linux__)
  const std::optional<unsigned> quota =
      cgroup_cpu_limit(read_text("/proc/self/cgroup"), "/sys/fs/cgroup");
  return quota ? std::max(1u, std::min(cpus, *quota)) : cpus;
#else
  // No cgroups outside Linux, hence no quota.
  return cpus;
#endif
}

unsigned default_jobs() { return memory_limited() ? 1 : usable_cpus(); }

}  // namespace lorebox

// How many CPUs this process may use: the CPUs of its affinity mask, cut
// down to its cgroup's CPU quota.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace lorebox {

// The CPUs this process may run on at once, at least 1: the affinity mask's
// count, no more than the cgroup quota (usable_cpus reads /proc/self/cgroup
// and the hierarchy under /sys/fs/cgroup). Outside Linux, which has neither
// masks nor cgroups, the CPUs online.
unsigned usable_cpus();

// How many jobs a run uses unless told: usable_cpus(), but 1 when the
// process runs under a limit on its data size or address space, since
// every worker needs buffers and a parser of its own and the limit was set
// for one reader.
unsigned default_jobs();

// The CPU quota in whole CPUs (rounded up, at least 1) of the cgroups named
// by `proc_self_cgroup` (the text of /proc/self/cgroup) and all their
// ancestors, under the hierarchy mounted at `cgroup_root`: the smallest
// limit of cgroup v2 "cpu.max" files and of cgroup v1 "cpu.cfs_quota_us"
// and "cpu.cfs_period_us" pairs. Nothing when no level sets a limit.
std::optional<unsigned> cgroup_cpu_limit(std::string_view proc_self_cgroup,
                                         const std::filesystem::path& cgroup_root);

// The limit in a cgroup v2 "cpu.max" text ("150000 100000" is 2 CPUs);
// nothing for "max" or text that does not parse.
std::optional<unsigned> parse_cpu_max(std::string_view text);

}  // namespace lorebox

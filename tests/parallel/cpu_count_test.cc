#include "parallel/cpu_count.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace lorebox {
namespace {

TEST(CpuCountTest, ParsesCpuMax) {
  const std::pair<std::string_view, std::optional<unsigned>> cases[] = {
      {"max 100000\n", std::nullopt}, {"200000 100000\n", 2u},
      {"150000 100000", 2u},          {"50000 100000\n", 1u},
      {"100000 100000", 1u},          {"", std::nullopt},
      {"max", std::nullopt},          {"x 100000", std::nullopt},
      {"100000 0", std::nullopt},     {"-1 100000", std::nullopt},
  };
  for (const auto& [text, cpus] : cases) EXPECT_EQ(parse_cpu_max(text), cpus) << text;
}

// The smallest limit along the process's cgroup and its ancestors, under
// either cgroup version; none when no level sets one.
TEST(CpuCountTest, CgroupLimitIsTheSmallestAlongThePath) {
  testing::TempDir root;
  testing::write_file(root / "cpu.max", "max 100000\n");
  testing::write_file(root / "user/cpu.max", "300000 100000\n");
  testing::write_file(root / "user/app/cpu.max", "max 100000\n");
  testing::write_file(root / "cpu,cpuacct/cpu.cfs_quota_us", "-1\n");
  testing::write_file(root / "cpu,cpuacct/cpu.cfs_period_us", "100000\n");
  testing::write_file(root / "cpu,cpuacct/box/cpu.cfs_quota_us", "250000\n");
  testing::write_file(root / "cpu,cpuacct/box/cpu.cfs_period_us", "100000\n");
  testing::write_file(root / "cpu/small/cpu.cfs_quota_us", "50000\n");
  testing::write_file(root / "cpu/small/cpu.cfs_period_us", "100000\n");
  const std::pair<std::string, std::optional<unsigned>> cases[] = {
      {"0::/user/app\n", 3u},
      {"0::/\n", std::nullopt},
      {"0::/elsewhere\n", std::nullopt},
      {"4:memory:/x\n2:cpu,cpuacct:/box\n0::/\n", 3u},
      {"2:cpu,cpuacct:/box\n0::/user\n", 3u},
      {"2:cpuacct,cpu:/box/deeper\n", 3u},
      {"1:cpu:/small\n", 1u},
      {"1:cpuset:/small\n", std::nullopt},
      {"garbage\n\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [cgroup, cpus] : cases)
    EXPECT_EQ(cgroup_cpu_limit(cgroup, root.path()), cpus) << cgroup;
}

TEST(CpuCountTest, UsableCpusIsAtLeastOne) { EXPECT_GE(usable_cpus(), 1u); }

}  // namespace
}  // namespace lorebox

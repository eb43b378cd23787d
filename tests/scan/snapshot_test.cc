#include "scan/snapshot.h"

#include <sys/stat.h>

#include "temp_tree.h"

namespace lorebox {
namespace {

using SnapshotTest = TempTreeTest;

TEST_F(SnapshotTest, SettleRefusesLinksAnywhereAndNonRegularFiles) {
  write("dir/file.jsonl", "x\n");
  link(path("dir"), "dir-link");
  link(path("dir/file.jsonl"), "file-link.jsonl");
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
  const std::pair<std::string, bool> cases[] = {
      {path("dir/file.jsonl"), true},
      {path("dir-link/file.jsonl"), false},
      {path("file-link.jsonl"), false},
      {path("dir/missing.jsonl"), false},
      {path("dir"), false},
      {path("fifo"), false},
      {"dir/file.jsonl", false},  // not absolute
  };
  for (const auto& [file, available] : cases) {
    EXPECT_EQ(settle_file(file).has_value(), available) << file;
  }
  std::optional<FileStamp> stamp = settle_file(path("dir/file.jsonl"));
  ASSERT_TRUE(stamp.has_value());
  struct stat info;
  ASSERT_EQ(::lstat(path("dir/file.jsonl").c_str(), &info), 0);
  EXPECT_EQ(stamp->path, path("dir/file.jsonl"));
  FileStamp expected{stamp->path,
                     static_cast<uint64_t>(info.st_dev),
                     static_cast<uint64_t>(info.st_ino),
                     static_cast<uint16_t>(info.st_mode),
                     2,
                     modified_time(info).tv_sec,
                     modified_time(info).tv_nsec,
                     changed_time(info).tv_sec,
                     changed_time(info).tv_nsec};
  EXPECT_TRUE(same_stamp(*stamp, expected));
  expected.changed_nanoseconds += 1;
  EXPECT_FALSE(same_stamp(*stamp, expected));
}

TEST(AdmitByTimeTest, AdmitsOnlyTimesStrictlyBeforeTheBound) {
  struct Case {
    int64_t seconds;
    int64_t nanoseconds;
    double bound;
    bool admitted;
  };
  const Case cases[] = {
      {999, 500000000, 1000.0, true},
      {1000, 0, 1000.0, false},
      {999, 999999999, 1000.0, true},
      {1000, 1, 1000.0, false},
      {-1, 500000000, 1000.0, false},  // before the epoch
      {1700000000, 500000000, 1700000000.5, false},
      {1700000000, 499999000, 1700000000.5, true},
  };
  for (const Case& c : cases) {
    FileStamp stamp;
    stamp.modified_seconds = c.seconds;
    stamp.modified_nanoseconds = c.nanoseconds;
    EXPECT_EQ(admit_by_time(stamp, c.bound), c.admitted)
        << c.seconds << "." << c.nanoseconds;
  }
}

TEST_F(SnapshotTest, OpenAndVerifyNoticesChangesSinceTheStamp) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> change;
    bool opened;
  };
  const Case cases[] = {
      {"nothing", [](const std::string&) {}, true},
      {"appended", [](const std::string& file) { append(file, "more\n"); }, false},
      {"replaced",
       [](const std::string& file) {
         std::string copy = file + ".new";
         std::ofstream(copy) << "x\n";
         std::rename(copy.c_str(), file.c_str());
       },
       false},
      {"made a link",
       [](const std::string& file) {
         std::rename(file.c_str(), (file + ".moved").c_str());
         ASSERT_EQ(::symlink((file + ".moved").c_str(), file.c_str()), 0);
       },
       false},
      {"removed", [](const std::string& file) { std::remove(file.c_str()); }, false},
  };
  for (const Case& c : cases) {
    std::string file = path(std::string("f-") + c.what);
    write(std::string("f-") + c.what, "x\n");
    std::optional<FileStamp> stamp = settle_file(file);
    ASSERT_TRUE(stamp.has_value());
    c.change(file);
    std::optional<File> opened = open_and_verify(file, *stamp);
    EXPECT_EQ(opened.has_value(), c.opened) << c.what;
    if (opened) {
      EXPECT_TRUE(verify_after_read(file, *opened, *stamp));
      append(file, "during\n");
      EXPECT_FALSE(verify_after_read(file, *opened, *stamp));
    }
  }
}

}  // namespace
}  // namespace lorebox

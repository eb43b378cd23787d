#include "main/heap.h"

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

// The huge-page advice is glibc's heap on Linux; the address sanitizer
// brings an allocator of its own.
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)

// The "VmFlags" lines of the mappings /proc/self/smaps labels [heap].
std::vector<std::string> heap_flags() {
  std::ifstream smaps("/proc/self/smaps");
  std::vector<std::string> flags;
  bool in_heap = false;
  for (std::string line; std::getline(smaps, line);) {
    // A mapping's header line starts with its address range.
    if (line.find('-') != std::string::npos && line.find(':') > line.find(' ')) {
      in_heap = line.find("[heap]") != std::string::npos;
    } else if (in_heap && line.rfind("VmFlags:", 0) == 0) {
      flags.push_back(line);
    }
  }
  return flags;
}

bool huge_pages_possible() {
  std::ifstream mode("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string text;
  std::getline(mode, text);
  return !text.empty() && text.find("[never]") == std::string::npos;
}

// prefer_huge_pages leaves a process under a memory limit alone.
bool memory_limited() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit;
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return true;
  }
  return false;
}

TEST(HeapTest, MarksPartOfTheHeapForHugePagesAndKeepsItUsable) {
  if (!huge_pages_possible()) GTEST_SKIP() << "transparent huge pages are off";
  if (memory_limited()) GTEST_SKIP() << "runs under a memory limit";
  prefer_huge_pages();

  bool marked = false;
  for (const std::string& line : heap_flags()) {
    if (line.find(" hg") != std::string::npos) marked = true;
  }
  EXPECT_TRUE(marked) << "no [heap] mapping carries the huge-page advice";

  // Allocations of every size still round-trip their bytes, including ones
  // above the default mapping threshold that now come from the heap.
  for (size_t size : {size_t{16}, size_t{4096}, size_t{1} << 20, size_t{40} << 20}) {
    char* block = static_cast<char*>(std::malloc(size));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, size);
    EXPECT_EQ(block[0], 0x5A);
    EXPECT_EQ(block[size - 1], 0x5A);
    std::free(block);
  }
}

#else

TEST(HeapTest, MarksPartOfTheHeapForHugePagesAndKeepsItUsable) {
  GTEST_SKIP() << "needs glibc's own malloc on Linux";
}

#endif

}  // namespace
}  // namespace lorebox

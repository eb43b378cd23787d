#include "main/heap.h"

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace lorebox {
namespace {

// A heap whose every step succeeds except the one named, and that records
// the options set.
class FakeHeap : public HeapControls {
 public:
  enum class Fault {
    None,
    Limited,
    MmapThreshold,
    TrimThreshold,
    TopPad,
    NoGrowth,
    TooLittleGrowth,
    Advice
  };
  explicit FakeHeap(Fault fault) : fault_(fault) {}

  bool memory_limited() override { return fault_ == Fault::Limited; }
  bool set_option(HeapOption option, size_t value) override {
    if ((option == HeapOption::MmapThreshold && fault_ == Fault::MmapThreshold) ||
        (option == HeapOption::TrimThreshold && fault_ == Fault::TrimThreshold) ||
        (option == HeapOption::TopPad && fault_ == Fault::TopPad))
      return false;
    options[option] = value;
    return true;
  }
  uintptr_t heap_end() override { return end_; }
  void grow_heap() override {
    if (fault_ == Fault::NoGrowth) return;
    end_ += fault_ == Fault::TooLittleGrowth ? 4096 : (size_t{64} << 20);
  }
  bool advise_huge_pages(uintptr_t from, size_t length) override {
    advised = {from, length};
    return fault_ != Fault::Advice;
  }

  std::map<HeapOption, size_t> options;  // the last value of each option set
  std::optional<std::pair<uintptr_t, size_t>> advised;

 private:
  Fault fault_;
  uintptr_t end_ = 0x1234000;
};

TEST(HeapTest, TuningIsAllOrNothing) {
  using Fault = FakeHeap::Fault;
  const size_t glibc_default = 128 * 1024;
  const std::map<HeapOption, size_t> tuned = {{HeapOption::MmapThreshold, 32u << 20},
                                              {HeapOption::TrimThreshold, 128u << 20},
                                              {HeapOption::TopPad, glibc_default}};
  const std::map<HeapOption, size_t> all_default = {
      {HeapOption::MmapThreshold, glibc_default},
      {HeapOption::TrimThreshold, glibc_default},
      {HeapOption::TopPad, glibc_default}};
  // {the failing step, options left behind}; an option never set stays
  // untouched.
  const std::pair<Fault, std::map<HeapOption, size_t>> cases[] = {
      {Fault::None, tuned},
      {Fault::Limited, {}},
      {Fault::MmapThreshold, {}},
      {Fault::TrimThreshold, {{HeapOption::MmapThreshold, glibc_default}}},
      {Fault::TopPad,
       {{HeapOption::MmapThreshold, glibc_default},
        {HeapOption::TrimThreshold, glibc_default}}},
      {Fault::NoGrowth, all_default},
      {Fault::TooLittleGrowth, all_default},
      {Fault::Advice, all_default},
  };
  for (const auto& [fault, options] : cases) {
    SCOPED_TRACE(static_cast<int>(fault));
    FakeHeap heap(fault);
    EXPECT_EQ(tune_heap(heap), fault == Fault::None);
    EXPECT_EQ(heap.options, options);
  }
  // The advice covers the whole huge pages of the new stretch.
  FakeHeap heap(Fault::None);
  ASSERT_TRUE(tune_heap(heap));
  const uintptr_t from = (0x1234000 + (2u << 20) - 1) & ~uintptr_t{(2u << 20) - 1};
  const uintptr_t to = (0x1234000 + (64u << 20)) & ~uintptr_t{(2u << 20) - 1};
  EXPECT_EQ(heap.advised, std::make_pair(from, static_cast<size_t>(to - from)));
}

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
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)
      return true;
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

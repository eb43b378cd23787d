// A run touches tens of megabytes of fresh heap (the kept texts, the
// parser's tape and string buffers), and on virtual machines every 4 KiB
// page fault is expensive: at 1 GB of transcripts they took 8 % of a run.
// Transparent huge pages are commonly enabled only for memory that asks
// for them (madvise mode), and glibc's malloc asks only when told to by an
// environment variable. So this grows the heap once, by kReserve, through a
// large top pad, and marks that stretch with MADV_HUGEPAGE. Nothing in it
// is touched yet, so resident memory still grows only as pages are used.
//
// Two more settings keep later allocations inside the marked stretch:
// allocations up to kMmapThreshold come from the heap instead of mappings
// of their own, and the heap is trimmed only when more than twice kReserve
// lies free at its top, since a trimmed and regrown heap would no longer
// carry the mark. Without the marked stretch those settings serve no
// purpose, so when any step fails they are set back to glibc's defaults.
// (glibc offers no way to read a setting, and any mallopt call turns off
// its sliding mmap threshold, so "back" means the default values.)
//
// The reserved stretch counts against address-space and data-size limits
// even while untouched, so under either limit nothing is changed: there
// every byte of the budget is left to the allocations that need it.
#include "main/heap.h"

#include <cstdlib>  // defines __GLIBC__ when the C library is glibc
#include <initializer_list>
#include <vector>

#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace lorebox {

namespace {

constexpr size_t kReserve = size_t{64} << 20;
constexpr size_t kMmapThreshold = size_t{32} << 20;  // glibc's maximum
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
// glibc's default for each of the three options.
constexpr size_t kDefaultValue = 128 * 1024;

// The options changed so far, to be set back when a later step fails.
class Changes {
 public:
  explicit Changes(HeapControls& controls) : controls_(controls) {}

  bool set(HeapOption option, size_t value) {
    if (!controls_.set_option(option, value)) return false;
    changed_.push_back(option);
    return true;
  }

  // Sets one changed option back to its default.
  void reset(HeapOption option) {
    for (size_t i = 0; i < changed_.size(); ++i) {
      if (changed_[i] != option) continue;
      controls_.set_option(option, kDefaultValue);
      changed_.erase(changed_.begin() + static_cast<ptrdiff_t>(i));
      return;
    }
  }

  void reset_all() {
    while (!changed_.empty()) reset(changed_.back());
  }

 private:
  HeapControls& controls_;
  std::vector<HeapOption> changed_;
};

// Grows the heap by the top pad and marks the whole huge pages of the new
// stretch. Later growth goes back to small steps whatever happens.
bool reserve_and_mark(HeapControls& controls, Changes& changes) {
  const uintptr_t before = controls.heap_end();
  controls.grow_heap();
  const uintptr_t after = controls.heap_end();
  changes.reset(HeapOption::TopPad);
  if (before == 0 || after <= before) return false;
  const uintptr_t from = (before + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t to = after & ~(kHugePage - 1);
  return to > from && controls.advise_huge_pages(from, to - from);
}

}  // namespace

bool tune_heap(HeapControls& controls) {
  if (controls.memory_limited()) return false;
  Changes changes(controls);
  const bool applied = changes.set(HeapOption::MmapThreshold, kMmapThreshold) &&
                       changes.set(HeapOption::TrimThreshold, 2 * kReserve) &&
                       changes.set(HeapOption::TopPad, kReserve) &&
                       reserve_and_mark(controls, changes);
  if (!applied) changes.reset_all();
  return applied;
}

#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_HUGEPAGE)

namespace {

class GlibcHeap : public HeapControls {
 public:
  bool memory_limited() override {
    for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
      struct rlimit limit;
      if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY)
        return true;
    }
    return false;
  }

  bool set_option(HeapOption option, size_t value) override {
    int name = M_TOP_PAD;
    if (option == HeapOption::MmapThreshold) name = M_MMAP_THRESHOLD;
    if (option == HeapOption::TrimThreshold) name = M_TRIM_THRESHOLD;
    return ::mallopt(name, static_cast<int>(value)) != 0;
  }

  uintptr_t heap_end() override {
    void* end = ::sbrk(0);
    return end == reinterpret_cast<void*>(-1) ? 0 : reinterpret_cast<uintptr_t>(end);
  }

  void grow_heap() override {
    // volatile keeps the pair from being optimised away.
    void* volatile probe = std::malloc(1 << 20);
    std::free(probe);
  }

  bool advise_huge_pages(uintptr_t from, size_t length) override {
    return ::madvise(reinterpret_cast<void*>(from), length, MADV_HUGEPAGE) == 0;
  }
};

}  // namespace

void prefer_huge_pages() {
  GlibcHeap heap;
  tune_heap(heap);
}

#else

// Other C libraries (musl, macOS's) offer no such malloc tuning, and macOS
// no transparent huge pages: there the heap is left as it is.
void prefer_huge_pages() {}

#endif

}  // namespace lorebox

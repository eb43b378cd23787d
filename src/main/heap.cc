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
// carry the mark.
//
// The reserved stretch counts against address-space and data-size limits
// even while untouched, so under either limit nothing is changed: there
// every byte of the budget is left to the allocations that need it.
#include "main/heap.h"

#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ when the C library is glibc
#include <initializer_list>

#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace lorebox {

#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_HUGEPAGE)

namespace {

constexpr size_t kReserve = size_t{64} << 20;
constexpr size_t kMmapThreshold = size_t{32} << 20;  // glibc's maximum
constexpr size_t kDefaultTopPad = 128 * 1024;        // glibc's default
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

// True when the process runs under a limit on its address space or data.
bool memory_limited() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur != RLIM_INFINITY) return true;
  }
  return false;
}

}  // namespace

void prefer_huge_pages() {
  if (memory_limited()) return;
  if (::mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 0) return;
  if (::mallopt(M_TRIM_THRESHOLD, 2 * kReserve) == 0) return;
  if (::mallopt(M_TOP_PAD, kReserve) == 0) return;
  const uintptr_t before = reinterpret_cast<uintptr_t>(::sbrk(0));
  // One allocation past what the heap has left makes malloc extend it by
  // the top pad. volatile keeps the pair from being optimised away.
  void* volatile probe = std::malloc(1 << 20);
  const uintptr_t after = reinterpret_cast<uintptr_t>(::sbrk(0));
  std::free(probe);
  // Later growth goes back to small steps.
  ::mallopt(M_TOP_PAD, kDefaultTopPad);
  if (before == static_cast<uintptr_t>(-1) || after <= before) return;
  const uintptr_t from = (before + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t to = after & ~(kHugePage - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

#else

void prefer_huge_pages() {}

#endif

}  // namespace lorebox

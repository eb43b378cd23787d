// Start-up tuning of the process heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lorebox {

// Reserves the first stretch of the heap in one piece and asks the kernel
// to back it with transparent huge pages, so that the kept message texts
// and the parser's buffers cost a page fault per 2 MiB instead of per
// 4 KiB. Call once, first thing in main. Where the C library or kernel
// offers no such control, or anything on the way fails, it changes nothing
// lasting: the program works the same, only with more page faults.
void prefer_huge_pages();

// The malloc settings the tuning changes.
enum class HeapOption { MmapThreshold, TrimThreshold, TopPad };

// The calls the tuning makes, one per step, so that a test can make any of
// them fail. The real ones are glibc's (mallopt, sbrk, madvise).
class HeapControls {
 public:
  virtual ~HeapControls() = default;
  // True when the process runs under a limit on its address space or data.
  virtual bool memory_limited() = 0;
  // Sets a malloc option; false when the C library refuses the value.
  virtual bool set_option(HeapOption option, size_t value) = 0;
  // The current end of the heap; 0 when it cannot be told.
  virtual uintptr_t heap_end() = 0;
  // Allocates and frees one block larger than what the heap has left, so
  // that malloc extends the heap by the top pad.
  virtual void grow_heap() = 0;
  // Asks for huge pages for [from, from + length); false when refused.
  virtual bool advise_huge_pages(uintptr_t from, size_t length) = 0;
};

// The tuning, all or nothing: true when every step took effect. Otherwise
// every option it changed is set back to the C library's default (as the
// top pad always is once the heap has grown) and false is returned; no
// option it did not change is touched.
bool tune_heap(HeapControls& controls);

}  // namespace lorebox

// Start-up tuning of the process heap.
#pragma once

namespace lorebox {

// Reserves the first stretch of the heap in one piece and asks the kernel
// to back it with transparent huge pages, so that the kept message texts
// and the parser's buffers cost a page fault per 2 MiB instead of per
// 4 KiB. Call once, first thing in main. Where the C library or kernel
// offers no such control, or anything on the way fails, it does nothing:
// the program works the same, only with more page faults.
void prefer_huge_pages();

}  // namespace lorebox

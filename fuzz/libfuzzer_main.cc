// The libFuzzer entry point of one target, named when it is compiled by
// LOREBOX_FUZZ_FUNCTION. A broken invariant is printed and aborts the run,
// which libFuzzer reports as a crash and saves the input that caused it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lorebox::fuzz::LOREBOX_FUZZ_FUNCTION(data, size);
  const std::string violation = lorebox::fuzz::take_violation();
  if (!violation.empty()) {
    std::fprintf(stderr, "lorebox fuzz: invariant broken: %s\n", violation.c_str());
    std::abort();
  }
  return 0;
}

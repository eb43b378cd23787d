// Test seams of read_transcripts. Not for use outside tests.
#pragma once

#include <functional>
#include <string>

namespace lorebox {

// Sets a function read_transcripts calls with each file's path after its
// first settle and before its open (to change the file in between); an
// empty function removes it.
void set_before_open_hook_for_testing(
    std::function<void(const std::string& path)> hook);

}  // namespace lorebox

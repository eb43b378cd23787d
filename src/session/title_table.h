// Stored conversation titles by native session id.
#pragma once

#include <string>
#include <unordered_map>

namespace lorebox {

// Native session (thread) id to the title the agent stored for it.
using TitleTable = std::unordered_map<std::string, std::string>;

}  // namespace lorebox

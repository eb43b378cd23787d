// README.txt: the fixed text packed as the archive's last entry.
#pragma once

#include <string_view>

namespace lorebox {

// The README text: UTF-8 without a byte-order mark, every line (the last
// too) ended by a line feed, descriptions starting at the 24th column. It
// always lists efficiency.json, also for an archive without that entry.
std::string_view readme_text();

}  // namespace lorebox

// The directory walk that finds transcript candidates.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lorebox {

// Lists the regular files below `root` (an absolute directory; entered even
// when it is a link) whose names pass passes_name_rule and that `accept`
// wants, as paths relative to the root ("a/b.jsonl"). Directories are
// visited depth first in the order they list their entries, nothing
// sorted; links below the root are not followed; directories that cannot
// be read and entries that vanish are passed over silently. With
// `root_documents`, files that is_root_document names pass the name rule
// too.
std::vector<std::string> walk_candidates(
    const std::string& root,
    const std::function<bool(std::string_view relative_path)>& accept,
    bool root_documents = false);

// The absolute path of a candidate: `root` and `relative` joined by "/".
std::string join_path(const std::string& root, std::string_view relative);

}  // namespace lorebox

// Codex has written the environment block two ways:
//   <environment_context>
//     <cwd>/work/app</cwd> ...
//   </environment_context>
// and, in rollouts written before the record envelope,
//   <environment_context>
//   Current working directory: /work/app
//   Approval policy: on-request
//   </environment_context>
#include "codex/environment_cwd.h"

#include "text/cleanup.h"
#include "text/utf8.h"

namespace lorebox {

namespace {

constexpr std::string_view kCwdLabel = "Current working directory:";
constexpr std::string_view kClosingTag = "</environment_context>";

// The rest of the first line starting with kCwdLabel, up to the end of the
// block; nothing when there is none or it is empty.
std::optional<std::string> labelled_cwd(std::string_view block) {
  block = block.substr(0, block.find(kClosingTag));
  while (!block.empty()) {
    size_t end = block.find('\n');
    std::string_view line = trim(block.substr(0, end));
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.starts_with(kCwdLabel)) continue;
    std::string_view cwd = trim(line.substr(kCwdLabel.size()));
    if (cwd.empty()) return std::nullopt;
    return std::string(cwd);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> environment_cwd(std::string_view block) {
  std::optional<std::string> cwd = element_text(block, "cwd");
  if (cwd) return cwd;
  return labelled_cwd(block);
}

}  // namespace lorebox

#include "support/shell.h"

namespace lorebox::testing {

std::string shell_quoted(std::string_view word) {
  std::string text = "'";
  for (char c : word) {
    if (c == '\'') {
      text += "'\\''";
    } else {
      text += c;
    }
  }
  return text + "'";
}

}  // namespace lorebox::testing

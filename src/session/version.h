// The program's version, shown by --version and recorded in the manifest.
#pragma once

namespace lorebox {

inline constexpr char kVersion[] = "0.1.2";

}  // namespace lorebox

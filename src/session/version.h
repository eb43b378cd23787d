// The program's version, shown by --version and recorded in the manifest.
#pragma once

// CMakeLists.txt passes the version written in its project() line.
#ifndef LOREBOX_VERSION
#define LOREBOX_VERSION "unknown"  // compiled outside CMake, e.g. a compile-only check
#endif

namespace lorebox {

inline constexpr char kVersion[] = LOREBOX_VERSION;

}  // namespace lorebox

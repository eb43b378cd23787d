# The portable build (-DLOREBOX_PORTABLE=ON, Linux only) links the binary of
# the release tarball, which must run where none of the -dev packages is
# installed:
# - a library with a static archive (the .a beside its .so) is linked from
#   it: lorebox_prefer_static() below;
# - fmt is compiled in from its headers: lorebox_header_only_fmt();
# - every shared library still linked, apart from the C and C++ runtime, is
#   installed into lib/lorebox/ next to bin/, where the binary's run path
#   ($ORIGIN/../lib/lorebox) finds it: lorebox_install_binary().
# A new dependency joins by being named in lorebox_prefer_static(); nothing
# else changes. Without the option all three leave the build as it is.

if(LOREBOX_PORTABLE AND NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  message(FATAL_ERROR "LOREBOX_PORTABLE builds the Linux tarball; on ${CMAKE_SYSTEM_NAME} use Homebrew or a plain build")
endif()

# Libraries every Linux system has: the C library (with libm, libpthread,
# libdl, librt and the dynamic loader) and the C++ runtime. They stay where
# the system keeps them; any other library is bundled.
set(LOREBOX_SYSTEM_LIBRARIES
  "^(ld-linux.*|linux-vdso|libc|libm|libmvec|libpthread|libdl|librt|libstdc\\+\\+|libgcc_s)\\.so")

# lorebox_prefer_static(<imported target>...): in a portable build, links
# each library of these targets from its static archive when one lies beside
# the shared library. Takes pkg-config targets (pkg_check_modules
# IMPORTED_TARGET) and find-module targets (ZLIB::ZLIB); a package's own
# CMake config that imports a SHARED library is left shared, to be bundled.
function(lorebox_prefer_static)
  if(NOT LOREBOX_PORTABLE)
    return()
  endif()
  foreach(target IN LISTS ARGN)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      set(properties INTERFACE_LINK_LIBRARIES)
    elseif(type STREQUAL "UNKNOWN_LIBRARY")
      set(properties IMPORTED_LOCATION)
      get_target_property(configs ${target} IMPORTED_CONFIGURATIONS)
      foreach(config IN LISTS configs)
        if(config)
          list(APPEND properties IMPORTED_LOCATION_${config})
        endif()
      endforeach()
    else()
      message(STATUS "Portable build: ${target} stays shared and is bundled")
      continue()
    endif()
    foreach(property IN LISTS properties)
      get_target_property(libraries ${target} ${property})
      if(NOT libraries)
        continue()
      endif()
      set(chosen "")
      foreach(library IN LISTS libraries)
        string(REGEX REPLACE "\\.so(\\.[0-9]+)*$" ".a" archive "${library}")
        if(NOT archive STREQUAL library AND EXISTS "${archive}")
          message(STATUS "Portable build: ${target} linked from ${archive}")
          set(library "${archive}")
        elseif(library MATCHES "\\.so(\\.[0-9]+)*$")
          message(STATUS "Portable build: ${target} has no static archive; ${library} is bundled")
        endif()
        list(APPEND chosen "${library}")
      endforeach()
      set_target_properties(${target} PROPERTIES ${property} "${chosen}")
    endforeach()
  endforeach()
endfunction()

# lorebox_header_only_fmt(): defines fmt::fmt (and fmt::fmt-header-only, so a
# later find_package(fmt) finds both already there) as fmt's header-only
# form: Debian ships fmt only as a shared library.
function(lorebox_header_only_fmt)
  find_path(LOREBOX_FMT_INCLUDE_DIR fmt/format-inl.h REQUIRED)
  foreach(target IN ITEMS fmt::fmt fmt::fmt-header-only)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${LOREBOX_FMT_INCLUDE_DIR}"
      INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
  endforeach()
endfunction()

# lorebox_install_binary(<target>): installs the program into bin/; in a
# portable build also the shared libraries it needs beyond the system's, into
# lib/lorebox/, found through a run path relative to the binary. The run path
# is DT_RPATH rather than DT_RUNPATH so that it also serves the bundled
# libraries' own dependencies, and LD_LIBRARY_PATH cannot swap them.
function(lorebox_install_binary target)
  if(NOT LOREBOX_PORTABLE)
    install(TARGETS ${target} RUNTIME DESTINATION bin)
    return()
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib/lorebox")
  target_link_options(${target} PRIVATE -Wl,--disable-new-dtags)
  install(TARGETS ${target} RUNTIME_DEPENDENCY_SET ${target}_libraries RUNTIME DESTINATION bin)
  install(RUNTIME_DEPENDENCY_SET ${target}_libraries
    PRE_EXCLUDE_REGEXES "${LOREBOX_SYSTEM_LIBRARIES}"
    LIBRARY DESTINATION lib/lorebox)
endfunction()

# Cross-builds the programs and the test suites for 64-bit Windows with Debian's mingw-w64
# (the POSIX thread model, for std::thread and std::mutex), linked statically so that the
# programs need nothing beyond the system's own DLLs. ctest runs the tests under wine.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DPELFRY_WINDOWS_DEPS=/path/to/prefix [-DPELFRY_WINDOWS_QT=/path/to/qt]
#
# PELFRY_WINDOWS_DEPS is a folder where libraries built for Windows were installed (libpng,
# GoogleTest; tools/build-windows.sh makes it). PELFRY_WINDOWS_QT is a static Qt built for
# Windows (tools/build-qt-windows.sh); without it the window is not built. The benchmarks are
# off: Google Benchmark for Windows is not to be had here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PELFRY_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PELFRY_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PELFRY_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PELFRY_MINGW_TRIPLET}-windres)

# Libraries and headers come from the mingw-w64 sysroot and the prefix of libraries built for
# Windows, never from the build machine's /usr.
set(PELFRY_WINDOWS_DEPS "" CACHE PATH "Prefix of libraries built for Windows (libpng, GoogleTest)")
set(PELFRY_WINDOWS_QT "" CACHE PATH "Prefix of a static Qt built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${PELFRY_MINGW_TRIPLET} ${PELFRY_WINDOWS_DEPS} ${PELFRY_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 reports -Wrestrict for some std::string concatenations at -O2 and above where nothing
# overlaps (GCC bug 105329); the Linux test build (-O1) does not meet it. Every other warning
# stays an error with PELFRY_WERROR.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")

# One .exe with the C and C++ run-times and winpthreads inside.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Shipped without the symbol table, which is most of a statically linked Qt program's size.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(ZLIB_USE_STATIC_LIBS ON)

# Test programs (and the test discovery of gtest_discover_tests) run under wine, quietly.
find_program(PELFRY_WINE NAMES wine wine64 wine-stable)
if(PELFRY_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${PELFRY_WINE})
endif()

# The Qt for Windows runs the build machine's own Qt tools (moc, rcc, uic) of the same release.
if(PELFRY_WINDOWS_QT)
  set(PELFRY_GUI ON CACHE BOOL "The Qt editor")
  set(QT_HOST_PATH /usr CACHE PATH "Prefix of the build machine's Qt tools")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Their CMake packages")
else()
  set(PELFRY_GUI OFF CACHE BOOL "The Qt editor (needs PELFRY_WINDOWS_QT)")
endif()
set(PELFRY_BENCH OFF CACHE BOOL "Google Benchmark programs (not available for the Windows build)")

# CLI11 is header-only. Its headers sit in the build machine's /usr/include, which must not be
# on the cross compiler's include path (glibc's headers would shadow mingw's), so a folder
# holding only CLI/ stands in for it, with a package file for find_package(CLI11). Give
# PELFRY_CLI11_INCLUDE (a folder that holds CLI/CLI.hpp) to use other headers.
set(PELFRY_CLI11_INCLUDE "" CACHE PATH "Folder holding CLI/CLI.hpp for the Windows build")
if(CMAKE_BINARY_DIR AND NOT CMAKE_BINARY_DIR MATCHES "CMakeFiles/CMakeTmp")
  set(_pelfry_cli11 ${CMAKE_BINARY_DIR}/cli11)
  set(_pelfry_cli11_headers "${PELFRY_CLI11_INCLUDE}")
  if(NOT _pelfry_cli11_headers AND EXISTS /usr/include/CLI/CLI.hpp)
    file(MAKE_DIRECTORY ${_pelfry_cli11}/include)
    file(CREATE_LINK /usr/include/CLI ${_pelfry_cli11}/include/CLI SYMBOLIC)
    set(_pelfry_cli11_headers ${_pelfry_cli11}/include)
  endif()
  if(_pelfry_cli11_headers)
    file(WRITE ${_pelfry_cli11}/CLI11Config.cmake
         "if(NOT TARGET CLI11::CLI11)\n"
         "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
         "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${_pelfry_cli11_headers}\")\n"
         "endif()\n")
    set(CLI11_DIR ${_pelfry_cli11} CACHE PATH "CLI11 package file for the Windows build" FORCE)
  endif()
endif()

# freebsd.toolchain.cmake - builds zibbet for FreeBSD 14 amd64 with clang
# against a headers-only sysroot, to check that the tree compiles there:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/freebsd.toolchain.cmake \
#         -DZIBBET_FREEBSD_SYSROOT=DIR [-DZIBBET_FREEBSD_CXX=clang++-19] ...
# DIR holds usr/include (FreeBSD's headers, libc++'s in usr/include/c++/v1).
# Nothing links: the sysroot has no libraries, so CMake's own checks build
# static libraries only. Nothing of the host may be found either, least of
# all its pkg-config and libsystemd (FreeBSD has no systemd).
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 14.1)
set(CMAKE_SYSTEM_PROCESSOR amd64)

# The settings are passed on to CMake's try_compile projects, which read
# this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIBBET_FREEBSD_SYSROOT ZIBBET_FREEBSD_CXX)
if(NOT ZIBBET_FREEBSD_SYSROOT)
  set(ZIBBET_FREEBSD_SYSROOT "$ENV{ZIBBET_FREEBSD_SYSROOT}")
endif()
if(NOT ZIBBET_FREEBSD_SYSROOT OR NOT EXISTS "${ZIBBET_FREEBSD_SYSROOT}/usr/include/osreldate.h")
  message(FATAL_ERROR "ZIBBET_FREEBSD_SYSROOT must name a FreeBSD sysroot "
                      "(a folder with usr/include/osreldate.h): '${ZIBBET_FREEBSD_SYSROOT}'")
endif()
if(NOT ZIBBET_FREEBSD_CXX)
  # libc++ 19's headers need clang 17 or later.
  find_program(ZIBBET_FREEBSD_CXX NAMES clang++-19 clang++-20 clang++-18 clang++-17 REQUIRED)
endif()

set(CMAKE_SYSROOT "${ZIBBET_FREEBSD_SYSROOT}")
set(CMAKE_CXX_COMPILER "${ZIBBET_FREEBSD_CXX}")
set(CMAKE_CXX_COMPILER_TARGET x86_64-unknown-freebsd14.1)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH "${ZIBBET_FREEBSD_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No pkg-config: none is named, and one found anyway looks only into the
# sysroot's own folder, which holds no .pc files.
set(ENV{PKG_CONFIG} "")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${ZIBBET_FREEBSD_SYSROOT}/usr/libdata/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${ZIBBET_FREEBSD_SYSROOT}")

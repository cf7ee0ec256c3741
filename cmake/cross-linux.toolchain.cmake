# cross-linux.toolchain.cmake - builds zibbet for Linux on another CPU with
# Debian's cross compilers (crossbuild-essential-ARCH), to run its tests
# under qemu-user:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross-linux.toolchain.cmake \
#         -DZIBBET_CROSS_TRIPLET=s390x-linux-gnu [-DZIBBET_CROSS_QEMU=qemu-s390x]
#         [-DZIBBET_CROSS_PREFIX=DIR] ...
# The target's C library lives in /usr/TRIPLET; only that folder and DIR
# (libraries built for the target, GoogleTest among them) are searched, so
# that nothing of the host, such as its libsystemd, is found.
set(CMAKE_SYSTEM_NAME Linux)

# try_compile projects read this file again and need the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIBBET_CROSS_TRIPLET ZIBBET_CROSS_QEMU
     ZIBBET_CROSS_PREFIX)
if(NOT ZIBBET_CROSS_TRIPLET)
  set(ZIBBET_CROSS_TRIPLET "$ENV{ZIBBET_CROSS_TRIPLET}")
endif()
if(NOT ZIBBET_CROSS_TRIPLET)
  message(FATAL_ERROR "ZIBBET_CROSS_TRIPLET must name the target, e.g. aarch64-linux-gnu")
endif()
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${ZIBBET_CROSS_TRIPLET}")

set(CMAKE_C_COMPILER ${ZIBBET_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZIBBET_CROSS_TRIPLET}-g++)

set(zibbet_cross_root /usr/${ZIBBET_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH ${zibbet_cross_root} ${ZIBBET_CROSS_PREFIX})
if(ZIBBET_CROSS_PREFIX)
  list(APPEND CMAKE_PREFIX_PATH ${ZIBBET_CROSS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks only into the target's folder, which holds no .pc files
# (an empty value would not do: CMake drops an empty variable, and
# pkg-config would then read the host's folders).
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "${zibbet_cross_root}/lib/pkgconfig")

# Programs built for the target run under qemu-user: gtest_discover_tests
# lists the tests through it, and the tests know they run emulated.
if(NOT ZIBBET_CROSS_QEMU)
  set(ZIBBET_CROSS_QEMU "qemu-${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    env ZIBBET_UNDER_EMULATION=1 QEMU_LD_PREFIX=${zibbet_cross_root}
    ${ZIBBET_CROSS_QEMU} -L ${zibbet_cross_root})

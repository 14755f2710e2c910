# Cross build for the board: ARMv5 (ARM926), little-endian, glibc, with
# Debian's armel cross compilers.  GLib and the test libraries come from a
# sysroot unpacked from armel packages (make-sysroot.sh), since installing
# them through multiarch clashes with newer amd64 libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabi)

set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s")
set(CMAKE_CXX_FLAGS_INIT "-march=armv5te -mtune=arm926ej-s")

if(NOT NAVTEX_ARM_SYSROOT)
  if(DEFINED ENV{NAVTEX_ARM_SYSROOT})
    set(NAVTEX_ARM_SYSROOT "$ENV{NAVTEX_ARM_SYSROOT}")
  else()
    get_filename_component(NAVTEX_ARM_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../../out/armel-sysroot" ABSOLUTE)
  endif()
endif()
set(NAVTEX_ARM_SYSROOT "${NAVTEX_ARM_SYSROOT}" CACHE PATH "Unpacked armel packages")
# try_compile projects see the toolchain file again without the cache.
set(ENV{NAVTEX_ARM_SYSROOT} "${NAVTEX_ARM_SYSROOT}")

set(CMAKE_FIND_ROOT_PATH "${NAVTEX_ARM_SYSROOT}" /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_arm_libdirs "${NAVTEX_ARM_SYSROOT}/usr/lib/arm-linux-gnueabi:${NAVTEX_ARM_SYSROOT}/lib/arm-linux-gnueabi")
# DT_RPATH (not RUNPATH) so the sysroot also serves the libraries'
# own dependencies, such as GLib's PCRE, under emulation.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_arm_libdirs} -Wl,--disable-new-dtags")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_arm_libdirs}")
# Build-tree programs find the sysroot's libraries under emulation; the
# installed programs use the board's own library paths.
set(CMAKE_BUILD_RPATH "${NAVTEX_ARM_SYSROOT}/usr/lib/arm-linux-gnueabi;${NAVTEX_ARM_SYSROOT}/lib/arm-linux-gnueabi")

# The board's root filesystem has neither this C library nor GLib: the
# installed programs are linked statically (NAVTEX_STATIC_PROGRAMS, applied
# in the top-level CMakeLists.txt).  GLib and PCRE are therefore taken from
# their static archives everywhere; GLib's pkg-config file names PCRE only
# for static links, so it is added here (an archive: linked in only where used).
set(NAVTEX_STATIC_PROGRAMS ON CACHE BOOL "Link the installed programs statically")
# CMake sets its own library suffixes after reading this file.
set(CMAKE_PROJECT_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/armel-static.cmake")
set(CMAKE_CXX_STANDARD_LIBRARIES "${NAVTEX_ARM_SYSROOT}/usr/lib/arm-linux-gnueabi/libpcre2-8.a")

set(ENV{PKG_CONFIG_LIBDIR} "${NAVTEX_ARM_SYSROOT}/usr/lib/arm-linux-gnueabi/pkgconfig:${NAVTEX_ARM_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${NAVTEX_ARM_SYSROOT}")
set(ENV{PKG_CONFIG_PATH} "")

# Tests run the ARM binaries under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-arm -L /usr/arm-linux-gnueabi)

# Shared part of the cross toolchain files: PERIMO_CROSS_TRIPLET, CMAKE_SYSTEM_PROCESSOR and
# PERIMO_CROSS_QEMU are set by the including file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${PERIMO_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${PERIMO_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${PERIMO_CROSS_TRIPLET})

# Headers and libraries of the target only: the compiler's own tree and the multiarch folders,
# never the build machine's lib/x86_64-linux-gnu.
set(CMAKE_FIND_ROOT_PATH /usr/${PERIMO_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PERIMO_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest starts every test program through the emulator, QEMU_CPU in the environment picks the
# emulated processor. The programs load the target's C and C++ libraries from the multiarch
# packages (libc6, libstdc++6 of the target's architecture): with qemu's -L prefix instead, a
# forked child of a 64-bit program spins for good.
set(CMAKE_CROSSCOMPILING_EMULATOR ${PERIMO_CROSS_QEMU})

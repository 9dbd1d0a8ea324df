# Cross build for 32-bit ARM Linux (hard-float ABI) with Debian's cross compiler; the target's
# libraries come from the multiarch packages (libsqlite3-dev:armhf, libssl-dev:armhf). Tests
# run under qemu-user.
set(PERIMO_CROSS_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(PERIMO_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/PerimoCrossToolchain.cmake)
# GCC notes every use of a type whose argument passing changed in GCC 7.1; nothing here is
# linked against code that old.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

# Cross build for 64-bit ARM Linux with Debian's cross compiler; the target's libraries come
# from the multiarch packages (libsqlite3-dev:arm64, libssl-dev:arm64). Tests run under
# qemu-user.
set(PERIMO_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(PERIMO_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/PerimoCrossToolchain.cmake)

# arm64 Linux (Raspberry Pi, ARM laptops and servers); runs here under qemu.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CODELIST_TARGET aarch64-linux-gnu)
set(CODELIST_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

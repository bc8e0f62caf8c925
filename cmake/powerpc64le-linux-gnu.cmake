# 64-bit little-endian POWER Linux (ppc64el); runs here under qemu.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CODELIST_TARGET powerpc64le-linux-gnu)
set(CODELIST_EMULATOR qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

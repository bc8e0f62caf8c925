# 64-bit big-endian Linux (IBM Z); runs here under qemu.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CODELIST_TARGET s390x-linux-gnu)
set(CODELIST_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

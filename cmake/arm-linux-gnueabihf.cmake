# 32-bit ARM Linux with hardware floating point (armhf: ARMv7 and later, as
# 32-bit Raspberry Pi OS runs on a Raspberry Pi 2 and later); runs here under
# qemu.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CODELIST_TARGET arm-linux-gnueabihf)
set(CODELIST_EMULATOR qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

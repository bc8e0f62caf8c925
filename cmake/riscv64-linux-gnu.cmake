# 64-bit RISC-V Linux; runs here under qemu.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CODELIST_TARGET riscv64-linux-gnu)
set(CODELIST_EMULATOR qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

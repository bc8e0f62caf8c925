# 32-bit x86 Linux, without SSE2. Run under qemu: an x86-64 kernel may be
# built without IA-32 emulation, as the one CI runs on is, and then runs no
# 32-bit program at all.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CODELIST_TARGET i686-linux-gnu)
set(CODELIST_EMULATOR qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# 32-bit x86 Linux, without SSE2; an x86-64 machine runs it natively.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CODELIST_TARGET i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

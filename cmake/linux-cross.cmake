# Builds for another Linux processor with Debian's cross compilers
# (crossbuild-essential-arm64, -s390x, -i386), for the toolchain file of each
# (aarch64-linux-gnu.cmake, arm-linux-gnueabihf.cmake, ... i686-linux-gnu.cmake),
# which names the target and the emulator first. The tests are linked
# statically, so that they run under qemu-user (qemu-user) with no libraries
# of that processor installed. qemu takes the libraries of a program linked the
# distribution's way from the cross compiler's own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CODELIST_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${CODELIST_TARGET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${CODELIST_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(CODELIST_EMULATOR)
  find_program(CODELIST_EMULATOR_PATH ${CODELIST_EMULATOR})
  if(CODELIST_EMULATOR_PATH)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CODELIST_EMULATOR_PATH} -L /usr/${CODELIST_TARGET})
  endif()
endif()

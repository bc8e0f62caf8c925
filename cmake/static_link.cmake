# codelist_link_statically(TARGET): links a program with no shared libraries.
# On Linux it stays position-independent where the C library has the start
# files for that (Debian's has them for x86-64, arm64 and i386); elsewhere
# it is linked at a fixed address.
include(CheckCXXSourceCompiles)
if(NOT WIN32)
  set(CMAKE_REQUIRED_FLAGS -static-pie)
  check_cxx_source_compiles("int main() {}" has_static_pie)
  unset(CMAKE_REQUIRED_FLAGS)
endif()

function(codelist_link_statically target)
  if(WIN32 OR NOT has_static_pie)
    target_link_options(${target} PRIVATE -static)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  else()
    # Among the libraries, so that it comes after the -pie that CMake gives
    # every position-independent program, which would otherwise win.
    target_link_libraries(${target} PRIVATE -static-pie)
  endif()
endfunction()

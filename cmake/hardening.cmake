# Hardened Linux programs, as distributions build them. Each flag is taken
# where the compiler knows it for this processor: -fcf-protection is x86
# only, and _FORTIFY_SOURCE goes as high as the C library goes.
include(CheckPIESupported)
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)

check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "has${flag}" known)
  check_cxx_compiler_flag(${flag} ${known})
  if(${known})
    add_compile_options(${flag})
  endif()
endforeach()

# The checks need the optimiser, so a debug build goes without them.
foreach(level 3 2)
  set(CMAKE_REQUIRED_FLAGS "-O2 -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${level}")
  check_cxx_source_compiles("#include <cstring>
#if !defined(__USE_FORTIFY_LEVEL) || __USE_FORTIFY_LEVEL < ${level}
#error not checked at this level
#endif
int main() {}" has_fortify_${level})
  unset(CMAKE_REQUIRED_FLAGS)
  if(has_fortify_${level})
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=${level}>)
    break()
  endif()
endforeach()

add_link_options(-Wl,-z,relro,-z,now)

# What an installation holds, and the packages CPack makes of it: a zip for
# Windows; a .deb and a .tar.gz for Linux.
include(GNUInstallDirs)
if(WIN32)
  install(TARGETS codelist RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  install(FILES examples/code.txt DESTINATION examples)
else()
  install(TARGETS codelist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES man/codelist.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES examples/code.txt DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
endif()

# Debian's release architectures, under the names that CMake, uname and
# toolchain files give their processors; empty for any other.
function(codelist_debian_architecture processor result)
  string(TOLOWER "${processor}" p)
  set(architecture "")
  foreach(row
      "amd64:x86_64|amd64|x64"
      "arm64:aarch64|arm64|armv8.*"
      "armel:armel|armv[45].*"
      "armhf:armhf|arm|armv[67].*"
      "i386:i[3-6]86|x86"
      "mips64el:mips64el|mips64"
      "ppc64el:ppc64el|ppc64le|powerpc64le"
      "riscv64:riscv64"
      "s390x:s390x")
    string(REPLACE ":" ";" row "${row}")
    list(GET row 0 name)
    list(GET row 1 pattern)
    if(p MATCHES "^(${pattern})$")
      set(architecture ${name})
      break()
    endif()
  endforeach()
  set(${result} ${architecture} PARENT_SCOPE)
endfunction()

set(CPACK_PACKAGE_NAME codelist)
set(CPACK_PACKAGE_VENDOR "the codelist authors")
set(CPACK_PACKAGE_CONTACT "the codelist authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME codelist-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME codelist-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # dpkg names the machine that builds; a cross build names its target.
  if(CMAKE_CROSSCOMPILING)
    codelist_debian_architecture("${CMAKE_SYSTEM_PROCESSOR}" debian_architecture)
    if(debian_architecture)
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debian_architecture})
    else()
      list(REMOVE_ITEM CPACK_GENERATOR DEB)
      message(WARNING "No Debian architecture is known for ${CMAKE_SYSTEM_PROCESSOR}: "
                      "the program is built and tested, and packaged as a .tar.gz only.")
    endif()
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The synopsis is the summary above; this is the text under it.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "codelist reads code.txt in the current folder and writes code_new.txt\n"
    "beside it: the header block, the heading Code and every line that starts\n"
    "with a code of two words of eight upper-case hexadecimal digits, with\n"
    "Windows CR LF line ends. Its console texts are Japanese (Shift-JIS).")
  # A program linked statically needs no libraries; otherwise the package
  # says which.
  if(NOT CODELIST_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
endif()
include(CPack)

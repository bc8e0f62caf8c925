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
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL aarch64)
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL i686)
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
    elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL s390x)
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE s390x)
    else()
      message(FATAL_ERROR "No Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
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

# What an installation holds, and the packages CPack makes of it: a zip for
# Windows; a .deb, an .rpm and a .tar.gz for Linux.
include(GNUInstallDirs)

# As Debian's own tools do, the packager's name and address are taken from
# DEBFULLNAME and DEBEMAIL where the variable is not given.
set(default_maintainer "")
if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
  set(default_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
endif()
set(CODELIST_MAINTAINER "${default_maintainer}" CACHE STRING
    "Who makes the .deb and .rpm packages, as \"Name <address>\": their Maintainer and Packager, and the changelog's signature")
if(CODELIST_MAINTAINER)
  set(maintainer "${CODELIST_MAINTAINER}")
else()
  # No address is made up: the packages say that nobody was named, and
  # lintian rejects them until somebody is.
  set(maintainer "unnamed packager <unnamed@localhost>")
endif()

# The time that the packages give every file they hold, so that two builds of
# one commit give the same bytes: SOURCE_DATE_EPOCH where it is set, else the
# time of the last commit, else, in a tree without git, the release date.
set(source_date "${CODELIST_RELEASE_TIME}")
set(source_date_from "the release date")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(source_date "$ENV{SOURCE_DATE_EPOCH}")
  set(source_date_from "SOURCE_DATE_EPOCH")
else()
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct -- .
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
                    ERROR_QUIET)
    if(commit_time MATCHES "^[0-9]+$")
      set(source_date ${commit_time})
      set(source_date_from "the last commit")
    endif()
  endif()
  if(EXISTS ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PROJECT_SOURCE_DIR}/.git/logs/HEAD)
  endif()
endif()
message(STATUS "Packages date their files ${source_date}, from ${source_date_from}")

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Both zips hold the user's guides, with the page's pictures that they show,
# the licence and the example beside the program or the page. Notepad on a Japanese Windows takes a text without a
# byte order mark for Shift-JIS, and before Windows 10 shows LF-only lines as
# one: the zips' READMEs are UTF-8 with a byte order mark and CR LF. The
# documents of docs/ are for builders and packagers, who read the sources.
function(codelist_install_zip_guides)
  string(ASCII 239 187 191 byte_order_mark)
  foreach(readme README.md README.ja.md)
    file(READ ${readme} text)
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${PROJECT_BINARY_DIR}/zip/${readme} "${byte_order_mark}${text}")
    install(FILES ${PROJECT_BINARY_DIR}/zip/${readme} DESTINATION .)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${readme})
  endforeach()
  install(FILES LICENSE DESTINATION .)
  install(FILES examples/code.txt DESTINATION examples)
  install(FILES web/screenshot-en.png web/screenshot-ja.png DESTINATION web)
endfunction()

if(EMSCRIPTEN)
  codelist_install_web_page()
  codelist_install_zip_guides()
elseif(WIN32)
  install(TARGETS codelist RUNTIME DESTINATION .)
  codelist_install_zip_guides()
else()
  # Debian's way: the manual pages and the changelog gzipped with neither
  # name nor time inside, the licence in the copyright file.
  set(packaged ${PROJECT_BINARY_DIR}/packaged)
  configure_file(packaging/changelog.in ${packaged}/changelog @ONLY)
  set(compressed)
  foreach(pair "man/codelist.1;man/man1" "man/ja/codelist.1;man/ja/man1"
               "${packaged}/changelog;doc")
    list(GET pair 0 source)
    list(GET pair 1 folder)
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(name ${source} NAME)
    set(output ${packaged}/${folder}/${name}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${packaged}/${folder}
      COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${source} ${output}
      DEPENDS ${source} VERBATIM)
    list(APPEND compressed ${output})
  endforeach()
  add_custom_target(compressed_documents ALL DEPENDS ${compressed})

  # The .tar.gz holds the program that runs on any Linux; the .deb and the
  # .rpm the one linked the distribution's way, where there are two.
  install(TARGETS codelist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  if(TARGET codelist_dynamic)
    install(TARGETS codelist_dynamic RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT system_program EXCLUDE_FROM_ALL)
  else()
    install(TARGETS codelist RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT system_program EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${packaged}/man/man1/codelist.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT documents)
  install(FILES ${packaged}/man/ja/man1/codelist.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1 COMPONENT documents)
  install(FILES README.md README.ja.md packaging/copyright ${packaged}/doc/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT documents)
  install(FILES examples/code.txt
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT documents)
  install(FILES web/screenshot-en.png web/screenshot-ja.png
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/web COMPONENT documents)
  # Where Debian and Fedora keep a package's documents, so the README's links
  # to docs/ hold there too.
  install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT documents
          FILES_MATCHING PATTERN "*.md")
endif()

# Debian's release architectures, under the names that CMake, uname and
# toolchain files give their processors; empty for any other.
function(codelist_debian_architecture processor result)
  string(TOLOWER "${processor}" p)
  set(architecture "")
  foreach(row
      "amd64:x86_64|amd64|x64"
      "arm64:aarch64|arm64"
      "armel:armel|armv[45].*"
      "armhf:armhf|arm|armv[678].*"
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
set(CPACK_PACKAGE_CONTACT "${maintainer}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/file_times.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/checksums.cmake)
configure_file(cmake/package_options.cmake.in package_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package_options.cmake)
if(EMSCRIPTEN)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME codelist-${PROJECT_VERSION}-web)
elseif(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME codelist-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR TGZ DEB)
  set(CPACK_PACKAGE_FILE_NAME codelist-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_RPM_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
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
  set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The synopsis is the summary above; this is the text under it.
  string(CONCAT description
    "codelist reads code.txt in the current folder and writes code_new.txt\n"
    "beside it: the header block, the heading Code and every line that starts\n"
    "with a code of two words of eight upper-case hexadecimal digits, with\n"
    "Windows CR LF line ends. Its console texts are Japanese (Shift-JIS).")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${description}")
  set(CPACK_RPM_PACKAGE_DESCRIPTION "${description}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/Text")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_RPM_USER_FILELIST "%license /usr/${CMAKE_INSTALL_DOCDIR}/copyright")
  # Folders that the system's own packages own.
  foreach(folder "" /man1 /ja /ja/man1)
    list(APPEND CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/${CMAKE_INSTALL_MANDIR}${folder})
  endforeach()
  # Built as it is: no second strip or compression by rpmbuild with this
  # machine's tools, no debug package, and times and host kept out.
  string(CONCAT CPACK_RPM_SPEC_MORE_DEFINE
    "%define packager ${maintainer}\n"
    "%define __os_install_post %{nil}\n"
    "%define debug_package %{nil}\n"
    "%define _build_id_links none\n"
    "%define _buildhost reproducible\n"
    "%define use_source_date_epoch_as_buildtime 1\n"
    "%define clamp_mtime_to_source_date_epoch 1")
endif()
include(CPack)

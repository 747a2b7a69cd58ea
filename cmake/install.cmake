# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb and a .tar.gz on Linux, a .zip of the executables on Windows.
include(GNUInstallDirs)

install(TARGETS velk-merge velk-single RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT WIN32)
  # One manual page serves both programs; `man velk-merge` and
  # `man velk-single` find it through links named after them.
  set(velk_man_dir ${CMAKE_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${velk_man_dir})
  foreach(program velk-merge velk-single)
    file(CREATE_LINK velk.1 ${velk_man_dir}/${program}.1 SYMBOLIC)
  endforeach()
  install(FILES
      ${PROJECT_SOURCE_DIR}/docs/velk.1
      ${velk_man_dir}/velk-merge.1
      ${velk_man_dir}/velk-single.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# On Windows the README and the license sit beside bin/ at the top of the
# .zip. The .deb swaps LICENSE for a Debian copyright file (see below).
set(velk_docs ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
if(WIN32)
  install(FILES ${velk_docs} DESTINATION .)
else()
  install(FILES ${velk_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME velk)
set(CPACK_PACKAGE_VENDOR "velk developers")
set(CPACK_PACKAGE_CONTACT "velk developers <velk@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert raw firmware images for SPI-flash chips")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "velk-merge and velk-single turn the raw binary image that a firmware tool"
  "chain produces into flash CRC images (32-byte blocks, each followed by a"
  "CRC-16) with a text twin, over-the-air download (OAD) images, a C source"
  "array and a hexadecimal text dump. velk-merge merges boot, stack and app"
  "images with OAD headers; velk-single makes one padded, optionally"
  "scrambled flash CRC image.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
# The library dependencies (libc6, libstdc++6, ...) are read off the
# executables by dpkg-shlibdeps instead of being kept by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A binary package's control file has no license field: Debian states the
# license in /usr/share/doc/velk/copyright, which this script writes, with
# the changelog and the compressed manual pages, into the .deb's tree just
# before CPack packs it (it leaves the other packages alone).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-tree.cmake)

include(CPack)

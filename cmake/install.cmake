# What `cmake --install` puts where, and the packages CPack makes of it:
# a .deb and a .tar.gz on Linux, a .zip of the executables on Windows.
include(GNUInstallDirs)

install(TARGETS velk velk-merge velk-single EXPORT velkTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A CMake package, so that a firmware project's build can run velk as a
# build step: find_package(velk) gives velk::velk and the functions of
# cmake/package/velkFunctions.cmake.
include(CMakePackageConfigHelpers)
set(velk_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/velk)
install(EXPORT velkTargets NAMESPACE velk:: DESTINATION ${velk_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/velkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/velkConfig.cmake INSTALL_DESTINATION ${velk_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/velkConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
    ${CMAKE_BINARY_DIR}/package/velkConfig.cmake
    ${CMAKE_BINARY_DIR}/package/velkConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/package/velkFunctions.cmake
  DESTINATION ${velk_cmake_dir})

if(NOT WIN32)
  # velk has its own page; one page serves both compatibility programs, and
  # `man velk-single` finds it through a link named after that program.
  set(velk_man_dir ${CMAKE_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${velk_man_dir})
  file(CREATE_LINK velk-merge.1 ${velk_man_dir}/velk-single.1 SYMBOLIC)
  install(FILES
      ${PROJECT_SOURCE_DIR}/docs/velk.1
      ${PROJECT_SOURCE_DIR}/docs/velk-merge.1
      ${velk_man_dir}/velk-single.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(NOT WIN32)
  # Shell completion, where bash-completion and zsh look for it.
  install(FILES ${PROJECT_SOURCE_DIR}/completions/velk.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velk)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/_velk
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
endif()

# On Windows the README and the license sit beside bin/ at the top of the
# .zip. The .deb swaps LICENSE for a Debian copyright file (see below).
# The README's links to the user documents hold in the installed copy too,
# since they keep their docs/ folder beside it.
set(velk_docs ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE)
set(velk_user_docs ${PROJECT_SOURCE_DIR}/docs/compat.md ${PROJECT_SOURCE_DIR}/docs/reading-back.md
  ${PROJECT_SOURCE_DIR}/docs/velk-report.schema.json)
if(WIN32)
  set(velk_doc_dir .)
else()
  set(velk_doc_dir ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${velk_docs} DESTINATION ${velk_doc_dir})
install(FILES ${velk_user_docs} DESTINATION ${velk_doc_dir}/docs)

set(CPACK_PACKAGE_NAME velk)
set(CPACK_PACKAGE_VENDOR "velk developers")
set(CPACK_PACKAGE_CONTACT "velk developers <velk@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert raw firmware images for SPI-flash chips")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "velk turns the raw binary image that a firmware tool chain produces into"
  "flash CRC images (32-byte blocks, each followed by a CRC-16) with a text"
  "twin, over-the-air download (OAD) images, Intel HEX, a C source array and"
  "a hexadecimal text dump, and reads such images back to check them. The"
  "velk program is made for build pipelines (exit status, errors on stderr,"
  "outputs written whole or not at all); velk-merge and velk-single keep the"
  "command line of earlier releases byte for byte.")
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

# Run by CPack (CPACK_PRE_BUILD_SCRIPTS, set in install.cmake) on each
# package's staged tree just before it is packed. It changes the .deb's only,
# into what Debian asks of a binary package:
#
# - the manual pages compressed with `gzip -9n` (the links to them follow);
# - /usr/share/doc/velk/copyright, in Debian's machine-readable format, made
#   from LICENSE, which it replaces;
# - /usr/share/doc/velk/changelog.gz, which every Debian package carries.
#
# The tarball and the .zip keep the tree as `cmake --install` lays it down.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc_dir ${root}/share/doc/${CPACK_PACKAGE_NAME})
if(NOT IS_DIRECTORY ${doc_dir})
  message(FATAL_ERROR "deb-tree.cmake: no ${doc_dir} in the staged .deb tree")
endif()
find_program(gzip_program gzip REQUIRED)

# Compresses `file` in place into file.gz, as Debian does: best compression,
# and no name or time stamp in the header, so the bytes depend on the content
# alone.
function(velk_gzip file)
  execute_process(COMMAND ${gzip_program} -9n ${file} COMMAND_ERROR_IS_FATAL ANY)
  file(CHMOD ${file}.gz PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# Manual pages: page.1 becomes page.1.gz, and a link to a page becomes a
# link named and pointing with .gz added.
file(GLOB_RECURSE pages LIST_DIRECTORIES false ${root}/share/man/*)
foreach(page IN LISTS pages)
  if(page MATCHES "\\.gz$")
    continue()
  endif()
  if(IS_SYMLINK ${page})
    file(READ_SYMLINK ${page} target)
    file(REMOVE ${page})
    file(CREATE_LINK ${target}.gz ${page}.gz SYMBOLIC)
  else()
    velk_gzip(${page})
  endif()
endforeach()

# The copyright file. LICENSE is the MIT license text, which Debian calls
# Expat: a title, a "Copyright (c) <holders>" line, then the license
# itself. In the copyright file the license text follows its name, each
# line indented by one space and an empty line written as " .".
file(READ ${CPACK_RESOURCE_FILE_LICENSE} license)
if(NOT license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n+(.*[^\n])\n*$")
  message(FATAL_ERROR
    "deb-tree.cmake: no \"Copyright (c) ...\" line followed by the license text in "
    "${CPACK_RESOURCE_FILE_LICENSE}")
endif()
set(holders "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" text "${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " text " ${text}")
file(WRITE ${doc_dir}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
  "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n"
  "\n"
  "Files: *\n"
  "Copyright: ${holders}\n"
  "License: Expat\n"
  "${text}\n")
file(CHMOD ${doc_dir}/copyright PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
cmake_path(GET CPACK_RESOURCE_FILE_LICENSE FILENAME license_name)
file(REMOVE ${doc_dir}/${license_name})

# The changelog of a package that is its own source (a native package, in
# Debian's words): one entry for this version, dated now, or at
# SOURCE_DATE_EPOCH when that is set, for a reproducible build.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc_dir}/changelog
  "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * Release ${CPACK_PACKAGE_VERSION}. What the programs do and how to use them:\n"
  "    ${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/${CPACK_PACKAGE_NAME}/README.md.\n"
  "\n"
  " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
velk_gzip(${doc_dir}/changelog)

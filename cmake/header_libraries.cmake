# Header-only libraries from the build machine's Debian packages, usable by
# native and cross builds alike. Their headers are the same for every
# target, but a cross build must not put the build machine's /usr/include
# on its search path (its C library headers would shadow the target's), so
# each library's own folder is linked into a folder of the build tree.
#
#   velk_header_library(<target> <header inside the include dir> <package>)
function(velk_header_library target header package)
  find_path(${target}_include_dir ${header} NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_include_dir)
    message(FATAL_ERROR "${header} not found: install the Debian package ${package}")
  endif()
  string(REGEX REPLACE "/.*" "" top ${header})
  set(linked ${CMAKE_BINARY_DIR}/header-libraries/${target})
  file(MAKE_DIRECTORY ${linked})
  file(CREATE_LINK ${${target}_include_dir}/${top} ${linked}/${top} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${linked})
endfunction()

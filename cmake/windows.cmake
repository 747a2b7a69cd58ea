# What the programs need when built for Windows. Include this file before
# defining the programs; velk_windows_program() then does the rest for each.
if(WIN32)
  # The .rc file below is compiled by the resource compiler (windres with
  # MinGW-w64), which CMake knows as the RC language.
  enable_language(RC)
endif()

# velk_windows_program(<target>)
#
# When building for Windows, embeds in the program the application
# manifest cmake/windows/velk.manifest, which makes UTF-8 the program's
# code page: its arguments arrive as UTF-8 and the files it opens are
# named in UTF-8, so a file name such as прошивка.bin works as on Linux.
# Without it, Windows converts the command line to the system's legacy
# code page, and a name outside that code page reaches the program as
# question marks. Elsewhere the function does nothing.
function(velk_windows_program target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/velk.rc)
    # windres reads velk.manifest at compile time; a change to it must
    # rebuild the resource.
    set_property(SOURCE ${PROJECT_SOURCE_DIR}/cmake/windows/velk.rc
      TARGET_DIRECTORY ${target}
      APPEND PROPERTY OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/windows/velk.manifest)
  endif()
endfunction()

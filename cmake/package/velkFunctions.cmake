# Build steps that run velk, for firmware projects that use find_package(velk).
# Each adds a custom command whose outputs depend on its inputs and on the
# velk executable, and a target (built by default) that depends on them, so
# an image is made again exactly when one of its inputs changed.
#
#   velk_merge(TARGET <name> OUTPUT_PREFIX <prefix> BOOT <file> STACK <file> APP <file>
#              [STACK_AT <addr>] [APP_AT <addr>] [IMAGE_VERSION <n>] [ROM_VERSION <n>]
#              [APP_UID <n>] [STACK_UID <n>] [FORMAT bin|hex] [BASE <addr>] [VERIFY])
#     <prefix>_merge.bin (or .hex), <prefix>_stack.bin and <prefix>_app.bin
#
#   velk_flash_crc(TARGET <name> IMAGE <file> OUTPUT <file> [SINGLE] [KEYS <k1,k2,k3,k4>]
#                  [NO_TWIN] [FORMAT bin|hex] [BASE <addr>] [VERIFY])
#     the flash CRC image (SINGLE: padded, as velk single) and, unless NO_TWIN,
#     its .out twin beside it
#
#   velk_c_array(TARGET <name> IMAGE <file> OUTPUT <file.c> [HEADER <file.h>] [NAME <ident>]
#                [CONST] [STDINT] [BITS 8|16|32] [PER_LINE <n>])
#
# Relative paths are taken from the current source directory for inputs and
# from the current binary directory for outputs, as add_custom_command does.

function(_velk_absolute out path base)
  if(IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${base}/${path}" PARENT_SCOPE)
  endif()
endfunction()

# Appends "--flag=value" to the list `out` for every KEY:--flag pair whose
# V_KEY the caller's cmake_parse_arguments set.
macro(_velk_value_options out)
  foreach(pair ${ARGN})
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 key)
    list(GET pair 1 flag)
    if(DEFINED V_${key})
      list(APPEND ${out} "${flag}=${V_${key}}")
    endif()
  endforeach()
endmacro()

# The twin's name for an image, as velk names it: the image's name without
# the last extension of its file name, and ".out". A leading dot starts the
# file name, not an extension, and dots in directories are not extensions.
function(_velk_twin_name out image)
  string(FIND "${image}" "/" slash REVERSE)
  string(FIND "${image}" "\\" backslash REVERSE)
  if(backslash GREATER slash)
    set(slash ${backslash})
  endif()
  math(EXPR base_at "${slash} + 1")
  string(SUBSTRING "${image}" ${base_at} -1 base)
  string(FIND "${base}" "." dot REVERSE)
  if(dot GREATER 0)
    math(EXPR stem_length "${base_at} + ${dot}")
    string(SUBSTRING "${image}" 0 ${stem_length} stem)
  else()
    set(stem "${image}")
  endif()
  set(${out} "${stem}.out" PARENT_SCOPE)
endfunction()

function(velk_merge)
  cmake_parse_arguments(V "VERIFY"
    "TARGET;OUTPUT_PREFIX;BOOT;STACK;APP;STACK_AT;APP_AT;IMAGE_VERSION;ROM_VERSION;APP_UID;STACK_UID;FORMAT;BASE"
    "" ${ARGN})
  foreach(required TARGET OUTPUT_PREFIX BOOT STACK APP)
    if(NOT V_${required})
      message(FATAL_ERROR "velk_merge: ${required} is required")
    endif()
  endforeach()
  _velk_absolute(prefix "${V_OUTPUT_PREFIX}" "${CMAKE_CURRENT_BINARY_DIR}")
  set(inputs)
  foreach(part BOOT STACK APP)
    _velk_absolute(file "${V_${part}}" "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND inputs "${file}")
  endforeach()
  set(ext .bin)
  if(V_FORMAT STREQUAL "hex")
    set(ext .hex)
  endif()
  set(outputs "${prefix}_merge${ext}" "${prefix}_stack.bin" "${prefix}_app.bin")
  set(options)
  _velk_value_options(options STACK_AT:--stack-at APP_AT:--app-at IMAGE_VERSION:--image-version
    ROM_VERSION:--rom-version APP_UID:--app-uid STACK_UID:--stack-uid FORMAT:--format BASE:--base)
  if(V_VERIFY)
    list(APPEND options --verify)
  endif()
  get_filename_component(dir "${prefix}" DIRECTORY)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND velk::velk merge ${inputs} -o "${prefix}" ${options} -q
    DEPENDS ${inputs} velk::velk
    COMMENT "velk merge -> ${prefix}_merge${ext}"
    VERBATIM)
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

function(velk_flash_crc)
  cmake_parse_arguments(V "SINGLE;NO_TWIN;VERIFY" "TARGET;IMAGE;OUTPUT;KEYS;FORMAT;BASE" "" ${ARGN})
  foreach(required TARGET IMAGE OUTPUT)
    if(NOT V_${required})
      message(FATAL_ERROR "velk_flash_crc: ${required} is required")
    endif()
  endforeach()
  _velk_absolute(image "${V_IMAGE}" "${CMAKE_CURRENT_SOURCE_DIR}")
  _velk_absolute(output "${V_OUTPUT}" "${CMAKE_CURRENT_BINARY_DIR}")
  set(command crc)
  if(V_SINGLE)
    set(command single)
  endif()
  set(outputs "${output}")
  set(options)
  if(V_NO_TWIN)
    list(APPEND options --no-twin)
  else()
    _velk_twin_name(twin "${output}")
    list(APPEND outputs "${twin}")
  endif()
  _velk_value_options(options KEYS:--keys FORMAT:--format BASE:--base)
  if(V_VERIFY)
    list(APPEND options --verify)
  endif()
  get_filename_component(dir "${output}" DIRECTORY)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND velk::velk ${command} "${image}" -o "${output}" ${options} -q
    DEPENDS "${image}" velk::velk
    COMMENT "velk ${command} -> ${output}"
    VERBATIM)
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

function(velk_c_array)
  cmake_parse_arguments(V "CONST;STDINT" "TARGET;IMAGE;OUTPUT;HEADER;NAME;BITS;PER_LINE" "" ${ARGN})
  foreach(required TARGET IMAGE OUTPUT)
    if(NOT V_${required})
      message(FATAL_ERROR "velk_c_array: ${required} is required")
    endif()
  endforeach()
  _velk_absolute(image "${V_IMAGE}" "${CMAKE_CURRENT_SOURCE_DIR}")
  _velk_absolute(output "${V_OUTPUT}" "${CMAKE_CURRENT_BINARY_DIR}")
  set(outputs "${output}")
  set(options)
  if(V_HEADER)
    _velk_absolute(header "${V_HEADER}" "${CMAKE_CURRENT_BINARY_DIR}")
    list(APPEND outputs "${header}")
    list(APPEND options "--header=${header}")
  endif()
  _velk_value_options(options NAME:--name BITS:--bits PER_LINE:--per-line)
  if(V_CONST)
    list(APPEND options --const)
  endif()
  if(V_STDINT)
    list(APPEND options --stdint)
  endif()
  get_filename_component(dir "${output}" DIRECTORY)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND velk::velk c "${image}" -o "${output}" ${options} -q
    DEPENDS "${image}" velk::velk
    COMMENT "velk c -> ${output}"
    VERBATIM)
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

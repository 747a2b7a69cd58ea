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
# Inputs are found as add_custom_command's DEPENDS finds them: a relative
# path names the file of the current source directory when it exists and no
# custom command given earlier in this directory makes it, else the file of
# the current binary directory (an objcopy step's output, say). An input
# made by a custom command that several steps read needs a target of its
# own that they depend on, for the reason below. An input may be a
# generator expression such as $<TARGET_FILE:fw>: velk reads ELF files, and
# the step then waits for that target and runs again when it is relinked.
# Relative outputs are in the current binary directory; their directories
# are made as needed.
#
# A target whose sources include an output (the .c of velk_c_array) must
# depend on the function's target, add_dependencies(<that target> <name>),
# as with any custom command: else both targets run the step, and a
# parallel build of the Makefile generators runs it twice at once.

function(_velk_absolute out path base)
  if(IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${base}/${path}" PARENT_SCOPE)
  endif()
endfunction()

# The file an input names, by the rule above. A generator expression is
# passed on as it is: both the command and DEPENDS evaluate it, and a target
# it names in the command becomes a dependency of the step's target.
function(_velk_input out path)
  if(path MATCHES [[\$<]] OR IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
    return()
  endif()
  set(built "${CMAKE_CURRENT_BINARY_DIR}/${path}")
  get_source_file_property(generated "${built}" GENERATED)
  if(NOT generated AND EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${path}")
    set(${out} "${CMAKE_CURRENT_SOURCE_DIR}/${path}" PARENT_SCOPE)
  else()
    set(${out} "${built}" PARENT_SCOPE)
  endif()
endfunction()

# The custom command of every function: makes the directories of all the
# outputs (velk writes into existing directories only, and the Makefile
# generators, unlike Ninja, make none), then runs velk.
function(_velk_step)
  cmake_parse_arguments(S "" "COMMENT" "OUTPUTS;INPUTS;ARGS" ${ARGN})
  set(dirs)
  foreach(output IN LISTS S_OUTPUTS)
    get_filename_component(dir "${output}" DIRECTORY)
    list(APPEND dirs "${dir}")
  endforeach()
  list(REMOVE_DUPLICATES dirs)
  add_custom_command(OUTPUT ${S_OUTPUTS}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dirs}
    COMMAND velk::velk ${S_ARGS} -q
    DEPENDS ${S_INPUTS} velk::velk
    COMMENT "${S_COMMENT}"
    VERBATIM)
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
    _velk_input(file "${V_${part}}")
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
  _velk_step(OUTPUTS ${outputs} INPUTS ${inputs}
    ARGS merge ${inputs} -o "${prefix}" ${options}
    COMMENT "velk merge -> ${prefix}_merge${ext}")
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

function(velk_flash_crc)
  cmake_parse_arguments(V "SINGLE;NO_TWIN;VERIFY" "TARGET;IMAGE;OUTPUT;KEYS;FORMAT;BASE" "" ${ARGN})
  foreach(required TARGET IMAGE OUTPUT)
    if(NOT V_${required})
      message(FATAL_ERROR "velk_flash_crc: ${required} is required")
    endif()
  endforeach()
  _velk_input(image "${V_IMAGE}")
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
  _velk_step(OUTPUTS ${outputs} INPUTS "${image}"
    ARGS ${command} "${image}" -o "${output}" ${options}
    COMMENT "velk ${command} -> ${output}")
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

function(velk_c_array)
  cmake_parse_arguments(V "CONST;STDINT" "TARGET;IMAGE;OUTPUT;HEADER;NAME;BITS;PER_LINE" "" ${ARGN})
  foreach(required TARGET IMAGE OUTPUT)
    if(NOT V_${required})
      message(FATAL_ERROR "velk_c_array: ${required} is required")
    endif()
  endforeach()
  _velk_input(image "${V_IMAGE}")
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
  _velk_step(OUTPUTS ${outputs} INPUTS "${image}"
    ARGS c "${image}" -o "${output}" ${options}
    COMMENT "velk c -> ${output}")
  add_custom_target(${V_TARGET} ALL DEPENDS ${outputs})
endfunction()

# Builds the project in functions/ with every generator a firmware build may
# use, at -j2, against velkFunctions.cmake and the built velk, and checks
# that each step runs once when its inputs change and never otherwise, and
# that it made what velk makes when run by hand.
#
#   cmake -D VELK=<velk> -D FUNCTIONS=<velkFunctions.cmake> -D FIXTURE=<functions/>
#         -D CHECKER=<check_app_image.c> -D WORK=<scratch directory> -P functions.cmake
foreach(variable VELK FUNCTIONS FIXTURE CHECKER WORK)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "functions.cmake: -D ${variable}=... is required")
  endif()
endforeach()

# Runs a command; a failure ends the test with what it printed.
function(run out)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} failed (${status}):\n${output}")
  endif()
  set(${out} "${output}" PARENT_SCOPE)
endfunction()

# How often each step announced itself in a build's output (its COMMENT,
# printed once a run by both generators), checked against the expected
# "<comment>=<count>" pairs.
function(expect_runs what output)
  foreach(pair IN LISTS ARGN)
    string(REPLACE "=" ";" pair "${pair}")
    list(GET pair 0 comment)
    list(GET pair 1 expected)
    string(REGEX MATCHALL "${comment}" runs "${output}")
    list(LENGTH runs count)
    if(NOT count EQUAL expected)
      message(FATAL_ERROR "${what}: '${comment}' ran ${count} times, not ${expected}:\n${output}")
    endif()
  endforeach()
endfunction()

function(expect_same_files a b)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${a}" "${b}" RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "${a} is not ${b}")
  endif()
endfunction()

# A package that gives velk::velk and the functions, as the installed one
# does.
set(package "${WORK}/package")
file(REMOVE_RECURSE "${WORK}")
file(WRITE "${package}/velkConfig.cmake"
  "add_executable(velk::velk IMPORTED)\n"
  "set_target_properties(velk::velk PROPERTIES IMPORTED_LOCATION \"${VELK}\")\n"
  "include(\"${FUNCTIONS}\")\n")

set(steps "objcopy -> app.bin" "objcopy -> late.bin" "velk merge -> " "velk single -> "
  "velk crc -> [^\n]*fw_crc" "velk crc -> [^\n]*late_crc" "velk c -> ")

foreach(generator "Ninja" "Unix Makefiles")
  string(MAKE_C_IDENTIFIER "${generator}" name)
  set(src "${WORK}/${name}/src")
  set(bin "${WORK}/${name}/build")
  file(COPY "${FIXTURE}/" "${CHECKER}" DESTINATION "${src}")
  string(REPEAT "boot-0123456789" 128 boot)
  string(REPEAT "stack-0123456789" 512 stack)
  string(REPEAT "app-0123456789ab" 256 app)
  file(WRITE "${src}/boot.bin" "${boot}")
  file(WRITE "${src}/stack.bin" "${stack}")
  file(WRITE "${src}/app.raw" "${app}")
  file(WRITE "${src}/app.bin" "stale")
  file(WRITE "${src}/fw.c" "int main(void) { return 0; }\n")

  run(ignored ${CMAKE_COMMAND} -S "${src}" -B "${bin}" -G "${generator}" "-Dvelk_DIR=${package}")
  run(output ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
  list(TRANSFORM steps APPEND "=1" OUTPUT_VARIABLE once)
  expect_runs("${generator}, first build" "${output}" ${once})

  # What each step made is what velk makes of the same inputs by hand.
  set(ref "${WORK}/${name}/by_hand")
  file(MAKE_DIRECTORY "${ref}")
  run(ignored "${VELK}" merge "${src}/boot.bin" "${src}/stack.bin" "${bin}/app.bin" -o "${ref}/app"
    --image-version 0x0102 --format hex --base 0x08000000 -q)
  run(ignored "${VELK}" single "${bin}/app.bin" -o "${ref}/single.bin"
    --keys 12345678,9ABCDEF0,0F1E2D3C,01000000 -q)
  file(GLOB fw "${bin}/fw" "${bin}/fw.exe")
  run(ignored "${VELK}" crc "${fw}" -o "${ref}/fw_crc.hex" --format hex --base 0x08000000 -q)
  run(ignored "${VELK}" crc "${src}/app.raw" -o "${ref}/late_crc.bin" --no-twin -q)
  foreach(pair app_merge.hex:images/app_merge.hex app_stack.bin:images/app_stack.bin
      app_app.bin:images/app_app.bin single.bin:images/single/app.bin single.out:images/single/app.out
      fw_crc.hex:images/fw_crc.hex fw_crc.out:images/fw_crc.out late_crc.bin:images/late/late_crc.bin)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 by_hand)
    list(GET pair 1 made)
    expect_same_files("${bin}/${made}" "${ref}/${by_hand}")
  endforeach()
  if(EXISTS "${bin}/images/late/late_crc.out")
    message(FATAL_ERROR "NO_TWIN: images/late/late_crc.out was written")
  endif()
  run(ignored "${bin}/check_app_image" "${bin}/app.bin")

  # Nothing changed: nothing runs.
  run(output ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
  list(TRANSFORM steps APPEND "=0" OUTPUT_VARIABLE never)
  expect_runs("${generator}, nothing changed" "${output}" ${never})

  # A new app: everything made of it again, once; the ELF's step not.
  file(WRITE "${src}/app.raw" "${app}${app}")
  run(output ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
  expect_runs("${generator}, app changed" "${output}" "objcopy -> app.bin=1" "objcopy -> late.bin=1"
    "velk merge -> =1" "velk single -> =1" "velk crc -> [^\n]*fw_crc=0" "velk crc -> [^\n]*late_crc=1"
    "velk c -> =1")
  run(ignored "${bin}/check_app_image" "${bin}/app.bin")

  # A relinked ELF: its step alone.
  file(WRITE "${src}/fw.c" "int main(void) { return 1; }\n")
  run(output ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
  expect_runs("${generator}, ELF relinked" "${output}" "velk crc -> [^\n]*fw_crc=1"
    "objcopy -> app.bin=0" "velk merge -> =0" "velk single -> =0" "velk c -> =0")
endforeach()

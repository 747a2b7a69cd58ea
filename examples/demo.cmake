# Runs velk's main jobs on freshly made sample images, in OUT_DIR.
# Called by the demo target with VELK, VELK_MERGE, VELK_SINGLE, VELK_SAMPLES
# and OUT_DIR set; every output lands in OUT_DIR, next to its input.
# VELK_RUNNER, when set, is put in front of each velk command line: CI runs
# the Windows executables through it to compare their files with these.
cmake_minimum_required(VERSION 3.25)

foreach(var VELK VELK_MERGE VELK_SINGLE VELK_SAMPLES OUT_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "demo.cmake needs -D ${var}=...")
  endif()
endforeach()

# Prints a line on standard output, in order with what the programs print.
function(say text)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${text}")
endfunction()

# Shows a command line as a user would type it, then runs it in the
# directory `dir`. Every command here must succeed: velk says so with its
# exit status, and velk-merge and velk-single always exit with 0, so for
# them anything else means a crash.
function(run dir program)
  cmake_path(GET program STEM name)
  list(JOIN ARGN " " args)
  cmake_path(GET OUT_DIR PARENT_PATH base)
  file(RELATIVE_PATH where ${base} ${dir})
  say("")
  say("${where}$ ${name} ${args}")
  execute_process(COMMAND ${VELK_RUNNER} ${program} ${ARGN}
    WORKING_DIRECTORY ${dir}
    RESULT_VARIABLE status)
  if(NOT status STREQUAL "0")
    message(FATAL_ERROR "${name} ${args}: ended with ${status}")
  endif()
endfunction()

file(REMOVE_RECURSE ${OUT_DIR})
file(MAKE_DIRECTORY ${OUT_DIR})
execute_process(COMMAND ${VELK_SAMPLES} ${OUT_DIR} COMMAND_ERROR_IS_FATAL ANY)

# A fixed version (-v) keeps the OAD headers, and so the outputs, the same
# from run to run; without it the version comes from the clock.
run(${OUT_DIR} ${VELK_MERGE} -oad boot.bin stack.bin app.bin -v 0x0102)
run(${OUT_DIR} ${VELK_SINGLE} -oad app.bin)
run(${OUT_DIR} ${VELK_SINGLE} -crc small.bin)
run(${OUT_DIR} ${VELK_SINGLE} -c small.bin -t 8 -l 8)
run(${OUT_DIR} ${VELK_SINGLE} -txt small.bin -t 16 -p)

# The scrambled image gets the same name as the plain one, so it is made
# from a copy of app.bin in a directory of its own.
set(scrambled ${OUT_DIR}/scrambled)
file(MAKE_DIRECTORY ${scrambled})
file(COPY_FILE ${OUT_DIR}/app.bin ${scrambled}/app.bin)
run(${scrambled} ${VELK_SINGLE} -oad app.bin -e 12345678 9ABCDEF0 0F0F0F0F 01000000)

# velk, the program for build pipelines, on the same images: the same
# bytes for the same settings, into a directory of its own.
set(pipeline ${OUT_DIR}/velk)
file(MAKE_DIRECTORY ${pipeline})
run(${OUT_DIR} ${VELK} merge boot.bin stack.bin app.bin -o velk/app --image-version 0x0102)
run(${OUT_DIR} ${VELK} single app.bin -o velk/app_crc.bin --keys 12345678,9ABCDEF0,0F0F0F0F,01000000)
run(${OUT_DIR} ${VELK} crc small.bin -o velk/small_crc.hex --format hex --base 0x08000000)
foreach(pair app_merge.bin:velk/app_merge.bin app_stack.bin:velk/app_stack.bin
        app_app.bin:velk/app_app.bin scrambled/app_crc.bin:velk/app_crc.bin)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 old)
  list(GET pair 1 new)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT_DIR}/${old} ${OUT_DIR}/${new}
    RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "velk wrote other bytes in ${new} than ${old}")
  endif()
endforeach()
say("")
say("velk wrote the same merged, OAD and scrambled images as velk-merge and velk-single.")

# Last, read back what was built: every CRC, header and fill of the merged
# image and the inputs at their offsets, the scrambled image against its
# raw image, and what the merged image's headers say.
run(${OUT_DIR} ${VELK} verify app_merge.bin app_stack.bin app_app.bin small_crc.bin velk/small_crc.hex)
run(${OUT_DIR} ${VELK} verify app_merge.bin --against boot.bin,stack.bin,app.bin)
run(${OUT_DIR} ${VELK} verify scrambled/app_crc.bin --against app.bin --keys 12345678,9ABCDEF0,0F0F0F0F,01000000)
run(${OUT_DIR} ${VELK} info app_merge.bin)

set(inputs boot.bin stack.bin app.bin small.bin)
set(outputs
  app_merge.bin app_stack.bin app_app.bin   # velk-merge -oad
  app_crc.bin appbim_crc.out                # velk-single -oad
  small_crc.bin small.out                   # -crc
  small_qz.c                                # -c
  small_qz.txt                              # -txt
  scrambled/app_crc.bin scrambled/appbim_crc.out  # velk-single -oad -e
  velk/app_merge.bin velk/app_stack.bin velk/app_app.bin velk/app_crc.bin velk/app_crc.out
  velk/small_crc.hex velk/small_crc.out)          # velk
say("")
say("Sample images and outputs are in ${OUT_DIR}:")
set(missing 0)
foreach(name IN LISTS inputs outputs)
  if(EXISTS ${OUT_DIR}/${name})
    file(SIZE ${OUT_DIR}/${name} size)
    say("  ${name} (${size} bytes)")
  else()
    say("  ${name} (not written)")
    math(EXPR missing "${missing} + 1")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${missing} expected outputs were not written: see the messages above.")
endif()

# Runs the README's build snippets exactly as printed: the Makefile of
# "### In a Makefile" and the CMake code of "### In a CMake build", each
# taken from its section's fenced block into a fresh folder with stand-in
# images, and built twice at -j2 with the velk of this build.
#
#   cmake -D PART=make  -D README=<README.md> -D VELK=<velk> -D WORK=<dir> -P run_snippets.cmake
#   cmake -D PART=cmake -D README=<README.md> -D BUILD_DIR=<velk's build tree>
#         -D UPDATER=<check_app_image.c> -D WORK=<dir> -P run_snippets.cmake
# The CMake part installs BUILD_DIR into WORK, where find_package finds it.
foreach(variable PART README WORK)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "run_snippets.cmake: -D ${variable}=... is required")
  endif()
endforeach()

# The fenced block of the given language in the section under the heading.
function(snippet out heading language)
  file(READ "${README}" readme)
  string(FIND "${readme}" "\n${heading}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README.md has no section '${heading}'")
  endif()
  string(SUBSTRING "${readme}" ${at} -1 section)
  string(LENGTH "${heading}" skip)
  string(SUBSTRING "${section}" ${skip} -1 section)
  string(FIND "${section}" "\n#" next_heading)
  string(FIND "${section}" "\n```${language}\n" open)
  if(open EQUAL -1 OR (NOT next_heading EQUAL -1 AND next_heading LESS open))
    message(FATAL_ERROR "'${heading}' has no ```${language} block")
  endif()
  string(LENGTH "\n```${language}\n" fence)
  math(EXPR open "${open} + ${fence}")
  string(SUBSTRING "${section}" ${open} -1 block)
  string(FIND "${block}" "```\n" close)
  string(SUBSTRING "${block}" 0 ${close} block)
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

# Stand-ins for the three images, of sizes the default flash layout takes.
function(write_images dir)
  string(REPEAT "boot-0123456789" 128 boot)
  string(REPEAT "stack-0123456789" 512 stack)
  string(REPEAT "app-0123456789ab" 256 app)
  file(WRITE "${dir}/boot.bin" "${boot}")
  file(WRITE "${dir}/stack.bin" "${stack}")
  file(WRITE "${dir}/app.bin" "${app}")
endfunction()

# Runs a command in a folder; sets <prefix>_status, _out and _err.
function(run prefix dir)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${dir}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${prefix}_status "${status}" PARENT_SCOPE)
  set(${prefix}_out "${out}" PARENT_SCOPE)
  set(${prefix}_err "${err}" PARENT_SCOPE)
endfunction()

function(expect_success what prefix)
  if(NOT ${prefix}_status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${${prefix}_status}):\n${${prefix}_out}${${prefix}_err}")
  endif()
endfunction()

# The lines of `text` that match `regex` must be `expected` in number.
function(expect_count what text regex expected)
  string(REGEX MATCHALL "${regex}" found "${text}")
  list(LENGTH found count)
  if(NOT count EQUAL expected)
    message(FATAL_ERROR "${what}: ${count} times '${regex}', not ${expected}:\n${text}")
  endif()
endfunction()

function(expect_files dir)
  foreach(file IN LISTS ARGN)
    if(NOT EXISTS "${dir}/${file}")
      message(FATAL_ERROR "${dir}/${file} was not made")
    endif()
  endforeach()
endfunction()

function(run_makefile)
  set(dir "${WORK}/make")
  snippet(makefile "### In a Makefile" make)
  file(WRITE "${dir}/Makefile" "${makefile}")
  write_images("${dir}")
  # velk as a user has it, on the PATH; and no git repository above.
  get_filename_component(velk_dir "${VELK}" DIRECTORY)
  set(ENV{PATH} "${velk_dir}:$ENV{PATH}")
  set(ENV{GIT_CEILING_DIRECTORIES} "${WORK}")
  set(outputs out/app_merge.bin out/app_stack.bin out/app_app.bin out/app_crc.hex
    out/app_image.c out/app_image.h)

  run(first "${dir}" make -j2)
  expect_success("make -j2" first)
  if(NOT first_err STREQUAL "")
    message(FATAL_ERROR "make -j2 printed on standard error:\n${first_err}")
  endif()
  expect_files("${dir}" ${outputs})
  foreach(step "mkdir -p out" "velk merge " "velk crc " "velk c ")
    expect_count("make -j2" "${first_out}" "(^|\n)${step}" 1)
  endforeach()

  run(again "${dir}" make -j2)
  expect_success("make -j2, again" again)
  expect_count("make -j2, again" "${again_out}" "Nothing to be done for 'all'" 1)
  expect_count("make -j2, again" "${again_out}" "(^|\n)velk " 0)

  # An app that velk refuses (an ELF file cut short): every step fails and
  # leaves its old outputs older than the app, so the next make runs it
  # again; none leaves a file of its own.
  string(ASCII 127 delete)
  file(WRITE "${dir}/app.bin" "${delete}ELF")
  run(broken "${dir}" make -j2)
  if(broken_status EQUAL 0)
    message(FATAL_ERROR "make -j2 with a broken app.bin succeeded:\n${broken_out}")
  endif()
  foreach(output IN LISTS outputs)
    if(output STREQUAL "out/app_stack.bin" OR output STREQUAL "out/app_app.bin")
      continue()  # not targets of the Makefile
    endif()
    run(question "${dir}" make -q "${output}")
    if(question_status EQUAL 0)
      message(FATAL_ERROR "after a failed make, make takes ${output} as up to date")
    endif()
  endforeach()
  file(GLOB left RELATIVE "${dir}" "${dir}/out/*")
  list(SORT left)
  set(expected ${outputs})
  list(SORT expected)
  if(NOT left STREQUAL expected)
    message(FATAL_ERROR "a failed make left out/ holding ${left}")
  endif()

  write_images("${dir}")
  run(mended "${dir}" make -j2)
  expect_success("make -j2, app.bin mended" mended)
  run(question "${dir}" make -q)
  expect_success("make -q, app.bin mended" question)
endfunction()

function(run_cmake)
  foreach(variable BUILD_DIR UPDATER)
    if(NOT DEFINED ${variable})
      message(FATAL_ERROR "run_snippets.cmake: PART=cmake needs -D ${variable}=...")
    endif()
  endforeach()
  set(prefix "${WORK}/prefix")
  run(install "${WORK}" ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
  expect_success("cmake --install" install)
  snippet(code "### In a CMake build" cmake)
  foreach(generator "Ninja" "Unix Makefiles")
    string(MAKE_C_IDENTIFIER "${generator}" name)
    set(src "${WORK}/${name}/src")
    set(bin "${WORK}/${name}/build")
    file(WRITE "${src}/CMakeLists.txt"
      "cmake_minimum_required(VERSION 3.25)\nproject(firmware LANGUAGES C)\n\n${code}")
    write_images("${src}")
    configure_file("${UPDATER}" "${src}/updater.c" COPYONLY)
    run(configure "${WORK}" ${CMAKE_COMMAND} -S "${src}" -B "${bin}" -G "${generator}"
      "-DCMAKE_PREFIX_PATH=${prefix}")
    expect_success("configuring with ${generator}" configure)

    run(first "${WORK}" ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
    expect_success("building with ${generator}" first)
    foreach(step merge single c)
      expect_count("${generator}, first build" "${first_out}" "velk ${step} -> " 1)
    endforeach()
    expect_files("${bin}" images/app_merge.hex images/app_stack.bin images/app_app.bin
      images/app_single.bin images/app_single.out generated/app_image.c generated/app_image.h)
    run(updater "${src}" "${bin}/updater" app.bin)
    expect_success("the updater built with the array" updater)

    run(again "${WORK}" ${CMAKE_COMMAND} --build "${bin}" --parallel 2)
    expect_success("building again with ${generator}" again)
    expect_count("${generator}, nothing changed" "${again_out}" "velk [a-z]+ -> " 0)
  endforeach()
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
if(PART STREQUAL "make")
  run_makefile()
elseif(PART STREQUAL "cmake")
  run_cmake()
else()
  message(FATAL_ERROR "run_snippets.cmake: PART is make or cmake")
endif()

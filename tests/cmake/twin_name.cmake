# Prints the twin name velkFunctions.cmake derives for each of NAMES (a
# list separated by "|"), one a line, for the unit test that holds it
# against the engine's rule.
include("${FUNCTIONS}")
string(REPLACE "|" ";" names "${NAMES}")
foreach(name IN LISTS names)
  _velk_twin_name(twin "${name}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${twin}")
endforeach()

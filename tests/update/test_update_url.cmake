# A build whose update server is named over plain HTTP is refused when it is configured,
# unless it is a build with its tests and the server is on this machine: real configures of
# this source tree, each in a scratch folder under WORK.
#   cmake -DSOURCE=... -DWORK=... -DGENERATOR=... [-DTOOLCHAIN=...] -P test_update_url.cmake
set(cases
  "a release over plain HTTP|http://updates.example.org|OFF|refused"
  "a build with tests, over plain HTTP to another machine|http://updates.example.org|ON|refused"
  "a host that starts like loopback|http://127.0.0.1.example.org|ON|refused"
  "a release on loopback|http://127.0.0.1:8080|OFF|refused"
  "a build with tests on loopback|http://127.0.0.1:8080|ON|taken")
set(toolchain)
if(TOOLCHAIN)
  set(toolchain -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
set(index 0)
set(failures 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 url)
  list(GET fields 2 tests)
  list(GET fields 3 expected)
  math(EXPR index "${index} + 1")
  set(folder ${WORK}/${index})
  file(REMOVE_RECURSE ${folder})
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${folder} -G ${GENERATOR} ${toolchain}
      -DNELVO_UPDATE_URL=${url} -DNELVO_BUILD_TESTS=${tests}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  file(REMOVE_RECURSE ${folder})
  string(FIND "${output}" "NELVO_UPDATE_URL must be an https:// address" said)
  if(expected STREQUAL "refused" AND (result EQUAL 0 OR said EQUAL -1))
    message(SEND_ERROR "${name} (${url}, tests ${tests}): configured, or failed for another reason:\n${output}")
    math(EXPR failures "${failures} + 1")
  elseif(expected STREQUAL "taken" AND NOT result EQUAL 0)
    message(SEND_ERROR "${name} (${url}, tests ${tests}): refused:\n${output}")
    math(EXPR failures "${failures} + 1")
  else()
    message(STATUS "${name} (${url}, tests ${tests}): ${expected}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
if(failures)
  message(FATAL_ERROR "${failures} of the update server addresses were judged wrongly")
endif()

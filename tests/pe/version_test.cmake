# The versions made from the one product version: right for good values, refused for values
# that the resources or the installer would read differently.
#   cmake -P version_test.cmake                    runs every case
#   cmake -Dversion=<value> -P version_test.cmake  derives one value (fails when refused)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/version.cmake)

if(DEFINED version)
  glint_derive_versions("${version}")
  return()
endif()

set(failures 0)
foreach(case IN ITEMS "1.0.1|1.0.1.12091|1,0,1,12091|1.0.1.0|1,0,1,0"
                      "1.0.2|1.0.2.12091|1,0,2,12091|1.0.2.0|1,0,2,0"
                      "255.255.65535|255.255.65535.12091|255,255,65535,12091|255.255.65535.0|255,255,65535,0")
  string(REPLACE "|" ";" fields "${case}")
  list(POP_FRONT fields value)
  glint_derive_versions("${value}")
  set(derived ${GLINT_FILE_VERSION_TEXT} ${GLINT_FILE_VERSION} ${GLINT_PRODUCT_VERSION_TEXT}
              ${GLINT_PRODUCT_VERSION})
  if(NOT derived STREQUAL fields)
    message(SEND_ERROR "${value}: derived ${derived}, expected ${fields}")
  endif()
endforeach()

foreach(value IN ITEMS "" 1.0 1.0.1.5 1.0.x 01.0.1 1.00.1 256.0.0 1.256.0 1.0.65536)
  execute_process(COMMAND ${CMAKE_COMMAND} "-Dversion=${value}" -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(result EQUAL 0)
    message(SEND_ERROR "'${value}' was accepted")
  endif()
endforeach()

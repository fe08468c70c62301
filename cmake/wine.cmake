# Whether this machine can run the build's Windows binaries under Wine. Wine's 32-bit loader
# is itself a 32-bit Linux program, and a kernel with its 32-bit emulation switched off
# refuses it ("Exec format error"); the 32-bit build then cannot run under Wine at all, while
# a 64-bit build of the same sources can, on Wine's 64-bit loader.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(GLINT_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
else()
  find_program(GLINT_WINE wine)
endif()
set(GLINT_WINE_RUNS FALSE)
if(GLINT_WINE)
  execute_process(COMMAND ${GLINT_WINE} --version RESULT_VARIABLE wine_result
                  OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
  if(wine_result EQUAL 0)
    set(GLINT_WINE_RUNS TRUE)
  endif()
endif()
if(NOT GLINT_WINE_RUNS)
  message(WARNING "Wine cannot run this build's programs on this machine (for a 32-bit build: "
                  "is the kernel's 32-bit emulation off?): the tests under Wine are registered "
                  "but disabled.")
endif()

# Disables every test of the calling directory when Wine cannot run here, so that ctest lists
# them as not run rather than failing on the machine.
function(glint_require_wine_for_directory_tests)
  if(GLINT_WINE_RUNS)
    return()
  endif()
  get_property(tests DIRECTORY PROPERTY TESTS)
  if(tests)
    set_tests_properties(${tests} PROPERTIES DISABLED TRUE)
  endif()
endfunction()

# Whether this machine can run the 32-bit Windows binaries under Wine. Wine's 32-bit loader is
# itself a 32-bit Linux program, and a kernel with its 32-bit emulation switched off refuses
# it ("Exec format error"); Wine then cannot start at all.
find_program(GLINT_WINE wine)
set(GLINT_WINE_RUNS FALSE)
if(GLINT_WINE)
  execute_process(COMMAND ${GLINT_WINE} --version RESULT_VARIABLE wine_result
                  OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
  if(wine_result EQUAL 0)
    set(GLINT_WINE_RUNS TRUE)
  endif()
endif()
if(NOT GLINT_WINE_RUNS)
  message(WARNING "Wine cannot run 32-bit programs on this machine (is the kernel's 32-bit "
                  "emulation off?): the tests under Wine are registered but disabled.")
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

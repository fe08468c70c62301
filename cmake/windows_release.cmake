# How every binary of the windows build is built: the way it ships, so that the binary checks
# and the Wine suites run exactly the files a user gets. Included by the root CMakeLists.txt
# before any target is made; a new target gets all of this without a line of its own.

# Unused functions and data are dropped at link time, and the symbols are stripped.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections;-fdata-sections>")
add_link_options(-Wl,--gc-sections -s)

# The system's printf family (msvcrt) in place of the C99 one that mingw links into every
# binary for C++ (see platform/system_stdio.h).
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/platform/system_stdio.h>")

# The C++ runtime's terminate handler without its name demangler (see
# platform/terminate_handler.cpp). It must be an object of its own in every binary, not an
# archive member, so that it is there before the runtime library offers its own definition.
add_library(glint_terminate_handler OBJECT ${PROJECT_SOURCE_DIR}/platform/terminate_handler.cpp)
link_libraries(glint_terminate_handler)

# The exports of the DLLs' .def files are named without the 32-bit stdcall decoration
# ("Name@4"), so one file serves both machines; the linker ties each name to its decorated
# function.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_link_options(-Wl,--enable-stdcall-fixup)
endif()

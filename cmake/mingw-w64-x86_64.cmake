# 64-bit Windows: the same sources, built only so that the Wine suites can run on a machine
# whose kernel cannot run 32-bit programs (and so no 32-bit Wine). Never shipped.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

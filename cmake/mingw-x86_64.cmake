# Cross build for 64-bit Windows (g++-mingw-w64-x86-64-posix): the same
# sources, for the Windows tests on a kernel that runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

# The body of the cross toolchains for Windows with Debian's mingw-w64:
# cmake/mingw-i686.cmake (what ships) and cmake/mingw-x86_64.cmake (the
# Windows tests on a kernel that runs no 32-bit programs) set
# CMAKE_SYSTEM_PROCESSOR and include it.
# Tests run under Wine through scripts/wine-env.sh (see the Makefile).
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the C++ runtime std::thread and std::mutex;
# its thread library is linked in statically like everything else.
set(SETUP_MINGW_PREFIX ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${SETUP_MINGW_PREFIX}-gcc-posix ${SETUP_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${SETUP_MINGW_PREFIX}-g++-posix ${SETUP_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${SETUP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SETUP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Nothing but the DLLs that come with Windows: the C++ runtime, libgcc and the
# thread library are linked into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The optimised programs ship without the libraries' debug sections.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# CTest starts each Windows program through the wrapper of the build's Wine
# bench (scripts/wine-session.sh start BUILD/wine-session; the Makefile does it).
get_filename_component(_setup_scripts ${CMAKE_CURRENT_LIST_DIR}/../scripts ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_setup_scripts}/wine-env.sh ${CMAKE_BINARY_DIR}/wine-session)

# Cross-compiles the Windows program with MinGW-w64 (x86_64). The posix thread model is preferred:
# GoogleTest needs std::mutex, which the win32 model lacks.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_prefix x86_64-w64-mingw32)
find_program(KESTRIN_MINGW_CC NAMES ${_mingw_prefix}-gcc-posix ${_mingw_prefix}-gcc)
find_program(KESTRIN_MINGW_CXX NAMES ${_mingw_prefix}-g++-posix ${_mingw_prefix}-g++)
find_program(KESTRIN_MINGW_RC NAMES ${_mingw_prefix}-windres)
if(NOT KESTRIN_MINGW_CC OR NOT KESTRIN_MINGW_CXX OR NOT KESTRIN_MINGW_RC)
    message(FATAL_ERROR "MinGW-w64 for x86_64 was not found (${_mingw_prefix}-gcc, -g++, -windres). "
                        "On Debian: apt-get install mingw-w64")
endif()

set(CMAKE_C_COMPILER ${KESTRIN_MINGW_CC})
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_RC})

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine in a prefix inside the build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)

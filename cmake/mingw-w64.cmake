# Cross-build for Windows with Debian's mingw-w64 compilers. MINGW_TRIPLET
# picks them: by default i686-w64-mingw32, for the 32-bit program that is
# released; x86_64-w64-mingw32 builds the same source in 64 bits, for wine64
# on machines that cannot run 32-bit programs (cmake --preset win64). The
# compilers are the POSIX-threads variants, whose standard library has the
# std::mutex that GoogleTest needs; the program uses no threads, and links
# all it needs statically.
if(NOT MINGW_TRIPLET)
  set(MINGW_TRIPLET i686-w64-mingw32)
endif()
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${MINGW_TRIPLET}")
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The configure checks' own builds read this file too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_TRIPLET)
# One .exe that needs no DLLs beyond the system's own, with no link time
# stamp in its header, so that two builds of a release are the same.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")

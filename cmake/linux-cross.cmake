# Cross-build for Linux on another processor with Debian's cross compilers:
# LINUX_TRIPLET picks them, aarch64-linux-gnu (64-bit ARM, Debian's arm64)
# or arm-linux-gnueabihf (32-bit ARM with hardware floating point, armhf).
# The programs run here under qemu-user (tools/test-static).
if(NOT LINUX_TRIPLET)
  set(LINUX_TRIPLET aarch64-linux-gnu)
endif()
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${LINUX_TRIPLET}")
set(CMAKE_C_COMPILER ${LINUX_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LINUX_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${LINUX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The configure checks' own builds read this file too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LINUX_TRIPLET)

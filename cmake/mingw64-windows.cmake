# Cross-build for 64-bit Windows with Debian's MinGW-w64 (posix threads).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw64-windows.cmake
#         [-DBLINKWERK_QT_MINGW=<unpacked qt-6.4.2-mingw64>] ...
#
# Programs are linked statically, so they need no MinGW runtime DLL beside
# them. Tests run under wine64 through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${_mingw}-windres)
set(CMAKE_AR           /usr/bin/${_mingw}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${_mingw}-gcc-ranlib-posix CACHE FILEPATH "")

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# GCC 12 for this target applies interprocedural register allocation to calls
# of COMDAT (template) functions, while the linker may keep another copy of
# such a function, compiled with other flags, that clobbers more registers (a
# crash in QTemporaryDir was traced to it). Every call then assumes the full
# ABI clobber set. Needed for everything linked with the cross-built Qt.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-ra")

if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()

# The static Qt for MinGW, when given: its packages are searched in its prefix,
# its host tools (moc, rcc, uic) are Debian's Qt of the same version.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BLINKWERK_QT_MINGW)
if(BLINKWERK_QT_MINGW)
  list(APPEND CMAKE_FIND_ROOT_PATH "${BLINKWERK_QT_MINGW}")
  list(APPEND CMAKE_PREFIX_PATH "${BLINKWERK_QT_MINGW}")
  set(QT_HOST_PATH "/usr" CACHE PATH "Host Qt for moc, rcc, uic")
  set(QT_HOST_PATH_CMAKE_DIR "/usr/lib/x86_64-linux-gnu/cmake" CACHE PATH "Host Qt CMake packages")
endif()

# Cross-build for arm64 (a Raspberry Pi with a 64-bit Debian or Raspberry Pi
# OS) with Debian's multiarch toolchain: the compiler g++-aarch64-linux-gnu,
# the target's libraries as NAME:arm64 packages in /usr/lib/aarch64-linux-gnu,
# and the host's own Qt tools (moc, rcc, uic), which run here.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
# pkg-config (hidapi, libftdi1) reads the target's .pc files only: those
# of the multiarch folder and a folder of others (tools/prepare.sh unpacks
# libftdi1's there, kept in the cache for later runs of CMake).
set(BLINKWERK_ARM64_PKG_CONFIG_PATH "$ENV{BLINKWERK_ARM64_PKG_CONFIG_PATH}"
    CACHE PATH "A folder of further arm64 .pc files")
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
if(BLINKWERK_ARM64_PKG_CONFIG_PATH)
  set(ENV{PKG_CONFIG_LIBDIR} "${BLINKWERK_ARM64_PKG_CONFIG_PATH}:$ENV{PKG_CONFIG_LIBDIR}")
endif()
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
# Tests run under qemu-user (Debian's qemu-user-static); the target's
# loader and libraries come from the multiarch folders.
find_program(BLINKWERK_QEMU_AARCH64 qemu-aarch64-static qemu-aarch64)
if(BLINKWERK_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${BLINKWERK_QEMU_AARCH64})
endif()

# 32-bit x86 Linux with the build machine's compiler in -m32 mode and the i386
# multiarch libraries (tools/cross-check.sh installs them). The binaries run
# on the x86-64 build machine directly; cmake/exact_float.cmake adds SSE2
# arithmetic.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config with the target's search path (from pkgconf:i386).
set(PKG_CONFIG_EXECUTABLE i686-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for the target")

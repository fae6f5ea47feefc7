# Cross build for 64-bit Windows with Debian's mingw-w64. The -posix compilers are named
# explicitly: the plain names may point at the win32 thread model, which has no std::thread
# or std::mutex in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(K5_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${K5_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${K5_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${K5_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${K5_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime and winpthreads by default; the top CMakeLists.txt takes it off for the Qt
# programs, which share the one DLL runtime Qt itself uses.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the Windows executables through Wine, in the build folder's own prefix.
get_filename_component(K5_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/../.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${K5_SOURCE_ROOT}/scripts/wine-run.sh")

# Cross-compiles for 64-bit Windows with clang, against the headers and libraries of
# MinGW-w64's GCC (posix threads): a second compiler's view of the same program, so that code
# only one of them accepts is caught. Everything else is as in the GCC toolchain.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_SYSROOT /usr/${triple})

# Debian names GCC's folder "12-posix", which clang does not take for a version, so it finds
# neither libstdc++'s headers nor the runtime libraries by itself.
file(GLOB gcc_folders LIST_DIRECTORIES true /usr/lib/gcc/${triple}/*-posix)
list(SORT gcc_folders COMPARE NATURAL ORDER DESCENDING)
list(GET gcc_folders 0 gcc_folder)
set(cxx_headers ${gcc_folder}/include/c++)
# GCC's libraries keep thread-local variables (std::call_once's) in emulated storage.
set(CMAKE_C_FLAGS_INIT -femulated-tls)
string(JOIN " " CMAKE_CXX_FLAGS_INIT -femulated-tls -isystem ${cxx_headers} -isystem ${cxx_headers}/${triple}
       -isystem ${cxx_headers}/backward)
# -B finds crtbegin.o and crtend.o, -L libgcc and libstdc++; -pthread links winpthreads, which
# libstdc++'s threads use. LLVM's linker, since GNU ld warns about every type name that clang
# and GCC lay out differently.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -B${gcc_folder} -L${gcc_folder} -pthread")

# Cross build for 32-bit x86 on an x86_64 Debian host (g++-multilib):
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i386-toolchain.cmake
#
# -msse2 -mfpmath=sse keeps double arithmetic in 64-bit SSE registers: the
# x87 default rounds through 80 bits, and a seeded learning run would then
# take different episodes than on x86_64.
#
# The host kernel may refuse to exec 32-bit programs ("Exec format error"),
# so everything the build runs (test discovery, ctest, examples) goes
# through qemu-i386 from qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i386)

if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER gcc)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER g++)
endif()

set(TEMBRA_I386_FLAGS "-m32 -msse2 -mfpmath=sse")
set(CMAKE_C_FLAGS_INIT "${TEMBRA_I386_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TEMBRA_I386_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

find_program(TEMBRA_QEMU_I386 qemu-i386)
if(NOT TEMBRA_QEMU_I386)
  message(FATAL_ERROR "qemu-i386 not found: install Debian's qemu-user to run the i386 programs")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${TEMBRA_QEMU_I386})

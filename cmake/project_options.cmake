# Flags every unit of the project links through one INTERFACE target; nothing is set globally.
add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE
  -Wall -Wextra -Werror -Wshadow -Wnon-virtual-dtor -Wpedantic
  -fstack-protector-strong)
# Hardening as Debian builds its packages: every relocation resolved at start, then read-only.
# Position independence is the compiler's default there; no -fPIE here, as code using Qt must be
# -fPIC, which Qt's targets ask for (package_test.sh has lintian check the result).
if(NOT WIN32)  # an ELF matter
  target_link_options(project_options INTERFACE LINKER:-z,relro LINKER:-z,now)
endif()
# Fortified libc calls need an optimised build; the sanitizers make their own checks and must
# see the plain calls.
if(NOT AESSUITE_SANITIZE AND NOT AESSUITE_FUZZ)
  target_compile_options(project_options INTERFACE
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
if(WIN32)
  # One .exe with no DLL beside it: the C++ and GCC runtimes and the thread library linked in.
  # The stack protector's and the fortified calls' checks live in libssp there.
  target_link_options(project_options INTERFACE -static -static-libgcc -static-libstdc++
                      -fstack-protector-strong)
endif()
if(AESSUITE_SANITIZE)
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    # -O1 keeps the half-million-iteration key derivations of the tests practical.
    $<$<CONFIG:Debug>:-O1>)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()
if(AESSUITE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "AESSUITE_FUZZ needs clang: configure with CXX=clang++")
  endif()
  # Every unit carries libFuzzer's coverage hooks and the sanitizers; only the fuzz targets link
  # libFuzzer's main.
  target_compile_options(project_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
    -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/tests/fuzz/coverage_ignore.txt)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
endif()

# The crypto and key code is also held to -Wconversion: a silent narrowing there corrupts data.
add_library(strict_options INTERFACE)
target_compile_options(strict_options INTERFACE -Wconversion -Wsign-conversion)
target_link_libraries(strict_options INTERFACE project_options)

#!/usr/bin/env bash
# One entry point for setting up, building, testing and demonstrating the suite.
#   ./build.sh demo   install what is missing, build (Release), run the main job
#   ./build.sh test   install what is missing, build, run the whole suite twice: Release (with the
#                     engine and keys tests also under Valgrind memcheck), then Debug with
#                     AddressSanitizer and UndefinedBehaviorSanitizer
#   ./build.sh fuzz   build the libFuzzer targets with clang and run each on its committed corpus
#                     for FUZZ_SECONDS (60) seconds
#   ./build.sh windows  cross-build aestarnex.exe (static, x86-64) with MinGW-w64 and run the
#                     engine's vector tests and the console's black-box tests under Wine
#   ./build.sh deps   only install what is missing
#   ./build.sh bench  build the benchmarks and run them
set -euo pipefail
cd "$(dirname "$0")"

JOBS=${JOBS:-$(nproc)}
PACKAGES=(g++ cmake make libgtest-dev libgmock-dev libssl-dev libbenchmark-dev openssl time
          python3-cryptography qt6-base-dev fonts-dejavu-core fonts-dejavu-extra
          valgrind clang libclang-rt-14-dev  # memcheck and the fuzzers
          dpkg-dev file desktop-file-utils man-db groff-base lintian appstream)  # packaging test

WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64)
WINE=/usr/lib/wine/wine64  # Debian's places for the loader and the server
WINESERVER=/usr/lib/wine/wineserver

BENCH_PACKAGES=(gnupg age)  # bench/compare_console.sh times gpg and age beside GCM and sealed files

deps() {  # the packages above, and any given as arguments
  local missing=()
  for p in "${PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if ((${#missing[@]})); then
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

configure_and_build() {  # folder, then extra cmake arguments
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

run_tests() {  # folder
  (cd "$1" && ctest --output-on-failure -j "$JOBS" --timeout 900)
}

case "${1:-}" in
  deps)
    deps
    ;;
  demo)
    deps
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DAESSUITE_BUILD_GUI=ON
    scripts/demo.sh build
    ;;
  bench)
    deps "${BENCH_PACKAGES[@]}"
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DAESSUITE_BUILD_GUI=ON \
      -DAESSUITE_BUILD_BENCH=ON
    build/bin/engine_bench --benchmark_filter='aes256|Ghash|Gcm|BlockCall'
    build/bin/kdf_bench
    build/bin/random_bench
    FILE_JOB=build/bin/file_job bench/compare_openssl.sh
    AESTARNEX=build/bin/aestarnex bench/compare_console.sh
    ;;
  test)
    deps
    configure_and_build build -DCMAKE_BUILD_TYPE=Release -DAESSUITE_BUILD_GUI=ON \
      -DAESSUITE_MEMCHECK=ON
    run_tests build
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DAESSUITE_SANITIZE=ON \
      -DAESSUITE_BUILD_GUI=ON
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests build-asan
    ;;
  windows)
    deps "${WINDOWS_PACKAGES[@]}"
    # aestarnex.exe and the engine's vector tests as .exe.
    configure_and_build build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
      -DCMAKE_BUILD_TYPE=Release
    # The console tests stay Linux programs (the OpenSSL oracle, the Linux build the .exe trades
    # files with); only the program under test is the .exe.
    cmake -S . -B build-wine -DCMAKE_BUILD_TYPE=Release \
      -DAESSUITE_WINDOWS_EXE="$PWD/build-windows/bin/aestarnex.exe" >/dev/null
    cmake --build build-wine -j "$JOBS" --target cli_test aestarnex
    # A private Wine prefix (Z: is /, so the tests' Linux paths are Windows paths too) and one
    # server kept running for the whole run instead of one start per program.
    export WINEPREFIX WINEDEBUG=-all AESTARNEX_WINE=$WINE
    WINEPREFIX=$(mktemp -d /tmp/aessuite-wine.XXXXXX)
    trap '"$WINESERVER" -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
    "$WINESERVER" -p
    "$WINE" wineboot --init >/dev/null 2>&1
    ls -l build-windows/bin/aestarnex.exe
    (cd build-windows && ctest --output-on-failure -j "$JOBS" --timeout 300 -L wine)
    (cd build-wine && ctest --output-on-failure -j "$JOBS" --timeout 300 -L wine)
    ;;
  fuzz)
    deps
    CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DAESSUITE_FUZZ=ON -DAESSUITE_BUILD_TESTS=OFF -DAESSUITE_BUILD_GUI=OFF
    scripts/run_fuzzers.sh build-fuzz "${FUZZ_SECONDS:-60}"
    ;;
  *)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds, and runs every test: the normal build (with the checks of the
# installed files and the Debian package), then the
# address/undefined sanitizer build, the thread sanitizer build of the threaded code,
# and a short run of each fuzzer.
# VANTREL_QUICK=1 runs the normal build's tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/install-deps.sh

werror=OFF
if [ "${CI:-}" = "true" ]; then werror=ON; fi

configure() {  # configure DIR [cmake args...]
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja -DVANTREL_WARNINGS_AS_ERRORS=$werror "$@" > "$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; return 1; }
}

export QT_QPA_PLATFORM=offscreen
export GST_DEBUG=${GST_DEBUG:-1}

echo "== Build and test (RelWithDebInfo)"
configure build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
# The peer comparisons (label peer, each test with its own time-out) run here only: the sanitizer
# runs below would spend their time in ffmpeg and GStreamer, not in our code.
ctest --test-dir build --no-tests=error -L 'unit|pipeline|install|peer' --output-on-failure -j "$jobs" --timeout 600

if [ "${VANTREL_QUICK:-}" = "1" ]; then exit 0; fi

echo "== Address and undefined-behaviour sanitizers"
configure build-asan -DCMAKE_BUILD_TYPE=Debug "-DVANTREL_SANITIZE=address;undefined" -DVANTREL_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --no-tests=error -L 'unit|pipeline' --output-on-failure -j "$jobs" --timeout 900

echo "== Thread sanitizer (threaded code)"
configure build-tsan -DCMAKE_BUILD_TYPE=Debug -DVANTREL_SANITIZE=thread -DVANTREL_BUILD_BENCH=OFF
cmake --build build-tsan -j "$jobs" --target vantrel_tsan_tests
# Qt is built without the sanitizer: what it hands between threads under its own locks is left out.
TSAN_OPTIONS="suppressions=$root/tests/tsan-uninstrumented.supp" \
  ctest --test-dir build-tsan --no-tests=error -L tsan --output-on-failure -j "$jobs" --timeout 900

echo "== Fuzzers (short run)"
CC=clang CXX=clang++ configure build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_BUILD_FUZZ=ON -DVANTREL_BUILD_BENCH=OFF
cmake --build build-fuzz -j "$jobs" --target vantrel_fuzzers
bash fuzz/run.sh build-fuzz "${VANTREL_FUZZ_SECONDS:-45}"

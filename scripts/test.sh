#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (core, Qt client, tools, integration tests), then the
# core tests and fuzzers again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -uo pipefail
cd "$(dirname "$0")/.."
export QT_QPA_PLATFORM=offscreen
export QTELNET_REQUIRE_PEERS=1  # a test that would skip for want of a peer fails instead
fail=0
jobs=${JOBS:-2}

# House style: every C++ file as clang-format (.clang-format) leaves it.
if ! git ls-files -z -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' \
        'bench/*.h' | xargs -0 clang-format --dry-run --Werror; then
  echo "unformatted C++ above: run clang-format -i on those files"
  fail=1
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null && cmake --build build -j "$jobs" || exit 1
(cd build && ctest --output-on-failure -j "$jobs" --timeout 600) || fail=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DQT_BUILD=OFF -DSANITIZE=ON -DBUILD_FUZZERS=ON >/dev/null && cmake --build build-asan -j "$jobs" || exit 1
(cd build-asan && ctest --output-on-failure -j "$jobs" --timeout 600) || fail=1

if [ "$fail" -ne 0 ]; then
  echo "some tests failed"
  exit 1
fi
echo "all tests passed"

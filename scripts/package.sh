#!/usr/bin/env bash
# Builds the Debian package: a Release build of the client and vtsession in build-pkg (or $PKG_BUILD_DIR), then
# cpack. Prints the path of the .deb on the last line. Runs again without harm.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${PKG_BUILD_DIR:-build-pkg}
jobs=${JOBS:-$(nproc)}

# The Depends line comes from dpkg-shlibdeps, so only Debian packages can appear in it.
for tool in dpkg-shlibdeps dpkg-buildflags dpkg-deb cpack; do
  command -v "$tool" >/dev/null || { echo "package.sh: $tool is missing (apt install dpkg-dev cmake)" >&2; exit 1; }
done

# Debian's own compiler and linker flags (-O2, hardening), which then stand in for CMake's Release -O3: GCC 12 at
# -O3 also warns falsely about std::string concatenation.
cppflags=$(dpkg-buildflags --get CPPFLAGS)
# Only the shipped programs are built, not the tests and benchmarks; the install step must not ask for 'all' either.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQT_BUILD=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
      -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $cppflags" -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $cppflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --target qtelnet vtsession -j "$jobs"

log=$(cd "$build" && cpack -G DEB 2>&1) || { echo "$log" >&2; exit 1; }
echo "$log" | grep -v '^CPack: - package: '
deb=$(echo "$log" | sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' | tail -n 1)
[ -n "$deb" ] && [ -f "$deb" ] || { echo "package.sh: cpack named no .deb" >&2; exit 1; }
echo "$deb"

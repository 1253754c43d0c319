#!/usr/bin/env bash
# Builds the Debian package build/package/ksn48-vevu_<version>_<arch>.deb.
# Reuses the Release build in build/ (scripts/build.sh) and builds only what
# the package holds; a build/ of another type is left alone and the package
# is built in build-package/ instead. Needs dpkg-dev and file
# (scripts/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
if [ -f build/CMakeCache.txt ] && ! grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' build/CMakeCache.txt; then
  dir=build-package
fi
# The package installs under /usr; the build's other options stay as they are.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DKSN_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$dir" -j"${KSN_JOBS:-2}" --target ksn_package_contents
rm -f "$dir"/package/*.deb
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake)
ls "$dir"/package/*.deb

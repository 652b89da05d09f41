#!/usr/bin/env bash
# Sets up, builds the run command's release build and checks the Debian package made from
# it with lintian, then builds and runs every test: the default build, then
# AddressSanitizer with UndefinedBehaviorSanitizer, then ThreadSanitizer over the threaded
# tests, then the Windows cross-build with its installer and its tests under wine.
# QUILLMARK_PRESETS="default" (for example) runs fewer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
presets=${QUILLMARK_PRESETS:-"default asan-ubsan tsan mingw"}
# The run command's optimised build, which warns about things the others do not, and the
# package a packager makes from it.
if [[ -z ${QUILLMARK_PRESETS:-} ]]; then
  echo "=== release (build, Debian package, lintian)"
  cmake --preset release >/dev/null
  cmake --build --preset release
  bash tests/install/check_package.sh build/release
fi
for preset in $presets; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

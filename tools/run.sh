#!/usr/bin/env bash
# Sets up, builds and starts Quillmark (the release build, without the tests). Extra
# arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh run
cmake --preset release >/dev/null
cmake --build --preset release
exec build/release/bin/quillmark "$@"

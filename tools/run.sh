#!/usr/bin/env bash
# Sets up, builds and starts Quillmark. Extra arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
cd build/default/bin
if [[ -x ./quillmark ]]; then
  exec ./quillmark "$@"
fi
# Until the panel exists: the command-line companion shows the messages of a few keys.
./quillmark-send --print prog 1 ent reset

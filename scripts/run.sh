#!/usr/bin/env bash
# Installs the packages, builds Quillo and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build --target Quillo_Standalone
exec build/Quillo_artefacts/Release/Standalone/Quillo "$@"

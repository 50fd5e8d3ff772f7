#!/usr/bin/env bash
# The main job: builds the release tree and shares the sample selection into the inbox of the
# default App Group container ($XDG_DATA_HOME or ~/.local/share). Installs missing packages first.
# Usage: scripts/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
# Only what the main job runs: the extension and the host stand-in.
cmake --build --preset release -j "$(nproc)" --target quillop-share Movarix

exec scripts/share-sample.sh build/release

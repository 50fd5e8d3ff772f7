#!/usr/bin/env bash
# The house's floors: platform, then archive, then store, then share, then linux, then the
# programs. A source may include its own floor and those below it, never one above.
# Usage: scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
floors=(platform archive store share linux)
status=0
for i in "${!floors[@]}"; do
  above=("${floors[@]:i+1}")
  ((${#above[@]})) || continue
  pattern="#include \"($(IFS='|'; echo "${above[*]}"))/"
  if grep -rnE "$pattern" "src/${floors[i]}"; then
    echo "check-layers: src/${floors[i]} includes a floor above it" >&2
    status=1
  fi
done
exit "$status"

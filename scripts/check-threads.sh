#!/usr/bin/env bash
# Clang's thread-safety analysis over every core source that reaches an annotated lock
# (platform/mutex.h): a guarded member touched without its mutex fails the build.
# Usage: scripts/check-threads.sh   (needs clang-14; scripts/setup.sh installs it)
set -euo pipefail
cd "$(dirname "$0")/.."
headers='platform/mutex|share/share_view_controller|archive/hash_queue|archive/trailing_hasher'
headers+='|archive/write_behind|share/share_preparation|share/share_request'
mapfile -t sources < <(grep -rlE "\"($headers)\.h\"" src --include=*.cc | sort)
echo "thread-safety analysis: ${#sources[@]} sources"
printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -n 3 clang++-14 -std=c++20 -fsyntax-only \
  -Wall -Wextra -Werror -Wthread-safety -Isrc -isystem /usr/include/uuid

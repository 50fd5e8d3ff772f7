#!/bin/sh
# Builds the benchmark tree of archive_write_bench: copies of real system folders (C headers,
# Python libraries, icons, GCC), about 24,000 entries and 490 MB on Debian 12, cleaned of what a
# shared folder may not hold (links, names with : \ < > " | ? * or ending in "." or " ").
# Real paths cost about 160 index bytes per entry, so the 4 MiB index limit allows about 26,000.
# Usage: bench/make_tree.sh DEST     (DEST must not exist)
set -eu
dest=${1:?usage: make_tree.sh DEST}
[ ! -e "$dest" ] || { echo "$dest exists" >&2; exit 1; }
mkdir -p "$dest"
for pair in inc:/usr/include py311:/usr/lib/python3.11 py3:/usr/lib/python3 icons:/usr/share/icons \
            gcc:/usr/lib/gcc; do
  [ -d "${pair#*:}" ] && cp -R "${pair#*:}" "$dest/${pair%%:*}"
done
find "$dest" -type l -delete
find "$dest" -depth \( -name '*[:\\<>"|?*]*' -o -name '*.' -o -name '* ' \) -exec rm -rf {} +
find "$dest" ! -type f ! -type d -delete
echo "entries: $(find "$dest" -mindepth 1 | wc -l)"
echo "size:    $(du -sm "$dest" | cut -f1) MB"

#!/usr/bin/env bash
# Shares the sample selection of samples/ on the default App Group container
# ($XDG_DATA_HOME/group-containers/..., ~/.local/share when unset) and prints the report of the
# Movarix stand-in. Builds nothing: BUILD_DIR must hold the Movarix.app bundle tree.
#
# The samples are shared from a temporary copy, into which the empty subfolder "bozze" is added
# (git keeps no empty folder). The stand-in first writes a fresh ticket, which the share hands
# over in the batch's context.json; after the report it takes the verified batches out of the
# inbox, as Movarix does once it has sent them, so that the job can run any number of times.
#
# Usage: scripts/share-sample.sh BUILD_DIR        (for example build/release)
# Exit status: the share's (0 when the batch was prepared and Movarix opened), else the report's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: scripts/share-sample.sh BUILD_DIR}" && pwd)
share="$build/Movarix.app/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share"
host="$build/Movarix.app/Contents/MacOS/Movarix"
for program in "$share" "$host"; do
  [[ -x $program ]] || { echo "share-sample: $program is missing: build $build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quillop-sample.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp -R "$root/samples/." "$work/"
mkdir "$work/Progetto Àncora/bozze"

ticket="campione-$(date +%s)"
"$host" --ticket "$ticket" >/dev/null
echo "== Movarix ha scritto ready.json con il ticket \"$ticket\""
echo "== quillop-share --terminal, dalla cartella $work:"
(cd "$work" && ls -1A)
status=0
(cd "$work" && "$share" --terminal -- *) || status=$?
echo "== quillop-share: stato d'uscita $status"
echo "== Resoconto di Movarix"
report=0
"$host" --take || report=$?
if ((status == 0)); then status=$report; fi
exit "$status"

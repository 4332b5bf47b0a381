#!/usr/bin/env bash
# tallomir-batch.exe under Wine packages the sample project as the Linux build does:
#   package-under-wine.sh WINDOWS_BIN LINUX_BIN HOLD_FILE_EXE SCRATCH
# - the table list is the same (paths through Wine's Z: drive);
# - a copy with --cd --autorun --zip --exe --message gives the same files byte for byte, and
#   archives with the same entries, sizes and checksums (their time stamps aside), and its
#   manifest's SHA-256 digests are those of the files;
# - the Windows self-extractor unpacks the package into the same files;
# - a table another program holds with share mode 0 is reported in use.
set -euo pipefail
win_bin=$1 linux_bin=$2 hold=$3 scratch=$4
source "$(dirname "$0")/wine-support.sh"

rm -rf "$scratch" && mkdir -p "$scratch"
cp -a "$root/examples" "$scratch/src"
printf 'The sample project.\r\n' >"$scratch/message.txt"
# The Windows side finds its MapInfo through COM: the embedded runtime, registered here.
run_wine regsvr32 /s "$(winpath "$win_bin/MapInfo.Runtime.dll")"
cd "$scratch/src"

"$linux_bin/tallomir-batch" --list City.WOR >"$scratch/list-linux.txt"
run_wine "$win_bin/tallomir-batch.exe" --list City.WOR | tr -d '\r' | sed 's#Z:/#/#g' >"$scratch/list-windows.txt"
diff -u "$scratch/list-linux.txt" "$scratch/list-windows.txt" || fail "the table lists differ"

options=(--cd --autorun --zip Sample.zip --exe --message)
"$linux_bin/tallomir-batch" --to "$scratch/linux" "${options[@]}" "$scratch/message.txt" City.WOR >/dev/null
run_wine "$win_bin/tallomir-batch.exe" --to "$(winpath "$scratch/windows")" "${options[@]}" \
  "$(winpath "$scratch/message.txt")" --manifest "$(winpath "$scratch/windows.json")" City.WOR \
  >"$scratch/windows-run.txt" || fail "the Windows run: $(cat "$scratch/windows-run.txt")"
# Its manifest's digests, made by the system's provider, are those of the files it wrote.
python3 - "$scratch/windows.json" "$scratch/windows" <<'CHECK' || fail "the Windows manifest's digests are wrong"
import hashlib, json, os, sys
files = json.load(open(sys.argv[1], encoding="utf-8"))["files"]
digested = [f for f in files if f["sha256"] and os.path.isfile(os.path.join(sys.argv[2], f["target"]))]
assert len(digested) >= 10, digested
for f in digested:
    with open(os.path.join(sys.argv[2], f["target"]), "rb") as data:
        assert hashlib.sha256(data.read()).hexdigest() == f["sha256"], f["target"]
CHECK
# The self-extractor: the same entries with the same sizes and checksums; every other file byte for byte.
listing() {
  python3 -c 'import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.filename, i.file_size, i.CRC)' "$1"
}
for archive in Sample.exe; do  # (--exe leaves the self-extractor only)
  [ -f "$scratch/linux/$archive" ] && [ -f "$scratch/windows/$archive" ] || fail "$archive is missing"
  diff <(listing "$scratch/linux/$archive") <(listing "$scratch/windows/$archive") || fail "$archive differs"
done
diff -r -x Sample.exe "$scratch/linux" "$scratch/windows" || fail "the packages differ"

run_wine "$scratch/windows/Sample.exe" -s "$(winpath "$scratch/unpacked")" || fail "the self-extractor failed"
for file in $(cd "$scratch/linux" && find . -type f ! -name 'Sample.*'); do
  cmp -s "$scratch/linux/$file" "$scratch/unpacked/$file" || fail "$file was not unpacked as packed"
done

# Another program keeps a table's data to itself: the run says the file is in use.
coproc HOLDER { "$root/scripts/wine-run" "$hold" "$(winpath "$scratch/src/Data/Streets.DAT")"; }
read -r held <&"${HOLDER[0]}" || true
[ "${held%$'\r'}" = held ] || fail "the file could not be held"
run_wine "$win_bin/tallomir-batch.exe" --to "$(winpath "$scratch/held")" City.WOR >"$scratch/held-run.txt" 2>&1 || true
exec {HOLDER[1]}>&-
wait "$HOLDER_PID" || true
tr -d '\r' <"$scratch/held-run.txt" | grep -q "File is locked by another program." ||
  fail "a held table was not reported in use: $(cat "$scratch/held-run.txt")"
echo "batch under Wine: same list, same package, unpacked whole, held table reported"

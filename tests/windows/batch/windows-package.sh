#!/usr/bin/env bash
# The Windows package (scripts/package-windows) works from a fresh folder: unpacked there,
# its runtime registered by its own script, its tallomir-batch.exe packages the sample
# project through COM into a zip and a self-extracting program.
#   windows-package.sh PACKAGE_ZIP SCRATCH
set -euo pipefail
package=$1 scratch=$2
source "$(dirname "$0")/wine-support.sh"
[ -f "$package" ] || fail "$package is missing: scripts/package-windows makes it"
unzip -tq "$package" >/dev/null || fail "the package does not test whole"
rm -rf "$scratch" && mkdir -p "$scratch/fresh"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$package" "$scratch/fresh"
folder=$(ls -d "$scratch"/fresh/Tallomir-*-win64)
for file in tallomir-batch.exe ZipEngine.dll MapInfo.Runtime.dll register-runtime.cmd SFXStub.bin Startup.exe \
  ReadMe.txt License.txt; do
  [ -f "$folder/$file" ] || fail "the package lacks $file"
done
run_wine cmd /c "$(winpath "$folder/register-runtime.cmd")" | tr -d '\r' | grep -q Done || fail "register-runtime.cmd failed"
cp -a "$root/examples" "$scratch/src"
cd "$scratch/src"
run_wine "$folder/tallomir-batch.exe" --to "$(winpath "$scratch/out")" --zip City.zip --exe City.WOR \
  >"$scratch/run.txt" 2>&1 || fail "the packaged program failed: $(cat "$scratch/run.txt")"
unzip -tq "$scratch/out/City.exe" >/dev/null || fail "City.exe does not test whole"
echo "the Windows package packages the sample project from a fresh folder"

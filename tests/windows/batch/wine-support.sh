# What the Windows tests' scripts share: running a Windows program under this tree's Wine,
# a Linux path as Wine's Z: path, and failing with a message.
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)"
run_wine() { "$root/scripts/wine-run" "$@" </dev/null; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

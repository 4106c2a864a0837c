#!/usr/bin/env bash
# The README's walkthrough, run as it stands there: the lines between its
# walkthrough markers, from the top of the source tree, with `histadmin`
# on the path, stopping at the first command that fails. The region's
# objects carry a prefix of the test's own and the temporary directories
# are the test's, so nothing of a real region or of another test is met.
#   readme_walkthrough.sh HISTADMIN SOURCE_DIR WORK_DIR
set -uo pipefail

histadmin=$1
source_dir=$2
work=$3

rm -rf "$work"
mkdir -p "$work/bin" "$work/tmp"
ln -s "$histadmin" "$work/bin/histadmin"
sed -n '/^<!-- walkthrough: begin -->$/,/^<!-- walkthrough: end -->$/p' "$source_dir/README.md" |
  grep -v -e '^<!--' -e '^```' >"$work/walkthrough.sh"
if [ "$(grep -c '^histadmin ' "$work/walkthrough.sh")" -lt 5 ]; then
  echo "FAIL: no walkthrough between the README's markers" >&2
  exit 1
fi

export PATH=$work/bin:$PATH
export TMPDIR=$work/tmp
export KESTIHISTADMIN_NAME_PREFIX="khareadme$$_"
cd "$source_dir" || exit 1
# Its own process group, so that a server it leaves behind after a failure
# goes with the rest.
setsid bash -e "$work/walkthrough.sh" >"$work/output" 2>&1 &
walkthrough=$!
wait "$walkthrough"
status=$?
kill -TERM -- "-$walkthrough" 2>/dev/null
cat "$work/output"
if [ "$status" -ne 0 ]; then
  echo "FAIL: the README's walkthrough stopped with status $status" >&2
  exit 1
fi
saved=$(find "$work/tmp" -name config.dat)
if ! grep -q "/var/lib/kesti/history/lab/fs0003.dat" $saved; then
  echo "FAIL: the walkthrough's save did not reach config.dat" >&2
  exit 1
fi
grep -q '^+.*lab/fs0003.dat' "$work/output" || {
  echo "FAIL: save --dry-run did not show the new file set" >&2
  exit 1
}
echo "the README's walkthrough ran"

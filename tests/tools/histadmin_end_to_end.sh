#!/usr/bin/env bash
# histadmin end to end: a server in the background on a copy of the example
# configuration, every command once with its output checked, the save seen
# in config.dat (and beforehand in save --dry-run), what is refused on the
# command line, an export imported into a new region byte for byte,
# names escaped, verify clean, and verify catching a region broken on
# purpose.
#   histadmin_end_to_end.sh HISTADMIN BREAK_REGION EXAMPLE_CONFIG_DIR WORK_DIR [EMULATOR...]
# A cross build's programs run under EMULATOR (e.g. Wine, through
# cmake/toolchains/wine-run); a `kill -TERM` on it must stop the program
# as it stops a native one.
set -uo pipefail

histadmin=$1
break_region=$2
examples=$3
work=$4
emulator=("${@:5}")

# config.dat as the tool names it: a Windows program writes its paths
# with backslashes.
config_file_shown=$work/config/config.dat
case "$histadmin" in
  *.exe) config_file_shown=${config_file_shown//\//\\} ;;
esac

rm -rf "$work"
mkdir -p "$work/config" "$work/original"
cp "$examples"/*.dat "$work/config/"
cp "$examples"/*.dat "$work/original/"
export KESTI_HISTORY_CONFIG_DIR=$work/config
# Kernel objects of our own: never a real region, never another test's.
export KESTIHISTADMIN_NAME_PREFIX="khae2e$$_"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# run EXPECTED_STATUS ARGS...: runs histadmin; stdout in $out, stderr in
# $err, their lines without the carriage returns that end them on Windows.
run() {
  local expected=$1
  shift
  out=$("${emulator[@]}" "$histadmin" "$@" 2>"$work/stderr")
  status=$?
  err=$(cat "$work/stderr")
  out=${out//$'\r'/}
  err=${err//$'\r'/}
  if [ "$status" -ne "$expected" ]; then
    fail "histadmin $* exited $status, expected $expected; stdout: $out; stderr: $err"
  fi
}

# contains TEXT NEEDLE [WHAT]
contains() {
  case "$1" in
    *"$2"*) ;;
    *) fail "${3:-output} lacks '$2': $1" ;;
  esac
}

lacks() {
  case "$1" in
    *"$2"*) fail "${3:-output} has '$2': $1" ;;
  esac
}

server=""
stop_server() {
  if [ -n "$server" ] && kill -0 "$server" 2>/dev/null; then
    kill -TERM "$server"
    wait "$server"
  fi
}
trap stop_server EXIT

# --- no region yet, and wrong usage --------------------------------------
run 1 list
contains "$err" 'no HistAdmin region is running: start `histadmin serve` (where the package is installed, `systemctl start kestihistadmin`)' "stderr"
run 1 wait --timeout 0
contains "$err" "no HistAdmin region was ready within 0 seconds" "stderr"
run 2 serve --size 100
contains "$err" "a region needs at least 692 bytes"
run 2 serve --size 1X
contains "$err" "with k (1024) or M (1048576) after it"
run 0 --version
contains "$out" "histadmin "
run 2
run 2 no-such-command
run 2 serve
run 2 delete-fileset SOME 0
run 2 load elsewhere
run 2 set-repo SOME
run 0 --help
contains "$out" "add-fileset"
run 0 add-fileset --help
contains "$out" "--pending-size"
run 0 error -2039
contains "$out" "The file path for this fileset is already used by some other fileset."
run 0 error 7 --json
contains "$out" '"message": "Unknown error = 7"'

# --- a set-up that the OS refuses ----------------------------------------
# The section's name is taken by an object the tool may not open: the
# set-up fails, and the OS's own reason stands beside the library's
# message. POSIX only (the object is made in /dev/shm by hand); root may
# open anything, so as root the tool runs as another account.
if [ ${#emulator[@]} -eq 0 ] && [ -d /dev/shm ]; then
  squatter=/dev/shm/${KESTIHISTADMIN_NAME_PREFIX}KESTICORE_HISTADMIN
  as_other=()
  : >"$squatter"
  if [ "$(id -u)" -ne 0 ]; then
    chmod 0000 "$squatter"
  elif command -v setpriv >/dev/null; then
    chmod 0600 "$squatter"
    as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else
    echo "skipped the refused set-up: running as root without setpriv"
    squatter=""
  fi
  if [ -n "$squatter" ]; then
    "${as_other[@]}" "$histadmin" serve --size 1M >/dev/null 2>"$work/stderr"
    status=$?
    err=$(cat "$work/stderr")
    rm -f "$squatter"
    [ "$status" -eq 1 ] || fail "serve on a squatted name exited $status: $err"
    contains "$err" "histadmin: cannot set up the HistAdmin region: Failed to CreateFileMapping for the KESTIHISTADMIN shared memory. (Permission denied) (code -2010)" "stderr"
  fi
fi

# --- serve ---------------------------------------------------------------
# Ready once `wait` says so (an emulator may hold back the server's output
# until it ends, so that is read when it has ended).
"${emulator[@]}" "$histadmin" serve --size 2M --load config >"$work/serve.out" 2>&1 &
server=$!
run 0 wait --timeout 60
contains "$out" "the HistAdmin region is ready"
run 1 serve --size 1M
contains "$err" "already running"

repositories=$(grep -c '^\[\[repository\]\]' "$examples/config.dat")
file_sets=$(grep -c '\[\[repository.file_set\]\]' "$examples/config.dat")
first=$(grep -m1 "^name = " "$examples/config.dat" | sed "s/^name = '\(.*\)'/\1/")

# --- reading commands ----------------------------------------------------
run 0 status
contains "$out" "region size   2097152 bytes"
contains "$out" "repositories  $repositories in use"
contains "$out" "file sets     $file_sets in use"
contains "$out" "$config_file_shown"
run 0 status --json
contains "$out" "\"NumberRepos\": $repositories,"
contains "$out" "\"NumberFileSets\": $file_sets,"

run 0 list
contains "$out" "SLOT  NUMBER  NAME"
contains "$out" "$first"
run 0 list --json
[ "$(grep -c '"RepositoryName"' <<<"$out")" -eq "$repositories" ] ||
  fail "list --json: not $repositories repositories: $out"

run 0 show "$(tr '[:upper:]' '[:lower:]' <<<"$first")"
contains "$out" "repository  $first"
contains "$out" "fs0003.dat"
run 0 show "$first" --json
contains "$out" '"FileSets": ['
contains "$out" '"Number": 3,'
run 1 show NO_SUCH_REPOSITORY
contains "$err" "no repository named 'NO_SUCH_REPOSITORY'"

run 0 dump
[ "$(grep -c '^Repository Name = \*' <<<"$out")" -eq "$repositories" ] ||
  fail "dump: not $repositories repositories"
[ "$(grep -c '^FileSetNumber = ' <<<"$out")" -eq "$file_sets" ] || fail "dump: not $file_sets file sets"
contains "$out" "Repository Name = *$first*"
run 0 dump --json
contains "$out" '"Repositories": ['

run 0 verify
contains "$out" "the region is consistent"

# --- changes -------------------------------------------------------------
run 0 add-repo E2E_REPO --path /data/e2e --points 10 --threshold 0.5 --time-span 3600
contains "$out" "added repository 'E2E_REPO'"
run 1 add-repo e2e_repo
contains "$err" "already exists"
run 2 add-repo THIS_NAME_IS_MUCH_TOO_LONG_FOR_A_REPOSITORY
contains "$err" "a repository name has 1 to 30 characters, got 43"
run 0 add-fileset E2E_REPO /data/e2e/fs1 --start 1700000000
contains "$out" "added file set 1 of 'E2E_REPO'"
run 0 add-fileset E2E_REPO /data/e2e/fs2 --size 100 --threshold 0.25 --timespan 60
contains "$out" "added file set 2 of 'E2E_REPO'"
run 1 add-fileset E2E_REPO /DATA/E2E/FS1
contains "$err" "The file path for this fileset is already used by some other fileset. (code -2039)"
run 0 set-repo E2E_REPO --pending-points 20 --queue-size 7
# Numbers that cannot be negative or infinite are refused, nothing written.
run 2 set-repo E2E_REPO --points -5 --queue-size 99
contains "$err" "--points: must not be negative, got -5"
run 2 set-repo E2E_REPO --pending-threshold 1e40
contains "$err" "out of the range of a float"
run 0 set-fileset E2E_REPO 2 --pending-size 200 --end 1700003600:5
run 1 set-fileset E2E_REPO 9 --size 1
contains "$err" "has no file set number 9"
run 0 show E2E_REPO --json
contains "$out" '"NumberPoints": 10,'
contains "$out" '"PendingNumberPoints": 20,'
contains "$out" '"QueueSize": 7,'
contains "$out" '"GlobalThreshold": 0.5,'
contains "$out" '"PendingSize": 200,'
contains "$out" '"Microseconds": 5'
contains "$out" '"CurrentFileSet": 1,'
contains "$out" '"StartDate": "2023-11-14T22:13:20Z"'
contains "$out" '"EndDate": "2023-11-14T23:13:20.000005Z"'
run 0 show E2E_REPO
contains "$out" "/data/e2e/fs1"
contains "$out" "1700000000 (2023-11-14T22:13:20Z)"
contains "$out" "100 (200)"

run 0 show "$first" --json
before=$(grep -m1 '"NumberFS"' <<<"$out" | tr -dc '0-9')
run 0 add-fileset "$first" /var/lib/kesti/history/e2e_added.dat
contains "$out" "added file set $((before + 1)) of '$first'"

run 0 verify
contains "$out" "the region is consistent"

# --- refused on the command line: exit 2, nothing written ---------------
run 0 dump --json
region_before=$out
run 2 add-repo ''
contains "$err" "a repository name has 1 to 30 characters, got 0"
run 2 add-repo $'GOOD\n4     4       FAKE'
contains "$err" 'a repository name must not hold a control byte, got one (\x0a)'
run 2 add-repo $'TAB\tNAME'
run 2 add-repo OK_NAME --status 7
contains "$err" "a status is not-saved (0), saved (1), marked (2) or new (3), got '7'"
run 2 add-fileset E2E_REPO ''
contains "$err" "a file set needs a path"
run 2 add-fileset E2E_REPO $'/data/e2e/\e[2Jfs9'
contains "$err" 'a path must not hold a control byte, got one (\x1b)'
run 2 set-repo E2E_REPO --pending-path $'/data/e2e\n'
run 2 set-fileset E2E_REPO 2 --start 1700003600 --end 1700000000
contains "$err" "lies before its start"
run 2 tuning TuningValue1=40000
contains "$err" "TuningValue1: at most 32767, got 40000"
run 2 tuning TuningValue41=1
run 2 tuning TuningValue2=-1
contains "$err" "must not be negative"
# A destructive command asks on a terminal; with nobody to ask, --yes.
run 2 delete-repo E2E_REPO </dev/null
contains "$err" "give --yes"
run 2 load running </dev/null
run 0 dump --json
[ "$out" = "$region_before" ] || fail "a refused command changed the region"

# --- every kind of record, for the export below --------------------------
run 0 add-repo E2E_HOLE
run 0 add-repo E2E_KINDS --status not-saved --path /data/kinds --threshold 0.125 --json
contains "$out" '"ReposNumber": '
run 0 add-repo E2E_MARKED --status marked
run 0 add-repo E2E_NEW --status new
run 0 delete-repo E2E_HOLE --yes --json
contains "$out" '"FileSetsDeleted": 0'
hole_json=$out
for status in not-saved saved marked new; do
  run 0 add-fileset E2E_KINDS "/data/kinds/$status.dat" --status "$status" \
    --start 1700000000:250 --end 1700003600:5 --percentage 12.5 --history-status -2
done
run 0 add-fileset E2E_KINDS /data/kinds/own.dat --size 10 --pending-threshold 0.75 --param-source 1
run 0 delete-fileset E2E_KINDS 2 --yes
# Slots and numbers that adds in slot order do not give: a repository in a
# freed slot below later ones, a rename, a file set chained behind a later
# slot, a freed slot at the top.
run 0 add-repo E2E_REFILL --json
contains "$out" "\"Slot\": $(sed -n 's/.*"Slot": \([0-9]*\).*/\1/p' <<<"$hole_json")," "the refill's slot"
run 0 rename-repo E2E_MARKED E2E_MARKED_TOO
run 0 add-fileset E2E_KINDS /data/kinds/late.dat
run 0 add-repo E2E_TOP
run 0 delete-repo E2E_TOP --yes
run 0 tuning TuningValue3=77 TuningValue12=5 --json
contains "$out" '"TuningValue3": 77'
run 0 tuning --json
contains "$out" '"TuningValue12": 5,'
run 0 show E2E_KINDS --json
contains "$out" '"RecordStatus": 2,'
contains "$out" '"NumberFS": 5,'

# --- save: first what it would change, then the configuration files change
cp "$work/config/config.dat" "$work/config.before-save"
run 0 save --dry-run
contains "$out" "+++ $config_file_shown (after the save)"
contains "$out" "+    file_path = '/data/e2e/fs2'"
contains "$out" "+name = 'E2E_REPO'"
lacks "$out" "E2E_KINDS" "the dry run (status 0 is not saved)"
cmp -s "$work/config.before-save" "$work/config/config.dat" || fail "save --dry-run wrote config.dat"
run 0 save
contains "$out" "saved to $config_file_shown"
run 0 save --dry-run
contains "$out" "the save would change neither config.dat nor tune.dat"
grep -q "E2E_REPO" "$work/config/config.dat" || fail "config.dat lacks the new repository"
grep -q "/data/e2e/fs2" "$work/config/config.dat" || fail "config.dat lacks the new file set"
grep -q "e2e_added.dat" "$work/config/config.dat" || fail "config.dat lacks the added file set"
cmp -s "$work/original/config.dat" "$examples/config.dat" || fail "the example was changed"

# --- export, and import into a new region: the same tables --------------
run 0 export "$work/table.json"
contains "$out" "exported"
run 1 export "$work/table.json"
contains "$err" "give --force to replace it"
run 0 dump
dump_before=$out
run 0 status --json
status_before=$(grep -v '"UnsavedChanges"' <<<"$out")
cp "$work/table.json" "$work/broken.json"
echo '{"Format": "kestihistadmin table", "Version": 1, "Header": {' >"$work/broken.json"
sed 's/"Version": 1/"Version": 2/' "$work/table.json" >"$work/other-layout.json"
kill -TERM "$server"
wait "$server"
serve_status=$?
[ "$serve_status" -eq 0 ] || fail "serve exited $serve_status"
served=$(tr -d '\r' <"$work/serve.out")
contains "$served" \
  "serving a HistAdmin region of 2097152 bytes (loaded from the configuration files)" "serve"
contains "$served" "HistAdmin region released" "serve"
"${emulator[@]}" "$histadmin" serve --size 2M >"$work/serve2.out" 2>&1 &
server=$!
run 0 wait --timeout 60
run 1 import "$work/broken.json"
contains "$err" "is not JSON (broken or cut short); nothing was written"
run 1 import "$work/other-layout.json"
contains "$err" "has version 2; this histadmin reads 1"
run 0 status --json
contains "$out" '"NumberRepos": 0,' "status after refused imports"
run 0 import "$work/table.json" --json
contains "$out" '"Differences": []'
run 0 export "$work/table-again.json"
cmp -s "$work/table.json" "$work/table-again.json" ||
  fail "the imported region exports otherwise: $(diff "$work/table.json" "$work/table-again.json" | head -20)"
run 0 dump
[ "$out" = "$dump_before" ] || fail "the imported region dumps otherwise"
run 0 status --json
contains "$out" '"UnsavedChanges": true' "status after an import"
out=$(grep -v '"UnsavedChanges"' <<<"$out")
[ "${out//$config_file_shown/}" = "${status_before//$config_file_shown/}" ] ||
  fail "the imported region has another header: $out"
run 1 import "$work/table.json"
contains "$err" "an import goes into an empty region"
run 0 rename-repo E2E_NEW E2E_RENAMED --json
contains "$out" '"OldName": "E2E_NEW"'
run 0 show E2E_RENAMED
contains "$out" "status      3 (new, saved)"

# --- watch: each change, as it happens (not under an emulator, which may
# hold the output back until the program ends)
if [ ${#emulator[@]} -eq 0 ]; then
  "$histadmin" watch --interval 0.05 >"$work/watch.out" 2>&1 &
  watcher=$!
  for _ in $(seq 300); do grep -q watching "$work/watch.out" && break; sleep 0.1; done
  run 0 add-repo E2E_WATCHED
  for _ in $(seq 300); do grep -q "E2E_WATCHED" "$work/watch.out" && break; sleep 0.1; done
  kill -TERM "$watcher"
  wait "$watcher"
  contains "$(cat "$work/watch.out")" "repository 'E2E_WATCHED' added (slot" "watch"
  run 0 delete-repo E2E_WATCHED --yes
fi

run 0 delete-fileset E2E_REPO 1 --yes
contains "$out" "file set 1 of 'E2E_REPO' deleted"
run 0 show E2E_REPO --json
contains "$out" '"NumberFS": 1,'
lacks "$out" "/data/e2e/fs1"
run 0 delete-repo E2E_REPO --yes
run 0 list
lacks "$out" "E2E_REPO"

run 0 load config
contains "$out" "merged"
run 0 list
contains "$out" "E2E_REPO" "list after reloading the saved configuration"
run 0 verify
contains "$out" "the region is consistent"

run 0 load running --yes
contains "$out" "loaded from the running historian"
run 0 list --json
lacks "$out" "E2E_REPO" "list after loading the running historian"
contains "$out" "\"RepositoryName\": \"$first\""
run 0 show "$first" --json
lacks "$out" '"NumberPoints": 0,' "values in effect after loading the running historian"
run 0 verify
contains "$out" "the region is consistent"

# --- a load that leaves a repository out returns 0, and histadmin says so
cp "$work/config/config.dat" "$work/config.keep"
cat >>"$work/config/config.dat" <<'TOML'

[[repository]]
name = 'A_NAME_OF_THIRTY_ONE_CHARACTER'
file_path = '/data/long'
backup_file_path = ''
number_points = 1
queue_size = 1
global_file_set_size = 1
global_threshold = 1.0
global_time_span = 1
past_time = 1
future_time = 1
cache_size = 1
insert_size = 1
empty_file_sets = 1
TOML
sed -i "s/A_NAME_OF_THIRTY_ONE_CHARACTER/A_NAME_OF_THIRTY_ONE_CHARACTERS/" "$work/config/config.dat"
run 1 load config
contains "$err" "(A_NAME_OF_THIRTY_ONE_CHARACTERS): not loaded" "stderr of a partial load"
contains "$err" "1 repository was not loaded or not complete" "stderr of a partial load"
cp "$work/config.keep" "$work/config/config.dat"
run 0 load config

# --- names from the region never reach the output raw -------------------
"${emulator[@]}" "$break_region" control-name || fail "kha_break_region control-name failed"
run 0 list
contains "$out" 'EVIL\x1b[2J\x0a9  9  FAKE\x09X'
lacks "$out" $'\e' "list"
[ "$(grep -c FAKE <<<"$out")" -eq 1 ] || fail "list: a name made a row of its own: $out"
run 0 dump
contains "$out" $'EVIL\e[2J\n9  9  FAKE\tX' "the piped dump (byte-exact)"

# --- verify catches a broken region --------------------------------------
"${emulator[@]}" "$break_region" repository-count || fail "kha_break_region failed"
run 1 verify
contains "$out" "repository-count:"
contains "$out" "1 violation"
run 1 verify --json
contains "$out" '"consistent": false'

# --- stop ----------------------------------------------------------------
kill -TERM "$server"
wait "$server"
serve_status=$?
server=""
[ "$serve_status" -eq 0 ] || fail "serve exited $serve_status"
served=$(tr -d '\r' <"$work/serve2.out")
contains "$served" "serving a HistAdmin region of 2097152 bytes (empty)" "serve"
contains "$served" "HistAdmin region released" "serve"
run 1 status
contains "$err" "no HistAdmin region is running"

if [ "$failures" -ne 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
echo "all checks passed"

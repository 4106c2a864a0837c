#!/usr/bin/env bash
# An administrator's day with the installed package, run as root inside a
# booted container (scripts/systemd-test) after the README's package
# steps: restarts with and without a client attached, a crash, broken and
# unreadable configurations, a bad setting, an upgrade, removal and purge.
#   administrator_day.sh DEB HOLD_REGION
set -uo pipefail

deb=$1
hold_region=$2
unit=kestihistadmin
state=/var/lib/kestihistadmin
link=/etc/systemd/system/multi-user.target.wants/$unit.service

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
step() { echo "--- $*"; }

# contains TEXT NEEDLE WHAT
contains() {
  case "$1" in
    *"$2"*) ;;
    *) fail "$3 lacks '$2': $1" ;;
  esac
}
lacks() {
  case "$1" in
    *"$2"*) fail "$3 has '$2': $1" ;;
  esac
}

property() { systemctl show -p "$1" --value "$unit"; }

# Waits (at most 60 s) until the unit's ActiveState is one of the words.
wait_for_state() {
  local wanted=$1 now
  for _ in $(seq 600); do
    now=$(property ActiveState)
    case " $wanted " in *" $now "*) return 0 ;; esac
    sleep 0.1
  done
  fail "$unit is $now, not $wanted, after 60 s"
  return 1
}

# The journal of the unit since the cursor taken by `mark`.
mark() { cursor=$(journalctl -n 0 --show-cursor -q | sed -n 's/^-- cursor: //p'); }
journal_since_mark() { journalctl -u "$unit" --after-cursor="$cursor" -o cat -q; }

# The region as histadmin lists it.
listed() { histadmin list 2>&1; }

# --- the README's steps left a loaded region with LAB_NEW saved -----------
step "after the README's steps"
[ -d "$state" ] || fail "$state was not made by the package"
[ -L "$link" ] || fail "the package did not enable $unit"
grep -q LAB_NEW "$state/config.dat" || fail "the root shell's save did not reach $state/config.dat"
journal=$(journalctl -u "$unit" -o cat -q)
contains "$journal" "no configuration yet: $state/config.dat does not exist" "the first start's journal"
status=$(histadmin status)
contains "$status" "config.dat    $state/config.dat" "status"
contains "$status" "unsaved       nothing since" "status after the README's save"

# --- restart with no client: a new region from config.dat -----------------
step "restart with no client attached"
histadmin add-repo NOT_SAVED >/dev/null || fail "add-repo NOT_SAVED"
contains "$(histadmin status)" "unsaved       changes since" "status after an add"
systemctl restart "$unit" || fail "restart with no client"
contains "$(histadmin status)" "unsaved       nothing since" "status after a restart"
out=$(listed)
contains "$out" "LAB_NEW" "the list after a restart with no client"
lacks "$out" "NOT_SAVED" "the list after a restart with no client"

# --- a client attached: stop, start, restart and kill -9 keep the table ---
step "stop, start, restart and kill -9 with a client attached"
mkfifo /run/kha-hold
"$hold_region" </run/kha-hold >/run/kha-hold.out 2>&1 &
client=$!
exec 9>/run/kha-hold
for _ in $(seq 100); do grep -q attached /run/kha-hold.out && break; sleep 0.1; done
grep -q attached /run/kha-hold.out || fail "the client did not attach: $(cat /run/kha-hold.out)"
histadmin add-repo KEPT >/dev/null || fail "add-repo KEPT"

systemctl stop "$unit" || fail "stop with a client attached"
[ "$(property ActiveState)" = inactive ] || fail "$unit is $(property ActiveState) after a stop"
contains "$(listed)" "KEPT" "the list while the service is stopped and the client holds the region"
mark
systemctl start "$unit" || fail "start with a client attached"
contains "$(journal_since_mark)" "adopted as it was" "the journal of a start with a client attached"
contains "$(listed)" "KEPT" "the list after a start with a client attached"

systemctl restart "$unit" || fail "restart with a client attached"
contains "$(listed)" "KEPT" "the list after a restart with a client attached"

restarts=$(property NRestarts)
pid=$(property MainPID)
kill -9 "$pid"
for _ in $(seq 200); do
  [ "$(property NRestarts)" != "$restarts" ] && [ "$(property MainPID)" != "$pid" ] && break
  sleep 0.1
done
wait_for_state active
[ "$(property MainPID)" != "$pid" ] || fail "$unit was not restarted after kill -9"
contains "$(listed)" "KEPT" "the list after kill -9 and the restart"

exec 9>&-
wait "$client" || fail "the client did not detach cleanly"

# --- an upgrade leaves the running service alone ---------------------------
step "upgrade"
pid=$(property MainPID)
apt-get install -y -qq --reinstall "$deb" >/dev/null 2>&1 || fail "reinstall of $deb"
[ "$(property MainPID)" = "$pid" ] || fail "the upgrade restarted $unit"
contains "$(listed)" "KEPT" "the list after an upgrade"

# --- configurations that cannot be loaded fail, and stop trying ------------
step "an unreadable config.dat"
cp -p "$state/config.dat" /run/config.dat.good
chmod 600 "$state/config.dat"
mark
systemctl restart "$unit" 2>/dev/null && fail "a start with an unreadable config.dat succeeded"
wait_for_state failed
journal=$(journal_since_mark)
contains "$journal" "$state/config.dat: cannot be read: Permission denied" "the journal"
[ "$(property NRestarts)" = 0 ] || fail "an unreadable config.dat was tried $(property NRestarts) more times"
systemctl reset-failed "$unit"

step "a broken config.dat"
cp -p /run/config.dat.good "$state/config.dat"
echo "[[repository" >"$state/config.dat"
mark
systemctl start "$unit" 2>/dev/null && fail "a start with a broken config.dat succeeded"
wait_for_state failed
contains "$(journal_since_mark)" "marnuser: the configuration files cannot be read: config.dat" "the journal"
systemctl reset-failed "$unit"
cp -p /run/config.dat.good "$state/config.dat"

step "a bad setting"
cp /etc/default/kestihistadmin /run/default.good
echo "KESTIHISTADMIN_LOAD=bogus" >>/etc/default/kestihistadmin
mark
systemctl start "$unit" 2>/dev/null && fail "a start with a bad setting succeeded"
wait_for_state failed
[ "$(property NRestarts)" = 0 ] || fail "a bad setting was tried $(property NRestarts) more times"
contains "$(journal_since_mark)" "/etc/default/kestihistadmin" "the journal of a bad setting"
systemctl reset-failed "$unit"
cp /run/default.good /etc/default/kestihistadmin
systemctl start "$unit" || fail "a start once everything is fixed"

# --- removal and purge -----------------------------------------------------
step "remove"
apt-get remove -y -qq kestihistadmin >/dev/null 2>&1 || fail "apt-get remove"
# (No procps in a minimal root: the processes' names from /proc.)
grep -qsx histadmin /proc/[0-9]*/comm && fail "histadmin still runs after the removal"
[ "$(property ActiveState)" = active ] && fail "$unit is still active after the removal"
systemctl start "$unit" 2>/dev/null && fail "$unit can still be started after the removal"

step "purge"
purged=$(apt-get purge -y kestihistadmin 2>&1) || fail "apt-get purge: $purged"
[ -e "$link" ] || [ -L "$link" ] && fail "$link is left after the purge"
[ -L "/etc/systemd/system/$unit.service" ] && fail "the mask of $unit is left after the purge"
contains "$purged" "$state is kept" "what the purge said"
[ -f "$state/config.dat" ] || fail "the purge removed the historian's config.dat"
[ -e /etc/default/kestihistadmin ] && fail "/etc/default/kestihistadmin is left after the purge"

if [ "$failures" -ne 0 ]; then
  echo "administrator's day: $failures checks failed"
  exit 1
fi
echo "administrator's day: every check passed"

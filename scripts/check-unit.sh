#!/usr/bin/env bash
# Checks the console under its systemd user unit, end to end, on this machine:
#   scripts/check-unit.sh [BUILD]       (BUILD: a built tree, default build/)
# Installs BUILD (cmake --install, DESTDIR) into a scratch folder and runs, in
# private network, mount and PID namespaces, a journald, a user service
# manager (systemd --user) and an X server (Xvfb, openbox) of their own, so
# that nothing here reaches the machine's network, its /run, /tmp, /opt or
# journal:
#   - the autostart entry's command imports the display and starts the unit;
#   - the unit becomes active once the console reports READY=1, with its status;
#   - the console feeds the watchdog (its timestamp moves);
#   - after kill -STOP the watchdog ends it and the manager starts a new copy,
#     which the single-instance guard lets in, within WatchdogSec + a few s;
#   - a stop saves the beds (as the ward's account, in the group kalvora);
#   - a copy started while one runs by hand is turned away and ends well;
#   - a failed start-up is active, its box up, with its status;
#   - the console's lines are in `journalctl --user -u kalvora`, warnings at
#     priority warning.
# For a machine that does not run systemd itself (a container, CI); needs
# root (namespaces, cgroups) and installs what it runs (scripts/deps.sh group
# unit-check). Writes BUILD/check-unit/report.txt, the journal and screenshots
# (console.png, second-copy.png, failed.png).
# Exit status: 0 all good, 1 a check failed, 2 missing tools or not root.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work="$build/check-unit"

if [[ ${CHECK_UNIT_INSIDE:-} != 1 ]]; then
    source "$root/scripts/deps.sh"
    if [[ $(id -u) -ne 0 ]]; then
        echo "check-unit: needs root (namespaces, cgroups)" >&2
        exit 2
    fi
    if [[ -d /run/systemd/system ]]; then
        # Its cgroups belong to the machine's own manager: check in a real
        # session there (docs/INSTALL.md, "A ward PC").
        echo "check-unit: this machine runs systemd itself; this check is for machines that do not" >&2
        exit 2
    fi
    ensure_packages unit-check || exit 2
    for tool in /lib/systemd/systemd /lib/systemd/systemd-journald systemctl journalctl \
        Xvfb openbox xdotool import setpriv; do
        command -v "$tool" >/dev/null || { echo "check-unit: $tool is missing" >&2; exit 2; }
    done
    rm -rf "$work"
    mkdir -p "$work"
    if ! DESTDIR="$work/stage" cmake --install "$build" >"$work/install.log" 2>&1; then
        echo "check-unit: cmake --install failed, see $work/install.log" >&2
        exit 1
    fi
    # The ward's account: a uid (and the next, its group kalvora) no one here has.
    ward_uid=2000
    while getent passwd "$ward_uid" >/dev/null || getent group "$ward_uid" >/dev/null ||
        getent group $((ward_uid + 1)) >/dev/null; do
        ward_uid=$((ward_uid + 2))
    done
    # The manager's cgroup, where journald finds the names of its units:
    # user.slice/user-UID.slice/user@UID.service in each hierarchy that
    # tracks processes (the unified one and name=systemd, or cgroup2 alone).
    if [[ $(stat -f -c %T /sys/fs/cgroup) == cgroup2fs ]]; then
        hierarchies=(/sys/fs/cgroup)
    else
        hierarchies=()
        for h in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified; do
            [[ -d $h ]] && hierarchies+=("$h")
        done
    fi
    made=()
    for h in "${hierarchies[@]}"; do
        [[ -d $h/user.slice ]] || made+=("$h/user.slice")
        mkdir -p "$h/user.slice/user-$ward_uid.slice/user@$ward_uid.service" || exit 2
    done
    export ward_uid CHECK_UNIT_HIERARCHIES="${hierarchies[*]}"
    status=0
    CHECK_UNIT_INSIDE=1 in_private_network unshare --mount --pid --fork --mount-proc \
        "$0" "$build" || status=$?
    [[ $status -eq 125 ]] && echo "check-unit: no private network namespace here" >&2
    for h in "${hierarchies[@]}"; do
        find "$h/user.slice/user-$ward_uid.slice" -depth -type d -exec rmdir {} + 2>/dev/null
    done
    for dir in "${made[@]}"; do rmdir "$dir" 2>/dev/null; done
    [[ -f $work/report.txt ]] && cat "$work/report.txt"
    exit $status
fi

# --- Inside the namespaces: PID 1 of a world of our own -----------------------

report="$work/report.txt"
: >"$report"
failures=0
say() { echo "$*" | tee -a "$report"; }
fail() {
    say "FAILED: $*"
    failures=$((failures + 1))
}
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}

# The ward's account, as on a ward PC: an ordinary user in the group kalvora,
# known only inside these namespaces.
uid=$ward_uid gid=$ward_uid kalvora_gid=$((ward_uid + 1))
runtime=/run/user/$uid
mount -t tmpfs -o mode=755 none /run
# The work folder may lie under /tmp or /opt, which are replaced below: from
# here on it is reached through /run/check-unit.
mkdir -p /run/check-unit
mount --bind "$work" /run/check-unit
work=/run/check-unit
report="$work/report.txt"
mkdir -p /run/systemd/system /run/systemd/user "$runtime" /run/ward
cp /etc/passwd /etc/group /run/
echo "ward:x:$uid:$gid:Ward:/run/ward:/bin/sh" >>/run/passwd
printf 'ward:x:%s:\nkalvora:x:%s:ward\n' "$gid" "$kalvora_gid" >>/run/group
mount --bind /run/passwd /etc/passwd
mount --bind /run/group /etc/group
chown "$uid:$gid" "$runtime" /run/ward
chmod 700 "$runtime"
# Runs a command as the ward's account (in the background, $! is the command's).
ward=(setpriv --reuid="$uid" --regid="$gid" --init-groups
    env -i PATH="$PATH" HOME=/run/ward USER=ward LOGNAME=ward XDG_RUNTIME_DIR="$runtime")
as_ward() { "${ward[@]}" "$@"; }

# Private /tmp (the X server's socket and lock), journal and /opt, where the
# staged install appears as /opt/kalvora,
# its data folder the group's as the package makes it.
mount -t tmpfs -o mode=1777 none /tmp
[[ -d /var/log/journal ]] && mount -t tmpfs none /var/log/journal
mount -t tmpfs -o mode=755 none /opt
mkdir /opt/kalvora
mount --bind "$work/stage/opt/kalvora" /opt/kalvora
cp /opt/kalvora/data/tables.txt /opt/kalvora/data/tables.bac
chgrp -R "$kalvora_gid" /opt/kalvora/data
chmod 2775 /opt/kalvora/data
chmod 0664 /opt/kalvora/data/*
cp "$work/stage/usr/lib/systemd/user/kalvora.service" /run/systemd/user/
autostart="$work/stage/usr/share/kalvora/autostart/kalvora.desktop"

# A journald of our own, which leaves the kernel's log alone.
mkdir -p /run/systemd/journald.conf.d
printf '[Journal]\nReadKMsg=no\nForwardToSyslog=no\nForwardToWall=no\n' >/run/systemd/journald.conf.d/check-unit.conf
/lib/systemd/systemd-journald >"$work/journald.log" 2>&1 &
wait_for 10 test -S /run/systemd/journal/stdout || fail "journald did not start"
# Into /var/log/journal, as at boot, where each user gets a journal of their own.
journalctl --flush

# The ward's service manager, in a cgroup of its own (delegated to it), where
# journald finds the names of its units.
cgroups=()
for h in $CHECK_UNIT_HIERARCHIES; do
    cg=$h/user.slice/user-$uid.slice/user@$uid.service
    chown -R "$uid:$gid" "$cg"
    cgroups+=("$cg/cgroup.procs")
done
(
    for procs in "${cgroups[@]}"; do echo "$BASHPID" >"$procs"; done
    exec setpriv --reuid="$uid" --regid="$gid" --init-groups env -i PATH="$PATH" HOME=/run/ward \
        USER=ward LOGNAME=ward XDG_RUNTIME_DIR="$runtime" /lib/systemd/systemd --user --log-target=journal
) >"$work/manager.log" 2>&1 &
manager_up() { as_ward systemctl --user is-system-running --quiet 2>/dev/null; }
wait_for 20 manager_up || fail "systemd --user did not start"

"${ward[@]}" Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
# Ended before the namespace goes, so that it removes its socket and lock in /tmp.
trap 'kill -TERM "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
wait_for 10 test -s "$work/display" || fail "Xvfb did not start"
display=:$(head -n1 "$work/display")
"${ward[@]}" DISPLAY="$display" openbox >"$work/openbox.log" 2>&1 &

unit() { as_ward systemctl --user show kalvora -P "$1"; }
unit_is() { [[ $(unit ActiveState) == "$1" ]]; }
fed_since() { [[ $(unit WatchdogTimestampMonotonic) != "$1" ]]; }
restarted() { [[ $(unit MainPID) != "$1" && $(unit ActiveState) == active ]]; }
screenshot() {
    as_ward DISPLAY="$display" import -window root /run/ward/screen.png 2>/dev/null &&
        cp /run/ward/screen.png "$1"
}

say "== without the session's display the unit is not started"
as_ward systemctl --user start kalvora 2>>"$report"
say "$(unit ActiveState)/$(unit SubState), condition met: $(unit ConditionResult)"
[[ $(unit ConditionResult) == no ]] || fail "started without a display"
as_ward systemctl --user status kalvora --no-pager 2>&1 | grep -i condition | tee -a "$report"

say "== the autostart entry starts the unit (as the ward's account, uid $uid)"
exec_line=$(sed -n 's/^Exec=//p' "$autostart")
say "Exec=$exec_line"
started=$SECONDS
as_ward DISPLAY="$display" bash -c "$exec_line" >>"$report" 2>&1 || fail "the autostart command failed"
if wait_for 20 unit_is active; then
    say "active after $((SECONDS - started)) s, status: $(unit StatusText)"
else
    fail "the unit is $(unit ActiveState)/$(unit SubState): $(unit StatusText)"
fi
[[ $(unit StatusText) == "Listening on UDP port 5567, 24 beds" ]] || fail "status: $(unit StatusText)"
as_ward systemctl --user show-environment | grep -qx "DISPLAY=$display" ||
    fail "the manager has no DISPLAY=$display"
as_ward systemctl --user status kalvora --no-pager >>"$report" 2>&1
first=$(unit MainPID)
say "the console runs as $(ps -o user=,group= -p "$first"), groups: $(id -Gn ward)"

say "== the watchdog is fed"
say "WatchdogUSec=$(unit WatchdogUSec)"
fed=$(unit WatchdogTimestampMonotonic)
wait_for 8 fed_since "$fed" || fail "the watchdog's timestamp stays at $fed"
say "fed: WatchdogTimestampMonotonic $fed -> $(unit WatchdogTimestampMonotonic) (µs)"
screenshot "$work/console.png"

say "== a hung window: kill -STOP $first"
kill -STOP "$first"
stopped=$SECONDS
if wait_for 30 restarted "$first"; then
    took=$((SECONDS - stopped))
    say "a new console ($(unit MainPID)) is active $took s after the stop," \
        "restarts: $(unit NRestarts), status: $(unit StatusText)"
    ((took <= 10 + 2 + 5)) || fail "the restart took longer than WatchdogSec + RestartSec + 5 s"
else
    fail "no new console within 30 s: $(unit ActiveState)/$(unit SubState), MainPID $(unit MainPID)"
fi
[[ $(unit StatusText) == "Listening on UDP port 5567, 24 beds" ]] ||
    fail "the new copy's status: $(unit StatusText) (refused by the single-instance guard?)"
kill -0 "$first" 2>/dev/null && fail "the hung console $first is still there"

say "== a stop saves the beds"
before=$(stat -c %Y.%N /opt/kalvora/data/tables.bac)
touch -d '2000-01-01' /opt/kalvora/data/tables.txt
as_ward systemctl --user stop kalvora
[[ $(stat -c %Y /opt/kalvora/data/tables.txt) -gt 946684800 ]] || fail "tables.txt not rewritten by the stop"
say "after the stop: $(unit ActiveState)/$(unit SubState), result $(unit Result);" \
    "$(stat -c '%U:%G %A %n' /opt/kalvora/data/tables.txt)"

say "== a console started by hand first: the unit's copy is turned away and ends well"
"${ward[@]}" DISPLAY="$display" /opt/kalvora/kalvora >"$work/by-hand.log" 2>&1 &
by_hand=$!
# One lock per log-on session: Tesmarin_CHECKEXIST-HOST-SESSION-DISPLAY.
has_lock() { compgen -G "$runtime/Tesmarin_CHECKEXIST*" >/dev/null; }
wait_for 10 has_lock || fail "the console started by hand has no lock"
sleep 1
as_ward systemctl --user start kalvora || fail "the start failed"
say "$(unit ActiveState)/$(unit SubState), status: $(unit StatusText)"
[[ $(unit StatusText) == "Another console already runs in this session" ]] ||
    fail "status: $(unit StatusText)"
# OK in its box ends it.
box=$(as_ward DISPLAY="$display" timeout 10 xdotool search --sync --onlyvisible --name '^!$' | head -n1)
[[ -n $box ]] || fail "no box of the second copy"
screenshot "$work/second-copy.png"
as_ward DISPLAY="$display" xdotool windowactivate --sync "$box" key Return >>"$report" 2>&1
wait_for 10 unit_is inactive || fail "the turned-away copy still runs: $(unit ActiveState)"
say "after its box: $(unit ActiveState)/$(unit SubState), result $(unit Result), restarts $(unit NRestarts)"
[[ $(unit Result) == success && $(unit NRestarts) == 0 ]] || fail "the unit took it for a failure"
kill -TERM "$by_hand"
wait "$by_hand"

say "== a failed start-up"
cp /opt/kalvora/data/tables.txt "$work/tables.txt"
echo "999;1;2;4x;broken;b" >>/opt/kalvora/data/tables.txt
as_ward systemctl --user start kalvora || fail "start with a broken bed file failed"
say "$(unit ActiveState)/$(unit SubState), status: $(unit StatusText)"
[[ $(unit StatusText) == "Start-up failed:"* ]] || fail "status: $(unit StatusText)"
sleep 1
screenshot "$work/failed.png"
as_ward systemctl --user stop kalvora
cp "$work/tables.txt" /opt/kalvora/data/tables.txt

say "== the journal, as the ward reads it: journalctl --user -u kalvora"
as_ward journalctl --user -u kalvora --no-pager -o cat >"$work/journal.txt" 2>&1
as_ward journalctl --user -u kalvora --no-pager -o short-monotonic >>"$report" 2>&1
for line in "kalvora.service: Supervised: the watchdog waits 10000 ms, fed every 5000 ms" \
    "kalvora.beds: 24 beds loaded from /opt/kalvora/data/tables.txt" \
    "kalvora.link: Listening for the call server on UDP port 5567" \
    "kalvora.link: No answer from the call server" \
    "Watchdog timeout" \
    "kalvora.beds: 24 beds saved to /opt/kalvora/data/tables.txt" \
    "kalvora.app: Error box: '4x' is not a valid integer value." \
    "kalvora.app: Start-up failed"; do
    grep -qF "$line" "$work/journal.txt" || fail "not in the journal: $line"
done
# Only the copy started while one ran by hand was turned away.
refused=$(grep -c "Another console already runs in this session" "$work/journal.txt")
((refused == 1)) || fail "the single-instance guard turned away $refused copies, not 1"
warnings=$(as_ward journalctl --user -u kalvora --no-pager -o cat -p warning 2>&1 | grep -c '^kalvora\.')
say "lines of the console at priority warning or worse: $warnings"
((warnings > 0)) || fail "the console's warnings have no warning priority in the journal"

say ""
if ((failures > 0)); then
    say "check-unit: $failures check(s) failed"
    exit 1
fi
say "check-unit: all checks passed"

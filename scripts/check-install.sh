#!/usr/bin/env bash
# Installs a Kalvora package on a fresh Debian 12 and tries it as a ward's IT
# staff would:
#   scripts/check-install.sh [DEB]          (default: build/kalvora_*.deb)
#
#  1. a fresh root file system made with debootstrap (minbase, from the Debian
#     mirror in apt's sources), and in it only
#       apt-get install --no-install-recommends ./kalvora_VERSION_ARCH.deb
#     (so the Depends line alone must bring everything the console needs);
#     two staff accounts in the group kalvora;
#  2. the program folder: nothing outside data/ that a member can write, all
#     of it root's;
#  3. inside a private network namespace (the console broadcasts its ping), on
#     an Xvfb display with openbox: the installed console started by each
#     member in turn through /usr/bin/kalvora, found by its window title, with
#     kalvora-callsim answering its ping and sending a call; a screenshot
#     (build-root/console.png); its window closed, which saves the bed file;
#     and a copy of the console in a member's home without a settings file,
#     which writes one byte for byte the package's;
#  4. after a remove a member cannot plant anything in the folder; a folder as
#     purge removes what the package and the console made; a folder as version
#     0.1.0 left it (group-writable, its statoverride, a member's settings
#     file, bin/ and qt.conf) is made root's again by the next install.
# What it finds is in build-root/report.txt. Installs what it needs (group
# install-check of scripts/deps.sh). The fresh root is build-root/base, made
# once per checkout and copied for each run (rm -rf build-root to start over).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
work="$root/build-root"
target="$work/target"
report="$work/report.txt"
display=

log() { echo "check-install: $*"; }
die() {
    echo "check-install: FAILED: $*" >&2
    exit 1
}
# Runs a command in the fresh system, as root.
in_target() { chroot "$target" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
# Runs a command in the fresh system as USER, on the test display.
as_user() {
    local user=$1
    shift
    chroot "$target" runuser -u "$user" -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 \
        HOME="/home/$user" DISPLAY=$display "$@"
}

# The fresh system's /proc, and the test display's socket, in a private mount
# namespace: nothing stays mounted when the check ends.
mount_target() {
    mount -t proc proc "$target/proc"
    mount --rbind /dev "$target/dev"
    mkdir -p /tmp/.X11-unix "$target/tmp/.X11-unix"
    mount --bind /tmp/.X11-unix "$target/tmp/.X11-unix"
}

# Lists what someone other than root could write under the program folder,
# outside data/.
unsafe_entries() {
    in_target find /opt/kalvora /etc/kalvora \
        \( -path /opt/kalvora/data -o -path '/opt/kalvora/.untrusted-*' \) -prune \
        -o \( ! -user root -o ! -type l -perm /022 \) -print
}

# --- Phase 3: the console, inside the private network namespace -------------

wait_for_window() { # TITLE SECONDS
    local i
    for ((i = 0; i < $2 * 4; i++)); do
        if xdotool search --name "$1" >/dev/null 2>&1; then
            return 0
        fi
        sleep 0.25
    done
    return 1
}

wait_until_gone() { # PID SECONDS
    local i
    for ((i = 0; i < $2 * 4; i++)); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.25
    done
    return 1
}

run_console_as() { # USER: starts, checks and closes the installed console
    local user=$1 before after pid
    before=$(in_target stat -c %Y /opt/kalvora/data/tables.txt)
    sleep 1.1 # a save within the same second would keep the time
    as_user "$user" kalvora >"$work/console-$user.log" 2>&1 &
    pid=$!
    wait_for_window 'Kalvora: Сервер найден' 60 ||
        die "the console of $user showed no window 'Kalvora: Сервер найден.' within 60 s (log: $work/console-$user.log)"
    log "$user: the installed console shows its window, and the server is found"
    if [[ $user == nurse1 ]]; then
        in_target kalvora-callsim send call 101 --responsible "Медсестра Иванова" \
            --name "Палата 1, койка 1" >/dev/null
        sleep 1.5
        import -window root "$work/console.png"
        log "screenshot: $work/console.png"
    fi
    wmctrl -c 'Kalvora:'
    wait_until_gone "$pid" 30 || die "the console of $user did not end after its window was closed"
    after=$(in_target stat -c %Y /opt/kalvora/data/tables.txt)
    [[ $after -gt $before ]] || die "closing the console of $user did not save data/tables.txt"
    log "$user: closing saved the bed file: $(in_target stat -c '%U:%G %A %n' /opt/kalvora/data/tables.txt /opt/kalvora/data/tables.bac | tr '\n' ' ')"
}

phase_console() {
    [[ ${KALVORA_PRIVATE_NETWORK:-} == 1 ]] || die "phase 3 must run in a private network namespace"
    mount_target
    local pids=() n=77
    # A display number no other X server here has taken (its socket is shared).
    while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
    display=:$n
    Xvfb $display -nolisten tcp -noreset -screen 0 1600x900x24 >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    local i
    for ((i = 0; i < 40; i++)); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.25
    done
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    in_target kalvora-callsim serve >"$work/callsim.log" 2>&1 &
    pids+=($!)
    trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT

    run_console_as nurse1
    run_console_as nurse2

    # A console copied into a folder of its own, without a settings file,
    # writes the first-start file there, which must be the package's.
    as_user nurse1 sh -c 'mkdir -p ~/copy && cp /opt/kalvora/kalvora ~/copy/ && cp -R /opt/kalvora/demo-data ~/copy/data'
    as_user nurse1 /home/nurse1/copy/kalvora >"$work/console-copy.log" 2>&1 &
    local pid=$!
    wait_for_window 'Kalvora: Сервер найден' 60 || die "the copied console showed no window"
    wmctrl -c 'Kalvora:'
    wait_until_gone "$pid" 30 || die "the copied console did not end"
    cmp "$target/home/nurse1/copy/kalvora.ini" "$target/etc/kalvora/kalvora.ini" ||
        die "the settings file a copied console writes differs from the package's"
    log "a copied console wrote its own kalvora.ini, byte for byte the package's"
}

# --- Phases 1, 2 and 4 --------------------------------------------------------

apt_mirror() {
    local uri
    uri=$(awk '/^URIs:/ { uri = $2 } /^Suites:/ && / bookworm( |$)/ && uri { print uri; exit }
               /^$/ { uri = "" }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [[ -n $uri ]] || uri=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' \
        /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
    echo "${uri:-http://deb.debian.org/debian}"
}

phase_install() {
    mount_target
    cp "$deb" "$target/tmp/"
    local name
    name=$(basename "$deb")
    log "apt-get install --no-install-recommends ./$name in the fresh system"
    in_target apt-get update -qq
    in_target env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "/tmp/$name" >"$work/apt-install.log" 2>&1 ||
        die "apt-get install failed (log: $work/apt-install.log)"
    for user in nurse1 nurse2; do
        in_target useradd --create-home --shell /bin/sh "$user"
        in_target adduser --quiet "$user" kalvora
    done

    {
        echo "== find /opt/kalvora -perm -g+w"
        in_target find /opt/kalvora -perm -g+w
        echo "== the same without links (a link's own mode is always 0777 and means nothing)"
        in_target find /opt/kalvora ! -type l -perm -g+w
        echo "== owners and modes"
        in_target find /opt/kalvora /etc/kalvora -printf '%u:%g %M %p %l\n' |
            grep -v '/demo-data/.*\.gif$'
        echo "== dpkg-statoverride --list"
        in_target dpkg-statoverride --list || true
    } >"$report"
    cat "$report"
    local unsafe
    unsafe=$(unsafe_entries)
    [[ -z $unsafe ]] || die "writable by others than root, outside data/: $unsafe"
    [[ $(in_target stat -c '%U:%G %a' /opt/kalvora/data) == "root:kalvora 2775" ]] ||
        die "data/ is not root:kalvora 2775"
    cp "$target/etc/kalvora/kalvora.ini" "$target/tmp/kalvora.ini.package"
    log "nothing outside data/ is writable for others than root; data/ is root:kalvora 2775"
}

purge_and_check() {
    in_target env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq kalvora >>"$report" 2>&1
    [[ ! -e $target/etc/kalvora && ! -e $target/opt/kalvora/data ]] ||
        die "purge left the settings file or the data folder"
    ! in_target getent group kalvora >/dev/null || die "purge left the group kalvora"
    {
        echo "== after purge: ls -la /opt/kalvora"
        in_target ls -la /opt/kalvora 2>&1 || true
    } >>"$report"
}

phase_plant() {
    mount_target
    local name
    name=$(basename "$deb")
    echo "== apt-get remove; a member tries to make /opt/kalvora/bin" >>"$report"
    in_target env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq kalvora >>"$work/apt-install.log" 2>&1
    if in_target runuser -u nurse1 -- mkdir /opt/kalvora/bin 2>>"$report"; then
        die "after a remove, a member could create /opt/kalvora/bin"
    fi
    log "after a remove, a member cannot create /opt/kalvora/bin"
    purge_and_check
    [[ ! -e $target/opt/kalvora ]] || die "purge left /opt/kalvora"
    log "purge removed the folder, the settings, the data folder and the group"

    # The folder as version 0.1.0 left it after a remove (group-writable, with
    # its statoverride and the group), and what a member could put there: a
    # bin/ with their own kalvora-callsim, a qt.conf pointing Qt's plugins to
    # their home, and the settings file their console wrote at its first start.
    in_target addgroup --system --quiet kalvora
    in_target adduser --quiet nurse1 kalvora
    in_target install -d -o root -g kalvora -m 3775 /opt/kalvora
    in_target dpkg-statoverride --add root kalvora 3775 /opt/kalvora
    as_user nurse1 sh -c 'mkdir /opt/kalvora/bin &&
        printf "#!/bin/sh\necho planted\n" >/opt/kalvora/bin/kalvora-callsim &&
        chmod 0755 /opt/kalvora/bin/kalvora-callsim &&
        printf "[Paths]\nPlugins=/home/nurse1\n" >/opt/kalvora/qt.conf'
    as_user nurse1 cp /tmp/kalvora.ini.package /opt/kalvora/kalvora.ini
    {
        echo "== as version 0.1.0 left it, with a member's bin/, qt.conf and settings file"
        in_target ls -la /opt/kalvora /opt/kalvora/bin
        in_target dpkg-statoverride --list
        echo "== apt-get install ./$name"
    } >>"$report"
    in_target env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "/tmp/$name" >>"$report" 2>&1 ||
        die "installing into the planted folder failed (see $report)"
    {
        echo "== after the install"
        in_target ls -la /opt/kalvora /opt/kalvora/bin /etc/kalvora
        in_target sh -c 'ls -laR /opt/kalvora/.untrusted-*'
        echo "== dpkg-statoverride --list"
        in_target dpkg-statoverride --list || true
    } >>"$report"
    local unsafe
    unsafe=$(unsafe_entries)
    [[ -z $unsafe ]] || die "after the install, writable by others than root: $unsafe"
    [[ ! -e $target/opt/kalvora/qt.conf ]] || die "the planted qt.conf is still beside the console"
    [[ $(in_target kalvora-callsim --version) == kalvora-callsim* ]] ||
        die "kalvora-callsim is still the planted one"
    [[ -z $(in_target dpkg-statoverride --list /opt/kalvora) ]] || die "the old statoverride is still there"
    [[ $(in_target stat -c '%U %a' /etc/kalvora/kalvora.ini) == "root 644" ]] ||
        die "the member's settings file did not become root's"
    cmp -s "$target/etc/kalvora/kalvora.ini" "$target/tmp/kalvora.ini.package" ||
        die "the settings file changed on the way to /etc/kalvora"
    log "installing into a folder as 0.1.0 left it: the member's bin/ and qt.conf set aside, bin/ fresh and root's, the settings root's in /etc/kalvora"

    purge_and_check
    log "purge again: only what was set aside is left"
}

case ${1:-} in
--phase-console)
    deb=
    phase_console
    exit 0
    ;;
--phase-install | --phase-plant)
    deb=$2
    "phase_${1#--phase-}"
    exit 0
    ;;
esac

shopt -s nullglob
if [[ -n ${1:-} ]]; then
    debs=("$1")
else
    debs=("$root"/build/kalvora_*.deb)
fi
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || die "no package (or more than one); make it with scripts/package.sh"
deb=$(realpath "${debs[0]}")
[[ $(id -u) -eq 0 ]] || die "this check needs root (debootstrap, chroot)"
ensure_packages install-check
if ! unshare --net true 2>/dev/null; then
    die "no private network namespace here: the console would ping the real network"
fi

mkdir -p "$work"
if [[ ! -f $work/base/.complete ]]; then
    mirror=$(apt_mirror)
    log "debootstrap bookworm from $mirror into $work/base"
    rm -rf "$work/base"
    debootstrap --variant=minbase bookworm "$work/base" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        die "debootstrap failed (log: $work/debootstrap.log)"
    touch "$work/base/.complete"
fi
rm -rf "$target"
cp -a "$work/base" "$target"

self=${BASH_SOURCE[0]}
unshare --mount --propagation private bash "$self" --phase-install "$deb"
in_private_network unshare --mount --propagation private bash "$self" --phase-console
unshare --mount --propagation private bash "$self" --phase-plant "$deb"
log "all install checks passed; the report is $report"

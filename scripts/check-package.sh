#!/usr/bin/env bash
# Checks a Kalvora Debian package before it goes to a ward:
#   scripts/check-package.sh DEB [BUILD]
#   - its Depends line holds the Debian package of every library the binaries
#     link (found with readelf and dpkg -S on this machine) and, with BUILD
#     (the folder CPack ran in), every dependency that CPack was given;
#   - every file is root's, no folder or file can be written by others than
#     root, nothing is setuid or setgid;
#   - the settings file is a configuration file in /etc/kalvora, and
#     /opt/kalvora/kalvora.ini a link to it;
#   - every command has its link in /usr/bin and its manual page;
#   - the changelog's newest entry is the package's version;
#   - the systemd user unit starts the packaged console as a notify service
#     with a watchdog, and systemd-analyze finds nothing in it; the autostart
#     entry is valid and starts the unit;
#   - lintian finds nothing but the overridden dir-or-file-in-opt.
# Installs nothing (scripts/package.sh installs dpkg-dev, binutils, lintian,
# desktop-file-utils; systemd-analyze comes with systemd).
# Exit status: 0 all good, 1 a check failed, 2 bad arguments or a tool missing.
set -uo pipefail
if [[ $# -lt 1 || ! -f $1 ]]; then
    echo "usage: scripts/check-package.sh DEB [BUILD]" >&2
    exit 2
fi
deb=$1
build=${2:-}
for tool in dpkg-deb readelf lintian desktop-file-validate systemd-analyze; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-package: $tool is missing" >&2
        exit 2
    fi
done

failures=0
fail() {
    echo "check-package: FAILED: $*" >&2
    failures=$((failures + 1))
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dpkg-deb -x "$deb" "$tmp/root"
dpkg-deb -e "$deb" "$tmp/control"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
declared=" $(sed -E 's/ \([^)]*\)//g; s/,/ /g; s/\|/ /g' <<<"$depends") "

echo "== Depends: $depends"
needed=$(find "$tmp/root" -type f -perm -u+x -exec readelf -d {} + 2>/dev/null |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u)
[[ -n $needed ]] || fail "no binary in the package links any library"
for lib in $needed; do
    path=$(ldconfig -p | awk -v lib="$lib" '$1 == lib && /x86-64|x32|64/ { print $NF; exit }')
    [[ -n $path ]] || path=$(ldconfig -p | awk -v lib="$lib" '$1 == lib { print $NF; exit }')
    # Merged /usr: dpkg knows the path it unpacked, /lib/... or /usr/lib/...
    owner=$(dpkg -S "$path" "/usr$path" "${path#/usr}" 2>/dev/null | head -n1 | cut -d: -f1)
    if [[ -z $owner ]]; then
        fail "$lib ($path) belongs to no Debian package here"
    elif [[ $declared != *" $owner "* ]]; then
        fail "the binaries link $lib from $owner, which Depends does not name"
    else
        echo "$lib: $owner"
    fi
done
if [[ -n $build ]]; then
    extra=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_DEPENDS "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
    for pkg in ${extra//,/ }; do
        [[ $declared == *" $pkg "* ]] || fail "Depends lacks $pkg, which cmake/Packaging.cmake adds"
    done
    echo "also: $extra"
fi

echo "== owners and modes"
bad=$(dpkg-deb -c "$deb" | awk '$2 != "root/root" || substr($1, 1, 1) != "l" && (substr($1, 6, 1) != "-" || substr($1, 9, 1) != "-") || $1 ~ /[sStT]/')
[[ -z $bad ]] || fail "entries not root's, writable by others than root, setuid or setgid:"$'\n'"$bad"
bad=$(dpkg-deb -c "$deb" | awk 'substr($1, 1, 1) == "d" && $1 != "drwxr-xr-x"')
[[ -z $bad ]] || fail "folders that are not 0755:"$'\n'"$bad"
echo "every entry root/root, folders 0755, nothing writable by group or others"

echo "== settings"
if [[ $(cat "$tmp/control/conffiles" 2>/dev/null) != /etc/kalvora/kalvora.ini ]]; then
    fail "conffiles should hold /etc/kalvora/kalvora.ini alone, holds: $(cat "$tmp/control/conffiles" 2>/dev/null)"
fi
[[ -f $tmp/root/etc/kalvora/kalvora.ini ]] || fail "no /etc/kalvora/kalvora.ini"
[[ $(readlink "$tmp/root/opt/kalvora/kalvora.ini") == /etc/kalvora/kalvora.ini ]] ||
    fail "/opt/kalvora/kalvora.ini is not a link to /etc/kalvora/kalvora.ini"
grep -q '^\[Server\]' "$tmp/root/etc/kalvora/kalvora.ini" || fail "kalvora.ini has no [Server] section"
echo "/etc/kalvora/kalvora.ini is a configuration file; /opt/kalvora/kalvora.ini links to it"

echo "== commands"
while IFS= read -r exe; do
    rel=${exe#"$tmp/root"}
    name=$(basename "$exe")
    [[ $(readlink "$tmp/root/usr/bin/$name") == "$rel" ]] || fail "no link /usr/bin/$name -> $rel"
    page=$tmp/root/usr/share/man/man1/$name.1.gz
    if [[ ! -f $page ]]; then
        fail "no manual page for $name"
    else
        zcat "$page" | grep -q '^\.TH ' || fail "$name.1.gz has no .TH line"
        echo "$name: /usr/bin/$name -> $rel, $(basename "$page")"
    fi
done < <(find "$tmp/root/opt/kalvora" -type f -perm -u+x)

echo "== changelog"
top=$(zcat "$tmp/root/usr/share/doc/kalvora/changelog.gz" 2>/dev/null | head -n1)
[[ $top == "kalvora ($version) "* ]] || fail "the changelog's newest entry is '$top', the package is $version"
echo "$top"

echo "== the user unit and the autostart entry"
unit=$tmp/root/usr/lib/systemd/user/kalvora.service
autostart=$tmp/root/usr/share/kalvora/autostart/kalvora.desktop
if [[ ! -f $unit ]]; then
    fail "no /usr/lib/systemd/user/kalvora.service"
else
    for line in Type=notify NotifyAccess=main ExecStart=/opt/kalvora/kalvora Restart=on-failure \
        PartOf=graphical-session.target; do
        grep -qx "$line" "$unit" || fail "kalvora.service lacks $line"
    done
    grep -qE '^WatchdogSec=[1-9][0-9]*$' "$unit" || fail "kalvora.service has no WatchdogSec"
    # systemd's own reading of it, with the package's console as ExecStart.
    mkdir -m 0700 "$tmp/runtime"
    sed "s|^ExecStart=/|ExecStart=$tmp/root/|" "$unit" >"$tmp/kalvora.service"
    out=$(XDG_RUNTIME_DIR=$tmp/runtime systemd-analyze --user --man=no verify "$tmp/kalvora.service" 2>&1)
    [[ -z $out ]] || fail "systemd-analyze verify kalvora.service:"$'\n'"$out"
    echo "kalvora.service: $(grep -E '^(Type|ExecStart|WatchdogSec|Restart)=' "$unit" | tr '\n' ' ')"
fi
if [[ ! -f $autostart ]]; then
    fail "no /usr/share/kalvora/autostart/kalvora.desktop"
else
    out=$(desktop-file-validate "$autostart" 2>&1) || fail "desktop-file-validate: $out"
    grep -q '^Exec=.*systemctl --user start kalvora\.service' "$autostart" ||
        fail "the autostart entry does not start kalvora.service"
    echo "autostart: $(grep '^Exec=' "$autostart")"
fi

echo "== lintian"
# Tags and overridden tags; N: lines are explanations (the override's reason).
findings=$(lintian --pedantic --show-overrides "$deb" 2>&1 | grep -E '^[EWIPXCO]: ')
echo "$findings" | sed -E 's/^(O: kalvora: dir-or-file-in-opt) .*/\1/' | sort | uniq -c
others=$(grep -v '^O: kalvora: dir-or-file-in-opt ' <<<"$findings")
[[ -z $others ]] || fail "lintian:"$'\n'"$others"

if [[ $failures -gt 0 ]]; then
    echo "check-package: $failures check(s) failed" >&2
    exit 1
fi
echo "check-package: all package checks passed"

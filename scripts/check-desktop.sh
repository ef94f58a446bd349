#!/usr/bin/env bash
# Checks the desktop integration files in packaging/:
#   - packaging/kalvora.desktop with desktop-file-validate (Debian: desktop-file-utils)
#   - packaging/kalvora.metainfo.xml with appstreamcli validate --no-net (Debian: appstream)
#   - that they agree with each other, with the icons and with the project's version.
# Installs nothing. Exit status: 0 all good, 1 a check failed, 2 a validator is missing.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pkg="$root/packaging"
desktop="$pkg/kalvora.desktop"
metainfo="$pkg/kalvora.metainfo.xml"

missing=()
command -v desktop-file-validate >/dev/null || missing+=("desktop-file-validate (Debian package desktop-file-utils)")
command -v appstreamcli >/dev/null || missing+=("appstreamcli (Debian package appstream)")
if [[ ${#missing[@]} -gt 0 ]]; then
    printf 'check-desktop: missing validator: %s\n' "${missing[@]}" >&2
    exit 2
fi

failures=0
fail() {
    echo "check-desktop: FAILED: $*" >&2
    failures=$((failures + 1))
}

echo "== desktop-file-validate ${desktop#"$root"/}"
if out=$(desktop-file-validate "$desktop" 2>&1); then
    # It prints hints and warnings without failing; show them.
    [[ -n $out ]] && echo "$out"
else
    echo "$out" >&2
    fail "desktop-file-validate rejects ${desktop#"$root"/}"
fi

echo "== appstreamcli validate --no-net ${metainfo#"$root"/}"
if ! appstreamcli validate --no-net "$metainfo"; then
    fail "appstreamcli rejects ${metainfo#"$root"/}"
fi

echo "== consistency"
key() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
[[ $(key Icon) == kalvora ]] || fail "the desktop entry's Icon is '$(key Icon)', the icons are named kalvora"
[[ $(key Exec) == /opt/kalvora/kalvora ]] ||
    fail "the desktop entry's Exec is '$(key Exec)'; cmake/Packaging.cmake rewrites 'Exec=/opt/kalvora/kalvora' for other prefixes"
[[ $(key StartupWMClass) == kalvora ]] ||
    fail "StartupWMClass is '$(key StartupWMClass)'; the console's window class is its executable's name, kalvora"
grep -q '<launchable type="desktop-id">kalvora.desktop</launchable>' "$metainfo" ||
    fail "the metainfo's launchable does not name kalvora.desktop"
[[ -f $pkg/kalvora.svg ]] || fail "packaging/kalvora.svg is missing"
for size in 48 64 128 256; do
    png="$pkg/icons/${size}x${size}/kalvora.png"
    if [[ ! -f $png ]]; then
        fail "${png#"$root"/} is missing (packaging/render-icons.sh makes it)"
    elif ! file -b "$png" | grep -q "PNG image data, $size x $size"; then
        fail "${png#"$root"/} is not a $size x $size PNG: $(file -b "$png")"
    fi
done
version=$(sed -n 's/^project(Kalvora VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
grep -q "<release version=\"$version\"" "$metainfo" ||
    fail "the metainfo has no <release version=\"$version\"> for the project's version $version"

if [[ $failures -gt 0 ]]; then
    echo "check-desktop: $failures check(s) failed" >&2
    exit 1
fi
echo "check-desktop: all desktop integration checks passed"

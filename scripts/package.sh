#!/usr/bin/env bash
# Makes the Debian package build/kalvora_VERSION_ARCH.deb and checks it.
# Installs the Debian packages it needs (the build's, dpkg-dev, lintian).
#   scripts/package.sh
# Builds in build-pkg/ with Debian's hardening flags (dpkg-buildflags), only
# what the package holds, runs CPack there and copies the package to build/.
# Fails when the package would not run on a ward PC: dpkg-shlibdeps missing
# (CPack then only warns and leaves out every library dependency), a Depends
# line without the Qt libraries, or any finding of scripts/check-package.sh.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
build="$root/build-pkg"

ensure_packages build package
if ! command -v dpkg-shlibdeps >/dev/null; then
    echo "package: dpkg-shlibdeps is missing (Debian package dpkg-dev): the package would depend on no library" >&2
    exit 1
fi

# The package's files are root's (CPack writes the archive so) and 0755/0644.
umask 022
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake -S "$root" -B "$build" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DKALVORA_BUILD_TESTS=OFF -DKALVORA_BUILD_BENCHMARKS=OFF -DKALVORA_SANITIZE=OFF \
    -DKALVORA_INSTALL_SYSTEM_FILES=ON \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kalvora kalvora-callsim kalvora-report package-files

rm -f "$build"/kalvora_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/kalvora_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
    echo "package: CPack made no package in $build" >&2
    exit 1
fi
deb=${debs[0]}

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
if ! grep -Eq '(^|, )libqt6[a-z]+6( |,|$)' <<<"$depends"; then
    echo "package: the Depends line names no Qt library; did dpkg-shlibdeps run?" >&2
    exit 1
fi

mkdir -p "$root/build"
rm -f "$root/build"/kalvora_*.deb
cp "$deb" "$root/build/"
deb="$root/build/$(basename "$deb")"
"$root/scripts/check-package.sh" "$deb" "$build"
echo "package: $deb"

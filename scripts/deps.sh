# Debian packages the project needs, installed on demand.
# Sourced by the other scripts: ensure_packages GROUP...

declare -A KALVORA_PACKAGES=(
    [build]="cmake g++ make pkg-config qt6-base-dev qt6-multimedia-dev libgl-dev libbenchmark-dev libqt6sql6-sqlite libsqlite3-dev libsystemd-dev"
    [test]="iproute2 util-linux fonts-wine qt6-translations-l10n xvfb openbox xdotool x11-utils libqt6sql6-sqlite gdb"
    [demo]="xvfb xauth imagemagick fonts-wine iproute2 util-linux qt6-translations-l10n"
    [desktop]="desktop-file-utils appstream file"
    [package]="dpkg-dev file lintian binutils desktop-file-utils systemd"
    [report]="chromium"
    [install-check]="debootstrap xvfb xauth x11-utils xdotool openbox wmctrl imagemagick iproute2 util-linux"
    [fuzz]="clang libclang-rt-14-dev"
    [unit-check]="systemd xvfb openbox xdotool imagemagick iproute2 util-linux"
    [a11y-check]="xvfb openbox dbus-daemon at-spi2-core python3-pyatspi gir1.2-atspi-2.0 python3-gi iproute2 util-linux"
)

ensure_packages() {
    local missing=() group pkg
    for group in "$@"; do
        for pkg in ${KALVORA_PACKAGES[$group]}; do
            if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
                missing+=("$pkg")
            fi
        done
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    echo "Installing Debian packages: ${missing[*]}"
    local sudo=()
    if [[ $(id -u) -ne 0 ]]; then
        if ! command -v sudo >/dev/null; then
            echo "error: these packages are missing and this user is not root (and there is no sudo): ${missing[*]}" >&2
            return 1
        fi
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Runs a command in a private network namespace with only a loopback
# interface, which also takes broadcasts to 255.255.255.255. Fails (status 125)
# where the system does not allow one; the caller decides what that means.
in_private_network() {
    local flags=(--net)
    [[ $(id -u) -ne 0 ]] && flags+=(--map-root-user)
    if ! unshare "${flags[@]}" true 2>/dev/null; then
        return 125
    fi
    unshare "${flags[@]}" env KALVORA_PRIVATE_NETWORK=1 bash -c '
        ip link set lo up
        ip route add default dev lo 2>/dev/null || true
        exec "$@"' private-network "$@"
}

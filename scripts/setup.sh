#!/usr/bin/env bash
# Shared by scripts/test and scripts/demo: installs the Debian packages that
# are missing (only those), then configures and builds with CMake + Ninja.
set -euo pipefail

TW_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TW_BUILD="${TW_BUILD:-$TW_ROOT/build}"
# Objects are shared between trees of the same layout (work trees, clones).
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$(dirname "$TW_ROOT")}"
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

TW_PACKAGES=(
    g++ cmake ninja-build pkg-config ccache
    # msgfmt compiles the message catalogues; the tests read them with
    # xgettext and msgmerge.
    gettext
    libgtest-dev nlohmann-json3-dev
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
    libswresample-dev libavfilter-dev libavdevice-dev
    qt6-base-dev qt6-translations-l10n
    fonts-wqy-microhei
    # The install test renders the man pages and validates the desktop entry.
    man-db desktop-file-utils
)

tw_missing_packages() {
    local p
    for p in "${TW_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            echo "$p"
        fi
    done
}

tw_install_missing() {
    local missing
    missing=$(tw_missing_packages)
    [ -z "$missing" ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    echo "Installing missing packages:" $missing
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

tw_build() {
    cmake -S "$TW_ROOT" -B "$TW_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    ninja -C "$TW_BUILD"
}

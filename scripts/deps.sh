#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages needed to build, test and run the configurator.
# Only packages that are missing are installed, so a prepared machine needs no network.
#
#   bash scripts/deps.sh            build, tests, sanitizer and fuzz builds
#   bash scripts/deps.sh --xvfb     the same plus Xvfb, for running the window without a display
#   bash scripts/deps.sh --package  the same plus the tools that build and check the .deb
set -euo pipefail

packages=(
    cmake ninja-build g++ ccache       # build (ccache: rebuilds on two cores)
    qt6-base-dev qt6-base-dev-tools    # Qt 6 Core/Network/Widgets/Test, moc (pulls the GL headers Qt6Gui needs)
    qt6-translations-l10n              # Qt's own buttons and dialogs in Russian
    qt6-charts-dev libqt6opengl6-dev   # the trend window (Qt Charts; its CMake package needs Qt6OpenGL)
    clang libclang-rt-14-dev           # fuzz build: libFuzzer and the sanitizer runtimes
    iproute2 util-linux                # ip, unshare: tests run in a private network namespace
    fonts-dejavu-core                  # text for the offscreen platform
    tshark                             # tests decode capture files with the Lua dissector
    poppler-utils libxml2-utils        # tests read the test protocol back (pdftotext) and check JUnit XML (xmllint)
)
for arg in "$@"; do
    case "$arg" in
        --xvfb) packages+=(xvfb xauth) ;;
        # cpack -G DEB with dpkg-shlibdeps (dpkg-dev, file); the checks of the package;
        # setcap for its postinst.
        --package) packages+=(dpkg-dev file lintian desktop-file-utils appstream libcap2-bin) ;;
        *) echo "deps.sh: unknown argument: $arg" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ "$status" == installed ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null; then
    as_root=(sudo)
else
    echo "deps.sh: missing packages ${missing[*]}, and neither root nor sudo is available" >&2
    exit 1
fi

echo "deps.sh: installing ${missing[*]}"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
apt() {
    if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@" >"$log" 2>&1; then
        cat "$log" >&2
        echo "deps.sh: apt-get $1 failed" >&2
        exit 1
    fi
}
apt update -q
apt install -y -q --no-install-recommends "${missing[@]}"

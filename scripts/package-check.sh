#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from the default build (configured and built if it is not there
# yet) and checks it: the files it holds, the desktop entry, the AppStream component, lintian
# (no error), the versions, and an install, a run and a removal on this machine. The run checks
# that an ordinary user's program holds the local telesignal query service's port 956.
# Needs root (dpkg -i) and installs the tools it uses through deps.sh --package.
#
#   bash scripts/package-check.sh
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
package=tavena-configurator

[[ $(id -u) -eq 0 ]] || { echo "package-check.sh: installs the package, so it runs as root" >&2; exit 1; }
bash scripts/deps.sh --package

checks=0
pass() {
    checks=$((checks + 1))
    echo "package-check: ok: $*"
}
fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}

[[ -f build/default/CMakeCache.txt ]] || cmake --preset default >/dev/null
cmake --build --preset default
rm -f build/package/*.deb
cpack --preset package >/dev/null
debs=(build/package/"$package"_*.deb)
[[ -f ${debs[0]} && ${#debs[@]} -eq 1 ]] || fail "cpack made no single ${package}_*.deb in build/package"
deb=$root/${debs[0]}
echo "package-check: $deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # the ordinary user of the run below reads its settings folder here

version_text() { sed -n "s/^#define $1 \"\(.*\)\"$/\1/p" build/default/version/tavenaversion.h; }
app_id=$(version_text TAVENA_APP_ID)
version=$(version_text TAVENA_VERSION)
[[ -n $app_id && -n $version ]] || fail "no version or desktop id in build/default/version/tavenaversion.h"

# The files of the package, exactly.
expected=(
    usr/bin/tavena-configurator
    usr/bin/tavena-cli
    usr/bin/kp-sim
    "usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins/tavena.lua"
    "usr/share/applications/$app_id.desktop"
    "usr/share/metainfo/$app_id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$app_id.svg"
    usr/share/man/man1/tavena-configurator.1.gz
    usr/share/man/man1/tavena-cli.1.gz
    usr/share/man/man1/kp-sim.1.gz
    "usr/share/doc/$package/copyright"
    "usr/share/doc/$package/changelog.gz"
)
dpkg-deb -c "$deb" >"$work/contents"
# "-rwxr-xr-x root/root 297856 2026-12-09 03:16 ./usr/bin/tavena-configurator"
awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' "$work/contents" | sort >"$work/files"
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
if ! diff -u "$work/expected" "$work/files"; then
    fail "the package's files (- expected only, + packaged only)"
fi
pass "holds exactly the ${#expected[@]} expected files"
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$work/contents" ||
    fail "files not owned by root"
awk '$1 !~ /^d/ && $6 ~ /^\.\/usr\/bin\// && $1 != "-rwxr-xr-x" { print; bad = 1 }
     $1 !~ /^d/ && $6 !~ /^\.\/usr\/bin\// && $1 != "-rw-r--r--" { print; bad = 1 }
     $1 ~ /^d/ && $1 != "drwxr-xr-x" { print; bad = 1 } END { exit bad }' "$work/contents" ||
    fail "file modes (programs 0755, other files 0644, folders 0755)"
pass "owned by root, modes 0755 and 0644"

dpkg-deb -x "$deb" "$work/tree"
desktop-file-validate "$work/tree/usr/share/applications/$app_id.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=tavena-configurator d' "$work/tree/usr/share/applications/$app_id.desktop" ||
    fail "the desktop entry has no engineering-mode action starting the program with \"d\""
pass "desktop-file-validate"
appstreamcli validate --no-net "$work/tree/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "appstreamcli validate --no-net"
pass "appstreamcli validate --no-net"

# One version everywhere: CMake's project, the control file, the changelog, the newest release
# of the AppStream component.
control_version=$(dpkg-deb -f "$deb" Version)
changelog_version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
release_version=$(grep -o -m1 '<release version="[^"]*"' "$work/tree/usr/share/metainfo/$app_id.metainfo.xml" |
    cut -d'"' -f2)
[[ $control_version == "$version" && $changelog_version == "$version" && $release_version == "$version" ]] ||
    fail "versions: project $version, package $control_version, changelog $changelog_version, AppStream release $release_version"
pass "version $version in the control file, the changelog and the AppStream releases"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "no dependency on the Qt 6 libraries"
dpkg-deb -f "$deb" Depends | grep -q 'libcap2-bin' || fail "no dependency on libcap2-bin"
pass "depends on $(dpkg-deb -f "$deb" Depends)"

# Every tag is shown; only errors fail.
if ! lintian --display-info --fail-on error "$deb" 2> >(grep -v 'running with root privileges' >&2); then
    fail "lintian reports errors"
fi
pass "lintian: no error"

# Install, run, remove. apt pulls the dependencies that are missing.
if dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed; then
    dpkg -r "$package" >/dev/null
fi
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install $deb"; }
pass "installs"
getcap /usr/bin/tavena-configurator | grep -q 'cap_net_bind_service=ep' ||
    fail "postinst did not grant cap_net_bind_service to /usr/bin/tavena-configurator"
pass "postinst granted $(getcap /usr/bin/tavena-configurator)"
for built in build/default/src/tavena-configurator build/default/src/tavena-cli build/default/sim/kp-sim; do
    program=$(basename "$built")
    want=$("$built" --version)
    got=$(QT_QPA_PLATFORM=offscreen "/usr/bin/$program" --version) || fail "$program --version"
    [[ $got == "$want" ]] || fail "installed $program --version says \"$got\", the build \"$want\""
    pass "$got"
done
help=$(/usr/bin/tavena-cli --help) || fail "tavena-cli --help"
[[ $help == *"Коды выхода"* ]] || fail "tavena-cli --help names no exit codes"
pass "tavena-cli --help"
if command -v man >/dev/null; then
    man -w tavena-configurator tavena-cli kp-sim >/dev/null || fail "man finds no manual page"
    pass "man finds the manual pages"
fi

# An ordinary user's program holds 127.0.0.1:956, in a network namespace of its own. The program
# says on standard error when it cannot bind, but nothing tells when it has bound, so the socket
# table is looked at every 0.1 s, for 10 s at most.
if bash scripts/private-net.sh --check; then
    mkdir -p "$work/user-config"
    chown nobody:nogroup "$work/user-config"
    if ! bash scripts/private-net.sh bash -c '
        XDG_CONFIG_HOME=$1 QT_QPA_PLATFORM=offscreen \
            setpriv --reuid=nobody --regid=nogroup --clear-groups /usr/bin/tavena-configurator \
            2>"$1/stderr" &
        program=$!
        bound=1
        for _ in $(seq 100); do
            if ss -Hlun "sport = :956" | grep -q 127.0.0.1:956; then bound=0; break; fi
            kill -0 $program 2>/dev/null || break
            sleep 0.1
        done
        kill $program 2>/dev/null || true
        wait $program 2>/dev/null || true
        [[ $bound -eq 0 ]] || cat "$1/stderr" >&2
        exit $bound' bash "$work/user-config"; then
        fail "as user nobody the installed program does not hold 127.0.0.1:956 within 10 s"
    fi
    pass "as user nobody the installed program holds 127.0.0.1:956"
else
    echo "package-check: note: no private network namespace here; the port 956 run is skipped"
fi

dpkg -r "$package" >/dev/null || fail "dpkg -r $package"
[[ ! -e /usr/bin/tavena-configurator && ! -e /usr/bin/kp-sim ]] || fail "programs left after dpkg -r"
dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed &&
    fail "still installed after dpkg -r"
pass "removes cleanly"

echo "package-check: all $checks checks passed"

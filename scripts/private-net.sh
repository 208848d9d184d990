#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command inside a private network namespace that holds only loopback, so nothing the
# command sends can leave the machine. Inside it the broadcast to 255.255.255.255 is routed to
# loopback and TAVENA_PRIVATE_NET=1 is exported (the broadcast tests run only when it is set).
# Root uses `unshare -n`; anyone else a user namespace, `unshare -rn`.
#
#   bash scripts/private-net.sh COMMAND [ARGS...]   run COMMAND there (fails if it cannot)
#   bash scripts/private-net.sh --check             exit 0 if this machine allows it
set -euo pipefail
self=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$(basename "${BASH_SOURCE[0]}")

if [[ ${1-} == --inside ]]; then
    shift
    ip link set lo up
    ip route add broadcast 255.255.255.255 dev lo table local scope link src 127.0.0.1
    export TAVENA_PRIVATE_NET=1
    exec "$@"
fi

[[ $# -gt 0 ]] || { echo "usage: private-net.sh COMMAND [ARGS...] | --check" >&2; exit 2; }

ways=("-rn")
[[ $(id -u) -eq 0 ]] && ways=("-n" "-rn")
for way in "${ways[@]}"; do
    if unshare "$way" bash "$self" --inside true 2>/dev/null; then
        [[ $1 == --check ]] && exit 0
        exec unshare "$way" bash "$self" --inside "$@"
    fi
done
[[ $1 == --check ]] && exit 1
echo "private-net.sh: this machine allows no private network namespace (unshare -n / -rn)" >&2
exit 1

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the configurator against the simulated
# controlled point (kp-sim) on loopback. The configurator keeps its settings in
# build/default/demo-config, never in the engineer's own ~/.config.
# Arguments are passed on to the configurator.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

if [[ -z ${DISPLAY-}${WAYLAND_DISPLAY-}${QT_QPA_PLATFORM-} ]]; then
    echo "demo.sh: no display. Without one: bash scripts/deps.sh --xvfb &&" \
        "xvfb-run -a -s '-screen 0 1024x1100x24' bash scripts/demo.sh" >&2
    exit 1
fi

# The simulated adapter answers on 127.0.0.2:9720; the configurator binds 127.0.0.1, so its
# engineering "open socket" on the same port does not collide with the simulator.
adapter_ip=127.0.0.2
port=9720
mac=02:00:00:00:00:01

export XDG_CONFIG_HOME=$PWD/build/default/demo-config
conf=$XDG_CONFIG_HOME/Brantell/TavenaConfig.conf
if [[ ! -f $conf ]]; then
    mkdir -p "$(dirname "$conf")"
    cat >"$conf" <<EOF
[General]
BaseIP.Text=127.0.0.1
BaseIPadapter.Text=$adapter_ip
BasePortD.Text=$port
BaseMacAdapter.Text=$mac
LabeledEdit1.Text=100
EOF
fi

# A sample firmware image for "Загрузить образ", made afresh (never a real block's firmware).
# Every block but ts:1 and tit:2 already runs its version, so after loading it a discovery
# ticks those two as out of date, and after "Перепрограммировать" a discovery ticks none.
version="Tavena sim v1.04"
image=build/default/demo/sample-v1.04.rom
mkdir -p "$(dirname "$image")"
build/default/sim/kp-sim --write-image "$image" --image-version "$version" >/dev/null

# Blocks: telesignals 0 and 1, measurements 2, telecontrol 3 in interlock mode (control type 5)
# and the module test bench: relay k of telecontrol block 0 wired to input k of telesignal
# block 0 through normally closed contacts.
build/default/sim/kp-sim --bind "$adapter_ip" --held-ip "$adapter_ip" --port "$port" --mac "$mac" \
    --relink --blocks ts:0,ts:1,tit:2,tu:0,tu:3 --bench --param tu:3@0=5 \
    --block-version "ts:0,tu:0,tu:3=$version" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true' EXIT
sleep 0.3
kill -0 "$sim" 2>/dev/null || { echo "demo.sh: kp-sim did not start (is port $port taken?)" >&2; exit 1; }

echo "demo.sh: settings in $conf; tick \"Разрешить обмен\" to start the exchange;" \
    "sample firmware image: $image"
build/default/src/tavena-configurator d "$@"

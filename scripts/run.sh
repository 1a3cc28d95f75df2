#!/usr/bin/env bash
# The main job: the updater on the simulated touchpad. Arguments go to the simulator
# (machine options, then --, then the program's own argument text).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/install-deps.sh" build
cmake --preset linux -S "$root" >/dev/null
cmake --build --preset linux --target fwupdate-sim >/dev/null
exec "$root/build/linux/tools/fwupdate-sim" "$@"

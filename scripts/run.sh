#!/usr/bin/env bash
# Installs what building and running need (none of the test tools), builds
# Zarn Bandwidth and starts it.
# Any arguments are passed to the program (for example -startup).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh" --run
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_TESTS=OFF
cmake --build "$root/build" --target zarn-bandwidth
exec "$root/build/zarn-bandwidth" "$@"

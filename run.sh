#!/usr/bin/env bash
# Installs what is missing, builds the editor (release) and starts it with the given arguments.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/scripts/install-deps.sh"
cd "$root"
cmake --preset default >/dev/null
cmake --build --preset default --target movaro-gif >/dev/null
exec "$root/build/default/bin/movaro-gif" "$@"

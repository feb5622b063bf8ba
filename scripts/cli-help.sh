#!/usr/bin/env bash
# Prints the README's command-line section from movaro-gif-cli's own --help texts, so that the two
# never drift apart: scripts/cli-help.sh [path/to/movaro-gif-cli] > section.md
set -euo pipefail
cli="${1:-$(dirname "$0")/../build/default/bin/movaro-gif-cli}"
echo '```'
"$cli" --help
for command in $("$cli" --help | awk '/^Subcommands:/ {on = 1; next} on && NF {print $1}'); do
    echo
    "$cli" "$command" --help
done
echo '```'

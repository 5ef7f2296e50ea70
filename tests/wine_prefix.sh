#!/usr/bin/env bash
# Makes the private Wine prefix of the given build folder ready before the Wine tests share it.
set -euo pipefail
source "$(dirname "$0")/../scripts/wine_env.sh" "$(cd "$1" && pwd)"
wineserver -w
test -f "$WINEPREFIX/system.reg"
echo "Wine prefix ready: $WINEPREFIX ($(wine --version))"

#!/usr/bin/env bash
# Installs what is missing, builds, and starts Certwright in the home folder.
set -euo pipefail
cd "$(dirname "$0")"

# Said before the set-up and the build, which take minutes the first time. --help and
# --version need no display.
needs_display=true
for argument in "$@"; do
    case $argument in
    --help | --version) needs_display=false ;;
    esac
done
if $needs_display && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] &&
    [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Certwright needs a graphical desktop: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    exit 1
fi

tools/setup.sh certwright
program=$PWD/build/certwright
# The wizards offer the working folder as export folder: the home folder, not this checkout.
cd "$HOME"
exec "$program" "$@"

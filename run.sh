#!/usr/bin/env bash
# Installs what is missing, builds, and starts Certwright.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Certwright needs a graphical desktop: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    exit 1
fi
exec build/certwright "$@"

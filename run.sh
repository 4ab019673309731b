#!/usr/bin/env bash
# Installs what is missing, builds, and starts Certwright.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh certwright
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Certwright needs a graphical desktop: no DISPLAY or WAYLAND_DISPLAY is set." >&2
    exit 1
fi
# A display that cannot be reached gets one clear line instead of Qt's page of advice;
# everything else the program writes to standard error (the -DEBUG output) passes through.
exec build/certwright "$@" 2> >(awk '
    /could not connect to display/ {
        print "Certwright cannot open the display \"" ENVIRON["DISPLAY"] "\": is a desktop running there?"
        gone = 1
    }
    !gone { print; fflush() }' >&2)

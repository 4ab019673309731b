#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite offscreen, several tests at a
# time (twice as many as there are processors, since the tests mostly wait for the tool): the
# unit tests first (quick, and a failure there says the most), then every other test.
# Arguments go to ctest instead: `./test.sh -j1` runs every test one after the other,
# `./test.sh -R tst_selfsign` runs one test program.
set -euo pipefail
cd "$(dirname "$0")"
tools/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(($(nproc) * 2))
run=(ctest --test-dir build --output-on-failure --parallel "$((jobs < 2 ? 2 : jobs))")
if [ "$#" -gt 0 ]; then
    "${run[@]}" "$@"
else
    "${run[@]}" -L unit
    "${run[@]}" -LE unit
fi

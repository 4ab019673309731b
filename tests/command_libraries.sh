#!/bin/sh
# A command loads neither Qt Gui nor Qt Widgets, read back from the dynamic loader: the program
# does not need them (ldd), and neither --help of a command nor a real command run loads them
# (LD_DEBUG=libs). A start of the windows does load them, which shows that the reading sees
# them when they are there.
# Usage: command_libraries.sh <program>
set -u
program=$(readlink -f "$1")
work=$(mktemp -d "${TMPDIR:-/tmp}/certwright-libraries.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
windowing='libQt6(Gui|Widgets)[.]so'

needed=$(ldd "$program") || fail "ldd $program: $needed"
echo "$needed" | grep -Eq 'libQt6Core[.]so' || fail "ldd names no Qt Core: $needed"
if echo "$needed" | grep -Eq "$windowing"; then
    fail "the program needs the window libraries: $(echo "$needed" | grep -E "$windowing")"
fi

# The libraries whose start-up code ran in the run of the arguments.
loaded() {
    (cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$work" \
        LD_DEBUG=libs "$program" "$@" 2>&1 >/dev/null </dev/null) | grep 'calling init:'
}
for command in "check --help" "request --help" "renew --list"; do
    # Word splitting of the command is wanted here.
    # shellcheck disable=SC2086
    libraries=$(loaded $command)
    echo "$libraries" | grep -Eq 'libQt6Core[.]so' || fail "certwright $command: no Qt Core seen"
    if echo "$libraries" | grep -Eq "$windowing"; then
        fail "certwright $command loads $(echo "$libraries" | grep -Eo "$windowing" | sort -u)"
    fi
done
loaded | grep -Eq 'libQt6Widgets[.]so' || fail "a start of the windows loads no Qt Widgets"

# The library beside the program is the one loaded, also when it is broken: the start then
# ends with status 1 and says why, instead of taking another or crashing.
mkdir -p "$work/copy/windows"
cp "$program" "$work/copy/certwright"
: >"$work/copy/windows/certwright-windows.so"
said=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "$work/copy/certwright" 2>&1)
status=$?
case $status:$said in
"1:Certwright cannot start its windows: $work/copy/windows/certwright-windows.so"*) ;;
*) fail "a broken library beside the program: status $status, said: $said" ;;
esac

[ "$failures" -eq 0 ] || exit 1
echo "no command loads Qt Gui or Qt Widgets"

#!/bin/sh
# Makes the Debian package of a build folder in a temporary folder, unpacks it and checks what
# a user gets: the program folder, the launcher, the desktop integration, a stripped program,
# the dependencies, and a program that answers --version and --help from the unpacked tree.
# Usage: debian_package.sh <build folder> <version>
set -eu
build=$1
version=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/certwright-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! (cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB" >&2
    exit 1
fi
package=$work/out/certwright_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$package" ]; then
    echo "FAIL: no $(basename "$package"); cpack made: $(ls "$work/out")" >&2
    exit 1
fi
root=$work/root
dpkg-deb -x "$package" "$root"

for file in usr/lib/certwright/license.txt usr/lib/certwright/googlepay.html \
    usr/share/applications/certwright.desktop \
    usr/share/icons/hicolor/scalable/apps/certwright.svg \
    usr/share/metainfo/org.example.certwright.metainfo.xml \
    usr/share/man/man1/certwright.1.gz usr/share/doc/certwright/copyright \
    usr/share/doc/certwright/changelog.gz; do
    [ -f "$root/$file" ] || fail "$file is missing"
done
for program in usr/lib/certwright/certwright usr/bin/certwright; do
    [ -f "$root/$program" ] && [ -x "$root/$program" ] || fail "$program is not an executable file"
done
# The windows' library, loaded from its folder beside the program, which searches no build
# folder once installed.
[ -f "$root/usr/lib/certwright/windows/certwright-windows.so" ] ||
    fail "usr/lib/certwright/windows/certwright-windows.so is missing"
if readelf -d "$root/usr/lib/certwright/certwright" | grep -Eq 'R(UN)?PATH'; then
    fail "the installed program keeps a library search path"
fi

# The link to the tool is relative, as both lie below /usr, and leads to it once installed.
tool=$root/usr/lib/certwright/openssl
if [ ! -L "$tool" ]; then
    fail "usr/lib/certwright/openssl is not a link"
elif [ ! -x "$(realpath -m "/usr/lib/certwright/$(readlink "$tool")")" ]; then
    fail "usr/lib/certwright/openssl points at $(readlink "$tool"), no program from /usr/lib/certwright"
fi

for size in 16 32 48 64 128 256; do
    icon=usr/share/icons/hicolor/${size}x${size}/apps/certwright.png
    case $(file -b "$root/$icon" 2>&1) in
    "PNG image data, $size x $size,"*) ;;
    *) fail "$icon is not a $size x $size PNG picture: $(file -b "$root/$icon" 2>&1)" ;;
    esac
done

sections=$(readelf -S --wide "$root/usr/lib/certwright/certwright" | grep -Eo '\.(symtab|debug_[a-z_]+)' || true)
[ -z "$sections" ] || fail "the program is not stripped; it has" $sections

# Debian's hardening: position-independent, full RELRO (read-only after all is bound at start),
# a stack protector and fortified C library calls.
readelf -hdlW --dyn-syms "$root/usr/lib/certwright/certwright" >"$work/elf"
for mark in 'Type: +DYN' 'FLAGS_1.*Flags:.* NOW' 'GNU_RELRO' ' __stack_chk_fail' ' __[a-z]+_chk@'; do
    grep -Eq "$mark" "$work/elf" || fail "the program is not hardened: readelf finds no '$mark'"
done

depends=$(dpkg-deb -f "$package" Depends)
echo "$depends" | grep -Eq '(^|, )openssl( |,|$)' || fail "Depends lacks openssl: $depends"
echo "$depends" | grep -Eq '(^|, )libqt6[a-z0-9]+( |,|$)' || fail "Depends lacks Qt: $depends"

# The manual page renders without a single complaint from the formatter.
complaints=$(gzip -dc "$root/usr/share/man/man1/certwright.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$complaints" ] || fail "the manual page: $complaints"

# Run as a user would, through the launcher, also through a link to it from elsewhere, and
# without any display: --version and --help must not try to open a window.
mkdir "$work/elsewhere"
ln -s "$root/usr/bin/certwright" "$work/elsewhere/certwright"
for launcher in "$root/usr/bin/certwright" "$work/elsewhere/certwright"; do
    answer=$(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        "$launcher" --version 2>&1) || fail "$launcher --version failed: $answer"
    [ "$answer" = "certwright $version" ] || fail "$launcher --version said: $answer"
done
usage=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/certwright" --help 2>&1) ||
    fail "--help failed: $usage"
case $usage in
"Usage: certwright [-DEBUG]"*--version*) ;;
*) fail "--help said: $usage" ;;
esac

if env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/certwright" --version \
    >/dev/full 2>/dev/null; then
    fail "--version into a full standard output reported success"
fi

# Lintian's errors and warnings count; its note about root and its informative tags do not.
if command -v lintian >/dev/null; then
    findings=$(lintian "$package" 2>&1 | grep -E '^[EW]: ' || true)
    [ -z "$findings" ] || fail "lintian: $findings"
fi

[ "$failures" -eq 0 ] || exit 1
echo "certwright_${version} package checked"

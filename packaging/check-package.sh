#!/bin/sh
# Installs the build into a scratch root and runs the installed program from
# there with no library path set, so only its RUNPATH and the binding's own
# lookup can find the libraries and the telephony service; then builds the
# Debian package and checks what it holds and what it depends on.
# Usage: check-package.sh BUILD_DIR
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >"$scratch/install.log" ||
    { cat "$scratch/install.log"; fail "cmake --install"; }
root=$scratch/root
libdir=$(find "$root/usr/lib" -type d -name zqcomm | head -n 1)
[ -n "$libdir" ] || fail "no private library folder under /usr/lib"
for f in usr/bin/speechdemo usr/bin/zqlines usr/share/applications/speechdemo.desktop \
    usr/share/icons/hicolor/scalable/apps/speechdemo.svg usr/share/man/man1/speechdemo.1 \
    usr/share/man/man1/zqlines.1; do
    [ -e "$root/$f" ] || fail "not installed: /$f"
done
[ -e "$libdir/libtapi32.so" ] || fail "the telephony service is not installed"
grep -q '^Name=Speech Demo$' "$root/usr/share/applications/speechdemo.desktop" || fail "menu name"
# Libraries carry their soname, with the version in the file name.
[ -e "$libdir/libzqkernel.so.0" ] || fail "libzqkernel.so.0 missing"
objdump -p "$libdir/libzqkernel.so.0" | grep -q 'SONAME *libzqkernel.so.0' || fail "libzqkernel soname"
objdump -p "$root/usr/bin/speechdemo" | grep -q 'RUNPATH.*\$ORIGIN/\.\./lib' || fail "speechdemo RUNPATH"

# The installed program, run as a user would: the lines come from the service.
config=$scratch/config
mkdir -p "$config"
listing=$(env -u LD_LIBRARY_PATH -u ZQ_TAPI_LIBRARY -u ZQ_TAPIUI_LIBRARY XDG_CONFIG_HOME="$config" \
    QT_QPA_PLATFORM=offscreen "$root/usr/bin/speechdemo" --list 2>&1) ||
    { echo "$listing"; fail "installed speechdemo --list"; }
echo "$listing" | grep -q "Simulated line" || { echo "$listing"; fail "no simulated lines listed"; }
echo "$listing" | grep -q "English" || { echo "$listing"; fail "no voices listed"; }
env -u LD_LIBRARY_PATH XDG_CONFIG_HOME="$config" "$root/usr/bin/zqlines" >/dev/null 2>&1 ||
    fail "installed zqlines"

# The Debian package, built from the same rules.
(cd "$build" && cpack -G DEB -B "$scratch/package" >"$scratch/cpack.log" 2>&1) ||
    { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(find "$scratch/package" -maxdepth 1 -name '*.deb' | head -n 1)
[ -n "$deb" ] || fail "no package made"
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/speechdemo ./usr/bin/zqlines ./usr/share/applications/speechdemo.desktop \
    ./usr/share/man/man1/speechdemo.1 /zqcomm/libtapi32.so /zqcomm/libzqkernel.so.0; do
    echo "$contents" | grep -q -- "$f" || fail "package lacks $f"
done
info=$(dpkg-deb -I "$deb")
for dep in espeak-ng-data libespeak-ng1 libqt6widgets6 libc6; do
    echo "$info" | grep '^ Depends:' | grep -q "$dep" || { echo "$info"; fail "package does not depend on $dep"; }
done
echo "ok: $(basename "$deb")"

#!/bin/sh
# The Debian package, as a fresh machine gets it: built with cpack from the
# build tree, unpacked into a temporary root (dpkg -x), and the installed
# programs run from there (never from the build tree). Then the launcher, the
# AppStream metainfo and the manual pages are checked with the tools the
# desktop uses.
#   package_test.sh BUILD_DIR SOURCE_DIR VERSION PREFIX
set -eu
build=$1
source=$2
version=$3
prefix=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 ||
  { cat "$tmp/cpack.log" >&2; fail "cpack -G DEB"; }
deb=$(ls "$tmp"/pkg/*.deb)
echo "package: $deb"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6serialport6 libqcustomplot2.1-qt6 qt6-qpa-plugins; do
  echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib"
done

root=$tmp/root
dpkg -x "$deb" "$root"
for f in usr/bin/vst_gse usr/bin/gse_sim usr/share/vst_gse/gse.uir usr/share/vst_gse/demo.dat \
         usr/share/vst_gse/web/index.html usr/share/vst_gse/web/app.js usr/share/vst_gse/web/app.css \
         usr/share/vst_gse/mosquitto/vst_gse-web.conf usr/share/vst_gse/mosquitto/vst_gse-web.acl \
         usr/share/vst_gse/mosquitto/vst_gse-web-stunnel.conf \
         usr/share/doc/vst_gse/README.md usr/share/doc/vst_gse/README.html \
         usr/share/doc/vst_gse/docs/screenshot-1366x768-light.png usr/share/doc/vst_gse/docs/csv.md \
         usr/share/mime/packages/org.vst_gse.vst_gse.xml \
         usr/share/applications/org.vst_gse.vst_gse.desktop \
         usr/share/metainfo/org.vst_gse.vst_gse.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/org.vst_gse.vst_gse.svg \
         usr/share/icons/hicolor/48x48/apps/org.vst_gse.vst_gse.png \
         usr/share/icons/hicolor/256x256/apps/org.vst_gse.vst_gse.png \
         usr/share/man/man1/vst_gse.1.gz usr/share/man/man1/gse_sim.1.gz; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done

out=$("$root/usr/bin/vst_gse" --version)
[ "$out" = "vst_gse $version" ] || fail "--version said '$out'"
out=$("$root/usr/bin/gse_sim" --version)
[ "$out" = "gse_sim $version" ] || fail "gse_sim --version said '$out'"

# The programs are installed stripped.
for p in vst_gse gse_sim; do
  ! readelf -S "$root/usr/bin/$p" | grep -q '\.debug_info' || fail "/usr/bin/$p is not stripped"
done

# Every file the operator guide shows or names under docs/ (pictures, pages,
# the example event script) is in the package beside it.
for file in $(grep -o 'docs/[A-Za-z0-9_./-]*\.[a-z]*' "$root/usr/share/doc/vst_gse/README.md" | grep -v '\.sh$' | sort -u); do
  [ -e "$root/usr/share/doc/vst_gse/$file" ] || fail "the guide names $file, which the package lacks"
done
[ -e "$root/usr/share/doc/vst_gse/docs/examples/events.txt" ] || fail "the package lacks the example event script"

# Recordings have a MIME type of the station's own; the launcher claims
# that, not every unknown binary file.
mime=$tmp/mime
mkdir -p "$mime/packages"
cp "$root/usr/share/mime/packages/org.vst_gse.vst_gse.xml" "$mime/packages/"
update-mime-database "$mime" || fail "update-mime-database"
grep -q 'application/x-vst-gse-recording:\*\.dat' "$mime/globs2" || fail "no *.dat glob for the recordings' type"
launcher=$root/usr/share/applications/org.vst_gse.vst_gse.desktop
grep -q '^MimeType=application/x-vst-gse-recording;$' "$launcher" || fail "the launcher's MimeType"
grep -q '^Exec=vst_gse --launcher %f$' "$launcher" || fail "the launcher's Exec"

# The demo, headless, from a folder with no panel file: the installed
# program finds its own, beside bin/ in share/vst_gse.
mkdir "$tmp/work"
cd "$tmp/work"
"$root/usr/bin/vst_gse" --headless --speed 0 --trace trace.jsonl "$source/data/demo.dat" >out.txt 2>err.txt ||
  { cat out.txt err.txt >&2; fail "the installed vst_gse did not play the demo"; }
# (The build's own prefix is the program's last resort: it must not hold a
# panel file, or this run would not show that the installed one is found.)
[ ! -e "$prefix/share/vst_gse/gse.uir" ] || echo "note: $prefix/share/vst_gse/gse.uir exists too"
frames=$(grep -c '"op":"SetCtrlVal"' trace.jsonl || true)
[ "$frames" -gt 0 ] || fail "the demo showed nothing"

desktop-file-validate "$root/usr/share/applications/org.vst_gse.vst_gse.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.vst_gse.vst_gse.metainfo.xml" || fail "appstreamcli validate"
for page in vst_gse gse_sim; do
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >"$tmp/$page.txt") ||
    fail "man -l $page.1"
  [ -z "$warnings" ] || { echo "$warnings" >&2; fail "man -l $page.1 warned"; }
  grep -q -- "--port" "$tmp/$page.txt" || fail "$page.1 renders without its options"
done
# vst_gse(1) names every option --help names, and no placeholder.
for opt in $("$root/usr/bin/vst_gse" --help | grep -o '^  -[-a-z, ]*-[a-z-]*' | grep -o -- '--[a-z-]*'); do
  grep -q -- "$opt" "$tmp/vst_gse.txt" || fail "vst_gse.1 lacks $opt"
done
! grep -q 'PREFIX/share\|%DATADIR%\|%DOCDIR%\|%OPTIONS%\|vst_gse\.conf\|@' "$tmp/vst_gse.txt" || fail "vst_gse.1 has a placeholder or a wrong file name"
grep -q '/usr/share/vst_gse/demo.dat' "$tmp/vst_gse.txt" || fail "vst_gse.1 does not name the demo"
grep -q 'vst_gse.ini' "$tmp/vst_gse.txt" || fail "vst_gse.1 does not name the settings file"
grep -q -- '--launcher' "$tmp/vst_gse.txt" || fail "vst_gse.1 lacks --launcher" 
echo "package test passed"

#!/usr/bin/env bash
# Packs the build the tests run on, unpacks the package into a temporary root and
# checks what a user installs: binary, desktop entry, icon, software-centre entry and
# manual page, the entries valid and the run-time dependencies declared.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(ls "$work"/out/vocalith_*.deb)
dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/vocalith usr/share/applications/vocalith.desktop \
  usr/share/icons/hicolor/scalable/apps/vocalith.svg \
  usr/share/metainfo/com.vocalith.vocalith.metainfo.xml usr/share/man/man1/vocalith.1; do
  [ -s "$work/root/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
desktop-file-validate "$work/root/usr/share/applications/vocalith.desktop"
appstreamcli validate --no-net --pedantic "$work/root/usr/share/metainfo/com.vocalith.vocalith.metainfo.xml"
grep -q '^\.SH' "$work/root/usr/share/man/man1/vocalith.1"
grep -q 'vocalith transcribe' "$work/root/usr/share/man/man1/vocalith.1"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in pocketsphinx-en-us qt6-qpa-plugins libqt6widgets6 libpocketsphinx3 libcurl4; do
  grep -q "$needed" <<<"$depends" || { echo "not in Depends: $needed ($depends)"; exit 1; }
done
echo "package ok: $(basename "$deb")"

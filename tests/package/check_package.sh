#!/usr/bin/env bash
# check_package.sh DEB VERSION SOURCE_DIR: checks the Debian package of Quorvel. The files it
# installs, all under /usr; its control fields with the Depends that dpkg-shlibdeps computed; no
# trace of the source or build tree in its data files; the desktop entry and AppStream metadata
# through their validators; lintian without errors (among them files not owned by root; its
# warnings are printed). Exits 77 (skipped) when the package has not been built.
set -uo pipefail
deb=$1 version=$2 source=$3
if [ ! -f "$deb" ]; then
  echo "$deb is not built; scripts/package builds it"
  exit 77
fi
status=0
fail() { echo "FAIL: $*"; status=1; }

listing=$(dpkg-deb -c "$deb")
paths=$(awk '{print $NF}' <<<"$listing")
expected=(./usr/bin/quorvel ./usr/share/quorvel/sonabel-mac-native_sonabel-mac-native.bundle/ui.html
  ./usr/share/applications/quorvel.desktop ./usr/share/metainfo/app.quorvel.Quorvel.metainfo.xml
  ./usr/share/icons/hicolor/scalable/apps/quorvel.svg ./usr/share/doc/quorvel/{README.md,copyright,changelog.gz}
  ./usr/share/icons/hicolor/{16x16,22x22,24x24,32x32,48x48,64x64,128x128,256x256}/apps/quorvel.png)
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$paths" || fail "the package lacks $path"
done
stray=$(awk '!/^\.\/(usr\/.*)?$/ || /CMake|\.cmake$|\.o$|\.a$|\/build\/|\.in$/' <<<"$paths")
[ -z "$stray" ] || fail "files outside /usr or left from the build: $stray"

[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in pocketsphinx-en-us libc6 libstdc++6 libgtk-3-0 libwebkit2gtk-4.1-0 libpulse0 \
    libcurl4 libpocketsphinx3; do
  grep -qE "(^|, )${needed//+/\\+}( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
traces=$(grep -rlF "$source" "$root/usr/share")
[ -z "$traces" ] || fail "files naming the source or build tree $source: $traces"
desktop-file-validate "$root/usr/share/applications/quorvel.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/app.quorvel.Quorvel.metainfo.xml" ||
  fail "AppStream metadata"

lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1)
echo "$lintian_out"
! grep -q '^E: ' <<<"$lintian_out" || fail "lintian reports errors"
exit $status

#!/bin/bash
# Builds the Debian package from the build tree and checks what a user would get from it.
# Arguments: cpack, the build folder, the version, 1 when the tree has the k9update front end.
set -eu
cpack=$1 build=$2 version=$3 cli=$4
out=$(mktemp -d) && trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log"; fail cpack; }
deb=$(ls "$out"/k9updater_"$version"_*.deb) || fail "no k9updater_${version}_<arch>.deb"
contents=$(dpkg-deb --contents "$deb" | awk '{print substr($6, 2)}')

expected="/etc/k9updater.conf /usr/bin/k9updater /usr/share/k9updater/K9DownloadInstructions.rtf
  /usr/share/k9updater/UserGuide.rtf /usr/share/applications/k9updater.desktop
  /usr/share/icons/hicolor/scalable/apps/k9updater.svg /usr/share/man/man1/k9updater.1.gz
  /usr/share/metainfo/com.quillmark.k9updater.metainfo.xml
  /usr/share/doc/k9updater/copyright /usr/share/doc/k9updater/changelog.gz"
for size in 16 24 32 48 64 128 256; do
    expected+=" /usr/share/icons/hicolor/${size}x$size/apps/k9updater.png"
done
[ "$cli" = 1 ] && expected+=" /usr/bin/k9update /usr/share/man/man1/k9update.1.gz"
for path in $expected; do
    grep -qxF "$path" <<<"$contents" || fail "$path is not in the package"
done
# Only /etc and /usr, never /usr/local, the build tree or the tools.
stray=$(grep -vE '^/(etc|usr)(/|$)' <<<"$contents"; grep -E '^/usr/local|k9sim|demo' <<<"$contents") &&
    fail "the package holds $stray"
dpkg-deb -I "$deb" conffiles | grep -qxF /etc/k9updater.conf || fail "k9updater.conf not a conffile"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends lacks the libraries"

dpkg-deb -x "$deb" "$out/root"
appstreamcli validate --no-net "$out"/root/usr/share/metainfo/*.xml || fail "metainfo not valid"
desktop-file-validate "$out"/root/usr/share/applications/*.desktop || fail "desktop entry not valid"
# No display, no Qt platform: only the package's PATH.
shown=$(env -i PATH="$out/root/usr/bin:/usr/bin:/bin" k9updater --version) || fail "--version failed"
[ "$shown" = "k9updater $version" ] || fail "--version printed \"$shown\""
# The window without a graphical session: one line saying so and what to use instead.
said=$(env -i PATH="$out/root/usr/bin:/usr/bin:/bin" k9updater 2>&1) && fail "no display, exit 0"
[ $? = 1 ] || fail "no display: exit code not 1"
grep -q 'needs a graphical session.*k9update does the same update' <<<"$said" ||
    fail "no display said \"$said\""
echo "package $(basename "$deb") passes"

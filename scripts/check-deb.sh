#!/usr/bin/env bash
# Checks the Debian package `make deb` built in BUILD/packages: its file list,
# its control fields, stripped binaries with their symbols apart, and the
# verdicts of lintian, desktop-file-validate and appstreamcli. Nothing is
# installed on this machine.
set -euo pipefail
build=${1:-build}
deb=$(ls "$build"/packages/lyr-manager_*.deb)
ls "$build"/packages/lyr-manager-dbgsym_*.ddeb >/dev/null
fail() { echo "check-deb: $*" >&2; exit 1; }

list=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for path in /usr/bin/lyr-manager /usr/bin/lyrctl \
  /usr/lib/udev/rules.d/70-lyr-recorder.rules \
  /usr/share/applications/lyr-manager.desktop \
  /usr/share/icons/hicolor/scalable/apps/lyr-manager.svg \
  /usr/share/icons/hicolor/48x48/apps/lyr-manager.png \
  /usr/share/icons/hicolor/256x256/apps/lyr-manager.png \
  /usr/share/metainfo/example.c_seed_5321c849.LyrManager.metainfo.xml \
  /usr/share/man/man1/lyrctl.1.gz /usr/share/man/man1/lyr-manager.1.gz \
  /usr/share/doc/lyr-manager/copyright /usr/share/doc/lyr-manager/changelog.gz \
  /usr/share/bash-completion/completions/lyrctl /usr/share/zsh/vendor-completions/_lyrctl \
  /usr/lib/systemd/system/lyrctl-ingest.service; do
  grep -qx "$path" <<<"$list" || fail "$path is missing"
done
if grep -E 'lyr-emu|lyr-burn-emu|screenshots|_tests' <<<"$list"; then fail "test tools are in the package"; fi

[ "$(dpkg-deb -f "$deb" Package)" = lyr-manager ] || fail "wrong package name"
dpkg-deb -f "$deb" Version | grep -qE '^[0-9]+\.[0-9]+\.[0-9]+' || fail "no version"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no shared-library dependencies"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree"
for program in lyr-manager lyrctl; do
  file "$tree/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
done
desktop-file-validate "$tree/usr/share/applications/lyr-manager.desktop"
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb"
echo "check-deb: $(basename "$deb") is complete"

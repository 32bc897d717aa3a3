#!/usr/bin/env bash
# Builds the .deb packages and checks them as a user meets them: lintian without errors, the
# AppStream and desktop-entry validators, `apt-get install` of zapum on this machine, the installed
# /usr/bin/zapum run black-box in the private test desktop (signed out it shows the account panel;
# a zapum: URL opened with xdg-open reaches it), and its removal leaving no file behind.
# Installing needs root or password-less sudo; without either the check says so and passes.
#   tests/package/check-package.sh [BUILD_DIR]      (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

say() { printf 'package: %s\n' "$*"; }
fail() {
  printf 'package: FAILED: %s\n' "$*" >&2
  exit 1
}

# Polls a quiet condition every 0.1 s for up to 30 s; WHAT names it for the failure message.
wait_until() {
  local what=$1 i
  shift
  for ((i = 0; i < 300; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  fail "no $what within 30 s"
}

# The part that runs inside scripts/test-session.sh: the installed app, black-box.
if [ "${1:-}" = --in-session ]; then
  log=$HOME/zapum.log
  /usr/bin/zapum >"$log" 2>&1 &
  app=$!
  # Each condition also gives up at once when the app has ended.
  running() { kill -0 "$app" 2>/dev/null || fail "/usr/bin/zapum ended: $(tail -n 5 "$log")"; }
  logged() { running && grep -qF "$1" "$log"; }
  window_shown() { running && xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
  wait_until "'account panel shown' in the app's log" logged 'account panel shown'
  wait_until "visible window 'ZaPum account'" window_shown '^ZaPum account$'
  ! grep -q 'companion online' "$log" || fail "signed out, yet the companion came online"
  say "installed zapum starts signed out and shows the account window"
  xdg-open 'zapum://auth/callback?code=x&state=y' || fail "xdg-open could not hand over a zapum: URL"
  wait_until "'URL handed over' in the running app's log" logged 'URL handed over, scheme "zapum"'
  say "xdg-open zapum://auth/callback?… reached the running app; its log: $(grep -m1 'URL handed over' "$log")"
  kill -TERM "$app"
  wait "$app" || fail "the app did not quit cleanly on SIGTERM"
  exit 0
fi

dir=$(realpath -m "${1:-$root/build}")
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    say "skipped: installing a package needs root or password-less sudo"
    exit 0
  fi
  as_root=(sudo -n)
fi
apt_get() { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=120 "$@"; }

if dpkg-query -W -f='${Status}' zapum 2>/dev/null | grep -q 'install ok installed'; then
  say "skipped: zapum is already installed on this machine, and the check would replace and remove it"
  exit 0
fi

work=$(mktemp -d)
installed=false
cleanup() {
  $installed && apt_get remove zapum >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

mapfile -t debs < <("$root/scripts/package.sh" "$dir")
app_deb=$(printf '%s\n' "${debs[@]}" | grep -E '(^|/)zapum_[^/]*\.deb$') || true
dev_deb=$(printf '%s\n' "${debs[@]}" | grep -E '(^|/)zapum-devserver_[^/]*\.deb$') || true
[ -n "$app_deb" ] && [ -n "$dev_deb" ] || fail "cpack made '${debs[*]}', not zapum and zapum-devserver"
for deb in "$app_deb" "$dev_deb"; do
  say "$(basename "$deb"): $(stat -c %s "$deb" | numfmt --to=iec-i --suffix=B), installed $(dpkg-deb -f "$deb" Installed-Size) KiB"
  say "  Depends: $(dpkg-deb -f "$deb" Depends)"
  # dpkg-shlibdeps never names a -dev package; a hand-written name that does is a build-only one.
  ! dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -qE -- '-dev( |$)' || fail "$(basename "$deb") depends on a -dev package"
done

lintian_out=$work/lintian.txt
status=0
lintian --fail-on error "$app_deb" "$dev_deb" >"$lintian_out" 2>&1 || status=$?
say "lintian: $(grep -c '^E:' "$lintian_out" || true) errors, $(grep -c '^W:' "$lintian_out" || true) warnings"
# (CI runs as root, which lintian only advises against.)
sed -e '/running with root privileges/d' -e 's/^/  /' "$lintian_out"
[ "$status" -eq 0 ] || fail "lintian reports errors (above)"

dpkg-deb -x "$app_deb" "$work/root"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/app.zapum.ZaPum.metainfo.xml" >"$work/appstream.txt" 2>&1 ||
  fail "appstreamcli validate: $(cat "$work/appstream.txt")"
say "AppStream metadata valid"
desktop-file-validate "$work/root/usr/share/applications/zapum.desktop" || fail "desktop-file-validate (above)"
grep -qx 'MimeType=x-scheme-handler/zapum;' "$work/root/usr/share/applications/zapum.desktop" ||
  fail "the desktop entry does not claim zapum: URLs"
say "desktop entry valid"
for size in 48 128 256; do
  png=$work/root/usr/share/icons/hicolor/${size}x${size}/apps/zapum.png
  [ "$(identify -format '%wx%h' "$png" 2>/dev/null)" = "${size}x${size}" ] || fail "no ${size}x${size} icon at ${png#"$work/root"}"
done
[ -s "$work/root/usr/share/icons/hicolor/scalable/apps/zapum.svg" ] || fail "no scalable icon"
say "icons: scalable SVG and 48, 128, 256 px PNGs"
cmp -s "$root/resources/bee/bee-runtime.glb" "$work/root/usr/share/zapum/bee/bee-runtime.glb" ||
  fail "the bee's model is not /usr/share/zapum/bee/bee-runtime.glb"
say "the bee's model in /usr/share/zapum/bee"

say "installing $(basename "$app_deb") with apt-get"
apt_get install --reinstall "$app_deb" >"$work/apt.log" 2>&1 || fail "apt-get install: $(tail -n 5 "$work/apt.log")"
installed=true
dpkg -L zapum | while read -r path; do [ -d "$path" ] || echo "$path"; done >"$work/files"
say "installed $(wc -l <"$work/files") files"
grep -q '^x-scheme-handler/zapum=.*zapum.desktop' /usr/share/applications/mimeinfo.cache ||
  fail "the system MIME cache does not send zapum: URLs to zapum.desktop"
say "system MIME cache: x-scheme-handler/zapum -> zapum.desktop"

expected="zapum $(dpkg-query -W -f='${Version}' zapum)"
version=$(env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/zapum --version) || fail "zapum --version exited with $?"
[ "$version" = "$expected" ] || fail "zapum --version printed '$version', expected '$expected'"
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/zapum --help | grep -q -- --autostart || fail "zapum --help does not list --autostart"
say "without a display: zapum --version prints '$version', --help lists the options"

"$root/scripts/test-session.sh" "$0" --in-session

apt_get remove zapum >"$work/apt.log" 2>&1 || fail "apt-get remove: $(tail -n 5 "$work/apt.log")"
installed=false
left=()
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done < <(cat "$work/files"; printf '%s\n' /usr/share/zapum /usr/share/doc/zapum)
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
! grep -q 'zapum.desktop' /usr/share/applications/mimeinfo.cache || fail "the MIME cache still names zapum.desktop"
say "removed: no file left behind, the MIME cache no longer names zapum.desktop"

#!/usr/bin/env bash
# Checks what a user gets: installs the build into a temporary DESTDIR and
# validates the launcher, the file-manager actions and the metainfo there,
# makes sure the install never makes Punchlet a folder handler, builds the
# Debian package and checks its fields, contents and lintian's verdict, then
# unpacks the package and punches the samples with the program from its
# installed place: directly, through the launcher as a desktop starts it with
# dropped files, and through each file-manager action. Last, what a terminal
# shows: the batch's list of copies on stdout and the line for arguments that
# hold no picture.
# Usage: tools/check-install.sh [BUILD_DIR]   (default: build, already built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check-install: $*" >&2
  exit 1
}

echo "== install into a temporary DESTDIR"
DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr >/dev/null
root="$work/destdir/usr"
desktop="$root/share/applications/punchlet.desktop"
metainfo=$(echo "$root"/share/metainfo/*.metainfo.xml)
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
grep -qx 'Exec=punchlet %F' "$desktop" || fail "the launcher does not pass dropped files"
grep -qx 'MimeType=image/jpeg;image/bmp;' "$desktop" || fail "MIME types"
grep -qx 'Name=Punchlet' "$desktop" || fail "the launcher's default name is not Punchlet"
grep -qx 'Name\[ja\]=ぱんちれっと' "$desktop" || fail "no Japanese name"
servicemenu="$root/share/kio/servicemenus/punchlet-punch.desktop"
nemo_action="$root/share/nemo/actions/punchlet.nemo_action"
for action in "$servicemenu" "$nemo_action"; do
  grep -qx 'Name\[ja\]=ぱんちれっとでパンチ' "$action" || fail "$action has no Japanese name"
  grep -qE '^Mime[Tt]ypes?=image/jpeg;image/bmp;inode/directory;$' "$action" ||
    fail "$action does not offer itself for pictures and folders"
done
for size in 16 22 24 32 48 64 128 256; do
  [ -s "$root/share/icons/hicolor/${size}x${size}/apps/punchlet.png" ] || fail "no ${size}px icon"
done
python3 -c 'import sys, xml.etree.ElementTree as e; sys.exit(e.parse(sys.argv[1]).getroot().tag != "{http://www.w3.org/2000/svg}svg")' \
  "$root/share/icons/hicolor/scalable/apps/punchlet.svg" || fail "no scalable icon"
gzip -t "$root/share/man/man1/punchlet.1.gz"
[ -x "$root/bin/punchlet" ] || fail "no program in bin/"

# Opening a folder must never punch it: on a desktop with no folder handler
# the installed tree may not become the default for folders. GLib skips
# launchers whose program is not on PATH, hence the PATH.
echo "== default handlers after install"
cp -R "$root/share" "$work/xdg"
update-desktop-database "$work/xdg/applications"
mkdir -p "$work/xdg-home" "$work/xdg-config"
xdg_env=(env PATH="$root/bin:$PATH" XDG_DATA_DIRS="$work/xdg" XDG_DATA_HOME="$work/xdg-home"
  XDG_CONFIG_HOME="$work/xdg-config" XDG_CONFIG_DIRS="$work/xdg-config")
# Only the launcher registers types, and only the two picture types.
[ "$(grep -h punchlet "$work"/xdg/applications/mimeinfo.cache)" = \
  "$(printf '%s\n' image/bmp=punchlet.desktop\; image/jpeg=punchlet.desktop\;)" ] ||
  fail "unexpected registrations: $(grep -h punchlet "$work"/xdg/applications/mimeinfo.cache)"
folders=$("${xdg_env[@]}" gio mime inode/directory)
! grep -q punchlet <<<"$folders" || fail "installing made Punchlet a folder handler: $folders"
jpeg=$("${xdg_env[@]}" gio mime image/jpeg)
grep -q 'Default application.*punchlet.desktop' <<<"$jpeg" || fail "JPEG files: $jpeg"

echo "== Debian package"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/punchlet_*.deb | head -n 1)
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Section)" = graphics ] || fail "section is $(field Section)"
depends=$(field Depends)
for needed in 'fonts-ipafont-gothic | fonts-japanese-gothic' libqt6widgets6 libjpeg62-turbo libc6; do
  grep -qF "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done
[ "$(field Recommends)" = qt6-wayland ] || fail "Recommends is $(field Recommends)"
[ "$(field Version)" = 0.1.0-1 ] || fail "version $(field Version) has no Debian revision"
# Lintian as a distribution reviewer runs it: any error or warning fails, and
# so do the informational hardening and stripping tags.
lintian_log=$(timeout 120 lintian --display-info --pedantic "$deb" 2>&1) || fail "lintian: $lintian_log"
! grep -qE '^[EW]: |hardening-|unneeded-section' <<<"$lintian_log" || fail "lintian: $lintian_log"
[ -n "$(field Description)" ] || fail "no description"
# The package holds exactly what the install rules put in place.
(cd "$work/destdir" && find . -type f | sort) >"$work/installed"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$work/packaged"
diff -u "$work/installed" "$work/packaged" || fail "package and install differ"
echo "$(basename "$deb"): $(wc -l <"$work/packaged") files; Depends: $depends"

echo "== the packaged program punches the samples"
dpkg-deb -x "$deb" "$work/unpacked"
program="$work/unpacked/usr/bin/punchlet"
mkdir -p "$work/config" "$work/direct" "$work/launched"
cp -R samples/. "$work/direct/"
rm -f "$work/direct/SOURCES.md"
cp -R "$work/direct/." "$work/launched/"
pictures=$(find "$work/direct" -type f | wc -l)
# No display: batch mode on Qt's offscreen platform.
run_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config")
"${run_env[@]}" "$program" "$work/direct" >"$work/listed" || fail "the batch failed"
written=$(find "$work/direct" -name '加工済_*.jpg' | wc -l)
[ "$written" -eq "$pictures" ] || fail "$written outputs for $pictures pictures"
for output in $(find "$work/direct" -name '加工済_*.jpg'); do
  [ "$(head -c 2 "$output" | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "$output is no JPEG"
done

# The launcher, started the way a desktop starts it when files and a folder
# are dropped on it: its Exec line with the paths for %F, the program found
# on PATH. It runs detached, so wait for its outputs.
dropped=("$work"/launched/*)
PATH="$work/unpacked/usr/bin:$PATH" "${run_env[@]}" \
  gio launch "$work/unpacked/usr/share/applications/punchlet.desktop" "${dropped[@]}"
count_launched() { find "$work/launched" -name '加工済_*.jpg' | wc -l; }
for _ in $(seq 1 150); do
  [ "$(count_launched)" -eq "$pictures" ] && break
  sleep 0.2
done
[ "$(count_launched)" -eq "$pictures" ] || fail "the launcher punched $(count_launched) of $pictures"

# The file-manager actions: their Exec lines with the selection for %F, the
# service menu given the whole folder, the Nemo action its items.
run_action() {
  local exec words=() args=()
  exec=$(sed -n 's/^Exec=//p' "$1")
  read -ra words <<<"$exec"
  for word in "${words[@]}"; do
    if [ "$word" = %F ]; then args+=("${@:2}"); else args+=("$word"); fi
  done
  PATH="$work/unpacked/usr/bin:$PATH" "${run_env[@]}" "${args[@]}" >/dev/null
}
for action in "$servicemenu" "$nemo_action"; do
  selected="$work/$(basename "$action")"
  mkdir "$selected"
  cp -R "$work/launched/." "$selected/"
  find "$selected" -name '加工済_*' -delete
  if [ "$action" = "$servicemenu" ]; then
    run_action "$work/unpacked/usr${action#"$root"}" "$selected" || fail "$action failed"
  else
    run_action "$work/unpacked/usr${action#"$root"}" "$selected"/* || fail "$action failed"
  fi
  made=$(find "$selected" -name '加工済_*.jpg' | wc -l)
  [ "$made" -eq "$pictures" ] || fail "$(basename "$action") punched $made of $pictures"
done
echo "installed tree: $written outputs from the program, $pictures through the launcher" \
  "and through each file-manager action"

# What a terminal user and a script read. The batch above listed its copies on
# stdout: exactly the files written, each once, whatever the path's spelling.
echo "== what a terminal shows"
listed=$(while IFS= read -r line; do realpath -e -- "$line" || echo "missing: $line"; done \
  <"$work/listed" | sort)
found=$(find "$work/direct" -name '加工済_*.jpg' -exec realpath -- {} + | sort)
[ "$listed" = "$found" ] || fail "the batch listed on stdout:
$(cat "$work/listed")
but wrote:
$found"
# Arguments that yield no picture: one line on stderr, status 0; an argument
# that looks like an option gets a hint that it was taken as a path.
mkdir "$work/png-only"
cp "$work/direct/加工済_dune-landscape.jpg" "$work/png-only/dune.png"
none='punchlet: no BMP or JPEG file found in the arguments (see punchlet(1))'
for arguments in "$work/png-only" "--help $work/png-only"; do
  # shellcheck disable=SC2086 # the arguments are split on purpose
  said=$("${run_env[@]}" "$program" $arguments 2>&1 >/dev/null) || fail "$arguments: status $?"
  [ "$(wc -l <<<"$said")" -eq 1 ] || fail "$arguments: not one line: $said"
  case "$arguments" in
    -*) [[ "$said" == "${none%% (*}"*path* && "$said" != "$none" ]] ||
      fail "$arguments: no word on the option: $said" ;;
    *) [ "$said" = "$none" ] || fail "$arguments: said $said" ;;
  esac
done
[ -z "$(find "$work/png-only" -name '加工済_*')" ] || fail "a PNG was punched"
echo "stdout listed the $written copies; no picture: $none"

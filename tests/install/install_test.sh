#!/usr/bin/env bash
# Installs a build into a scratch root as `cmake --install` with DESTDIR does
# and checks what a desktop sees there: exactly the expected files, a valid
# desktop entry and metainfo, and the KBX type found by name and by content.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR gui|headless SAMPLE_ARCHIVE
set -uo pipefail
build=$1 source=$2 kind=$3 sample=$4

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1; then
  cat "$root.log"; rm -f "$root.log"; echo "FAIL: cmake --install"; exit 1
fi
rm -f "$root.log"
share=$root/usr/share

# Every installed file, and nothing else.
expected=(usr/bin/kbx)
[ -f "$source/cli/kbx.1" ] && expected+=(usr/share/man/man1/kbx.1.gz)
[ -f "$source/cli/kbx.bash-completion" ] && expected+=(usr/share/bash-completion/completions/kbx)
if [ "$kind" = gui ]; then
  expected+=(usr/bin/quillmere usr/share/man/man1/quillmere.1.gz
    usr/share/applications/org.example.Quillmere.desktop
    usr/share/metainfo/org.example.Quillmere.metainfo.xml
    usr/share/mime/packages/quillmere-kbx.xml
    usr/share/icons/hicolor/scalable/apps/quillmere.svg)
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/quillmere.png")
  done
fi
want=$(printf '%s\n' "${expected[@]}" | sort)
have=$(cd "$root" && find . -type f -printf '%P\n' | sort)
if [ "$want" != "$have" ]; then
  fail "installed files differ from the expected list:"
  diff <(echo "$want") <(echo "$have") | sed -n 's/^[<>]/  &/p'
fi
for program in "${expected[@]}"; do
  case $program in usr/bin/*) [ -x "$root/$program" ] || fail "$program is not executable" ;; esac
done
"$root/usr/bin/kbx" list "$sample" >/dev/null || fail "the installed kbx cannot list the sample"
for page in "$root"/usr/share/man/man1/*.gz; do
  gzip -dc "$page" | grep -q '^\.TH ' || fail "$page is not a manual page"
done
[ "$kind" = gui ] || { [ "$failures" -eq 0 ]; exit; }

# The installed window answers on a terminal without a display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/quillmere" --version \
  | grep -qx 'Quillmere 1.1' || fail "quillmere --version"

# The desktop's validators.
desktop=$share/applications/org.example.Quillmere.desktop
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --no-net --pedantic "$share/metainfo/org.example.Quillmere.metainfo.xml" 2>&1) \
  || fail "appstreamcli validate: $out"
for key in 'Name[ru]' 'Comment[ru]' Name Comment; do
  awk -F= -v k="$key" '$1 == k { found = 1 } END { exit !found }' "$desktop" \
    || fail "the desktop entry has no $key"
done
grep -qx 'Icon=quillmere' "$desktop" || fail "the desktop entry names another icon"
grep -qx 'MimeType=application/x-kbx;' "$desktop" || fail "the desktop entry offers another type"

# The file type, from the installed tree only: by the *.kbx name, and by the
# signature for a file whose name says nothing.
XDG_DATA_DIRS=$share update-mime-database "$share/mime" || fail "update-mime-database"
update-desktop-database "$share/applications" || fail "update-desktop-database"
grep -q '^application/x-kbx=org.example.Quillmere.desktop;' "$share/applications/mimeinfo.cache" \
  || fail "the desktop database does not offer Quillmere for KBX archives"
files=$root/files
mkdir -p "$files"
cp "$sample" "$files/sample.kbx"
cp "$sample" "$files/renamed"
cp "$sample" "$files/renamed.bin"
printf 'GEEK\0\2\0\0 not this format' >"$files/other"
printf 'plain words\n' >"$files/words.txt"
while read -r name type; do
  got=$(XDG_DATA_DIRS="$share:/usr/share" XDG_DATA_HOME="$root/nohome" \
    gio info -a standard::content-type "$files/$name" | sed -n 's/^ *standard::content-type: //p')
  case $type in
    !*) [ "$got" != "${type#!}" ] || fail "$name is taken for ${type#!}" ;;
    *) [ "$got" = "$type" ] || fail "$name: $got, expected $type" ;;
  esac
done <<'TABLE'
sample.kbx application/x-kbx
renamed application/x-kbx
renamed.bin application/x-kbx
other !application/x-kbx
words.txt text/plain
TABLE

[ "$failures" -eq 0 ]

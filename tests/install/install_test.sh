#!/usr/bin/env bash
# tree: installs a build into a scratch root as `cmake --install` with DESTDIR
# does and checks what a desktop sees there: exactly the expected files, a
# valid desktop entry and metainfo, the licence and changelog, and the KBX type
# found by name and by content; then installs it again without DESTDIR into a
# scratch prefix, as `sudo cmake --install` into /usr/local does, and checks
# that the desktop knows the type from that prefix alone.
# package: makes the build's Debian package with cpack and checks it with
# lintian; exits 77 (skipped) after the other checks when lintian is missing.
# Usage: install_test.sh tree|package BUILD_DIR SOURCE_DIR gui|headless SAMPLE_ARCHIVE HARDENED
set -uo pipefail
mode=$1 build=$2 source=$3 kind=$4 sample=$5 hardened=$6

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
if [ "$kind" = gui ]; then package=quillmere; else package=quillmere-cli; fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$build/CMakeCache.txt")

# The package a packager makes: its name and synopsis (each package its own),
# its programs stripped of the compiler's .comment notes, and lintian's view:
# no error or warning, and, in a build with the distribution's hardening, no
# missing hardening feature either.
package_checks() {
  local deb log tags
  if ! log=$(cpack -G DEB -B "$root/out" --config "$build/CPackConfig.cmake" 2>&1); then
    printf '%s\n' "$log"; fail "cpack"; return
  fi
  deb=$root/out/${package}_${version}_$(dpkg --print-architecture).deb
  [ -f "$deb" ] || { fail "no $deb"; ls "$root/out"; return; }
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "the package is not named $package"
  local synopsis
  synopsis=$(dpkg-deb -f "$deb" Description | head -n1)
  case $package:$synopsis in
    "quillmere:View, extract and unpack the KBX archives of Velmorra") ;;
    "quillmere-cli:Command-line tool for the KBX archives of Velmorra") ;;
    *) fail "$package's synopsis: $synopsis" ;;
  esac
  dpkg-deb -x "$deb" "$root/unpacked"
  for program in "$root"/unpacked/usr/bin/*; do
    readelf -S --wide "$program" | grep -q ' \.comment ' && fail "${program##*/} keeps its .comment section"
  done
  if ! command -v lintian >/dev/null; then
    echo "SKIP: lintian is not installed; $package was built and checked without it"
    [ "$failures" -eq 0 ] && exit 77
    return
  fi
  log=$(lintian -EvIL +pedantic --tag-display-limit 0 "$deb" 2>&1)
  tags=$(grep -E '^[EW]: ' <<<"$log")
  [ "$hardened" = 1 ] && tags+=$(grep -E '^I: .* hardening-' <<<"$log")
  if [ -n "$tags" ]; then
    fail "lintian on $package:"; printf '%s\n' "$log"
  fi
}
if [ "$mode" = package ]; then
  package_checks
  [ "$failures" -eq 0 ]; exit
fi

# A staged install leaves the desktop's caches alone, the system's included:
# the cache tools it would find first only record that they were called.
stubs=$(mktemp -d)
trap 'rm -rf "$root" "$stubs"' EXIT
for tool in update-mime-database update-desktop-database gtk-update-icon-cache; do
  printf '#!/bin/sh\necho "%s $*" >>"%s/called"\n' "$tool" "$stubs" >"$stubs/$tool"
  chmod +x "$stubs/$tool"
done
if ! PATH=$stubs:$PATH DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1; then
  cat "$root.log"; rm -f "$root.log"; echo "FAIL: cmake --install"; exit 1
fi
rm -f "$root.log"
[ ! -e "$stubs/called" ] || fail "a staged install ran: $(cat "$stubs/called")"
share=$root/usr/share

# Every installed file, and nothing else.
expected=(usr/bin/kbx usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz)
[ "$hardened" = 1 ] && expected+=(usr/share/lintian/overrides/$package)
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

# The licence and the changelog, in Debian's form: a machine-readable
# copyright file whose MIT text is the LICENSE's, and a changelog whose
# newest entry is this version.
copyright=$root/usr/share/doc/$package/copyright
head -n1 "$copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  || fail "the copyright file is not machine-readable"
licence=$(awk '/^Files: \*$/ { f = 1 } f && /^License: / { print $2; exit }' "$copyright")
[ "$licence" = MIT ] || fail "the copyright file gives the sources' licence as '$licence'"
words() { tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
body=$(awk 'BEGIN { RS = "" } sub(/^License: MIT\n/, "")' "$copyright" | sed 's/^ //; s/^\.$//' | words)
full=$(words <"$source/LICENSE")
[ -n "$body" ] && [[ $full == *"$body"* ]] || fail "the copyright file's MIT text is not the LICENSE's"
grep -q "Copyright (c) 2026 The Quillmere developers" "$source/LICENSE" || fail "LICENSE names another holder"
changelog=$(gzip -dc "$root/usr/share/doc/$package/changelog.gz") || fail "changelog.gz"
for field in Source:quillmere "Version:$version"; do
  got=$(dpkg-parsechangelog -l- -S "${field%%:*}" <<<"$changelog" 2>&1)
  [ "$got" = "${field#*:}" ] || fail "the changelog's ${field%%:*}: $got, expected ${field#*:}"
done
[ "$kind" = gui ] || { [ "$failures" -eq 0 ]; exit; }

# The installed window answers on a terminal without a display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/usr/bin/quillmere" --version \
  | grep -qx 'Quillmere 1.1' || fail "quillmere --version"

# The desktop's validators.
desktop=$share/applications/org.example.Quillmere.desktop
out=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$out" ] || fail "desktop-file-validate: $out"
metainfo=$share/metainfo/org.example.Quillmere.metainfo.xml
out=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
grep -qx "  <project_license>$licence</project_license>" "$metainfo" \
  || fail "the metainfo's licence is not the copyright file's ($licence)"
grep -m1 '<release ' "$metainfo" | grep -q "version=\"$version\"" \
  || fail "the metainfo's newest release is not $version"
for key in 'Name[ru]' 'Comment[ru]' Name Comment; do
  awk -F= -v k="$key" '$1 == k { found = 1 } END { exit !found }' "$desktop" \
    || fail "the desktop entry has no $key"
done
grep -qx 'Icon=quillmere' "$desktop" || fail "the desktop entry names another icon"
grep -qx 'MimeType=application/x-kbx;' "$desktop" || fail "the desktop entry offers another type"

# Each PNG is as large as its folder says; the small ones have drawings of
# their own, at their own size.
for size in 16 22 24 32 48 64 128 256; do
  file "$share/icons/hicolor/${size}x${size}/apps/quillmere.png" | grep -q ", $size x $size," \
    || fail "the ${size}x${size} icon is not $size pixels square"
  [ "$size" -le 32 ] || continue
  grep -q "width=\"$size\" height=\"$size\" viewBox=\"0 0 $size $size\"" \
    "$source/data/icons/hicolor/${size}x${size}/quillmere.svg" 2>/dev/null \
    || fail "the ${size}x${size} icon has no drawing of its own at that size"
done

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

# A plain install (no DESTDIR) into a prefix: the desktop knows a *.kbx file
# from that prefix alone, and offers Quillmere for it.
prefix=$root/local
if ! log=$(env -u DESTDIR cmake --install "$build" --prefix "$prefix" 2>&1); then
  printf '%s\n' "$log"; fail "cmake --install --prefix"
fi
got=$(XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$root/nohome" GIO_USE_VFS=local \
  gio info -a standard::content-type "$files/sample.kbx" | sed -n 's/^ *standard::content-type: //p')
[ "$got" = application/x-kbx ] || fail "after a plain install, sample.kbx is $got"
grep -qs '^application/x-kbx=org.example.Quillmere.desktop;' "$prefix/share/applications/mimeinfo.cache" \
  || fail "a plain install leaves the desktop database without Quillmere for KBX archives"
if command -v gtk-update-icon-cache >/dev/null; then
  [ -f "$prefix/share/icons/hicolor/icon-theme.cache" ] || fail "a plain install leaves no icon cache"
fi

[ "$failures" -eq 0 ]

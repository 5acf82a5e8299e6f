#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks what a desktop and a
# package manager see: every file in its place and nothing else, a valid
# desktop entry and metainfo, icons of the size their folder names, the help
# page where the window looks for it, compressed readable manual pages, the
# bash completion where bash-completion looks, each package's copyright and
# changelog under share/doc/<package>, a working lumivane-cli that keeps its
# settings in the user's configuration folder, a window program that answers
# --help and --version without a display; then builds the two Debian packages
# and checks that each unpacks to its share of the same layout with its
# dependencies and fields filled in, lumivane-cli's naming no Qt library.
#
# install_test.sh BUILD_DIR SOURCE_DIR APP_ID VERSION CMAKE CPACK
set -euo pipefail

build=$1 source=$2 id=$3 version=$4 cmake=$5 cpack=$6
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

icon_sizes=(16 24 32 48 64 128 256)
# The files of each package, relative to the prefix.
cli_files=(
  bin/lumivane-cli
  share/man/man1/lumivane-cli.1.gz
  share/bash-completion/completions/lumivane-cli
  share/doc/lumivane-cli/copyright
  share/doc/lumivane-cli/changelog.gz
)
app_files=(
  bin/lumivane
  "share/applications/$id.desktop"
  "share/metainfo/$id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$id.svg"
  share/man/man1/lumivane.1.gz
  share/doc/lumivane/help.html
  share/doc-base/lumivane.lumivane
  share/doc/lumivane/copyright
  share/doc/lumivane/changelog.gz
)
for n in "${icon_sizes[@]}"; do
  app_files+=("share/icons/hicolor/${n}x$n/apps/$id.png")
done

# Width and height from a PNG's header, as "W H".
png_size() {
  od -An -tu1 -j16 -N8 "$1" |
    awk '{ printf "%d %d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}

# Exactly the files named after the root, none other.
check_files() {
  local root=$1
  shift
  local want have
  want=$(printf '%s\n' "$@" | LC_ALL=C sort)
  have=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
  [ "$want" = "$have" ] ||
    fail "$root holds other files than expected:"$'\n'"$(diff <(echo "$want") <(echo "$have") || true)"
}

# What lumivane-cli's share of a prefix holds, each file of its kind.
check_cli_layout() {
  local root=$1
  [ -x "$root/bin/lumivane-cli" ] || fail "$root/bin/lumivane-cli is not executable"
  check_man_page "$root" lumivane-cli
  check_package_docs "$root" lumivane-cli
  grep -Eq '^ *complete -F _lumivane_cli lumivane-cli$' "$root/share/bash-completion/completions/lumivane-cli" ||
    fail "the bash completion registers no completion for lumivane-cli"
}

check_man_page() {
  local man="$1/share/man/man1/$2.1.gz"
  gzip -t "$man" 2>/dev/null || fail "$man is not gzip-compressed"
  gzip -cd "$man" | grep -q "^\.TH $(echo "$2" | tr a-z A-Z) 1 " || fail "$man has no title line"
}

# share/doc/<package>: the machine-readable copyright file and the
# compressed changelog, whose latest entry is this version.
check_package_docs() {
  local doc="$1/share/doc/$2"
  cmp -s "$source/packaging/copyright" "$doc/copyright" || fail "$doc/copyright differs from packaging/copyright"
  head -1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$doc/copyright is not in the machine-readable format"
  grep -qx 'License: GPL-3+' "$doc/copyright" || fail "$doc/copyright names no GPL-3+ licence"
  gzip -cd "$doc/changelog.gz" >"$work/changelog" || fail "$doc/changelog.gz is not gzip-compressed"
  [ "$(dpkg-parsechangelog -l "$work/changelog" -S Version)" = "$version" ] ||
    fail "$doc/changelog.gz's latest entry is not $version"
}

# The layout under one prefix: exactly the expected files, each of its kind.
check_layout() {
  local root=$1
  check_files "$root" "${cli_files[@]}" "${app_files[@]}"
  check_cli_layout "$root"
  check_app_layout "$root"
}

check_app_layout() {
  local root=$1
  [ -x "$root/bin/lumivane" ] || fail "$root/bin/lumivane is not executable"
  check_man_page "$root" lumivane
  check_package_docs "$root" lumivane
  for n in "${icon_sizes[@]}"; do
    local icon="$root/share/icons/hicolor/${n}x$n/apps/$id.png"
    [ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$icon is no PNG"
    [ "$(png_size "$icon")" = "$n $n" ] || fail "$icon is $(png_size "$icon"), not $n x $n"
  done
  grep -q '<svg' "$root/share/icons/hicolor/scalable/apps/$id.svg" || fail "the scalable icon is no SVG"
  cmp -s "$source/docs/help.html" "$root/share/doc/lumivane/help.html" || fail "the installed help page differs"
}

# ---- install
"$cmake" --install "$build" --prefix "$work/prefix" >"$work/install.log" ||
  fail "cmake --install failed: $(cat "$work/install.log")"
prefix=$work/prefix
check_layout "$prefix"

desktop=$prefix/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
grep -qx 'Exec=lumivane %F' "$desktop" || fail "Exec line"
grep -qx "Icon=$id" "$desktop" || fail "Icon line"
grep -qx 'MimeType=image/jpeg;image/bmp;image/tiff;' "$desktop" || fail "MimeType line"
grep -q '^Categories=.*Graphics;' "$desktop" && grep -q '^Categories=.*Photography;' "$desktop" ||
  fail "Categories line"

metainfo=$prefix/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $metainfo"
! grep -q '@[A-Z_]*@' "$metainfo" || fail "unfilled placeholder in $metainfo"
grep -q "<id>$id</id>" "$metainfo" || fail "metainfo id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launchable"
grep -q "<release version=\"$version\" date=\"[0-9]\{4\}-[0-9][0-9]-[0-9][0-9]\"" "$metainfo" ||
  fail "metainfo release $version"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$metainfo" || fail "metainfo project licence"

if command -v man >/dev/null; then
  for page in lumivane lumivane-cli; do
    warnings=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
  done
fi

out=$("$prefix/bin/lumivane-cli" --version) || fail "the installed lumivane-cli --version failed"
[ "$out" = "lumivane-cli $version" ] || fail "the installed lumivane-cli says '$out'"

# The window answers --help and --version without a display and refuses an
# unknown option with status 2.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/lumivane" --version) ||
  fail "the installed lumivane --version needed a display"
[ "$out" = "lumivane $version" ] || fail "the installed lumivane says '$out'"
env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/lumivane" --help | grep -q '^Usage: lumivane \[--mask FILE\] \[PHOTO...\]$' ||
  fail "lumivane --help"
status=0
err=$(QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" "$prefix/bin/lumivane" --bogus 2>&1 >/dev/null) || status=$?
[ "$status" = 2 ] && [[ "$err" == *"unknown option '--bogus'"* ]] || fail "lumivane --bogus: status $status, '$err'"

# An installed program keeps its settings in the user's configuration folder
# (the build tree's marker beside the programs is not installed, see
# check_layout): lumivane-cli reads $XDG_CONFIG_HOME/lumivane/defaults.ini.
config=$work/config
photo=$source/tests/data/samples/exif/ianare_DSCN0010.jpg
status=0
err=$(XDG_CONFIG_HOME="$config" "$prefix/bin/lumivane-cli" --quiet --out "$work/corrected" "$photo" 2>&1) ||
  status=$?
[ "$status" = 2 ] && [[ "$err" == *"no $config/lumivane/defaults.ini"* ]] ||
  fail "lumivane-cli without stored settings: status $status, '$err'"
[ ! -e "$work/corrected" ] || fail "lumivane-cli made its output folder without a mask"
mkdir -p "$config/lumivane"
printf '25\r\n60\r\n90\r\n%s\r\n' "$source/tests/data/masks/flat_field_640x480.tif" >"$config/lumivane/defaults.ini"
XDG_CONFIG_HOME="$config" "$prefix/bin/lumivane-cli" --quiet --out "$work/corrected" "$photo" ||
  fail "lumivane-cli with the stored mask in $config/lumivane failed"
[ -s "$work/corrected/ianare_DSCN0010.jpg" ] || fail "lumivane-cli wrote no corrected photograph"
[ "$(ls -A "$prefix/bin" | LC_ALL=C sort | tr '\n' ' ')" = "lumivane lumivane-cli " ] ||
  fail "a program wrote into $prefix/bin: $(ls -A "$prefix/bin")"

# ---- Debian packages
mkdir "$work/pack"
(cd "$work/pack" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/pack") \
  >"$work/cpack.log" 2>&1 || fail "cpack failed: $(cat "$work/cpack.log")"
debs=("$work"/pack/*.deb)
arch=$(dpkg --print-architecture)
[ "${debs[*]}" = "$work/pack/lumivane-cli_${version}_$arch.deb $work/pack/lumivane_${version}_$arch.deb" ] ||
  fail "cpack made ${debs[*]}"

# check_package DEB NAME: the fields every package has.
check_package() {
  deb=$1
  [ "$(field Package)" = "$2" ] || fail "Package: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "$2 Version: $(field Version)"
  [ "$(field Section)" = graphics ] || fail "$2 Section: $(field Section)"
  [[ "$(field Maintainer)" == *'<'*'@'*'>' ]] || fail "$2 Maintainer: $(field Maintainer)"
  # No line of the description is longer than 80 characters.
  [ -z "$(field Description | awk 'length > 80')" ] || fail "$2 has description lines over 80 characters"
  rm -rf "$work/unpacked"
  dpkg -x "$deb" "$work/unpacked"
}
field() { dpkg-deb -f "$deb" "$1"; }

check_package "${debs[0]}" lumivane-cli
depends=$(field Depends)
for library in libc6 libjpeg62-turbo libtiff6; do
  [[ "$depends" == *"$library"* ]] || fail "lumivane-cli Depends lacks $library: $depends"
done
[[ "${depends,,}" != *qt* ]] || fail "lumivane-cli depends on Qt: $depends"
check_files "$work/unpacked/usr" "${cli_files[@]}"
check_cli_layout "$work/unpacked/usr"

check_package "${debs[1]}" lumivane
depends=$(field Depends)
for library in libc6 libqt6widgets6 libjpeg62-turbo libtiff6 "lumivane-cli (= $version)"; do
  [[ "$depends" == *"$library"* ]] || fail "lumivane Depends lacks $library: $depends"
done
check_files "$work/unpacked/usr" "${app_files[@]}"
check_app_layout "$work/unpacked/usr"
echo "install layout and packages: ok"

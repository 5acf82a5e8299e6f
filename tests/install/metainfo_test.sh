#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The metainfo as packaging/metainfo.cmake writes it, without and with a home
# page: valid for appstreamcli either way, the home page and screenshots only
# when one is given (under it, whatever slashes end it), an address that is no
# http(s) address refused.
#
# metainfo_test.sh CMAKE SOURCE_DIR APP_ID VERSION
set -euo pipefail

cmake=$1 source=$2 id=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# write OUT [HOMEPAGE]: the metainfo for this version into OUT.
write() {
  "$cmake" -DLUMIVANE_APP_ID="$id" -DPROJECT_VERSION="$version" -DLUMIVANE_RELEASE_DATE=2026-12-08 \
    -DLUMIVANE_PROJECT_LICENSE=GPL-3.0-or-later -DLUMIVANE_HOMEPAGE="${2:-}" \
    -DLUMIVANE_METAINFO_OUT="$1" -P "$source/packaging/metainfo.cmake"
}

plain=$work/plain.xml
write "$plain" >"$work/log" 2>&1 || fail "metainfo.cmake without a home page: $(cat "$work/log")"
appstreamcli validate --no-net "$plain" || fail "appstreamcli rejects the metainfo without a home page"
! grep -q '<url\|<screenshot\|@' "$plain" || fail "a home page, screenshot or placeholder without LUMIVANE_HOMEPAGE"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$plain" || fail "no SPDX project licence"
grep -q '<metadata_license>CC0-1.0</metadata_license>' "$plain" || fail "no SPDX metadata licence"

# Rows: the home page given, the address the metainfo names.
while read -r given home; do
  web=$work/web.xml
  write "$web" "$given" >"$work/log" 2>&1 || fail "metainfo.cmake with $given: $(cat "$work/log")"
  appstreamcli validate --no-net "$web" || fail "appstreamcli rejects the metainfo with $given"
  grep -qx "  <url type=\"homepage\">$home</url>" "$web" || fail "$given: no home page $home"
  [ "$(grep -c '<screenshot type="default">' "$web")" = 1 ] || fail "$given: not one default screenshot"
  for shot in main_window before_after; do
    grep -q "<image>$home/screenshots/$shot.png</image>" "$web" || fail "$given: no screenshot $shot under $home"
  done
  ! grep -q '@' "$web" || fail "$given: unfilled placeholder"
done <<'ROWS'
https://lumivane.example.org https://lumivane.example.org
https://example.org/lumivane/ https://example.org/lumivane
http://example.org/photo-tools/lumivane// http://example.org/photo-tools/lumivane
ROWS

for bad in example.org/lumivane "ftp://example.org" "https://example.org/a b"; do
  if write "$work/bad.xml" "$bad" >"$work/log" 2>&1; then
    fail "metainfo.cmake accepted the home page '$bad'"
  fi
  grep -q 'LUMIVANE_HOMEPAGE must be an http(s) address' "$work/log" || fail "'$bad': $(cat "$work/log")"
done
echo "metainfo: ok"

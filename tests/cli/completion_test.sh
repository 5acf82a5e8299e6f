#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The bash completion of lumivane-cli, run through bash-completion's own
# helpers as an interactive shell would: every option the program's --help
# lists is offered, folders where a folder is wanted, photographs (any case of
# their suffix) where photographs are wanted, the choices of --quality and
# --turns, nothing for a number.
#
# completion_test.sh COMPLETION_FILE LUMIVANE_CLI
set -euo pipefail

completion=$1 cli=$2
bash_completion=/usr/share/bash-completion/bash_completion
[ -r "$bash_completion" ] || { echo "FAIL: $bash_completion is missing (package bash-completion)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/files/shoot" "$work/files/masks"
ln -s "$cli" "$work/bin/lumivane-cli"
touch "$work/files/"{a.jpg,b.JPEG,c.tif,d.TIFF,e.bmp,notes.txt,my.ini}
PATH="$work/bin:$PATH"
cd "$work/files"

# bash-completion expects an interactive shell's settings.
set +eu +o pipefail
# shellcheck disable=SC1090
source "$bash_completion"
source "$completion"

failures=0
# complete LINE: the words offered for the command line LINE (the cursor at
# its end; a trailing blank starts a new, empty word), sorted, one line.
complete_line() {
  local line=$1
  read -r -a COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  _lumivane_cli lumivane-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//'
}
expect() {
  local line=$1 want=$2 have
  have=$(complete_line "$line")
  if [ "$have" != "$want" ]; then
    echo "FAIL: '$line' completes to '$have', expected '$want'" >&2
    failures=$((failures + 1))
  fi
}

# Every option of --help (the first word of each option line) is offered.
listed=$(lumivane-cli --help | grep -oE '^  --[a-z-]+' | sed 's/^ *//'; echo --version)
offered=" $(complete_line 'lumivane-cli --') "
for option in $listed; do
  [[ $offered == *" $option "* ]] || { echo "FAIL: $option is not offered: $offered" >&2; failures=$((failures + 1)); }
done
[[ $offered == *" --out "* && $offered == *" --mask-folder "* ]] || { echo "FAIL: no options offered" >&2; failures=$((failures + 1)); }

# Rows: command line, words expected.
expect 'lumivane-cli --mask-f' '--mask-folder'
expect 'lumivane-cli --out ' 'masks shoot'
expect 'lumivane-cli --out=' 'masks shoot'
expect 'lumivane-cli --mask-folder s' 'shoot'
expect 'lumivane-cli --mask ' 'a.jpg b.JPEG c.tif d.TIFF e.bmp masks shoot'
expect 'lumivane-cli --settings ' 'masks my.ini shoot'
expect 'lumivane-cli --quality ' 'bmp'
expect 'lumivane-cli --turns ' '0 1 2 3'
expect 'lumivane-cli --strength ' ''
expect 'lumivane-cli --out shoot ' 'a.jpg b.JPEG c.tif d.TIFF e.bmp masks shoot'
expect 'lumivane-cli --out shoot -- -' ''
expect 'lumivane-cli --quiet --out shoot d' 'd.TIFF'

if [ "$failures" -ne 0 ]; then
  echo "$failures completion check(s) failed" >&2
  exit 1
fi
echo "bash completion: ok"

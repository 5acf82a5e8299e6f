#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file of the project names its licence in its first two lines
# (the second after a shebang), so a file copied out of the tree keeps it.
#   licence_test.sh <source folder>
set -euo pipefail
top="$1"
missing=()
while IFS= read -r -d '' f; do
  head -n 2 "$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later' || missing+=("${f#"$top"/}")
done < <(find "$top" \( -path "$top/build*" -o -path "$top/tests/data" -o -path "$top/.git" \) -prune -o \
           -type f \( -name '*.cpp' -o -name '*.h' -o -name 'CMakeLists.txt' -o -name '*.cmake' \
           -o -name '*.py' -o -name '*.sh' \) -print0)
for f in scripts/setup scripts/run scripts/test scripts/fuzz scripts/package scripts/screenshot bench/run .ci/run; do
  head -n 2 "$top/$f" | grep -q 'SPDX-License-Identifier: GPL-3.0-or-later' || missing+=("$f")
done
if [ ${#missing[@]} -gt 0 ]; then
  printf 'no licence line in: %s\n' "${missing[@]}" >&2
  exit 1
fi
echo "every source file names its licence"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's recipe for many machines, run as written with GNU parallel and
# rsync. Only the hosts change, and --ssh points at a stand-in that runs each
# "remote" command in a folder of its own per host on this machine (no
# network). Two hosts, two photographs of one base name in different folders,
# a name with a blank, and stale results left on both hosts by an
# interrupted run: every result must come back, byte for byte what one local
# batch writes.
#
# parallel_recipe_test.sh README LUMIVANE_CLI SAMPLES_DIR
set -euo pipefail

readme=$(realpath "$1") cli=$(realpath "$2") samples=$(realpath "$3")
for tool in parallel rsync; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (Debian package $tool, see scripts/setup)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The recipe as the README has it, between its markers, without the fences.
sed -n '/^<!-- parallel recipe/,/^<!-- end parallel recipe -->/p' "$readme" | sed '/^<!--/d; /^```/d' >"$work/recipe.sh"
grep -q 'parallel' "$work/recipe.sh" || fail "no recipe between the markers in $readme"
# Two stand-in hosts instead of the README's, reached through the stand-in.
sed -E -i 's#--sshlogin [^ ]+#--sshlogin 1/host1,1/host2#; s#\| parallel #| parallel --ssh "$LUMIVANE_SSH_STANDIN" #' \
  "$work/recipe.sh"
grep -q -- '--sshlogin 1/host1,1/host2' "$work/recipe.sh" || fail "the recipe names no --sshlogin"
grep -q -- '--ssh "$LUMIVANE_SSH_STANDIN"' "$work/recipe.sh" || fail "the recipe does not start with find ... | parallel"

# The stand-in for ssh: options, a host, then the command a remote shell
# would run, here run by bash in the host's own folder (its home), with
# lumivane-cli on its PATH as an installed package would be. Like sshd it
# sets HOME and SHELL (the login shell): GNU parallel's remote worker runs
# each job with $SHELL, and a CI runner may have no SHELL of its own.
mkdir -p "$work/bin" "$work/hosts"
ln -s "$cli" "$work/bin/lumivane-cli"
cat >"$work/ssh-standin" <<'EOF'
#!/usr/bin/env bash
while [ $# -gt 0 ]; do
  case $1 in
    -[bcDEeFIiJLlmOopQRSWw]) shift 2 ;;
    --) shift; break ;;
    -*) shift ;;
    *) break ;;
  esac
done
host=$1; shift
[ "${1-}" = -- ] && shift
home=$LUMIVANE_STANDIN_HOSTS/$host
mkdir -p "$home"
echo "$host $*" >>"$LUMIVANE_STANDIN_HOSTS/commands.log"
cd "$home" && HOME=$home SHELL=/bin/bash PATH=$LUMIVANE_STANDIN_BIN:$PATH exec bash -c "$*"
EOF
chmod +x "$work/ssh-standin"

# The shoot, the mask and the settings (the exact method, so a host that did
# not get lumivane.ini would write other bytes).
cd "$work"
mkdir -p shoot/a shoot/b
cp "$samples/exif/exiftool_Casio.jpg" shoot/a/X.jpg
cp "$samples/exif/exiftool_Pentax.jpg" shoot/b/X.jpg
cp "$samples/exif/ianare_Canon_DIGITAL_IXUS_400.jpg" "shoot/b/with blank.JPG"
cp "$samples/exif/exiftool_Olympus.jpg" shoot/top.jpg
cp "$samples/exif/exiftool_Minolta.jpg" shoot/a/more.jpg
cp "$samples/exif/exiftool_Sanyo.jpg" flat_f8.jpg
printf '30\r\n40\r\n85\r\nnone\r\n' >defaults.ini
printf 'method=exact\r\ncolour=falloff\r\n' >lumivane.ini
# Results of an interrupted earlier run, left on both hosts.
for host in host1 host2; do
  mkdir -p "hosts/$host/corrected/shoot/a" "hosts/$host/corrected/shoot/b"
  echo stale >"hosts/$host/corrected/shoot/a/X.jpg"
  echo stale >"hosts/$host/corrected/shoot/b/X.jpg"
done

export LUMIVANE_SSH_STANDIN=$work/ssh-standin LUMIVANE_STANDIN_HOSTS=$work/hosts LUMIVANE_STANDIN_BIN=$work/bin
# The local machine has no lumivane-cli: every photograph must go out.
status=0
bash -e recipe.sh 2>recipe.err || status=$?
[ "$status" -eq 0 ] || { cat recipe.err >&2; fail "the recipe exited with status $status"; }

# One local batch of the same photographs, the tree mirrored.
"$cli" --verbose --recursive --settings defaults.ini --mask flat_f8.jpg --out local shoot 2>local.err || status=$?
[ "$status" -eq 0 ] || { cat local.err >&2; fail "the local batch exited with status $status"; }

# What a mismatch needs to be understood from a CI log alone: both files'
# sizes and first difference, and which of the two the same photograph
# corrected alone here (as a host runs it) agrees with.
explain() {
  local name=$1 returned=corrected/$1 local_out=local/${1#shoot/} source=$1
  [ -f "$source" ] || source=${name%.jpg}.JPG
  echo "returned: $(wc -c <"$returned") bytes, $(head -c 16 "$returned" | od -An -tx1 | tr -s ' ')" >&2
  echo "local:    $(wc -c <"$local_out") bytes; first difference: $(cmp "$returned" "$local_out" 2>&1 | head -1)" >&2
  mkdir -p alone
  "$cli" --verbose --jobs 1 --overwrite --settings defaults.ini --mask flat_f8.jpg --out alone "$source" 2>&1 | sed 's/^/alone: /' >&2
  local alone_out
  alone_out=alone/$(basename "$local_out")
  cmp -s "$alone_out" "$returned" && echo "the photograph corrected alone equals the returned file" >&2
  cmp -s "$alone_out" "$local_out" && echo "the photograph corrected alone equals the local batch's file" >&2
  grep -F "$name" local.err | sed 's/^/local batch: /' >&2
  echo "recipe stderr: $(tr '\n' ' ' <recipe.err)" >&2
}

expected=("shoot/a/X.jpg" "shoot/a/more.jpg" "shoot/b/X.jpg" "shoot/b/with blank.jpg" "shoot/top.jpg")
for name in "${expected[@]}"; do
  [ -f "corrected/$name" ] || fail "corrected/$name did not come back: $(cat recipe.err)"
  [ -f "local/${name#shoot/}" ] || fail "the local batch wrote no local/${name#shoot/}: $(cat local.err)"
  cmp -s "corrected/$name" "local/${name#shoot/}" || { explain "$name"; fail "corrected/$name differs from the local run"; }
done
have=$(cd corrected && find . -type f | sort | tr '\n' ' ')
want=$(printf './%s\n' "${expected[@]}" | sort | tr '\n' ' ')
[ "$have" = "$want" ] || fail "corrected holds '$have', expected '$want'"
for host in host1 host2; do
  grep -q "^$host .*perl" hosts/commands.log || fail "no job ran on $host"
done
echo "parallel recipe: ${#expected[@]} results back from two hosts, each as the local run writes it"

#!/usr/bin/env bash
# Resource limits of the Release build, from outside the process:
#  - very compressible valid photos are punched, crafted multi-scan files are
#    refused, each within 5 s and 600 MB;
#  - under an address-space limit of 100 to 300 MB every batch ends within
#    30 s, finishing or exiting 1 or 2 with a message on stderr.
# Usage: tools/check-limits.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/punchlet
[ -x "$program" ] || { echo "no $program: build it first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
failed=0

timeout 120 python3 tools/hostile_jpegs.py "$work/files" >/dev/null
small=samples/dune-landscape.jpg

# A batch of the file and a small photo: prints status, seconds and peak KiB.
run_pair() {
  local dir=$1 file=$2
  rm -rf "$dir" && mkdir -p "$dir"
  cp "$file" "$small" "$dir/"
  set +e
  timeout 60 /usr/bin/time -f '%e %M' -o "$dir.time" "$program" "$dir/$(basename "$file")" \
    "$dir/$(basename "$small")" >/dev/null 2>"$dir.err"
  local status=$?
  set -e
  echo "$status $(tail -n 1 "$dir.time")"
}

echo "file                                  status  seconds  peak MB"
for file in "$work"/files/*.jpg; do
  name=$(basename "$file" .jpg)
  read -r status seconds kib < <(run_pair "$work/run" "$file")
  mb=$((kib / 1024))
  printf '%-38s %6s %8s %8s\n' "$name" "$status" "$seconds" "$mb"
  case $name in
    crafted-*) want=1 ;;
    *) want=0 ;;
  esac
  if [ "$status" != "$want" ] || awk -v s="$seconds" 'BEGIN { exit !(s > 5) }' || [ "$mb" -gt 600 ]; then
    echo "  expected status $want within 5 s and 600 MB"; cat "$work/run.err"; failed=1
  fi
  if [ "$want" = 1 ] && ! grep -q . "$work/run.err"; then
    echo "  refused without a message"; failed=1
  fi
done

# Address-space limits: thread creation and allocations fail at some point;
# the batch must still end, saying why when it fails.
mkdir -p "$work/sweep"
cp samples/*.jpg samples/*.bmp samples/*.JPEG "$work/files/black-6000x4000-progressive.jpg" \
  "$work/sweep/"
# Once with the stored defaults, once imprinting text, which loads fonts.
# A stored setting counts only when all of them are there.
mkdir -p "$work/plain" "$work/text/Tessaly"
{
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet]\n'
  for key in B1_01 B1_02 B1_03 B2_01 B2_02 B6_01 B6_02 B3_01 B3_02 B4_0{1..9} B4_10 B4_11 \
    B5_01 B5_02; do
    case $key in B1_02 | B2_01 | B3_01 | B4_01 | B5_02 | B6_02) on=1 ;; *) on=0 ;; esac
    printf '"%s"=dword:0000000%s\n' "$key" "$on"
  done
  printf '"B5_03"="限界テスト"\n'
} >"$work/text/Tessaly/Punchlet.reg"
for config in plain text; do
export XDG_CONFIG_HOME=$work/$config
echo "settings: $config"
echo "limit MB  status  seconds  outputs"
for mb in $(seq 100 10 300); do
  rm -f "$work"/sweep/加工済*
  set +e
  start=$SECONDS
  (ulimit -v $((mb * 1024)) && exec timeout -s KILL 30 "$program" "$work"/sweep/*) \
    >/dev/null 2>"$work/sweep.err"
  status=$?
  set -e
  outputs=$(find "$work/sweep" -name '加工済*' | wc -l)
  printf '%8s %7s %8s %8s\n' "$mb" "$status" "$((SECONDS - start))" "$outputs"
  case $status in
    0) ;;
    1 | 2) grep -q . "$work/sweep.err" || { echo "  exit $status without a message"; failed=1; } ;;
    *) echo "  ended with status $status"; head -n 5 "$work/sweep.err"; failed=1 ;;
  esac
done
done

exit $failed

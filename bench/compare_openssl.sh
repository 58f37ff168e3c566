#!/usr/bin/env bash
# File-to-file throughput of file_job against `openssl enc`, AES-256, same key, IV and mode, each
# direction, best of several runs; then the peak resident memory of one whole job of ours.
#
# Each tool decrypts its own encryption output, and both results are compared with the input.
# The two encryptions are compared with each other too: identical in CBC, ECB, OFB and CTR; in CFB
# ours is padded to the next multiple of 16 bytes, so only the first SIZE bytes are compared.
set -euo pipefail

usage() {
  cat <<EOF
usage: [BENCH_DIR=folder] [BENCH_SIZE_MIB=1024] [BENCH_RUNS=3] [BENCH_PAUSE=1]
       [FILE_JOB=path/to/file_job] $(basename "$0")
  BENCH_DIR       folder for the input and the outputs, on disk (default /var/tmp/aessuite-bench);
                  an existing input.bin of the right size there is reused
  BENCH_SIZE_MIB  input size in MiB (default 1024)
  BENCH_RUNS      runs per tool, mode and direction; the best is kept (default 3)
  BENCH_PAUSE     seconds to wait after the sync before each run (default 1)
  FILE_JOB        the file_job program (default: build-bench/bin/file_job beside this folder)
Needs openssl and GNU time (/usr/bin/time): apt-get install -y openssl time
EOF
}

if [[ $# -gt 0 ]]; then
  usage
  case "$1" in -h | --help) exit 0 ;; *) exit 2 ;; esac
fi

script_dir=$(cd "$(dirname "$0")" && pwd)
dir=${BENCH_DIR:-/var/tmp/aessuite-bench}
size_mib=${BENCH_SIZE_MIB:-1024}
runs=${BENCH_RUNS:-3}
pause=${BENCH_PAUSE:-1}
file_job=${FILE_JOB:-$script_dir/../build-bench/bin/file_job}

for value in "$size_mib" "$runs"; do
  if ! [[ $value =~ ^[1-9][0-9]*$ ]]; then
    echo "BENCH_SIZE_MIB and BENCH_RUNS must be positive integers" >&2
    exit 2
  fi
done
if [[ ! -x $file_job ]]; then
  echo "file_job not found at $file_job (build with -DAESSUITE_BUILD_BENCH=ON, or set FILE_JOB)" >&2
  exit 2
fi
for tool in openssl /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: apt-get install -y openssl time" >&2
    exit 2
  fi
done

size=$((size_mib * 1048576))
mkdir -p "$dir"
input=$dir/input.bin
if [[ ! -f $input || $(stat -c %s "$input") -ne $size ]]; then
  echo "writing $size_mib MiB of random data to $input"
  head -c "$size" /dev/urandom >"$input"
fi
cat "$input" >/dev/null # into the page cache

key=$(openssl rand -hex 32)
iv=$(openssl rand -hex 16)
log=$dir/last_run.log
cpu_log=$dir/last_run.cpu

# Runs one command after a sync and a pause; prints its wall time in nanoseconds and its CPU time
# (user + system) in milliseconds. Fails unless the command exits with the expected code
# (file_job: 0 encrypted, 1 decrypted).
timed_run() {
  local expected=$1 start end rc=0
  shift
  sync
  sleep "$pause"
  start=$(date +%s%N)
  /usr/bin/time -o "$cpu_log" -f '%U %S' "$@" >"$log" 2>&1 || rc=$?
  end=$(date +%s%N)
  if [[ $rc -ne $expected ]]; then
    echo "exit code $rc (expected $expected) from: $*" >&2
    cat "$log" >&2
    return 1
  fi
  # GNU time puts "Command exited with non-zero status N" before the times when N is not 0.
  echo $((end - start)) "$(awk '$1 ~ /^[0-9.]+$/ { c = ($1 + $2) * 1000 } END { printf "%d", c }' "$cpu_log")"
}

# Set cmd to the command line of one job: mode e|d input output.
ours_cmd() {
  cmd=("$file_job" "$1" "$2" 256 "$key" "$iv" "$3" "$4")
}

openssl_cmd() {
  cmd=(openssl enc "-aes-256-$1" "-$2" -K "$key")
  [[ $1 == ecb ]] || cmd+=(-iv "$iv")
  cmd+=(-in "$3" -out "$4")
}

# Best (lowest) wall time in ns and CPU time in ms over the runs, alternating the two tools run
# by run. Sets best_ours, best_openssl, cpu_ours, cpu_openssl; leaves the last outputs in place.
measure() { # mode e|d ours_in openssl_in ours_out openssl_out [ours_only]
  local mode=$1 way=$2 out t c r expected=0
  [[ $way == d ]] && expected=1
  best_ours=0 best_openssl=0 cpu_ours=0 cpu_openssl=0
  for ((r = 1; r <= runs; r++)); do
    rm -f "$5" "$6"
    ours_cmd "$mode" "$way" "$3" "$5"
    out=$(timed_run "$expected" "${cmd[@]}")
    read -r t c <<<"$out"
    if ((best_ours == 0 || t < best_ours)); then best_ours=$t; fi
    if ((cpu_ours == 0 || c < cpu_ours)); then cpu_ours=$c; fi
    [[ ${7:-} == ours_only ]] && continue
    openssl_cmd "$mode" "$way" "$4" "$6"
    out=$(timed_run 0 "${cmd[@]}")
    read -r t c <<<"$out"
    if ((best_openssl == 0 || t < best_openssl)); then best_openssl=$t; fi
    if ((cpu_openssl == 0 || c < cpu_openssl)); then cpu_openssl=$c; fi
  done
}

mbps() { # ns -> MB/s of the plaintext size
  awk -v b="$size" -v ns="$1" 'BEGIN { printf "%.0f", b / (ns / 1e9) / 1e6 }'
}

same_prefix() { # a b bytes
  if cmp -s -n "$3" "$1" "$2"; then echo same; else echo DIFFERENT; fi
}

row_format='%-5s %-8s %9s %12s %6s %9s %12s %6s  %s'

# One table row from the globals measure() set: mode, direction, output check.
add_row() {
  local wall_ratio=- cpu_ratio=- openssl_rate=- openssl_cpu=-
  if ((best_openssl > 0)); then
    openssl_rate=$(mbps "$best_openssl")
    openssl_cpu=$(awk -v c="$cpu_openssl" 'BEGIN { printf "%.2f", c / 1000 }')
    wall_ratio=$(awk -v o="$best_ours" -v s="$best_openssl" 'BEGIN { printf "%.2f", s / o }')
    cpu_ratio=$(awk -v o="$cpu_ours" -v s="$cpu_openssl" 'BEGIN { printf "%.2f", s / o }')
  fi
  # shellcheck disable=SC2059
  rows+=("$(printf "$row_format" "$1" "$2" "$(mbps "$best_ours")" "$openssl_rate" "$wall_ratio" \
    "$(awk -v c="$cpu_ours" 'BEGIN { printf "%.2f", c / 1000 }')" "$openssl_cpu" "$cpu_ratio" "$3")")
}

echo "input $input, $size bytes; AES-256; best of $runs; $(openssl version)"
rows=()
failures=0
for mode in cbc ecb cfb ofb ctr gcm; do
  ours_only=
  [[ $mode == gcm ]] && ours_only=ours_only # openssl enc has no AEAD modes
  oe=$dir/ours.$mode.enc
  se=$dir/openssl.$mode.enc
  od=$dir/ours.$mode.dec
  sd=$dir/openssl.$mode.dec

  measure "$mode" e "$input" "$input" "$oe" "$se" $ours_only
  check=-
  [[ -n $ours_only ]] || check=$(same_prefix "$oe" "$se" "$size")
  [[ $check != DIFFERENT ]] || failures=$((failures + 1))
  add_row "$mode" encrypt "$check"

  measure "$mode" d "$oe" "$se" "$od" "$sd" $ours_only
  check=$(same_prefix "$od" "$input" "$size")
  [[ $(stat -c %s "$od") -eq $size ]] || check=DIFFERENT
  if [[ -z $ours_only && $(same_prefix "$sd" "$input" "$size") != same ]]; then
    check="$check/openssl DIFFERENT"
  fi
  [[ $check == same ]] || failures=$((failures + 1))
  add_row "$mode" decrypt "$check"
  rm -f "$oe" "$se" "$od" "$sd"
done

echo
# shellcheck disable=SC2059
printf "$row_format\n" mode way "ours MB/s" "openssl MB/s" ratio "ours CPU" "openssl CPU" ratio \
  "output check"
printf '%s\n' "${rows[@]}"
echo "MB = 10^6 bytes of plaintext. MB/s from the best wall time of the whole process; CPU = best"
echo "user + system seconds. ratio = ours / openssl in speed (above 1: ours is faster)."
echo "Output check: encryption = the same ciphertext as openssl's, decryption = the input again."

echo
rss_kib() { # command... -> peak RSS in KiB
  local out=$dir/time.out rc=0
  sync
  /usr/bin/time -v -o "$out" "$@" >/dev/null 2>&1 || rc=$?
  if ((rc > 1)); then
    echo "exit code $rc from: $*" >&2
    return 1
  fi
  awk -F': *' '/Maximum resident set size/ { print $2 }' "$out"
}
out=$dir/rss.out
for mode in ctr gcm cbc; do
  rm -f "$out"
  ours_cmd "$mode" e "$input" "$out"
  kib=$(rss_kib "${cmd[@]}")
  printf 'peak RSS, ours,    %-4s encryption of %d MiB: %6d KiB (%.2f MiB)\n' "$mode" "$size_mib" "$kib" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')"
done
rm -f "$out"
openssl_cmd ctr e "$input" "$out"
kib=$(rss_kib "${cmd[@]}")
printf 'peak RSS, openssl, ctr  encryption of %d MiB: %6d KiB (%.2f MiB)\n' "$size_mib" "$kib" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')"
rm -f "$out" "$log" "$cpu_log" "$dir/time.out"

if ((failures > 0)); then
  echo "$failures mode(s) produced wrong output" >&2
  exit 1
fi

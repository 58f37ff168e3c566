#!/usr/bin/env bash
# A round trip through aestarnex in a fresh temporary folder: a sample file is sealed with a
# passphrase and opened again; a 64MB pseudo-random file supplies a 256-bit key and a 96-bit IV
# for an encryption and decryption in GCM. Each command is shown with its final line, exit code
# and output size, and every result is checked: the exact final line (one line, CR LF), the exit
# code, the size, mode 0600, and the bytes of each decrypted file against the sample.
#
# usage: scripts/demo.sh [build-folder]     (default: build, beside this folder)
set -uo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
program=$build/bin/aestarnex
if [[ ! -x $program ]]; then
  echo "aestarnex not found at $program: build first (./build.sh demo)" >&2
  exit 2
fi
program=$(cd "$(dirname "$program")" && pwd)/aestarnex

work=$(mktemp -d "${TMPDIR:-/tmp}/aestarnex-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

failures=0
fail() {
  echo "  MISMATCH: $*"
  failures=$((failures + 1))
}

size_of() { stat -c %s "$1"; }
grouped() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }

# Runs aestarnex with the given arguments and checks its exit code and its whole standard output
# (the expected line followed by CR LF, nothing else).
#   run EXPECTED_CODE "EXPECTED LINE" ARGUMENTS...
run() {
  local want_code=$1 want_line=$2 shown='' arg start end rc=0
  shift 2
  for arg in "$@"; do
    if [[ $arg == *[[:space:]*]* ]]; then shown+=" '$arg'"; else shown+=" $arg"; fi
  done
  echo "\$ aestarnex$shown"
  start=$(date +%s%N)
  "$program" "$@" >stdout.txt 2>stderr.txt || rc=$?
  end=$(date +%s%N)
  printf '  %s\n' "$(tr -d '\r' <stdout.txt)"
  printf '  exit %d (expected %d), %.2f s\n' "$rc" "$want_code" "$(awk -v ns=$((end - start)) 'BEGIN { print ns / 1e9 }')"
  ((rc == want_code)) || fail "exit code $rc, expected $want_code"
  if ! printf '%s\r\n' "$want_line" | cmp -s - stdout.txt; then
    fail "standard output is not the line \"$want_line\" ended by CR LF"
  fi
  if [[ -s stderr.txt ]]; then
    fail "unexpected output on standard error: $(head -c 200 stderr.txt)"
  fi
}

# Shows an output's size and checks it and its mode.
#   check_file FILE EXPECTED_SIZE "what the size is"
check_file() {
  local size mode
  if [[ ! -f $1 ]]; then
    fail "$1 was not written"
    return
  fi
  size=$(size_of "$1")
  mode=$(stat -c %a "$1")
  printf '  %s: %s bytes (%s), mode %s\n' "$1" "$(grouped "$size")" "$3" "$mode"
  ((size == $2)) || fail "$1 has $size bytes, expected $2"
  [[ $mode == 600 ]] || fail "$1 has mode $mode, expected 600"
}

same_bytes() { # original copy
  if cmp -s "$1" "$2"; then
    echo "  cmp $1 $2: identical"
  else
    fail "$2 differs from $1"
  fi
}

echo "aestarnex round trip in $work"
echo

# About 3 MiB of text-like lines, then 1 MiB and 7 bytes of random data, so that the last block
# is a partial one.
awk 'BEGIN {
  split("the of and to in is that for with file key block cipher stream counter chunk tag", w, " ")
  srand(20240601)
  for (i = 1; i <= 52000; i++) {
    line = sprintf("%06d", i)
    n = 4 + int(rand() * 9)
    for (j = 0; j < n; j++) line = line " " w[1 + int(rand() * 17)]
    print line "."
  }
}' >sample
head -c $((1048576 + 7)) /dev/urandom >>sample
sample_size=$(size_of sample)
echo "sample: $(grouped "$sample_size") bytes (text lines, then random bytes)"
echo

run 0 "Encryption Complete" Praxel E sample sample.sealed '*demo passphrase*'
check_file sample.sealed $((sample_size + 45)) "the sample + the 45-byte header"
echo
run 1 "Decryption Complete. Authentication Tag Correct" \
  Praxel D sample.sealed sample.opened '*demo passphrase*'
check_file sample.opened "$sample_size" "the sample's size"
same_bytes sample sample.opened
echo

run 2 "PRNG Complete " PRNG 64MB prng.bin
check_file prng.bin 67108864 "64 MiB"
head -c 32 prng.bin >key.bin                # bytes 0 to 31: the 256-bit key
head -c 44 prng.bin | tail -c 12 >iv.bin    # bytes 32 to 43: the 96-bit IV
echo "  key.bin = bytes 0-31 of prng.bin, iv.bin = bytes 32-43"
echo

run 0 "Encryption Complete" Moltra E 256 GCM iv.bin key.bin sample sample.gcm
check_file sample.gcm $((sample_size + 16)) "the 16-byte tag + the sample's size"
echo
run 1 "Decryption Complete. Authentication Tag Correct" \
  Moltra D 256 GCM iv.bin key.bin sample.gcm sample.gcm.out
check_file sample.gcm.out "$sample_size" "the sample's size"
same_bytes sample sample.gcm.out
echo

if ((failures > 0)); then
  echo "demo FAILED: $failures mismatch(es)"
  exit 1
fi
echo "demo passed: both round trips gave the sample back byte for byte"

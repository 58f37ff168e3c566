#!/usr/bin/env bash
# The console program against other tools, side by side on one file in the page cache, each
# direction, best of several runs, whole processes timed:
#   - aestarnex Moltra against `openssl enc`, AES-256, same key, IV and mode (CBC, ECB, CFB, OFB,
#     CTR); target: at least 1.25 x its throughput everywhere;
#   - aestarnex Moltra 256 GCM and aestarnex Praxel against gpg's symmetric AES256 encryption (key
#     derivation included on both sides); targets: encryption at least 1.5 x, decryption at
#     least 1.0 x;
#   - the same two against age to an X25519 recipient and back with its identity file; target: at
#     least 1.2 x both ways;
#   - the same two against a streaming AES-256-GCM in 256 KiB chunks with Python's cryptography
#     package; target: at least 1.5 x both ways;
#   - peak resident memory of every run of ours; target: under 8 MiB.
#
# Every run of ours must end with its exit code and its exact final line (CR LF, no progress on a
# redirected output). Each tool decrypts its own encryption and the result is compared with the
# input; the encryptions that must agree byte for byte are compared too (openssl's and ours in
# CBC, ECB, OFB and CTR, the first SIZE bytes in CFB, where ours is padded; Python's GCM file and
# ours, which share the layout tag-then-ciphertext).
set -euo pipefail

usage() {
  cat <<EOF
usage: [BENCH_DIR=folder] [BENCH_SIZE_MIB=1024] [BENCH_RUNS=3] [BENCH_PAUSE=1]
       [AESTARNEX=path/to/aestarnex] [PYTHON=python3] $(basename "$0")
  BENCH_DIR       folder for the input and the outputs, on disk (default /var/tmp/aessuite-bench);
                  an existing input.bin of the right size there is reused
  BENCH_SIZE_MIB  input size in MiB (default 1024)
  BENCH_RUNS      runs per tool and direction; the best is kept (default 3)
  BENCH_PAUSE     seconds to wait after the sync before each run (default 1)
  AESTARNEX       the console program (default: build/bin/aestarnex beside this folder)
  PYTHON          a Python 3 with the cryptography package (default: the first of /usr/bin/python3
                  and python3 that imports it)
Needs openssl, gpg, age, GNU time (/usr/bin/time) and Python's cryptography package:
  apt-get install -y openssl gnupg age time python3-cryptography
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
aestarnex=${AESTARNEX:-$script_dir/../build/bin/aestarnex}

for value in "$size_mib" "$runs"; do
  if ! [[ $value =~ ^[1-9][0-9]*$ ]]; then
    echo "BENCH_SIZE_MIB and BENCH_RUNS must be positive integers" >&2
    exit 2
  fi
done
if [[ ! -x $aestarnex ]]; then
  echo "aestarnex not found at $aestarnex (./build.sh demo builds it, or set AESTARNEX)" >&2
  exit 2
fi
for tool in openssl gpg age age-keygen /usr/bin/time; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: apt-get install -y openssl gnupg age time python3-cryptography" >&2
    exit 2
  fi
done
python=${PYTHON:-}
if [[ -z $python ]]; then
  for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import cryptography' 2>/dev/null; then
      python=$candidate
      break
    fi
  done
fi
if [[ -z $python ]] || ! "$python" -c 'import cryptography' 2>/dev/null; then
  echo "no Python 3 with the cryptography package: apt-get install -y python3-cryptography" >&2
  exit 2
fi

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
gcm_iv=$(openssl rand -hex 12)
passphrase="bench passphrase $(openssl rand -hex 8)"
log=$dir/last_run.out
err=$dir/last_run.err
time_log=$dir/last_run.time

# A throwaway keyring folder, so that gpg touches nothing of the user's; its agent goes with it.
GNUPGHOME=$(mktemp -d "${TMPDIR:-/tmp}/aessuite-gnupg.XXXXXX")
export GNUPGHOME
chmod 700 "$GNUPGHOME"
# age's identity (its private key) goes there too.
age_key=$GNUPGHOME/age-identity.txt
age-keygen -o "$age_key" 2>/dev/null
age_recipient=$(age-keygen -y "$age_key")
cleanup() {
  gpgconf --kill gpg-agent >/dev/null 2>&1 || true
  rm -rf "$GNUPGHOME"
  rm -f "$log" "$err" "$time_log" "$dir"/bench.*
}
trap cleanup EXIT

# Streaming AES-256-GCM in 256 KiB chunks, one buffer, the same file layout as ours (tag first).
py_gcm=$dir/bench.gcm.py
cat >"$py_gcm" <<'EOF'
import sys
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes

way, key, iv, source, target = sys.argv[1], bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3]), sys.argv[4], sys.argv[5]
CHUNK = 262144
data = bytearray(CHUNK)
out = bytearray(CHUNK + 15)
with open(source, "rb", buffering=0) as src, open(target, "wb", buffering=0) as dst:
    if way == "e":
        job = Cipher(algorithms.AES(key), modes.GCM(iv)).encryptor()
        dst.write(bytes(16))
    else:
        job = Cipher(algorithms.AES(key), modes.GCM(iv, src.read(16))).decryptor()
    while True:
        got = src.readinto(data)
        if not got:
            break
        done = job.update_into(memoryview(data)[:got], out)
        dst.write(memoryview(out)[:done])
    job.finalize()  # decryption: raises InvalidTag on a wrong tag
    if way == "e":
        dst.seek(0)
        dst.write(job.tag)
EOF

# Sets cmd to the command line of one run: tool way input output. Tools: ours-<mode> (Moltra),
# openssl-<mode>, ours-gcm, ours-praxel, gpg, age, python.
make_cmd() {
  local tool=$1 way=$2 in=$3 out=$4 letter
  letter=$(tr '[:lower:]' '[:upper:]' <<<"$way")
  case $tool in
    ours-gcm) cmd=("$aestarnex" Moltra "$letter" 256 GCM "$gcm_iv" "$key" "$in" "$out") ;;
    ours-ecb) cmd=("$aestarnex" Moltra "$letter" 256 ECB "$key" "$in" "$out") ;;
    ours-praxel) cmd=("$aestarnex" Praxel "$letter" "$in" "$out" "*$passphrase*") ;;
    ours-*) cmd=("$aestarnex" Moltra "$letter" 256 "${tool#ours-}" "$iv" "$key" "$in" "$out") ;;
    openssl-*)
      cmd=(openssl enc "-aes-256-${tool#openssl-}" "-$way" -K "$key")
      [[ $tool == openssl-ecb ]] || cmd+=(-iv "$iv")
      cmd+=(-in "$in" -out "$out")
      ;;
    gpg)
      cmd=(gpg --batch --yes --quiet --pinentry-mode loopback --passphrase "$passphrase"
        --no-symkey-cache)
      if [[ $way == e ]]; then
        cmd+=(--symmetric --cipher-algo AES256 --compress-algo none)
      else
        cmd+=(--decrypt)
      fi
      cmd+=(--output "$out" "$in")
      ;;
    age)
      if [[ $way == e ]]; then
        cmd=(age -r "$age_recipient" -o "$out" "$in")
      else
        cmd=(age -d -i "$age_key" -o "$out" "$in")
      fi
      ;;
    python) cmd=("$python" "$py_gcm" "$way" "$key" "$gcm_iv" "$in" "$out") ;;
  esac
}

# What a run of ours must print (one line, CR LF) and its exit code; other tools must exit 0.
expect() { # tool way -> sets want_code, want_line
  want_code=0 want_line=
  case $1:$2 in
    ours-*:e) want_line="Encryption Complete" ;;
    ours-gcm:d | ours-praxel:d) want_code=1 want_line="Decryption Complete. Authentication Tag Correct" ;;
    ours-*:d) want_code=1 want_line="Decryption Complete" ;;
  esac
}

declare -A best cpu rss
problems=()

# One run after a sync and a pause; records the best wall time (ns), CPU time (user + system, ms)
# and the highest peak RSS (KiB) of tool and way.
timed_run() { # tool way input output
  local tool=$1 way=$2 start end rc=0 t c m
  rm -f "$4"
  make_cmd "$@"
  expect "$tool" "$way"
  sync
  sleep "$pause"
  start=$(date +%s%N)
  /usr/bin/time -o "$time_log" -f '%e %U %S %M' "${cmd[@]}" >"$log" 2>"$err" || rc=$?
  end=$(date +%s%N)
  if ((rc != want_code)); then
    echo "exit code $rc (expected $want_code) from: ${cmd[*]}" >&2
    cat "$log" "$err" >&2
    exit 1
  fi
  if [[ -n $want_line ]] && ! printf '%s\r\n' "$want_line" | cmp -s - "$log"; then
    problems+=("$tool $way: standard output is not \"$want_line\" + CR LF: $(od -c "$log" | head -3)")
  fi
  t=$((end - start))
  # GNU time puts "Command exited with non-zero status N" before the figures when N is not 0.
  read -r c m < <(awk '$1 ~ /^[0-9.]+$/ { printf "%d %d\n", ($2 + $3) * 1000, $4 }' "$time_log")
  if [[ -z ${best[$tool,$way]:-} ]] || ((t < best[$tool,$way])); then best[$tool,$way]=$t; fi
  if [[ -z ${cpu[$tool,$way]:-} ]] || ((c < cpu[$tool,$way])); then cpu[$tool,$way]=$c; fi
  if [[ -z ${rss[$tool,$way]:-} ]] || ((m > rss[$tool,$way])); then rss[$tool,$way]=$m; fi
}

# Runs the tools of one group in turn, run by run: encryption of the input into bench.<tool>.e,
# then decryption of that into bench.<tool>.d.
measure() { # way tool...
  local way=$1 tool r
  shift
  for ((r = 1; r <= runs; r++)); do
    for tool in "$@"; do
      if [[ $way == e ]]; then
        timed_run "$tool" e "$input" "$dir/bench.$tool.e"
      else
        timed_run "$tool" d "$dir/bench.$tool.e" "$dir/bench.$tool.d"
      fi
    done
  done
}

mbps() { # ns -> MB/s of the plaintext size
  awk -v b="$size" -v ns="$1" 'BEGIN { printf "%.0f", b / (ns / 1e9) / 1e6 }'
}

check_same() { # what a b [bytes]
  local n=()
  [[ -z ${4:-} ]] || n=(-n "$4")
  cmp -s "${n[@]}" "$2" "$3" || problems+=("$1: $(basename "$3") differs from $(basename "$2")")
}

check_decrypted() { # tool
  local out=$dir/bench.$1.d
  if [[ $(stat -c %s "$out") -ne $size ]] || ! cmp -s "$input" "$out"; then
    problems+=("$1: its decryption is not the input")
  fi
}

row_format='%-6s %-7s %9s  %-7s %9s %6s  %-7s %-6s %9s %7s'
rows=()
targets_met=0
targets_all=0

# One table row: label way ours-tool other-tool target (a number or -).
add_row() {
  local label=$1 way=$2 ours=$3 other=$4 target=$5 ratio cpu_ratio verdict=- direction
  direction=$([[ $way == e ]] && echo encrypt || echo decrypt)
  ratio=$(awk -v o="${best[$ours,$way]}" -v s="${best[$other,$way]}" 'BEGIN { printf "%.2f", s / o }')
  cpu_ratio=$(awk -v o="${cpu[$ours,$way]}" -v s="${cpu[$other,$way]}" \
    'BEGIN { if (o > 0) printf "%.2f", s / o; else print "-" }')
  if [[ $target != - ]]; then
    targets_all=$((targets_all + 1))
    if awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r >= t) }'; then
      verdict=met
      targets_met=$((targets_met + 1))
    else
      verdict=MISSED
    fi
    target="$target x"
  fi
  # shellcheck disable=SC2059
  rows+=("$(printf "$row_format" "$label" "$direction" "$(mbps "${best[$ours,$way]}")" \
    "${other%%-*}" "$(mbps "${best[$other,$way]}")" "$ratio" "$target" "$verdict" "$cpu_ratio" \
    "$(awk -v k="${rss[$ours,$way]}" 'BEGIN { printf "%.2f", k / 1024 }')")")
}

echo "input $input, $size bytes; AES-256; best of $runs"
{ "$aestarnex" Help || true; } | tr -d '\r' | sed -n 2p # the title line; Help exits with 99
openssl version
gpg --version | sed -n 1p
echo "age $(age --version)"
echo "python $("$python" -c 'import sys, cryptography; print(sys.version.split()[0], "cryptography", cryptography.__version__)')"

for mode in cbc ecb cfb ofb ctr; do
  echo "$mode ..."
  measure e "ours-$mode" "openssl-$mode"
  if [[ $mode == cfb ]]; then
    check_same "$mode encryption" "$dir/bench.openssl-$mode.e" "$dir/bench.ours-$mode.e" "$size"
  else
    check_same "$mode encryption" "$dir/bench.openssl-$mode.e" "$dir/bench.ours-$mode.e"
  fi
  measure d "ours-$mode" "openssl-$mode"
  check_decrypted "ours-$mode"
  check_decrypted "openssl-$mode"
  add_row "$mode" e "ours-$mode" "openssl-$mode" 1.25
  add_row "$mode" d "ours-$mode" "openssl-$mode" 1.25
  rm -f "$dir"/bench.*-"$mode".?
done

echo "gcm, praxel, gpg, age, python ..."
authenticated=(ours-gcm ours-praxel gpg age python)
measure e "${authenticated[@]}"
check_same "gcm encryption" "$dir/bench.ours-gcm.e" "$dir/bench.python.e"
[[ $(stat -c %s "$dir/bench.ours-praxel.e") -eq $((size + 45)) ]] ||
  problems+=("praxel: the sealed file is not 45 bytes longer than the input")
measure d "${authenticated[@]}"
for tool in "${authenticated[@]}"; do check_decrypted "$tool"; done
for way in e d; do
  if [[ $way == e ]]; then target=1.5; else target=1.0; fi
  add_row gcm "$way" ours-gcm gpg "$target"
  add_row praxel "$way" ours-praxel gpg "$target"
done
for other in age python; do
  if [[ $other == age ]]; then target=1.2; else target=1.5; fi
  for way in e d; do
    add_row gcm "$way" ours-gcm "$other" "$target"
    add_row praxel "$way" ours-praxel "$other" "$target"
  done
done
rm -f "$dir"/bench.*.?

rss_over=()
for k in "${!rss[@]}"; do
  if [[ $k == ours-* ]] && ((rss[$k] >= 8192)); then rss_over+=("${k/,/ } ${rss[$k]} KiB"); fi
done

echo
# shellcheck disable=SC2059
printf "$row_format\n" ours way "ours MB/s" other "MB/s" ratio target result "CPU ratio" "RSS MiB"
printf '%s\n' "${rows[@]}"
echo
echo "MB = 10^6 bytes of plaintext. MB/s from the best wall time of the whole process (key"
echo "derivation included for praxel and gpg). ratio = ours / other in speed (above 1: ours is"
echo "faster). CPU ratio = other / ours in best user + system seconds (a check on a busy machine)."
echo "RSS MiB = the highest peak resident memory of our program over its runs."
echo "ours: cbc..ctr, gcm = aestarnex Moltra <mode> 256; praxel = aestarnex Praxel."
echo "openssl = openssl enc -aes-256-<mode>; gpg = gpg --symmetric --cipher-algo AES256"
echo "--compress-algo none, and --decrypt; age = age -r <X25519 recipient>, and age -d -i <identity>;"
echo "python = AES-256-GCM of Python's cryptography package, streamed in 256 KiB chunks."
echo
echo "targets: $targets_met of $targets_all throughput targets met"
if ((${#rss_over[@]} == 0)); then
  echo "peak RSS: every run of ours under 8 MiB"
else
  echo "peak RSS: 8 MiB or more in: ${rss_over[*]}"
fi

if ((${#problems[@]} > 0)); then
  printf 'WRONG: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "outputs: all encryptions that must agree do, and every decryption gave the input back"

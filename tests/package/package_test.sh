#!/usr/bin/env bash
# The Debian packages: each program in its own package, only the windowed ones depending on Qt;
# lintian finds no error and no missing hardening in them; unpacked into a temporary root, the
# installed programs run, their manual pages render without warnings, their desktop entries and
# AppStream records validate. Without Qt, a configure falls back to the console package alone.
# Usage: package_test.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

(cd "$build" && cpack -G DEB -B "$work/debs" >/dev/null)
report=$(lintian -I --tag-display-limit 0 "$work"/debs/*.deb 2>&1) || fail "lintian: $report"
echo "$report"
if grep -E "hardening-no-(pie|relro|bindnow)" <<<"$report"; then fail "a program lost hardening"; fi
root=$work/root
for deb in "$work"/debs/*.deb; do
  name=$(dpkg-deb -f "$deb" Package)
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libc6* ]] || fail "$name: no library dependencies recorded"
  if [[ $name == aestarnex ]]; then
    [[ $depends != *qt6* ]] || fail "the console package depends on Qt: $depends"
  else
    [[ $depends == *libqt6widgets6* && $depends == *qt6-qpa-plugins* &&
      $depends == *fonts-dejavu-extra* ]] || fail "$name lacks a dependency: $depends"
  fi
  dpkg -x "$deb" "$root"
done

bin=$root/usr/bin
[ -x "$bin/aestarnex" ] || fail "aestarnex is not installed"
for program in "$bin"/*; do
  name=$(basename "$program")
  if ldd "$program" | grep -q "not found"; then fail "$name: a library is missing"; fi
  grep -q __stack_chk_fail <(objdump -T "$program") || fail "$name: no stack protector"
  [ -f "$root/usr/share/man/man1/$name.1.gz" ] || fail "$name has no manual page"
done

# A round trip through the installed console program, by passphrase and by key and IV.
head -c 100000 /dev/urandom >"$work/plain"
run() {  # expected exit status, expected final line, arguments...
  local want=$1 line=$2
  shift 2
  local out status=0
  out=$("$bin/aestarnex" "$@") || status=$?
  [ "$status" -eq "$want" ] || fail "aestarnex $1 $2: exit status $status, not $want"
  [ "$out" == "$line"$'\r' ] || fail "aestarnex $1 $2: final line '$out'"
}
run 0 "Encryption Complete" Praxel E "$work/plain" "$work/sealed" "*pass phrase*"
run 1 "Decryption Complete. Authentication Tag Correct" Praxel D "$work/sealed" "$work/opened" "*pass phrase*"
cmp "$work/plain" "$work/opened" || fail "the sealed file did not open to the original"
key=000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F
run 0 "Encryption Complete" Moltra E 256 GCM 00112233445566778899AABB "$key" \
  "$work/plain" "$work/gcm"
run 1 "Decryption Complete. Authentication Tag Correct" Moltra D 256 GCM \
  00112233445566778899AABB "$key" "$work/gcm" "$work/gcm.out"
cmp "$work/plain" "$work/gcm.out" || fail "the GCM file did not decrypt to the original"

for page in "$root"/usr/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

shopt -s nullglob
for entry in "$root"/usr/share/applications/*.desktop; do
  name=$(basename "$entry" .desktop)
  desktop-file-validate "$entry" || fail "$name.desktop does not validate"
  grep -qE "^Exec=$name( %[fF])?$" "$entry" || fail "$name.desktop does not start $name"
  grep -qs ">$name.desktop</launchable>" "$root"/usr/share/metainfo/* ||
    fail "$name has no AppStream record"
  [ -x "$bin/$name" ] || fail "$name.desktop has no program"
  icons=$root/usr/share/icons/hicolor
  [ -f "$icons/scalable/apps/$name.svg" ] || fail "$name has no scalable icon"
  for size in 16 24 32 48 64 128 256; do
    [ -f "$icons/${size}x$size/apps/$name.png" ] || fail "$name has no ${size}px icon"
  done
done
# Each record named by its id and launching an installed desktop entry.
if [ -d "$root/usr/share/metainfo" ]; then
  appstreamcli validate-tree --no-net "$root" || fail "the AppStream records do not validate"
fi

out=$(cmake -S "$source" -B "$work/no-qt" -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
  -DAESSUITE_BUILD_TESTS=OFF 2>&1) || fail "no configure without Qt: $out"
[[ $out == *"console tool alone"* ]] || fail "no word of the missing Qt: $out"
grep -qx 'set(CPACK_COMPONENTS_ALL "aestarnex")' "$work/no-qt/CPackConfig.cmake" ||
  fail "without Qt, packages other than aestarnex are planned"
echo "packages: $(cd "$work/debs" && echo *.deb)"

#!/usr/bin/env bash
# The bash completion, sourced alone: what each place of the grammar offers. Usage: FILE
set -u
export LC_ALL=C
source "$1" || exit 1
tmp=$(mktemp -d) && trap 'rm -rf "$tmp"' EXIT
cd "$tmp" && touch notes.txt notes.bin key "my notes" && mkdir keys || exit 1
failures=0
# Each row: the expected completions (sorted, space-separated), then the words typed; the last
# word is the one being completed.
expect() {
  local want=$1
  shift
  COMP_WORDS=(aestarnex "$@")
  COMP_CWORD=$#
  _aestarnex
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
  if [[ "${got% }" != "$want" ]]; then
    echo "FAIL: aestarnex $* -> '${got% }', want '$want'"
    failures=$((failures + 1))
  fi
}
expect "Help Moltra PRNG Praxel" ""
expect "PRNG Praxel" p
expect "--help --version -h" -
expect "D Decrypt" praxel d
expect "notes.bin notes.txt" Praxel E note
expect "Overwrite" PRAXEL E notes.txt out o
# Typed quoting is undone, never run; readline's pieces of a colon IV make one argument.
expect "my notes" Praxel E 'my\ n'
expect "my notes" Praxel E '"my n'
expect "" Praxel E '$(touch pwned)'
expect "key keys" Moltra E 128 CBC 00 : 11 : FF k
expect "" Praxel E notes.txt out Overwrite ""
expect "128" Moltra E 12
expect "CBC CFB CTR" moltra e 128 c
expect "key keys" Moltra E 128 CTR ke
expect "Overwrite" Moltra E 128 CTR iv key in out ""
expect "Overwrite" Moltra E 128 ecb key in out ""
expect "128MB 16GB 1GB" PRNG 1
expect "Overwrite" PRNG 1GB out ""
expect "" Junk ""
[[ ! -e pwned ]] || failures=$((failures + 1))
exit $((failures != 0))

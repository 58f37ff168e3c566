# bash completion for aestarnex: the keywords each place of the grammar takes, file names where a
# file goes. Keywords are completed in the case the usage text shows; the program takes any case.

_aestarnex() {
  local cur=${COMP_WORDS[COMP_CWORD]-} n=0 i words
  # Readline also breaks words at ':' and '=' (an IV or key written 00:11:..., a name with a
  # colon): a lone ':' or '=' and the word after it belong to the argument before.
  local -a args=()
  for ((i = 1; i <= COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]-} == [:=] || ${COMP_WORDS[i - 1]} == [:=] ]]; then
      args[n]+=${COMP_WORDS[i]-}
    else
      args[++n]=${COMP_WORDS[i]-}
    fi
  done
  local function=${args[1]-} mode=${args[4]-}
  function=${function,,} mode=${mode,,}
  COMPREPLY=()
  if ((n == 1)); then
    words="Help Praxel Moltra PRNG"
    [[ $cur == -* ]] && words="--help -h --version"
  else
    # What place n holds in each grammar: a keyword list, "file", or nothing (the passphrase).
    local -a places
    case $function in
      praxel) places=("" "" "E Encrypt D Decrypt" file file "Overwrite") ;;
      moltra)
        places=("" "" "E Encrypt D Decrypt" "128 192 256" "CTR GCM OFB CFB CBC ECB PCBC")
        [[ $mode == ecb ]] || places+=(file)  # the IV: a file, or text nobody completes
        places+=(file file file "Overwrite")
        ;;
      prng) places=("" "" "64MB 128MB 256MB 512MB 1GB 2GB 4GB 8GB 16GB" file "Overwrite") ;;
    esac
    words=${places[n]-}
  fi
  if [[ $words == file ]]; then
    # The word comes as typed: an opening quote and backslashes are dropped here, never
    # evaluated, so that "my n or my\ n finds my notes.
    local name="" c quote=${cur:0:1}
    [[ $quote == [\"\'] ]] && cur=${cur:1}
    for ((i = 0; i < ${#cur}; i++)); do
      c=${cur:i:1}
      [[ $c == \\ && $quote != \' ]] && c=${cur:i + 1:1} && ((++i))
      name+=$c
    done
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$name")
  elif [[ -n $words ]]; then
    # Matched without regard to case, as the program reads them.
    local word
    for word in $words; do
      [[ ${word,,} == "${cur,,}"* ]] && COMPREPLY+=("$word")
    done
  fi
  return 0
}
complete -F _aestarnex aestarnex

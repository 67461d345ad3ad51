#!/usr/bin/env bash
# Completes command lines of quelt-flasher-cli with its bash completion, as bash would with the
# default word breaks, and compares the replies with the expected ones.
#
#   completion_test.sh COMPLETION_SCRIPT
set -uo pipefail
script=$(realpath "$1")

# bash-completion's helpers expect an interactive shell's settings.
source /usr/share/bash-completion/bash_completion || exit 1
source "$script" || exit 1
# Outside a real completion the builtin refuses to run; note whether a reply is to stay open.
compopt() {
  [[ $* == *"-o nospace"* ]] && nospace=1
  return 0
}

# A scratch folder with image files in several cases, other files and a folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
touch a.qlz B.QLZ c.Qlz notes.txt fl-lib.so
mkdir sub

failures=0
# expect LINE REPLIES [nospace]: the replies sorted and joined by spaces.
expect() {
  local line=$1 want=$2 want_nospace=${3:-}
  # COMP_WORDS as bash splits the line: at blanks, and at ':' and '=' which make words of
  # their own; the word under the cursor at the end of the line is the one to complete.
  COMP_WORDS=()
  local word="" c i last=""
  for ((i = 0; i < ${#line}; i++)); do
    c=${line:i:1}
    case $c in
      " ")
        [[ -n $word ]] && COMP_WORDS+=("$word")
        word=""
        ;;
      [:=])
        [[ -n $word ]] && COMP_WORDS+=("$word")
        COMP_WORDS+=("$c")
        word=""
        ;;
      *) word+=$c ;;
    esac
    last=$c
  done
  [[ -n $word || $last == " " ]] && COMP_WORDS+=("$word")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMPREPLY=()
  nospace=""
  local n=${#COMP_WORDS[@]}
  _quelt_flasher_cli quelt-flasher-cli "${COMP_WORDS[n - 1]}" "${COMP_WORDS[n - 2]}"
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | LC_ALL=C sort | paste -sd' ')
  if [[ $got != "$want" || $nospace != "$want_nospace" ]]; then
    printf 'FAIL  [%s]\n  got:      [%s]%s\n  expected: [%s]%s\n' "$line" "$got" \
      "${nospace:+ nospace}" "$want" "${want_nospace:+ nospace}"
    ((failures++))
  else
    printf 'ok    [%s] -> [%s]\n' "$line" "$got"
  fi
}

c=quelt-flasher-cli
# commands and options
expect "$c " "identify info verify write"
expect "$c w" "write"
expect "$c --safe --erase-timeout 5 i" "identify info"
expect "$c --a" "--adapter"
expect "$c --erase-timeout " ""
expect "$c write x.qlz --v" "--verify --version"
expect "$c verify --v" "--version"
expect "$c identify --s" "--safe"
# adapter strings: sim, its types and options, ftdi, library paths
expect "$c --adapter f" "fl-lib.so ftdi ftdi:"
expect "$c --adapter sim:" "alt base large none"
expect "$c --adapter=sim:la" "large"
expect "$c --adapter sim:large,fl" "large,flash=" 1
expect "$c --adapter sim:base,stuck=" "high low"
# readline replaces what follows the last '=' or ':' only
expect "$c --adapter sim:large,flash=a,s" "a,slow a,stuck=high a,stuck=low"
expect "$c --adapter sim:large,flash=c" "c.Qlz"
expect "$c --adapter ftdi," "ftdi,clock= ftdi,index= ftdi,serial="
expect "$c --adapter ftdi:0403:6014,ser" "6014,serial=" 1
# image files, any case of the extension, and folders, after info, write and verify
expect "$c info " "B.QLZ a.qlz c.Qlz sub"
expect "$c --adapter sim write " "B.QLZ a.qlz c.Qlz sub"
expect "$c verify a.qlz " ""
expect "$c identify " ""

if ((failures)); then
  echo "$failures completion case(s) failed"
  exit 1
fi
echo "all completion cases as expected"

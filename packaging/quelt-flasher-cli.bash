# bash completion for quelt-flasher-cli                                    -*- shell-script -*-

# The replies are built as whole words (the adapter string with its ':' and '=' included);
# readline replaces only the text after the last ':' or '=' that breaks words, so that much of
# the word is taken off each reply.
_quelt_flasher_cli_trim() {
  local breaks=${COMP_WORDBREAKS//[^:=]/}
  [[ -n $breaks ]] || return 0
  local lead=${1%"${1##*[$breaks]}"}
  [[ -n $lead ]] || return 0
  local i
  for i in "${!COMPREPLY[@]}"; do
    COMPREPLY[i]=${COMPREPLY[i]#"$lead"}
  done
}

# Replies for the adapter string $1: sim, its types and options, ftdi and its options, or the
# path of an adapter library.
_quelt_flasher_cli_adapter() {
  local cur=$1 head option
  case $cur in
    sim:*,* | ftdi,* | ftdi:*,*)
      head=${cur%,*},
      option=${cur##*,}
      case $head in
        sim*)
          case $option in
            flash=*)
              local f
              while IFS= read -r f; do COMPREPLY+=("${head}flash=$f"); done \
                < <(compgen -f -- "${option#flash=}")
              ;;
            *)
              COMPREPLY=($(compgen -P "$head" -W "flash= erase-polls= stuck=low stuck=high bad=
                slow rate=" -- "$option"))
              ;;
          esac
          ;;
        *)
          COMPREPLY=($(compgen -P "$head" -W "serial= index= clock=" -- "$option"))
          ;;
      esac
      ;;
    sim:*)
      COMPREPLY=($(compgen -W "sim:large sim:base sim:alt sim:none" -- "$cur"))
      ;;
    ftdi:*) ;; # VID:PID in hexadecimal
    *)
      COMPREPLY=($(compgen -W "sim sim: ftdi ftdi:" -- "$cur"))
      local f
      while IFS= read -r f; do COMPREPLY+=("$f"); done < <(compgen -f -- "$cur")
      ;;
  esac
  if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} == *[:=,] ]]; then
    compopt -o nospace
  fi
}

_quelt_flasher_cli() {
  local cur prev words cword split
  _init_completion -s -n =: || return

  case $prev in
    --adapter)
      _quelt_flasher_cli_adapter "$cur"
      _quelt_flasher_cli_trim "$cur"
      return
      ;;
    --erase-timeout)
      return # seconds
      ;;
  esac
  $split && return

  local options="--adapter --safe --fast -q --quiet --erase-timeout -h --help --version"
  local i command="" files=0
  for ((i = 1; i < cword; i++)); do
    case ${words[i]} in
      --adapter | --erase-timeout) ((i++)) ;;
      -*) ;;
      *)
        if [[ -z $command ]]; then
          command=${words[i]}
        else
          ((files++))
        fi
        ;;
    esac
  done

  if [[ $cur == -* ]]; then
    case $command in
      write) options+=" --verify" ;;
    esac
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case $command in
    "")
      COMPREPLY=($(compgen -W "identify info write verify" -- "$cur"))
      ;;
    info | write | verify)
      # one image file; any case of the extension
      ((files == 0)) && _filedir '[qQ][lL][zZ]'
      ;;
  esac
} &&
  complete -F _quelt_flasher_cli quelt-flasher-cli

# ex: filetype=sh

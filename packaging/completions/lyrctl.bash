# bash completion for lyrctl: commands and options as lyrctl's own --help
# lists them, recording names read from the recorder only when one is
# connected (or named with --device).

_lyrctl_words() { # section of `lyrctl ARGS --help`: "Subcommands" or "Options"
  local section=$1
  shift
  "$@" --help 2>/dev/null | awk -v s="$section:" '
    $0 == s { on = 1; next }
    /^[^ ]/ { on = 0 }
    on && $1 != "" && (s != "Options:" || $1 ~ /^-/) { n = split($1, names, ","); for (i = 1; i <= n; ++i) print names[i] }'
}

_lyrctl_recordings() { # names of the recordings; nothing without a recorder
  local -a device=("$@")
  if [ ${#device[@]} -eq 0 ]; then
    lyrctl --json devices 2>/dev/null | grep -q '"node"' || return 0
  fi
  timeout 5 lyrctl "${device[@]}" --json list 2>/dev/null |
    grep -o '"name": *"[^"]*"' | sed 's/^"name": *"//; s/"$//'
}

_lyrctl() {
  local cur prev words cword
  _init_completion 2>/dev/null || {
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD
  }
  local command="" i
  local -a device=()
  for ((i = 1; i < cword; ++i)); do
    case ${words[i]} in
      --device) device=(--device "${words[i + 1]}") ;;
      -*) ;;
      *) [ -z "$command" ] && [ "${words[i - 1]}" != --device ] && command=${words[i]} ;;
    esac
  done
  case $prev in
    --device) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --to | --image | --prefix | --time) COMPREPLY=($(compgen -f -- "$cur")); return ;;
  esac
  if [ -z "$command" ]; then
    COMPREPLY=($(compgen -W "$(_lyrctl_words Subcommands lyrctl) $(_lyrctl_words Options lyrctl)" -- "$cur"))
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_lyrctl_words Options lyrctl "$command") --device --json --force" -- "$cur"))
    return
  fi
  case $command in
    export | delete | play | burn-audio | burn-data)
      local IFS=$'\n'
      COMPREPLY=($(compgen -W "$(_lyrctl_recordings "${device[@]}")" -- "$cur"))
      ;;
    decode | update-firmware) COMPREPLY=($(compgen -f -- "$cur")) ;;
  esac
}
complete -F _lyrctl lyrctl

# Bash completion for vellora: subcommands, their options, the values of
# --to, --as, --answer, --encoding and --screens, and file names.
_vellora() {
  local cur prev words cword
  _init_completion || return

  local commands="sync stage convert dump preview export mark"
  local command="" word
  for word in "${words[@]:1:cword-1}"; do
    case "$word" in sync | stage | convert | dump | preview | export | mark) command=$word; break ;; esac
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi

  case "$prev" in
    --to) COMPREPLY=($(compgen -W "txt htm rtf" -- "$cur")); return ;;
    --as) COMPREPLY=($(compgen -W "txt htm doc rtf" -- "$cur")); return ;;
    --answer) COMPREPLY=($(compgen -W "yes no" -- "$cur")); return ;;
    --encoding) COMPREPLY=($(compgen -W "utf-8 cp1252" -- "$cur")); return ;;
    --screens) COMPREPLY=($(compgen -W "1 2 3 all" -- "$cur")); return ;;
    --scale | --wait | --font-name | --font-size) return ;;
    --handheld | -C | --directory) _filedir -d; return ;;
    --registry) _filedir reg; return ;;
    --log | -o | --output | --preview) _filedir; return ;;
  esac

  local options
  case "$command" in
    sync) options="--registry --handheld --answer --log --wait --encoding" ;;
    stage) options="-C --directory --registry --encoding" ;;
    convert) options="-o --output --registry --encoding --preview --flush" ;;
    dump) options="--json --encoding" ;;
    preview) options="-o --output --screens --scale" ;;
    export) options="--to -o --output --font-name --font-size --registry --encoding" ;;
    mark) options="--handheld --as --encoding" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    return
  fi
  case "$command" in
    dump | preview | export) _filedir pdb ;;
    convert | stage) _filedir '@(txt|htm|html|rtf|doc|TXT|HTM|HTML|RTF|DOC)' ;;
    mark) ;;
  esac
}
complete -F _vellora vellora

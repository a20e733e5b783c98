# Bash completion for vellora: subcommands, their options, the values of
# --to, --as, --answer, --encoding, --screens and --speed, the handhelds
# --device can name (net and the ttys there are), and file names.
_vellora() {
  local cur prev words cword
  _init_completion || return

  local commands="sync stage convert dump preview export mark device"
  local command="" subcommand="" word
  for word in "${words[@]:1:cword-1}"; do
    if [[ -z $command ]]; then
      case "$word" in sync | stage | convert | dump | preview | export | mark | device) command=$word ;; esac
    elif [[ $command == device && $word == info ]]; then
      subcommand=$word
      break
    fi
  done
  if [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
    return
  fi
  if [[ $command == device && -z $subcommand ]]; then
    COMPREPLY=($(compgen -W "info --help" -- "$cur"))
    return
  fi

  case "$prev" in
    --to) COMPREPLY=($(compgen -W "txt htm rtf" -- "$cur")); return ;;
    --as) COMPREPLY=($(compgen -W "txt htm doc rtf" -- "$cur")); return ;;
    --answer) COMPREPLY=($(compgen -W "yes no" -- "$cur")); return ;;
    --encoding) COMPREPLY=($(compgen -W "utf-8 cp1252" -- "$cur")); return ;;
    --screens) COMPREPLY=($(compgen -W "1 2 3 all" -- "$cur")); return ;;
    --speed) COMPREPLY=($(compgen -W "9600 19200 38400 57600 115200 230400" -- "$cur")); return ;;
    --device)
      # Only ttys that are there: a USB cradle's appears once HotSync is pressed.
      local ttys=() tty
      for tty in /dev/ttyUSB* /dev/ttyS* /dev/pilot* /dev/rfcomm*; do
        [[ -e $tty ]] && ttys+=("$tty")
      done
      COMPREPLY=($(compgen -W "net ${ttys[*]}" -- "$cur"))
      return
      ;;
    --scale | --wait | --timeout | --font-name | --font-size) return ;;
    --handheld | -C | --directory) _filedir -d; return ;;
    --registry) _filedir reg; return ;;
    --log | -o | --output | --preview) _filedir; return ;;
  esac

  local options
  case "$command" in
    sync) options="--registry --handheld --answer --log --wait --encoding --device --timeout --speed --keep-running" ;;
    stage) options="-C --directory --registry --encoding" ;;
    convert) options="-o --output --registry --encoding --preview --flush" ;;
    dump) options="--json --encoding" ;;
    preview) options="-o --output --screens --scale" ;;
    export) options="--to -o --output --font-name --font-size --registry --encoding" ;;
    mark) options="--handheld --as --encoding" ;;
    device) options="--device --timeout --speed" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    return
  fi
  case "$command" in
    dump | preview | export) _filedir pdb ;;
    convert | stage) _filedir '@(txt|htm|html|rtf|doc|TXT|HTM|HTML|RTF|DOC)' ;;
    mark | sync | device) ;;
  esac
}
complete -F _vellora vellora

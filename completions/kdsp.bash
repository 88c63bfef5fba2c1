# Bash completion for kdsp and its companion programs. One file serves every
# program; it is installed under each program's name so that bash-completion
# finds it for whichever is typed first.

# Files ending in one of the given extensions, and folders to walk into.
_kdsp_files() {
  local cur=$1 ext
  shift
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  for ext in "$@"; do
    COMPREPLY+=($(compgen -f -X "!*.$ext" -- "$cur"))
  done
  COMPREPLY+=($(compgen -d -- "$cur"))
}

_kdsp_any_file() {
  compopt -o filenames 2>/dev/null
  local IFS=$'\n'
  COMPREPLY=($(compgen -f -- "$1"))
}

# The words to offer after an option that takes a value: a fixed list, files,
# or nothing (a number is the user's to type). Sets COMPREPLY and returns 0
# when `prev` takes a value.
_kdsp_option_value() {
  local program=$1 prev=$2 cur=$3
  case "$program:$prev" in
    kdsp-as:-o | kdsp-scan:--png | kdsp-rx:-o | kdsp-synth:--truth | kdsp-rx:--plan)
      _kdsp_any_file "$cur" ;;
    kdsp-rx:--keep-pieces | kdsp-rx:-O | kdsp-synth:--speech)
      COMPREPLY=($(compgen -d -- "$cur")) ;;
    kdsp-synth:--audio-out)
      _kdsp_files "$cur" wav ;;
    kdsp-synth:--audio | kdsp-synth:--second-audio)
      # A ':' ends a word for bash, so a source's parameters are the user's to type.
      COMPREPLY=($(compgen -W 'tone two-tone sweep voice file:' -- "$cur"))
      [[ ${COMPREPLY[*]} == file: ]] && compopt -o nospace 2>/dev/null ;;
    kdsp-rx:--format | kdsp-scan:--format | kdsp-synth:--format)
      COMPREPLY=($(compgen -W 'cu8 cs8 cs16 cf32 cs32' -- "$cur")) ;;
    kdsp-rx:--raster | kdsp-synth:--raster)
      COMPREPLY=($(compgen -W '12.5k 25k' -- "$cur")) ;;
    kdsp-rx:--bandwidth)
      COMPREPLY=($(compgen -W '25k 12.5k' -- "$cur")) ;;
    kdsp-rx:--kernel)
      _kdsp_files "$cur" kdsp kasm ;;
    kdsp-scan:--threshold | kdsp-scan:--max | kdsp-scan:--rate | kdsp-scan:--center | kdsp-synth:--offset | kdsp-synth:--deviation | \
      kdsp-synth:--duration | kdsp-synth:--cnr | kdsp-synth:--second-offset | \
      kdsp-synth:--second-level | kdsp-synth:--seed | kdsp-rx:--rate | kdsp-rx:--center | \
      kdsp-rx:--offset | kdsp-rx:--freq | kdsp-rx:-D | kdsp-rx:--deemphasis | kdsp-rx:-j | \
      kdsp-rx:--squelch | kdsp-rx:--channels | kdsp-synth:--keyed | kdsp-synth:--keyed-channels | \
      kdsp-synth:--rate | kdsp-synth:--key | kdsp-synth:--ctcss | kdsp-synth:--dcs | kdsp-as:-D | \
      kdsp-rx:--start-time | kdsp-scan:--start-time | kdsp-synth:--start-time | kdsp-rx:--tone | kdsp-rx:--name | \
      kdsp-rx:--min-duration | kdsp-rx:--max-duration)
      COMPREPLY=() ;;
    *) return 1 ;;
  esac
  return 0
}

_kdsp_options() {
  case "$1" in
    kdsp-as) echo '-o -D -h --help --version' ;;
    kdsp-dis) echo '-h --help --version' ;;
    kdsp-scan) echo '--format --rate --center --start-time --png --threshold --max -h --help --version' ;;
    kdsp-synth)
      echo '--audio --offset --deviation --duration --cnr --second-offset --second-audio' \
        '--second-level --seed --keyed --keyed-channels --raster --rate --format --center --key' \
        '--start-time --ctcss --dcs --truth --speech --audio-out -h --help --version' ;;
    kdsp-rx)
      echo '-o --format --rate --center --start-time --offset --freq --bandwidth --kernel -D --deemphasis' \
        '--normalize -j --keep-pieces --squelch --all -O --channels --raster --force --csv' \
        '--plan --tone --name --min-duration --max-duration -q --quiet -h --help --version' ;;
  esac
}

_kdsp_complete() {
  local program=${1##*/} cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  _kdsp_option_value "$program" "$prev" "$cur" && return 0
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_kdsp_options "$program")" -- "$cur"))
    return 0
  fi
  case "$program" in
    # kdsp takes no options: a capture, a kernel, then where the WAV goes.
    kdsp)
      case $COMP_CWORD in
        1) _kdsp_files "$cur" iq ;;
        2) _kdsp_files "$cur" kdsp ;;
        3) _kdsp_files "$cur" wav ;;
      esac ;;
    kdsp-as) _kdsp_files "$cur" kasm ;;
    kdsp-dis) _kdsp_files "$cur" kdsp ;;
    kdsp-scan) _kdsp_any_file "$cur" ;;
    kdsp-synth) _kdsp_files "$cur" iq ;;
    kdsp-rx) _kdsp_any_file "$cur" ;;
  esac
  return 0
}

complete -F _kdsp_complete kdsp kdsp-as kdsp-dis kdsp-scan kdsp-synth kdsp-rx

#!/bin/sh
# Makes the streams of LIST (tests/encoded_streams.txt) in DIR: the signals with sox, the streams
# with lame and twolame, two at a time, each written aside and then moved (runs may overlap). A
# file already there is kept (the same settings give the same bytes). A missing tool leaves its
# streams out and is reported; the tests that need them skip. Always exits 0.
#
#   encode_streams.sh LIST DIR
list=$1
dir=$2
mkdir -p "$dir" || exit 1
have() { command -v "$1" >/dev/null 2>&1; }
if ! have sox; then
    echo "encode_streams: sox is not installed, no streams made"
    exit 0
fi

# signal KIND RATE CHANNELS SECONDS: the WAV and raw s16le file of a source signal.
signal() {
    base="$dir/signal_$1_$2_$3_$4"
    [ -s "$base.raw" ] && return 0
    case "$1-$3" in
        sweep-1) synth="sine 150-3000 vol 0.5" ;;
        sweep-2) synth="sine 150-3000 sine 2500-200 vol 0.5" ;;
        tones-*) synth="sine 440 sine 1250 gain -6" ;;
        *) echo "encode_streams: unknown signal $1" >&2; return 1 ;;
    esac
    # shellcheck disable=SC2086
    sox -D -n -r "$2" -c "$3" -b 16 "$base.wav.$$.wav" synth "$4" $synth && mv "$base.wav.$$.wav" "$base.wav" &&
        sox "$base.wav" -t s16 -L "$base.raw.$$" && mv "$base.raw.$$" "$base.raw"
}

made=0
missing=""
running=0
while read -r encoder kind rate channels seconds options; do
    case "$encoder" in ''|'#'*) continue ;; esac
    if ! have "$encoder"; then
        case " $missing " in *" $encoder "*) ;; *) missing="$missing $encoder" ;; esac
        continue
    fi
    out="$dir/$(echo "${encoder}_${kind}_${rate}_${channels}_${seconds}_$options" | tr ' ' _).mpa"
    [ -s "$out" ] && continue
    signal "$kind" "$rate" "$channels" "$seconds" || continue
    # shellcheck disable=SC2086
    ( "$encoder" --quiet $options "$dir/signal_${kind}_${rate}_${channels}_${seconds}.wav" "$out.$$" &&
        mv "$out.$$" "$out" || echo "encode_streams: $encoder $options failed" >&2 ) &
    made=$((made + 1))
    running=$((running + 1))
    if [ "$running" -ge 2 ]; then
        wait
        running=0
    fi
done < "$list"
wait
echo "encode_streams: $made made in $dir${missing:+; not installed:$missing}"
exit 0

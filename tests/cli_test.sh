#!/bin/sh
# mpadec and mpainfo on the bundled samples: sample counts, --start, --threads,
# gapless, output sizes per --bits, exit codes.
#   cli_test.sh MPADEC MPAINFO SOURCE_DIR
set -u
mpadec=$1 mpainfo=$2 samples=$3/samples
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
size() { wc -c <"$1" | tr -d ' '; }

for f in "$samples/sample.mp3" "$samples/sample.mp2"; do
    name=$(basename "$f")
    "$mpadec" --raw "$f" "$tmp/full.raw" 2>/dev/null || fail "$name: mpadec exited $?"
    total=$("$mpainfo" --summary "$f" | sed -n 's/^samples: //p')
    # Both samples are 44.1 kHz stereo: 4 bytes a sample period in 16 bits.
    got=$(($(size "$tmp/full.raw") / 4))
    [ "$got" = "$total" ] || fail "$name: mpadec gave $got samples, mpainfo says $total"

    # Unseekable input: the same samples, the end padding trimmed as well.
    "$mpadec" --raw - "$tmp/stdin.raw" <"$f" 2>/dev/null && cmp -s "$tmp/full.raw" "$tmp/stdin.raw" ||
        fail "$name: decoding standard input differs from decoding the file"

    "$mpadec" --raw --start 2.5 "$f" "$tmp/start.raw" 2>/dev/null &&
        tail -c +$((110250 * 4 + 1)) "$tmp/full.raw" | cmp -s - "$tmp/start.raw" ||
        fail "$name: --start 2.5 is not the tail of the full decode from sample 110250"
    "$mpadec" --raw --threads 3 --start 1.5 "$f" "$tmp/threads.raw" 2>/dev/null &&
        tail -c +$((66150 * 4 + 1)) "$tmp/full.raw" | cmp -s - "$tmp/threads.raw" ||
        fail "$name: --threads 3 --start 1.5 is not the tail of the full decode from sample 66150"

    "$mpadec" --raw --no-gapless "$f" "$tmp/nogap.raw" 2>/dev/null
    nogap=$(($(size "$tmp/nogap.raw") / 4))
    case $name in
    *.mp3) [ "$nogap" -gt "$got" ] || fail "$name: --no-gapless gave $nogap samples, gapless $got" ;;
    *) [ "$nogap" = "$got" ] || fail "$name: no LAME tag, yet --no-gapless gave $nogap samples, gapless $got" ;;
    esac

    for bits in 24:3 32:4 f32:4; do
        "$mpadec" --bits "${bits%:*}" "$f" "$tmp/out.wav" 2>/dev/null
        want=$((44 + total * 2 * ${bits#*:}))
        [ "$(size "$tmp/out.wav")" = "$want" ] || fail "$name: --bits ${bits%:*} wrote $(size "$tmp/out.wav") bytes, not $want"
    done
done

"$mpadec" --frobnicate "$samples/sample.mp3" "$tmp/x.wav" 2>/dev/null
[ $? = 2 ] || fail "an unknown option does not exit 2"
"$mpadec" "$tmp/absent.mp3" "$tmp/x.wav" 2>"$tmp/err"
[ $? = 1 ] || fail "a missing input does not exit 1"
grep -q "absent.mp3" "$tmp/err" || fail "a missing input gives no message naming it: $(cat "$tmp/err")"

[ $failures = 0 ] && echo "cli_test: all passed"
exit $((failures != 0))

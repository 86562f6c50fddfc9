#!/usr/bin/env bash
# Regenerates the speed table of README.md, the lines between
# <!-- speed-table:begin --> and <!-- speed-table:end -->, from one run of
# every decoder mpabench has (rovaz, libmpg123's fastest decoder here and its
# generic one, libmad, libavcodec) on every test file:
#
#   bench/speed-table.sh [--rounds N]     # N rounds of CPU time (default 5)
#
# - instructions: each decoder decodes each file once (mpabench --once) under
#   callgrind, collecting the decode loop alone (--collect-atstart=no
#   --toggle-collect on its loop function): no library set-up, no open, no
#   file read. Counts do not depend on the load of the machine, so these runs
#   go JOBS at a time (default 2).
# - CPU time: mpabench's rounds, pinned to one CPU (BENCH_CPU, default the
#   last; empty: not pinned), best of the rounds.
#
# Builds BUILD_DIR/mpabench (default build/, Release) and makes the test files
# once into BUILD_DIR/bench-data (bench/data.sh, as bench/run.sh does). The
# Layer I row needs the conformance stream l1-fl6 (../shared/conformance); the
# table says when it is left out. Logs and callgrind output stay in
# BUILD_DIR/speed-table/. SPEED_TABLE_FILE picks another file to rewrite.
set -euo pipefail
rounds=5
command=bench/speed-table.sh
for var in BUILD_DIR BENCH_CPU JOBS SPEED_TABLE_FILE; do
  [ -z "${!var+set}" ] || command="$var=${!var} $command"
done
[ $# -eq 0 ] || command="$command $*"
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: bench/speed-table.sh [--rounds N]" >&2; exit 2 ;;
  esac
done
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
build=${BUILD_DIR:-build}
data=$build/bench-data
readme=${SPEED_TABLE_FILE:-$repo/README.md}
jobs_at_once=${JOBS:-2}
started=$(date +%s)

for tool in cmake lame twolame sox valgrind python3; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "speed-table: $tool is missing (scripts/install-deps.sh installs it)" >&2
    exit 2
  fi
done
grep -q '<!-- speed-table:begin -->' "$readme" && grep -q '<!-- speed-table:end -->' "$readme" || {
  echo "speed-table: $readme has no <!-- speed-table:begin --> / <!-- speed-table:end --> lines" >&2
  exit 2
}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target mpabench >/dev/null

source "$repo/bench/data.sh"
[ -z "$l1" ] || files+=("$l1")

work=$build/speed-table
rm -rf "$work"
mkdir -p "$work/callgrind"

pin=()
cpu=${BENCH_CPU-$(( $(nproc) - 1 ))}
if [ -n "$cpu" ] && command -v taskset >/dev/null 2>&1; then
  pin=(taskset -c "$cpu")
fi

# ---- CPU time ----
load=$(cut -d' ' -f1 /proc/loadavg)
echo "== CPU time: mpabench, $rounds rounds${pin:+, on CPU $cpu}, load $load"
"${pin[@]}" "$build/mpabench" --rounds "$rounds" --results "$work/cpu.tsv" "${files[@]}" | tee "$work/cpu.txt"
load_after=$(cut -d' ' -f1 /proc/loadavg)
fastest=$(sed -n 's/^libmpg123 decoders on .* -> //p' "$work/cpu.txt")
picked=$(sed -n 's/^libmpg123 decoders on \(.*\) -> .*/\1/p' "$work/cpu.txt")
mapfile -t keys < <(cut -f7 "$work/cpu.tsv" | awk '!seen[$0]++')

# ---- instructions ----
loop_of() {
  case $1 in
    rovaz) echo loop_rovaz ;;
    mpg123 | mpg123-generic) echo loop_mpg123 ;;
    libmad) echo loop_mad ;;
    libavcodec) echo loop_avcodec ;;
  esac
}
count() {  # count KEY FILE: one decode under callgrind, the loop alone
  local out=$work/callgrind/$1.$(basename "$2")
  local forced=()
  [ -z "$fastest" ] || forced=(--mpg123-decoder "$fastest")
  if valgrind --tool=callgrind --collect-atstart=no "--toggle-collect=*$(loop_of "$1")(*" \
       --callgrind-out-file="$out.out" "$build/mpabench" --once --only "$1" "${forced[@]}" "$2" \
       >"$out.log" 2>&1; then
    echo ok >"$out.status"
  else
    echo failed >"$out.status"
  fi
}
echo
echo "== instructions: callgrind, ${#keys[@]} decoders x ${#files[@]} files, $jobs_at_once at a time"
for key in "${keys[@]}"; do
  for f in "${files[@]}"; do
    count "$key" "$f" &
    while [ "$(jobs -rp | wc -l)" -ge "$jobs_at_once" ]; do wait -n || true; done
  done
done
wait
failed=$(grep -l failed "$work"/callgrind/*.status || true)
if [ -n "$failed" ]; then
  echo "speed-table: decodes that failed under callgrind (their logs are beside):" >&2
  echo "$failed" >&2
  exit 1
fi

# ---- the table ----
version=$(sed -n 's/^project(rovaz VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff-index --quiet HEAD -- 2>/dev/null || commit="$commit with uncommitted changes"
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
export SPEED_README=$readme SPEED_WORK=$work SPEED_ROUNDS=$rounds SPEED_FASTEST=$fastest SPEED_COMMAND=$command SPEED_PICKED=$picked
export SPEED_L1=${l1:+yes} SPEED_PIN=${pin:+$cpu} SPEED_STARTED=$started SPEED_LOAD="$load before the rounds, $load_after after"
export SPEED_FILES=$(printf '%s\n' "${files[@]}" | xargs -n1 basename | paste -sd' ')
export SPEED_KEYS="${keys[*]}"
export SPEED_SYSTEM="$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1) ($(nproc) CPUs), \
Debian $(cat /etc/debian_version 2>/dev/null || echo '?'), $("${compiler:-c++}" --version 2>/dev/null \
| grep -q clang && echo clang || echo g++) $("${compiler:-c++}" -dumpfullversion 2>/dev/null || "${compiler:-c++}" -dumpversion) -O3, rovaz $version ($commit)"
export SPEED_LIBS="$(dpkg-query -W -f='${Package} ${Version}\n' 'libmpg123-0' 'libmad0' 'libavcodec[0-9]*' 2>/dev/null \
| awk '$2 != "" {printf "%s%s %s", n++ ? ", " : "", $1, $2}')"
python3 - <<'PY'
import os, re, textwrap, time

work = os.environ["SPEED_WORK"]
files = os.environ["SPEED_FILES"].split()
keys = os.environ["SPEED_KEYS"].split()
fastest = os.environ["SPEED_FASTEST"]
heads = {"rovaz": "rovaz", "mpg123": "libmpg123 " + (fastest or "default"),
         "mpg123-generic": "libmpg123 generic", "libmad": "libmad", "libavcodec": "libavcodec (float)"}

speed = {}  # (file, key): seconds of audio per CPU second, best of the rounds
for line in open(os.path.join(work, "cpu.tsv")):
    f = line.rstrip("\n").split("\t")
    speed[(f[0], f[6])] = float(f[2])

instructions, audio = {}, {}
for key in keys:
    for name in files:
        base = os.path.join(work, "callgrind", key + "." + name)
        totals = re.search(r"^totals: (\d+)", open(base + ".out").read(), re.M)
        if not totals or int(totals.group(1)) == 0:
            raise SystemExit("speed-table: callgrind collected nothing for %s on %s: is its loop still "
                             "a function of its own in bench/bench.cpp?" % (key, name))
        instructions[(name, key)] = int(totals.group(1))
        m = re.search(r"^\S+ \S+ ([0-9.]+)s ", open(base + ".log").read(), re.M)
        audio[name] = float(m.group(1))

def label(name):
    return name + (" (%.1f s)" % audio[name] if audio[name] < 10 else "")

def row(name, cells):
    return "| %s | %s |" % (label(name), " | ".join(cells))

peers = [k for k in keys if k != "rovaz"]
header = "| file | " + " | ".join(heads[k] for k in keys) + " |"
rule = "|---|" + "---:|" * len(keys)
out = []
when = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
minutes = (time.time() - float(os.environ["SPEED_STARTED"])) / 60
out += textwrap.wrap("%s, %s; %s. Command: `%s` (%.1f minutes). In brackets: the peer's figure against "
                     "rovaz's, more than 1 where rovaz needs less." % (
                         when, os.environ["SPEED_SYSTEM"], os.environ["SPEED_LIBS"], os.environ["SPEED_COMMAND"],
                         minutes), width=104, break_on_hyphens=False, break_long_words=False)
out.append("")
out.append("Instructions per second of audio (millions), the decode loop alone under callgrind:")
out.append("")
out.append(header)
out.append(rule)
for name in files:
    mine = instructions[(name, "rovaz")]
    cells = ["%.2f" % (mine / audio[name] / 1e6)]
    for k in peers:
        n = instructions[(name, k)]
        ratio = "%.2f" % (n / mine)
        cells.append("%.2f (%s)" % (n / audio[name] / 1e6, "**%s**" % ratio if k == "mpg123" else ratio))
    out.append(row(name, cells))
out.append("")
pin = os.environ["SPEED_PIN"]
rounds = os.environ["SPEED_ROUNDS"]
heading = "Seconds of audio decoded per CPU second, best of %s round%s%s (load average %s" % (
    rounds, "" if rounds == "1" else "s", ", pinned to CPU " + pin if pin else "", os.environ["SPEED_LOAD"])
if os.environ["SPEED_PICKED"]:
    # "FILE: NAME 1176.6x NAME 1132.9x ..." from mpabench's choice of libmpg123's decoder
    name, figures = os.environ["SPEED_PICKED"].split(": ", 1)
    f = figures.split()
    heading += "; libmpg123's decoders as timed at start on %s: %s" % (
        name, ", ".join("%s %.0f" % (f[i], float(f[i + 1].rstrip("x"))) for i in range(0, len(f) - 1, 2)))
out += textwrap.wrap(heading + "):", width=104)
out.append("")
out.append(header)
out.append(rule)
for name in files:
    mine = speed[(name, "rovaz")]
    cells = ["%.0f" % mine]
    for k in peers:
        x = speed[(name, k)]
        ratio = "%.2f" % (mine / x)
        cells.append("%.0f (%s)" % (x, "**%s**" % ratio if k == "mpg123" else ratio))
    out.append(row(name, cells))
if not os.environ["SPEED_L1"]:
    out.append("")
    out.append("No Layer I row: the conformance stream l1-fl6.bit (`../shared/conformance`) was not there.")

path = os.environ["SPEED_README"]
text = open(path).read()
begin, end = "<!-- speed-table:begin -->\n", "<!-- speed-table:end -->"
a = text.index(begin) + len(begin)
b = text.index(end, a)
text = text[:a] + "\n".join(out) + "\n\n" + text[b:]
tmp = path + ".speed-table.tmp"
open(tmp, "w").write(text)
os.replace(tmp, path)
print("\n".join(out))
PY
echo
echo "speed-table: $readme rewritten ($(( $(date +%s) - started )) s)"

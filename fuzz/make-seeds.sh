#!/usr/bin/env bash
# Makes the seed inputs of the fuzz targets.
#
#   fuzz/make-seeds.sh                    small streams of every layer, made
#                                         with sox, lame and twolame (and a
#                                         Layer I writer below), into fuzz/seeds
#   fuzz/make-seeds.sh --conformance DIR OUT
#                                         the first frames of each conformance
#                                         bitstream in DIR, into OUT/<target>;
#                                         for local runs only, never committed
#
# Stream seeds start with the four bytes that steer fuzz_stream (window size,
# CRC check, preceding bytes, output format); header seeds with the byte that
# picks fuzz_header's previous header; PCM seeds are flag word, count and floats.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" = "--conformance" ]; then
  src=$2
  out=$3
  mode=conformance
else
  out=$here/seeds
  src=
  mode=generated
  for tool in sox lame twolame python3; do
    command -v $tool >/dev/null || { echo "make-seeds.sh: $tool is missing" >&2; exit 1; }
  done
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [ $mode = generated ]; then
  # Plucked notes over noise: attacks make lame switch to short blocks.
  signal() {  # rate channels file
    sox -n -r "$1" -c "$2" -b 16 "$3" synth 0.5 pluck C3 pluck G4 noise vol 0.6 \
        tremolo 9 80 gain -3 2>/dev/null
  }
  for r in 16000 22050 24000 32000 44100 48000; do
    signal $r 2 "$tmp/s$r.wav"
    signal $r 1 "$tmp/m$r.wav"
  done
  l3() { name=$1; shift; lame --quiet -t "$@" "$tmp/$name.mp3.wav" "$tmp/$name.mp3"; }
  l2() { name=$1; shift; twolame --quiet "$@" "$tmp/$name.mp2.wav" "$tmp/$name.mp2"; }
  enc() {  # name input tool options...
    ln -sf "$2" "$tmp/$1.$3.wav"
    name=$1; tool=$3; shift 3
    if [ $tool = mp3 ]; then l3 $name "$@"; else l2 $name "$@"; fi
  }
  enc l3-m1-stereo-128     "$tmp/s44100.wav" mp3 -b 128 -m s
  enc l3-m1-joint-vbr      "$tmp/s48000.wav" mp3 -V 2 -m j
  enc l3-m1-mono-crc       "$tmp/m32000.wav" mp3 -b 64 -m m -p
  enc l3-m1-stereo-nores   "$tmp/s44100.wav" mp3 -b 96 -m s --nores
  enc l3-m1-free           "$tmp/s44100.wav" mp3 -b 200 --freeformat
  enc l3-m2-joint          "$tmp/s22050.wav" mp3 -b 64 -m j
  enc l3-m2-mono-crc       "$tmp/m16000.wav" mp3 -b 24 -m m -p
  enc l3-m2-stereo-24k     "$tmp/s24000.wav" mp3 -b 48 -m s
  enc l2-m1-joint-crc      "$tmp/s44100.wav" mp2 -b 192 -m j -p
  enc l2-m1-mono           "$tmp/m32000.wav" mp2 -b 64 -m m
  enc l2-m1-dual           "$tmp/s48000.wav" mp2 -b 256 -m d
  enc l2-m1-free           "$tmp/s48000.wav" mp2 -b 160 --freeformat
  enc l2-m2-stereo         "$tmp/s24000.wav" mp2 -b 96 -m s
  enc l2-m2-mono-crc       "$tmp/m16000.wav" mp2 -b 32 -m m -p
fi

python3 - "$mode" "$tmp" "$out" "$src" <<'EOF'
import math, os, random, struct, sys

mode, tmp, out, src = sys.argv[1:5]
random.seed(1)

BITRATE = {  # [id][layer_bits]
    0: {1: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
        2: [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160],
        3: [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256]},
    1: {1: [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
        2: [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
        3: [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448]},
}
RATE = {0: [22050, 24000, 16000], 1: [44100, 48000, 32000]}

def sync(b, i):
    return b[i] == 0xFF and (b[i + 1] & 0xF6) > 0xF0 and (b[i + 2] & 0xF0) != 0xF0 \
        and (b[i + 2] & 0x0C) != 0x0C

def frame_len(b, i):
    ver, layer = (b[i + 1] >> 3) & 1, (b[i + 1] >> 1) & 3
    idx, sr, pad = b[i + 2] >> 4, (b[i + 2] >> 2) & 3, (b[i + 2] >> 1) & 1
    if idx == 0:  # free format: the next header alike
        for k in range(i + 48, len(b) - 3):
            if b[k] == 0xFF and b[k + 1] == b[i + 1] and (b[k + 2] ^ b[i + 2]) & 0xFC == 0:
                return k - i
        return len(b) - i
    samples = 384 if layer == 3 else (576 if layer == 1 and ver == 0 else 1152)
    n = samples // 8 * BITRATE[ver][layer][idx] * 1000 // RATE[ver][sr]
    return (n // 4 + pad) * 4 if layer == 3 else n + pad

def frames(b):
    """Offsets and lengths of the frames from the first header on."""
    i, out_ = 0, []
    while i + 4 <= len(b) and not sync(b, i):
        i += 1
    while i + 4 <= len(b) and sync(b, i):
        n = frame_len(b, i)
        out_.append((i, n))
        i += n
    return out_

def first(b, count, skip=0):
    fr = frames(b)[skip:skip + count]
    return b[fr[0][0]:fr[-1][0] + fr[-1][1]]

def write(target, name, data):
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), 'wb') as f:
        f.write(bytes(data))

def stream_cfg(window, crc_off=0, preceding=1, skip_whole=0, extra=0, fmt=8, rng=0):
    return bytes([window | crc_off << 3 | preceding << 4 | skip_whole << 6, extra, fmt, rng])

def crc16(bits):
    reg = 0xFFFF
    for bit in bits:
        top = (reg >> 15) & 1
        reg = (reg << 1) & 0xFFFF
        if top ^ bit:
            reg ^= 0x8005
    return reg

class Bits:
    def __init__(self):
        self.bits = []
    def put(self, v, n):
        self.bits += [(v >> (n - 1 - k)) & 1 for k in range(n)]
    def bytes(self, total):
        bits = self.bits + [0] * (total * 8 - len(self.bits))
        return bytes(int(''.join(map(str, bits[k:k + 8])), 2) for k in range(0, len(bits), 8))

def layer1_frame(ver, br_idx, sr_idx, mode, mode_ext, crc):
    """A Layer I frame with random allocations, scale factors and samples."""
    nch = 1 if mode == 3 else 2
    bound = 4 + 4 * mode_ext if mode == 1 else 32
    head = [0xFF, 0xF6 | ver << 3 | (0 if crc else 1), br_idx << 4 | sr_idx << 2, mode << 6 | mode_ext << 4]
    size = (12 * BITRATE[ver][3][br_idx] * 1000 // RATE[ver][sr_idx]) * 4
    budget = size * 8 - 32 - (16 if crc else 0) - (bound * nch + (32 - bound)) * 4
    alloc = [[0] * 32 for _ in range(nch)]
    for sb in range(32):
        for ch in range(nch if sb < bound else 1):
            a = random.randint(1, 14) if sb < 20 else random.choice([0, 0, 1, 2])
            cost = 6 * (nch if sb >= bound else 1) + 12 * (a + 1) * (nch if sb >= bound else 1)
            if a and cost <= budget:
                budget -= cost
                alloc[ch][sb] = a
                if sb >= bound and nch == 2:
                    alloc[1][sb] = a
    b = Bits()
    for sb in range(32):
        for ch in range(nch if sb < bound else 1):
            b.put(alloc[ch][sb], 4)
    alloc_bits = list(b.bits)
    for sb in range(32):
        for ch in range(nch):
            if alloc[ch][sb]:
                b.put(random.randint(0, 62), 6)
    for s in range(12):
        for sb in range(32):
            for ch in range(nch if sb < bound else 1):
                nb = alloc[ch][sb] + 1 if alloc[ch][sb] else 0
                if nb:
                    b.put(random.randint(0, (1 << nb) - 2), nb)
    body = b.bytes(size - 4 - (2 if crc else 0))
    word = b''
    if crc:
        hb = Bits()
        hb.put(head[2], 8)
        hb.put(head[3], 8)
        word = struct.pack('>H', crc16(hb.bits + alloc_bits))
    return bytes(head) + word + body

if mode == 'generated':
    streams = {}
    for f in sorted(os.listdir(tmp)):
        if f.endswith('.mp3') or f.endswith('.mp2'):
            with open(os.path.join(tmp, f), 'rb') as fh:
                streams[f[:-4]] = fh.read()
    streams['l1-m1-joint-crc'] = b''.join(layer1_frame(1, 6, 0, 1, k % 4, True) for k in range(5))
    streams['l1-m1-mono'] = b''.join(layer1_frame(1, 4, 2, 3, 0, False) for k in range(5))
    streams['l1-m1-stereo-448'] = b''.join(layer1_frame(1, 14, 1, 0, 0, True) for k in range(3))
    streams['l1-m2-dual'] = b''.join(layer1_frame(0, 8, 1, 2, 0, False) for k in range(5))

    # Mostly windows that hold whole frames; a free-format frame's length is
    # known only with its successor in the window.
    windows = [6, 7, 5, 6, 3, 7]
    for n, (name, data) in enumerate(sorted(streams.items())):
        count = 4 if name.startswith('l1') else 5
        crc_off = 1 if ('crc' in name and n % 2) else 0
        cfg = stream_cfg(7 if 'free' in name else windows[n % len(windows)], crc_off=crc_off, preceding=n % 4,
                         skip_whole=n % 2, extra=n * 7 % 256, fmt=[8, 0, 12, 6][n % 4], rng=0 if n % 3 else n)
        write('stream', name, cfg + first(data, count))
        write('header', name, bytes([n % 4 if n % 4 != 2 else 1]) + first(data, 3))
    # A Layer III stream entered mid-reservoir: its first frames reach back.
    write('stream', 'l3-mid-reservoir', stream_cfg(6) + b'\0' * 37 + first(streams['l3-m1-stereo-128'], 4, skip=6))
    # Junk with false syncs before a frame, and a stream cut inside a frame.
    write('stream', 'junk-then-frame', stream_cfg(3, extra=200) + bytes([0xFF, 0xFB, 0x90, 0x00] * 9) +
          b'\x11' * 50 + first(streams['l2-m1-mono'], 2))
    write('stream', 'cut-frame', stream_cfg(1, extra=40) + first(streams['l3-m2-joint'], 3)[:-100])

    # PCM conversion: every layout and format, special values, odd counts.
    special = [math.nan, math.inf, -math.inf, 1e30, -1e30, 32767.0, 32767.9, 32768.0, -32768.0,
               -32768.9, -32769.0, 32767.0 / 256, 8388607.0 / 256, -8388608.0 / 256, 1e-40, -0.0,
               0.5, -0.5, 12345.678, -2.0 ** 31, 2.0 ** 31]
    def floats(n):
        v = [special[k % len(special)] if k % 5 == 0 else 30000 * math.sin(k * 0.05) for k in range(n)]
        return struct.pack('<%df' % n, *v)
    # The floats not given are zero: channel 1 starts at float 1152.
    for flags, count, second, n in [(0, 1152, 0, 300), (9, 1152, 0, 1200), (4, 384, 1, 400),
                                     (5, 576, 0, 1200), (6, 100, 0, 300), (7, 1152, 1, 1200),
                                     (13, 33, 0, 1200), (14, 1, 0, 4), (15, 1152, 0, 1200),
                                     (2, 10, 0, 40), (1, 5, 0, 1160), (0xFFFFFFF9, 2000, 1, 1200),
                                     (8, -1, 0, 8), (9, 0, 0, 8)]:
        write('pcm', 'flags%x-count%d' % (flags, count),
              struct.pack('<Ih', flags, count) + bytes([second]) + floats(n))
else:
    for f in sorted(os.listdir(src)):
        if not f.endswith('.bit'):
            continue
        with open(os.path.join(src, f), 'rb') as fh:
            data = fh.read()
        if not frames(data):
            continue
        name = f[:-4]
        write('stream', name, stream_cfg(6) + first(data, 6))
        write('stream', name + '-crc-off', stream_cfg(3, crc_off=1, preceding=2, rng=7) + first(data, 6, skip=3))
        write('header', name, bytes([1]) + first(data, 3))
EOF
echo "seeds in $out: $(find "$out" -type f | wc -l) files, $(du -sk "$out" | cut -f1) KB"

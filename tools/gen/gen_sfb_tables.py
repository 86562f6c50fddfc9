#!/usr/bin/env python3
"""Generates src/layer3/sfb_tables.cpp, the Layer III scale-factor band lists.

Input: a plain-text table of band edges (ISO/IEC 11172-3 Table B.8 and
ISO/IEC 13818-3 Table B.2), one row per version, sampling rate and block
length. Output: mpa_sfb_bands[36][41], indexed by
(version * 4 + sampling_index) * 3 + block_kind, version being the header's
id (0 MPEG-2 LSF, 1 MPEG-1) or 2 for MPEG 2.5, each entry
{band count, short band count, widths in bitstream order...}; and
mpa_sfb_band_starts[36][40], the first line of each list entry, then 576 (the
end of the last entry) in the remaining places.

MPEG 2.5 (11025, 12000 and 8000 Hz) is in no standard, and its rows are
derived here from the 16000 Hz rows of the input (see mpeg25_edges).

Usage: gen_sfb_tables.py [--root DIR] [SFB_BANDS_TXT]
(default: tools/gen/data/sfb_bands.txt)
"""

import common

# ---------------------------------------------------------------------------
# 24 kHz long blocks: the edge between long bands 17 and 18 (start of band 18).
# ISO/IEC 13818-3 prints 332 (band widths 54 and 62); some early reference
# software used 330 (widths 52 and 64). The conformance references for 24 kHz
# agree with 332. Change this one value to switch; None keeps the input's edge.
LSF_24000_LONG_EDGE_18 = 332
# ---------------------------------------------------------------------------

# Sampling rates in header order (sampling_index 0, 1, 2) for each version.
RATES = {
    1: (44100, 48000, 32000),  # id 1: MPEG-1
    0: (22050, 24000, 16000),  # id 0: MPEG-2 low sampling frequencies
    2: (11025, 12000, 8000),   # MPEG 2.5 (id 0, twelfth sync bit 0)
}
VERSION_NAME = {1: "mpeg1", 0: "lsf", 2: "mpeg25"}
GRANULE_LINES = {"long": 576, "short": 192}
BAND_COUNT = {"long": 22, "short": 13}
# Narrowest band: short-block reordering moves two lines per step.
MIN_WIDTH = 2

LONG, SHORT, MIXED = 0, 1, 2
ENTRY_BYTES = 41


def read_edges(path):
    edges = {}
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            version, rate, kind = fields[0], int(fields[1]), fields[2]
            edges[(version, rate, kind)] = [int(v) for v in fields[3:]]
    return edges


def widths_of(edges):
    return [b - a for a, b in zip(edges, edges[1:])]


def mpeg25_edges(edges, rate, kind):
    """The band edges of MPEG 2.5, from the 16000 Hz rows of ISO/IEC 13818-3.

    11025 and 12000 Hz: the 16000 Hz edges as they are, in lines (ISO/IEC
    13818-3 itself gives 16000 and 22050 Hz the same long bands in lines).

    8000 Hz: the 16000 Hz edges doubled, which keeps each band edge at the
    same frequency (a line at 8 kHz is half as wide). Doubled, the higher
    bands pass the end of the granule (line 576, or 192 for short blocks):
    from the first band that would, each band is MIN_WIDTH lines wide and
    the last takes the lines that remain; where fewer than MIN_WIDTH would
    remain, the band before the narrow ones ends earlier. That gives
    long:  0 12 24 36 48 60 72 88 108 132 160 192 232 280 336 400 476 566 568 570 572 574 576
    short: 0 8 16 24 36 52 72 96 124 160 162 164 166 192

    The check: lame 3.100's MPEG 2.5 streams at all three rates, long and
    short blocks, full-band noise included, decoded with these tables agree
    with libmpg123 to 0.013 in 16-bit units (tests/peer_compare.cpp for the
    test's streams); a short band of 8000 Hz moved by a few lines makes that
    thousands. At the top of the 8000 Hz long table, though, lame's streams
    tell nothing (moving the edge at 566 changes no sample): the narrow long
    bands there rest on the rule above alone. lame writes no mixed blocks
    (their layout is in band_lists).
    """
    base = edges[("lsf", 16000, kind)]
    if rate in (11025, 12000):
        return list(base)
    assert rate == 8000
    end, n = GRANULE_LINES[kind], BAND_COUNT[kind]
    doubled = [2 * e for e in base]
    first_past = next(b for b in range(n) if doubled[b + 1] > end)
    out = doubled[:first_past + 1]
    narrow = n - first_past  # bands from first_past on
    if end - (out[-1] + MIN_WIDTH * (narrow - 1)) < MIN_WIDTH:
        out[-1] = end - MIN_WIDTH * narrow
    out += [out[-1] + MIN_WIDTH * k for k in range(1, narrow)] + [end]
    assert out[-2] > out[-3] and all(b > a for a, b in zip(out, out[1:]))
    return out


def band_lists(version, rate, edges):
    if version == "mpeg25":
        long_edges = mpeg25_edges(edges, rate, "long")
        short_edges = mpeg25_edges(edges, rate, "short")
    else:
        long_edges = list(edges[(version, rate, "long")])
        short_edges = edges[(version, rate, "short")]
    if version == "lsf" and rate == 24000 and LSF_24000_LONG_EDGE_18 is not None:
        assert long_edges[18] in (330, 332), long_edges
        long_edges[18] = LSF_24000_LONG_EDGE_18
    assert len(long_edges) == 23 and long_edges[0] == 0 and long_edges[-1] == 576
    assert len(short_edges) == 14 and short_edges[0] == 0 and short_edges[-1] == 192

    long_w = widths_of(long_edges)
    short_w = widths_of(short_edges)
    # Short-block reordering interleaves two lines per step.
    assert all(w % 2 == 0 for w in short_w), short_w

    # Mixed blocks: the long bands that cover the lines before short band 3
    # of the three windows, then short bands 3..12. Short band 3 starts at
    # line 12 of each window (3 x 12 = 36: long bands 0..7 in MPEG-1, 0..5 in
    # LSF) except in MPEG 2.5 at 8000 Hz, where it starts at line 24: long
    # bands 0..5 again, as the LSF scale-factor syntax of mixed blocks
    # counts them, over 72 lines.
    n_mixed_long = long_edges.index(3 * short_edges[3])
    assert n_mixed_long == (8 if version == "mpeg1" else 6), n_mixed_long

    lists = {
        LONG: (22, 0, long_w),
        SHORT: (39, 13, [w for w in short_w for _ in range(3)]),
        MIXED: (n_mixed_long + 30, 10,
                long_w[:n_mixed_long] + [w for w in short_w[3:] for _ in range(3)]),
    }
    for count, short_count, ws in lists.values():
        assert len(ws) == count and sum(ws) == 576 and max(ws) < 256
    return lists


START_COUNT = ENTRY_BYTES - 1  # one start per band (at most 39), and the end


def main():
    args = common.parse_args(__doc__, "sfb_bands.txt")
    edges = read_edges(args.input)

    rows = []
    for ident in (0, 1, 2):
        for sampling_index in range(4):
            for kind in (LONG, SHORT, MIXED):
                label = "%s, sampling_index %d, %s" % (
                    VERSION_NAME[ident], sampling_index, ("long", "short", "mixed")[kind])
                if sampling_index == 3:
                    rows.append((label + " (reserved, unused)", [0] * ENTRY_BYTES))
                    continue
                rate = RATES[ident][sampling_index]
                count, short_count, ws = band_lists(VERSION_NAME[ident], rate, edges)[kind]
                entry = [count, short_count] + ws
                entry += [0] * (ENTRY_BYTES - len(entry))
                rows.append(("%s (%d Hz)" % (label, rate), entry))

    out = []
    out.append("// Generated by tools/gen/gen_sfb_tables.py from the scale-factor band edges of")
    out.append("// ISO/IEC 11172-3 Table B.8 and ISO/IEC 13818-3 Table B.2 (MPEG 2.5 derived")
    out.append("// from the 16 kHz rows). Do not edit.")
    out.append("// Entry (version * 4 + sampling_index) * 3 + block_kind, version the id or 2")
    out.append("// for MPEG 2.5: band count, short band count, then the band widths in lines,")
    out.append("// in bitstream order (short bands once per window). Every list covers 576 lines.")
    out.append('#include "layer3/sfb_tables.h"')
    out.append("")
    out.append("const uint8_t mpa_sfb_bands[%d][%d] = {" % (len(rows), ENTRY_BYTES))
    for label, entry in rows:
        out.append("    // %s" % label)
        out.append("    {" + ", ".join(str(v) for v in entry) + "},")
    out.append("};")
    out.append("")
    out.append("// Per entry the first line of each band of the list, then 576 up to the end.")
    out.append("const uint16_t mpa_sfb_band_starts[%d][%d] = {" % (len(rows), START_COUNT))
    for label, entry in rows:
        starts = [0]
        for w in entry[2:2 + entry[0]]:
            starts.append(starts[-1] + w)
        assert entry[0] == 0 or starts[-1] == 576, label
        starts += [576 if entry[0] else 0] * (START_COUNT - len(starts))
        out.append("    // %s" % label)
        out.append("    {" + ", ".join(str(v) for v in starts) + "},")
    out.append("};")
    common.write_lines(args.root, "src/layer3/sfb_tables.cpp", out)


if __name__ == "__main__":
    main()

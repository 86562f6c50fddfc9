#!/usr/bin/env python3
"""Generates the Layer III Huffman lookups from the codes of ISO/IEC 11172-3
Table B.7 (huffman_codes.txt, one line per value pair or quadruple):

  src/layer3/huffman_tables.h    lookup declarations and, per code table, a
                                 small struct whose inline lookup() picks the
                                 sub-lookup by comparing the cache against
                                 value ranges
  src/layer3/huffman_tables.cpp  the lookup arrays
  tests/support/huffman_codes.h  the plain code lists, for the tests' encoder

Each code table is split into value ranges of the left-aligned 32-bit cache.
A range is looked up with the top W bits, W being its longest code, so short
codes are replicated. The split is chosen per table by a small search that
weighs the bytes of the lookups against the expected number of compares (the
code of a table is optimal for probabilities 2^-length, which is the weight
used). Codes too long to be looked up together with their sign bits in 16
bits sit in a prefix range that is decoded in two steps: the prefix is
consumed and the rest looked up (the caller's wide reader holds enough bits
for the whole pair, so no refill comes between).

Entry formats:
  pair tables      |x| in bits 15-12, |y| in bits 11-8, the code's length
                   and its sign bits (one per non-zero value) in bits 7-4, the
                   code's length in bits 3-0
  count1 tables    by the top 10 bits of the cache: the quadruple's row of
                   mpa_huff_quad_values in bits 15-4, the length of code and
                   sign bits in bits 3-0
The lengths count from the first bit the lookup was indexed with (for a
two-step range: the bits after the consumed prefix). Code and signs fit the
four bits of bits 7-4 because one step looks up at most 13 bits.

Usage: gen_huffman_tables.py [--root DIR] [HUFFMAN_CODES_TXT]
(default: tools/gen/data/huffman_codes.txt)
"""

import functools

import common

SMALL_TABLES = (1, 2, 3, 5, 6)   # one lookup over the longest code
LINBITS_TABLES = (16, 24)        # code tables with linbits (16..23, 24..31)
BYTES_PER_COMPARE = 1000         # weight of one expected compare, in lookup bytes
ESCAPE_PENALTY = 2.0             # extra compares charged for a two-step decode
MAX_RANGES = 4


def parse(path):
    tables, count1 = {}, {}
    cur = None
    with open(path) as f:
        for raw in f:
            line = raw.split("#")[0].strip()
            if not line:
                continue
            fields = line.split()
            if fields[0] == "table":
                attrs = dict(zip(fields[2::2], fields[3::2]))
                cur = {"xmax": int(attrs["xmax"]), "ymax": int(attrs["ymax"]),
                       "linbits": int(attrs["linbits"]),
                       "same": int(attrs["same-codes-as"]) if "same-codes-as" in attrs else None,
                       "codes": []}
                tables[int(fields[1])] = cur
            elif fields[0] == "count1":
                cur = {"codes": []}
                count1[fields[1]] = cur
            else:
                values = tuple(int(v) for v in fields[:-2])
                length, bits = int(fields[-2]), fields[-1]
                assert len(bits) == length and set(bits) <= {"0", "1"}, raw
                cur["codes"].append((values, length, bits))
    assert sorted(tables) == list(range(32)) and sorted(count1) == ["A", "B"]
    for n, t in tables.items():
        check_code(t["codes"], "table %d" % n)
    for name, t in count1.items():
        check_code(t["codes"], "count1 " + name)
    return tables, count1


def check_code(codes, what):
    """A complete prefix code: Kraft sum exactly 1 and no code a prefix of another."""
    if not codes:
        return
    assert sum(2 ** (32 - l) for _, l, _ in codes) == 2 ** 32, what
    spans = sorted((int(b, 2) << (32 - l), l) for _, l, b in codes)
    for (a, la), (b, _) in zip(spans, spans[1:]):
        assert a + (1 << (32 - la)) <= b, what


class Range:
    """A value range [lo, hi) of the cache, looked up with its top `width` bits
    after `prefix` bits have been consumed (prefix 0: one step)."""

    def __init__(self, lo, hi, width, prefix, codes):
        self.lo, self.hi, self.width, self.prefix, self.codes = lo, hi, width, prefix, codes

    @property
    def entries(self):
        return (self.hi - self.lo) >> (32 - self.width)


def split_table(codes, zero_bit, max_index, min_ranges, max_ranges):
    """Cheapest split of the code into min_ranges to max_ranges value ranges.

    codes: (value, length, left-aligned start). max_index: longest index (and
    longest code of a one-step range) allowed. Returns the ranges from the
    highest values down, the order in which lookup() compares."""
    top = 1 << 31 if zero_bit else 1 << 32
    items = sorted(codes, key=lambda c: c[2])
    n = len(items)
    ends = [items[i + 1][2] if i + 1 < n else top for i in range(n)]
    mass_before = [0.0]
    for c in items:
        mass_before.append(mass_before[-1] + 2.0 ** -c[1])

    def candidates(i, j):
        lo, hi = items[i][2], ends[j]
        run = items[i:j + 1]
        width = max(c[1] for c in run)
        out = []
        if width <= max_index:
            out.append(Range(lo, hi, width, 0, run))
        size = hi - lo
        if size & (size - 1) == 0 and lo % size == 0:
            prefix = 33 - size.bit_length()
            if prefix < width and width - prefix <= max_index and prefix <= 16:
                out.append(Range(lo, hi, width, prefix, run))
        return out

    @functools.lru_cache(None)
    def best(j, k):
        # items 0..j remain; the next range is the k-th compare of the chain
        if j < 0:
            return (0.0, ()) if k >= min_ranges else (float("inf"), ())
        if k >= max_ranges:
            return float("inf"), ()
        result = (float("inf"), ())
        for i in range(j, -1, -1):
            for r in candidates(i, j):
                mass = mass_before[j + 1] - mass_before[i]
                compares = k + 1 if i > 0 else k
                cost = r.entries * 2 / BYTES_PER_COMPARE + mass * compares
                if r.prefix:
                    cost += mass * ESCAPE_PENALTY
                rest = best(i - 1, k + 1)
                if cost + rest[0] < result[0]:
                    result = (cost + rest[0], (r,) + rest[1])
        return result

    _, ranges = best(n - 1, 0)
    assert ranges, "no split"
    return list(ranges)


def pack(x, y, length):
    taken = length + (x != 0) + (y != 0)
    assert length < 16 and taken < 16
    return x << 12 | y << 8 | taken << 4 | length


def fill(n, r):
    shift = 32 - r.width
    out = []
    k = 0
    for idx in range(r.entries):
        v = r.lo + (idx << shift)
        while not (r.codes[k][2] <= v < r.codes[k][2] + (1 << (32 - r.codes[k][1]))):
            k += 1
        (x, y), length, _ = r.codes[k]
        out.append(pack(x, y, length - r.prefix))
    return out


def hexw(v):
    return "0x%08xu" % v


def generate(tables, count1):
    hdr, src = [], []
    hdr += [
        "// Generated by tools/gen/gen_huffman_tables.py from ISO/IEC 11172-3 Table B.7. Do not edit.",
        "//",
        "// Per code table, lookup() returns the entry of the code at the head of the",
        "// wide reader's cache. The entry's length counts the code bits still in the",
        "// cache: a two-step range consumes its prefix before the second lookup.",
        "// Entries: |x| in bits 15-12, |y| in 11-8, the code's length with its sign bits",
        "// (one per non-zero value) in 7-4, the code's length in 3-0.",
        "#ifndef ROVAZ_LAYER3_HUFFMAN_TABLES_H",
        "#define ROVAZ_LAYER3_HUFFMAN_TABLES_H",
        "",
        "#include <cstdint>",
        '#include "core/bitstream.h"',
        "",
    ]
    src += [
        "// Generated by tools/gen/gen_huffman_tables.py from ISO/IEC 11172-3 Table B.7. Do not edit.",
        '#include "layer3/huffman_tables.h"',
        "",
    ]
    structs = []
    total = 0
    for n in sorted(tables):
        t = tables[n]
        if not t["codes"]:
            continue
        zero_bit = any(b == "1" for _, _, b in t["codes"])
        codes = [(v, l, int(b, 2) << (32 - l)) for v, l, b in t["codes"] if not (zero_bit and b == "1")]
        small = n in SMALL_TABLES
        # Code and sign bits are counted in four bits of the entry: up to 13
        # code bits per step. Linbits tables have the same limit.
        max_index = 13
        if small:
            ranges = split_table(codes, zero_bit, 16, 1, 1)
        else:
            # At least two ranges, so that the short codes' lookup stays small.
            ranges = split_table(codes, zero_bit, max_index, 2, MAX_RANGES)
        ctype = "uint16_t"
        fmt = "0x%04x"
        maxlen = max(l for _, l, _ in t["codes"])
        names = []
        for i, r in enumerate(ranges):
            name = "mpa_huff%d" % n if len(ranges) == 1 else "mpa_huff%d_%s" % (n, "abcdefgh"[i])
            names.append(name)
            values = fill(n, r)
            total += len(values) * 2
            hdr.append("extern const %s %s[%d];" % (ctype, name, len(values)))
            if r.prefix:
                src.append("// Table %d, codes beginning %s: the %d bits after that prefix." %
                           (n, format(r.lo >> (32 - r.prefix), "0%db" % r.prefix), r.width - r.prefix))
            else:
                src.append("// Table %d, cache values %s..%s: the top %d bits." %
                           (n, hexw(r.lo), hexw(r.hi - 1), r.width))
            src += common.array("const %s %s[%d]" % (ctype, name, len(values)),
                                [fmt % v for v in values], 12)
            src.append("")

        s = []
        s.append("// Table %d: %d codes of up to %d bits%s." %
                 (n, len(t["codes"]), maxlen, "; (0, 0) is the single bit 1" if zero_bit else ""))
        s.append("struct mpa_huff_code_%d {" % n)
        s.append("    static const bool zero_bit = %s;" % ("true" if zero_bit else "false"))
        s.append("    static inline unsigned lookup(mpa_bits_wide *r)")
        s.append("    {")
        s.append("        const uint32_t c = static_cast<uint32_t>(r->cache >> 32);")
        for i, r in enumerate(ranges):
            last = i == len(ranges) - 1
            indent = "        " if last else "            "
            body = []
            if r.prefix:
                rest = r.width - r.prefix
                body.append("// prefix %s, then up to %d bits" %
                            (format(r.lo >> (32 - r.prefix), "0%db" % r.prefix), rest))
                body.append("r->cache <<= %d;" % r.prefix)
                body.append("r->count -= %d;" % r.prefix)
                body.append("return %s[r->cache >> %d];" % (names[i], 64 - rest))
            else:
                shift = 32 - r.width
                base = r.lo >> shift
                index = "c >> %d" % shift if base == 0 else "(c >> %d) - 0x%x" % (shift, base)
                body.append("return %s[%s];  // codes of up to %d bits" % (names[i], index, r.width))
            if last:
                s += [indent + b for b in body]
            elif len(body) == 1:
                s.append("        if (c >= %s)" % hexw(r.lo))
                s.append(indent + body[0])
            else:
                s.append("        if (c >= %s) {" % hexw(r.lo))
                s += [indent + b for b in body]
                s.append("        }")
        s.append("    }")
        s.append("};")
        s.append("")
        structs.append("\n".join(s))

    # Count1 tables: code and sign bits fit in 10 bits (table A: codes of up to
    # 6 bits, table B: 4 bits; then one sign bit per non-zero value). Each
    # 10-bit value maps to the quadruple's signed values, as a row of the 81
    # combinations of -1, 0, +1 (base 3, digit 1 for +1, 2 for -1, v first),
    # and the bits taken.
    for (vv, ww, xx, yy), length, bits in count1["B"]["codes"]:
        assert length == 4 and int(bits, 2) ^ 15 == vv << 3 | ww << 2 | xx << 1 | yy
    quads = []
    for name in ("A", "B"):
        lut = []
        for idx in range(1024):
            word = format(idx, "010b")
            found = [(f, l) for f, l, b in count1[name]["codes"] if word.startswith(b)]
            assert len(found) == 1
            flags, length = found[0]
            row, signs = 0, length
            for f in flags:
                digit = 0
                if f:
                    digit = 2 if word[signs] == "1" else 1
                    signs += 1
                row = row * 3 + digit
            assert signs <= 10
            lut.append(row << 4 | signs)
        quads.append(lut)
    values = []
    for row in range(81):
        digits = [row // 27 % 3, row // 9 % 3, row // 3 % 3, row % 3]
        values.append([(0.0, 1.0, -1.0)[d] for d in digits])
    hdr.append("")
    hdr.append("// Count1 tables A and B by the top 10 bits of the cache: the row of")
    hdr.append("// mpa_huff_quad_values in bits 15-4, code and sign bits taken in bits 3-0.")
    hdr.append("extern const uint16_t mpa_huff_count1[2][1024];")
    hdr.append("// The 81 quadruples of -1, 0 and +1 (v, w, x, y).")
    hdr.append("alignas(16) extern const float mpa_huff_quad_values[81][4];")
    src.append("// Count1 tables A and B by the top 10 bits of the cache.")
    src.append("const uint16_t mpa_huff_count1[2][1024] = {")
    for lut in quads:
        src.append("    {")
        src += common.rows(["0x%04x" % v for v in lut], 12, " " * 8)
        src.append("    },")
    src.append("};")
    src.append("")
    src.append("alignas(16) const float mpa_huff_quad_values[81][4] = {")
    src += common.rows(["{%s}" % ", ".join("%.1ff" % x for x in v) for v in values], 4)
    src.append("};")
    total += 2 * 2048 + 81 * 16

    hdr.append("")
    hdr += structs
    hdr.append("#endif")
    return "\n".join(hdr) + "\n", "\n".join(src) + "\n", total


def generate_test_codes(tables, count1):
    out = [
        "// Generated by tools/gen/gen_huffman_tables.py from ISO/IEC 11172-3 Table B.7. Do not edit.",
        "// The plain Layer III Huffman codes, for the tests' encoder.",
        "#ifndef ROVAZ_TESTS_SUPPORT_HUFFMAN_CODES_H",
        "#define ROVAZ_TESTS_SUPPORT_HUFFMAN_CODES_H",
        "",
        "#include <cstdint>",
        "",
        "// One code: its bits, first-transmitted bit highest, and its length.",
        "struct huffman_code {",
        "    uint32_t bits;",
        "    uint32_t length;",
        "};",
        "",
        "// Per table number: the table whose codes it uses (0 for 0, 4 and 14, which",
        "// have none), its largest directly coded magnitude and its linbits.",
        "static const uint8_t huffman_code_source[32] = {",
    ]
    src = [n if tables[n]["codes"] else (tables[n]["same"] or 0) for n in range(32)]
    out.append("    " + ", ".join(str(v) for v in src) + ",")
    out.append("};")
    out.append("static const uint8_t huffman_code_xmax[32] = {")
    out.append("    " + ", ".join(str(tables[n]["xmax"]) for n in range(32)) + ",")
    out.append("};")
    out.append("static const uint8_t huffman_code_linbits[32] = {")
    out.append("    " + ", ".join(str(tables[n]["linbits"]) for n in range(32)) + ",")
    out.append("};")
    out.append("")
    out.append("// Pair codes by [source table][x * 16 + y].")
    out.append("static const huffman_code huffman_pair_codes[32][256] = {")
    for n in range(32):
        codes = tables[n]["codes"]
        if not codes:
            out.append("    {},  // %d" % n)
            continue
        grid = {}
        for (x, y), length, bits in codes:
            grid[x * 16 + y] = (int(bits, 2), length)
        out.append("    {  // %d" % n)
        out += common.rows(["{0x%x, %d}" % grid.get(i, (0, 0)) for i in range(256)], 8, " " * 8)
        out.append("    },")
    out.append("};")
    out.append("")
    out.append("// Count1 codes by [table][v * 8 + w * 4 + x * 2 + y].")
    out.append("static const huffman_code huffman_quad_codes[2][16] = {")
    for name in ("A", "B"):
        grid = {}
        for (v, w, x, y), length, bits in count1[name]["codes"]:
            grid[v * 8 + w * 4 + x * 2 + y] = (int(bits, 2), length)
        cells = ["{0x%x, %d}" % grid[i] for i in range(16)]
        out.append("    {" + " ".join(c + "," for c in cells) + "},")
    out.append("};")
    out.append("")
    out.append("#endif")
    return "\n".join(out) + "\n"


def main():
    args = common.parse_args(__doc__, "huffman_codes.txt")
    tables, count1 = parse(args.input)
    header, source, total = generate(tables, count1)
    common.write(args.root, "src/layer3/huffman_tables.h", header)
    common.write(args.root, "src/layer3/huffman_tables.cpp", source)
    common.write(args.root, "tests/support/huffman_codes.h", generate_test_codes(tables, count1))
    print("lookup bytes: %d" % total)


if __name__ == "__main__":
    main()

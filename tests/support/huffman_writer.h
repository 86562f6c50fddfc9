// Test helper: writes Layer III Huffman data (ISO/IEC 11172-3 Table B.7) with
// the plain code lists, and gives the values the decoders must produce.
#ifndef ROVAZ_TESTS_SUPPORT_HUFFMAN_WRITER_H
#define ROVAZ_TESTS_SUPPORT_HUFFMAN_WRITER_H

#include <cstdlib>

#include "layer3/pow43_tables.h"
#include "support/bitwriter.h"
#include "support/huffman_codes.h"

namespace mpa_test {

// Largest magnitude table t can carry: xmax, plus the linbits range.
inline int huffman_max_magnitude(int table)
{
    const int linbits = huffman_code_linbits[table];
    return huffman_code_xmax[table] + (linbits ? (1 << linbits) - 1 : 0);
}

// One signed value after its code: linbits (for magnitudes from 15 in a
// linbits table), then the sign bit (1 = negative) when it is not zero.
inline void huffman_put_value(BitWriter &w, int table, int v)
{
    const int m = std::abs(v);
    if (huffman_code_linbits[table] && m >= 15)
        w.put(static_cast<uint32_t>(m - 15), huffman_code_linbits[table]);
    if (m)
        w.put(v < 0, 1);
}

// A big-value pair (x, y) of table t, signed.
inline void huffman_put_pair(BitWriter &w, int table, int x, int y)
{
    const int ax = std::abs(x) < 15 ? std::abs(x) : 15;
    const int ay = std::abs(y) < 15 ? std::abs(y) : 15;
    const huffman_code &c = huffman_pair_codes[huffman_code_source[table]][ax * 16 + ay];
    w.put(c.bits, static_cast<int>(c.length));
    huffman_put_value(w, table, x);
    huffman_put_value(w, table, y);
}

// A count1 quadruple of table 0 (A) or 1 (B); values are -1, 0 or 1.
inline void huffman_put_quad(BitWriter &w, int table, const int q[4])
{
    const int index = (q[0] != 0) * 8 + (q[1] != 0) * 4 + (q[2] != 0) * 2 + (q[3] != 0);
    const huffman_code &c = huffman_quad_codes[table][index];
    w.put(c.bits, static_cast<int>(c.length));
    for (int k = 0; k < 4; k++)
        if (q[k])
            w.put(q[k] < 0, 1);
}

// What the decoders write for a signed magnitude: sign(v) * |v|^(4/3).
inline float huffman_value(int v)
{
    return v < 0 ? -mpa_pow43[-v] : mpa_pow43[v];
}

}  // namespace mpa_test

#endif

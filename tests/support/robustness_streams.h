// Test helper: streams of every layer for the robustness tests (the bundled
// lame and twolame samples, a generated Layer I stream, and some conformance
// bitstreams when they are beside the checkout), and a walk over a stream's
// frames.
#ifndef ROVAZ_TESTS_SUPPORT_ROBUSTNESS_STREAMS_H
#define ROVAZ_TESTS_SUPPORT_ROBUSTNESS_STREAMS_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rovaz/mpa.h"
#include "support/bitwriter.h"
#include "support/read_file.h"

namespace mpa_test {

// Layer I frames (MPEG-1, 192 kbit/s, 44.1 kHz) with pseudo-random
// allocations, scale factors and samples: audio that changes every frame.
inline std::vector<uint8_t> layer1_stream(int frames, bool stereo, uint32_t seed = 1)
{
    uint32_t s = seed;
    auto next = [&s](uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    };
    const int nch = stereo ? 2 : 1;
    const size_t frame_bits = 208 * 8;
    std::vector<uint8_t> out;
    for (int f = 0; f < frames; f++) {
        HeaderFields h;
        h.layer_bits = 3;
        h.bitrate_index = 6;
        h.mode = stereo ? 0 : 3;
        int alloc[2][32] = {};
        long budget = static_cast<long>(frame_bits) - 32 - 32 * 4 * nch;
        for (int sb = 0; sb < 32; sb++)
            for (int ch = 0; ch < nch; ch++) {
                const int a = sb < 16 ? 1 + static_cast<int>(next(6)) : 0;
                const long cost = 6 + 12 * (a + 1);
                if (a && cost <= budget) {
                    alloc[ch][sb] = a;
                    budget -= cost;
                }
            }
        BitWriter w;
        put_header(w, h);
        for (int sb = 0; sb < 32; sb++)
            for (int ch = 0; ch < nch; ch++)
                w.put(static_cast<uint32_t>(alloc[ch][sb]), 4);
        for (int sb = 0; sb < 32; sb++)
            for (int ch = 0; ch < nch; ch++)
                if (alloc[ch][sb])
                    w.put(8 + next(20), 6);
        for (int slot = 0; slot < 12; slot++)
            for (int sb = 0; sb < 32; sb++)
                for (int ch = 0; ch < nch; ch++)
                    if (alloc[ch][sb]) {
                        const int nb = alloc[ch][sb] + 1;
                        w.put(next((1u << nb) - 1), nb);
                    }
        w.pad_to(frame_bits);
        out.insert(out.end(), w.bytes().begin(), w.bytes().end());
    }
    return out;
}

struct TestStream {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The bundled samples and a Layer I stream always; with conformance
// bitstreams when the folder is there, the named ones too.
inline std::vector<TestStream> robustness_streams(const std::vector<std::string> &conformance_names)
{
    std::vector<TestStream> streams;
    for (const char *name : {"sample.mp3", "sample.mp2"}) {
        TestStream t{name, {}};
        if (read_file(std::string(ROVAZ_SOURCE_DIR) + "/samples/" + name, &t.bytes))
            streams.push_back(std::move(t));
    }
    streams.push_back({"layer1-stereo", layer1_stream(60, true)});
    for (const std::string &name : conformance_names) {
        TestStream t{name, {}};
        if (read_file(std::string(ROVAZ_CONFORMANCE_DIR) + "/" + name + ".bit", &t.bytes))
            streams.push_back(std::move(t));
    }
    return streams;
}

struct FrameInfo {
    size_t offset;   // of the header
    size_t bytes;
    int main_data_begin;   // Layer III, else 0
    int main_data_bytes;   // Layer III: bytes after header, CRC word and side information
};

// The frames of a stream, from its first header on, by the header search
// with the previous header carried along as a decoder does.
inline std::vector<FrameInfo> frame_walk(const std::vector<uint8_t> &s)
{
    std::vector<FrameInfo> frames;
    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    size_t pos = 0;
    while (pos < s.size() && mpa_get_header(&h, s.data() + pos, static_cast<int>(s.size() - pos)) >= 0) {
        const size_t bytes = static_cast<size_t>(h.bits_in_frame >> 3);
        if (bytes == 0)
            break;
        FrameInfo f{pos + static_cast<size_t>(h.header_offset), bytes, 0, 0};
        if (h.layer_bits == 1) {
            const int side = h.id ? (h.n_channels == 1 ? 17 : 32) : (h.n_channels == 1 ? 9 : 17);
            f.main_data_begin = h.neg_offset;
            f.main_data_bytes = static_cast<int>(bytes) - h.header_bits / 8 - side;
        }
        frames.push_back(f);
        pos = f.offset + bytes;
    }
    return frames;
}

}  // namespace mpa_test

#endif

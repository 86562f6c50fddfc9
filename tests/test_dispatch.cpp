// Every kernel of every stage against the plain one, on the same inputs, bit
// for bit: for this processor's features and with each of them masked in
// turn. The environment's mask (ROVAZ_CPU_DISABLE) reaches the kernels the
// decoder uses; CTest runs the decoding tests again with everything masked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "core/cpu.h"
#include "core/decoder.h"
#include "core/kernels.h"
#include "layer12/layer1_dequantise.h"
#include "layer3/stereo.h"
#include "layer12/layer2_dequantise.h"

namespace {

// The feature sets to try: all there are, then each one taken away.
std::vector<uint32_t> feature_sets()
{
    const uint32_t all = mpa_cpu_detect();
    std::vector<uint32_t> sets = {all};
    for (uint32_t bit = 1; bit && bit <= all; bit <<= 1)
        if (all & bit)
            sets.push_back(all & ~bit);
    return sets;
}

std::vector<float> random_floats(std::mt19937 *rng, size_t n, float level)
{
    std::uniform_real_distribution<float> d(-level, level);
    std::vector<float> v(n);
    for (float &x : v)
        x = d(*rng);
    return v;
}

void expect_same_bytes(const void *a, const void *b, size_t n, const char *what, uint32_t features)
{
    EXPECT_EQ(std::memcmp(a, b, n), 0) << what << " with features " << features;
}

TEST(Dispatch, EveryKernelMatchesThePlainOne)
{
    const mpa_kernels plain = mpa_kernels_for(0);
    EXPECT_EQ(plain.features, 0u);
    for (const uint32_t features : feature_sets()) {
        const mpa_kernels k = mpa_kernels_for(features);
        EXPECT_EQ(k.features & ~features, 0u) << "a kernel uses a feature that was masked";
        std::mt19937 rng(features + 1);

        // Synthesis: many slots, counts and ring positions, both channels.
        auto a = std::unique_ptr<mpa_synth_state>(new mpa_synth_state());
        auto b = std::unique_ptr<mpa_synth_state>(new mpa_synth_state());
        for (int call = 0; call < 60; call++) {
            const int count = 1 + call % 18, channel = call & 1;
            std::vector<float> in =
                random_floats(&rng, 64 * static_cast<size_t>(count), call % 3 ? 30000.0f : 2.0f);
            std::vector<float> out_a(32 * static_cast<size_t>(count)), out_b(out_a.size());
            k.synth_slots(in.data(), 64, out_a.data(), count, channel, a.get());
            plain.synth_slots(in.data(), 64, out_b.data(), count, channel, b.get());
            expect_same_bytes(out_a.data(), out_b.data(), out_a.size() * sizeof(float), "synthesis",
                              features);
        }

        // Layer I dequantisation: codes of every width, unused lanes.
        mpa_layer1_lanes l1{};
        int32_t l1_codes[12][64] = {};
        for (int i = 0; i < 64; i++) {
            const int a = i % 5 ? 1 + static_cast<int>(rng() % 14) : 0;
            l1.bias[i] = (1 << a) - 1;
            l1.scale[i] = std::ldexp(1.0f, -static_cast<int>(rng() % 20));
            l1.step[i] = a ? 2.0f / static_cast<float>((2 << a) - 1) : 0.0f;
            for (int b = 0; b < 12 && a; b++)
                l1_codes[b][i] = static_cast<int32_t>(rng() & ((2u << a) - 1));
        }
        for (const int n : {32, 64}) {
            std::vector<float> da(768, 9.0f), db = da;
            k.layer1_dequantise(&l1, l1_codes, n, da.data());
            plain.layer1_dequantise(&l1, l1_codes, n, db.data());
            expect_same_bytes(da.data(), db.data(), da.size() * sizeof(float), "Layer I dequantisation",
                              features);
        }

        // Layer II dequantisation: codes of every width, top bit set or clear, unused lanes.
        mpa_layer2_lanes lanes{};
        int32_t codes[3][64];
        for (int i = 0; i < 64; i++) {
            const int width = 2 + static_cast<int>(rng() % 15);
            lanes.low[i] = i % 7 ? static_cast<float>((1 << (width - 1)) - 1) : 0.0f;
            lanes.top[i] = lanes.low[i] + 1.0f;
            lanes.step[i] = i % 7 ? 1.0f / static_cast<float>(1 << (width - 1)) : 0.0f;
            lanes.pos[i] = i % 7 ? 0.75f : 0.0f;
            lanes.neg[i] = lanes.pos[i] - 1.0f;
            lanes.scale[1][i] = std::ldexp(1.0f, -static_cast<int>(rng() % 20));
            for (int t = 0; t < 3; t++)
                codes[t][i] = static_cast<int32_t>(rng() & ((1u << width) - 1));
        }
        for (const int n : {32, 64}) {
            std::vector<float> da(192, 9.0f), db = da;
            k.layer2_dequantise(&lanes, lanes.scale[1], codes, n, da.data());
            plain.layer2_dequantise(&lanes, lanes.scale[1], codes, n, db.data());
            expect_same_bytes(da.data(), db.data(), da.size() * sizeof(float), "Layer II dequantisation",
                              features);
        }

        // Mid/side stereo: whole vectors and a tail.
        for (const int n : {7, 576}) {
            std::vector<float> la = random_floats(&rng, 576, 30000.0f), ra = random_floats(&rng, 576, 30000.0f);
            std::vector<float> lb = la, rb = ra;
            k.ms_stereo(la.data(), ra.data(), n);
            plain.ms_stereo(lb.data(), rb.data(), n);
            expect_same_bytes(la.data(), lb.data(), la.size() * sizeof(float), "mid/side left", features);
            expect_same_bytes(ra.data(), rb.data(), ra.size() * sizeof(float), "mid/side right", features);
        }

        // Alias butterflies: none, one, all boundaries.
        for (const int boundaries : {0, 1, 31}) {
            std::vector<float> xa = random_floats(&rng, 576, 1000.0f), xb = xa;
            k.alias_butterflies(xa.data(), boundaries);
            plain.alias_butterflies(xb.data(), boundaries);
            expect_same_bytes(xa.data(), xb.data(), xa.size() * sizeof(float), "alias butterflies", features);
        }

        // IMDCT groups: every block type, mixed blocks, any number of groups.
        for (int block_type = 0; block_type < 4; block_type++) {
            for (const int long_subbands : {0, 2}) {
                if (long_subbands && block_type != 2)
                    continue;
                for (const int active : {1, 3, 8}) {
                    const std::vector<float> spectrum = random_floats(&rng, 576, 1000.0f);
                    std::vector<float> ov_a = random_floats(&rng, 576, 500.0f), ov_b = ov_a;
                    std::vector<float> out_a(18 * 32, 0.0f), out_b = out_a;
                    k.imdct_groups(spectrum.data(), ov_a.data(), out_a.data(), block_type, long_subbands,
                                   active);
                    plain.imdct_groups(spectrum.data(), ov_b.data(), out_b.data(), block_type, long_subbands,
                                       active);
                    expect_same_bytes(out_a.data(), out_b.data(), out_a.size() * sizeof(float), "IMDCT",
                                      features);
                    expect_same_bytes(ov_a.data(), ov_b.data(), ov_a.size() * sizeof(float), "IMDCT overlap",
                                      features);
                }
            }
        }

        // 16-bit stores: values beyond the range, NaN, every tail length.
        std::vector<float> l = random_floats(&rng, 80, 40000.0f), r = random_floats(&rng, 80, 40000.0f);
        l[3] = NAN;
        r[9] = -INFINITY;
        for (int count = 0; count <= 80; count += 1 + count / 8) {
            std::vector<uint8_t> pa(4 * 80, 0xA5), pb = pa;
            k.store_s16_packed(l.data(), pa.data(), count);
            plain.store_s16_packed(l.data(), pb.data(), count);
            expect_same_bytes(pa.data(), pb.data(), pa.size(), "16-bit store", features);
            k.store_s16_stereo(l.data(), r.data(), pa.data(), count);
            plain.store_s16_stereo(l.data(), r.data(), pb.data(), count);
            expect_same_bytes(pa.data(), pb.data(), pa.size(), "16-bit stereo store", features);
        }

        // The stream layer's conversions: every format and layout, odd counts, values out of range.
        std::vector<float> frame = random_floats(&rng, 2 * 1152, 50000.0f);
        frame[17] = NAN;
        for (int format = 0; format <= 5; format++)
            for (int layout = 0; layout < 8; layout++) {
                const int src = 1 + (layout & 1), out = 1 + (layout >> 1 & 1);
                const bool planar = layout & 4;
                std::vector<uint8_t> a0(8 * 1152, 0x5A), a1 = a0, b0 = a0, b1 = a0;
                uint8_t *const da[2] = {a0.data(), a1.data()}, *const db[2] = {b0.data(), b1.data()};
                k.convert_samples(frame.data(), src, 3, 1001, out, format, planar, da);
                plain.convert_samples(frame.data(), src, 3, 1001, out, format, planar, db);
                expect_same_bytes(a0.data(), b0.data(), a0.size(), "conversion", features);
                expect_same_bytes(a1.data(), b1.data(), a1.size(), "conversion, second channel", features);
            }
    }
}

TEST(Dispatch, TheEnvironmentMasksFeatures)
{
    EXPECT_EQ(mpa_cpu_parse_disabled(nullptr), 0u);
    EXPECT_EQ(mpa_cpu_parse_disabled("avx"), static_cast<uint32_t>(MPA_CPU_AVX));
    EXPECT_EQ(mpa_cpu_parse_disabled("sse2,bogus,neon"), static_cast<uint32_t>(MPA_CPU_SSE2 | MPA_CPU_NEON));
    EXPECT_EQ(mpa_cpu_parse_disabled("avx2,avx"), static_cast<uint32_t>(MPA_CPU_AVX2 | MPA_CPU_AVX));
    EXPECT_EQ(mpa_cpu_parse_disabled("all") & (MPA_CPU_SSE2 | MPA_CPU_AVX | MPA_CPU_AVX2 | MPA_CPU_NEON),
              static_cast<uint32_t>(MPA_CPU_SSE2 | MPA_CPU_AVX | MPA_CPU_AVX2 | MPA_CPU_NEON));
    const uint32_t want = mpa_cpu_detect() & ~mpa_cpu_parse_disabled(std::getenv("ROVAZ_CPU_DISABLE"));
    EXPECT_EQ(mpa_cpu_features(), want);
    EXPECT_EQ(mpa_kernels_active().features, mpa_kernels_for(want).features);
    EXPECT_EQ(mpa_kernels_active().synth_slots, mpa_kernels_for(want).synth_slots);
}

}  // namespace

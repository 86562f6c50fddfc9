// Test helper: real MPEG audio streams made at test time. sox synthesises a
// signal, lame or twolame encodes it in a per-process temporary folder, and
// the encoded bytes come back cached per process. Also a full stream decode
// through StreamDecoder and the SNR of its output against the source.
#ifndef ROVAZ_TESTS_SUPPORT_ENCODED_STREAMS_H
#define ROVAZ_TESTS_SUPPORT_ENCODED_STREAMS_H

#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "rovaz/mpa.h"
#include "stream_decoder.h"

namespace mpa_test {

inline bool have_tool(const char *name)
{
    static std::map<std::string, bool> known;
    auto it = known.find(name);
    if (it == known.end()) {
        const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
        it = known.emplace(name, std::system(cmd.c_str()) == 0).first;
    }
    return it->second;
}

// Skips the current test when one of the command-line tools is missing.
#define MPA_SKIP_WITHOUT(tool) \
    if (!mpa_test::have_tool(tool)) GTEST_SKIP() << tool " is not installed"

// The process's scratch folder, removed at exit.
inline const std::string &scratch_dir()
{
    struct Dir {
        std::string path;
        Dir()
        {
            char name[] = "/tmp/rovaz-streams-XXXXXX";
            if (mkdtemp(name))
                path = name;
        }
        ~Dir()
        {
            std::error_code ec;
            if (!path.empty())
                std::filesystem::remove_all(path, ec);
        }
    };
    static Dir dir;
    return dir.path;
}

inline std::vector<uint8_t> read_file_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A test signal: one linear sweep per channel (left rising, right falling), so
// that the channels differ and the encoder delay has one clear best lag.
struct Source {
    int rate = 0;
    int channels = 0;
    std::string wav;             // path of the synthesised file
    std::vector<int16_t> pcm;    // interleaved samples
};

inline const Source *source_signal(int rate, int channels, double seconds = 2.0)
{
    static std::map<std::string, std::unique_ptr<Source>> cache;
    const std::string key = std::to_string(rate) + "_" + std::to_string(channels) + "_" +
                            std::to_string((int)(seconds * 1000));
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second.get();
    auto s = std::make_unique<Source>();
    s->rate = rate;
    s->channels = channels;
    s->wav = scratch_dir() + "/src_" + key + ".wav";
    const std::string raw = scratch_dir() + "/src_" + key + ".raw";
    const std::string sweeps = channels == 1 ? "sine 150-3000" : "sine 150-3000 sine 2500-200";
    // No dither: the same signal, and so the same streams, on every run.
    const std::string cmd = "sox -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                            " -b 16 " + s->wav + " synth " + std::to_string(seconds) + " " + sweeps +
                            " vol 0.5 && sox " + s->wav + " -t s16 -L " + raw;
    if (scratch_dir().empty() || std::system(cmd.c_str()) != 0)
        return nullptr;
    const std::vector<uint8_t> bytes = read_file_bytes(raw);
    std::filesystem::remove(raw);
    s->pcm.resize(bytes.size() / 2);
    for (size_t i = 0; i < s->pcm.size(); i++)
        s->pcm[i] = (int16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return cache.emplace(key, std::move(s)).first->second.get();
}

struct Encoded {
    const Source *source = nullptr;
    std::vector<uint8_t> bytes;
};

// Encodes the source signal of the given rate and channels with `encoder`
// ("lame" or "twolame") and its options; null when sox or the encoder fails.
inline const Encoded *encode(const std::string &encoder, const std::string &options, int rate,
                             int channels)
{
    static std::map<std::string, std::unique_ptr<Encoded>> cache;
    const std::string key = encoder + " " + options + " @" + std::to_string(rate) + "/" +
                            std::to_string(channels);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second.get();
    auto e = std::make_unique<Encoded>();
    e->source = source_signal(rate, channels);
    if (!e->source)
        return nullptr;
    const std::string out = scratch_dir() + "/enc_" + std::to_string(cache.size()) + ".mpa";
    const std::string cmd = encoder + " --quiet " + options + " " + e->source->wav + " " + out;
    if (std::system(cmd.c_str()) != 0)
        return nullptr;
    e->bytes = read_file_bytes(out);
    std::filesystem::remove(out);
    if (e->bytes.empty())
        return nullptr;
    return cache.emplace(key, std::move(e)).first->second.get();
}

// The frames of a stream, header after header from its first byte.
struct FrameSpan {
    size_t offset;
    int size;
    int main_data_begin;  // Layer III
};

inline std::vector<FrameSpan> frame_spans(const std::vector<uint8_t> &s)
{
    std::vector<FrameSpan> out;
    mpa_header h{};  // kept from frame to frame, as a decoder instance keeps it
    size_t pos = 0;
    while (pos + 4 <= s.size()) {
        const int left = (int)(s.size() - pos);
        const mpa_header previous = h;
        const int status = mpa_get_header(&h, s.data() + pos, left);
        if (status < 0 || h.header_offset != 0) {
            // Nothing confirms the last frame, and a sync-like word in its
            // data may have won the search: read its header alone.
            h = previous;
            if (out.empty() || mpa_get_header(&h, s.data() + pos, 4) != MPA_HEADER_UNCONFIRMED)
                break;
            if (h.bitrate_index == 0)
                h.bits_in_frame = left * 8;
        }
        if (h.bits_in_frame / 8 > left)
            break;
        out.push_back({pos, h.bits_in_frame / 8, h.neg_offset});
        pos += (size_t)h.bits_in_frame / 8;
    }
    return out;
}

// Everything a StreamDecoder gave for a stream.
struct Decoded {
    std::vector<std::vector<float>> frames;  // per frame: channel-major, n_channels x n_samples
    std::vector<float> interleaved;
    mpa_header first{};
    bool uniform = true;  // every frame had the first frame's rate and channels
    unsigned modes = 0;   // bit m set when a frame of mode m was decoded
    long decoded = 0, skipped = 0, without_output = 0;
    long long discarded = 0;
};

inline Decoded decode_stream(const uint8_t *data, size_t size)
{
    Decoded d;
    StreamDecoder sd(memory_reader(data, size));
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    while (sd.next(pcm)) {
        const mpa_header &h = sd.header();
        if (d.frames.empty())
            d.first = h;
        d.uniform = d.uniform && h.sampling_rate == d.first.sampling_rate &&
                    h.n_channels == d.first.n_channels && h.n_samples == d.first.n_samples;
        d.modes |= 1u << h.mode;
        std::vector<float> frame;
        for (int c = 0; c < h.n_channels; c++)
            frame.insert(frame.end(), pcm + 1152 * c, pcm + 1152 * c + h.n_samples);
        for (int s = 0; s < h.n_samples; s++)
            for (int c = 0; c < h.n_channels; c++)
                d.interleaved.push_back(pcm[1152 * c + s]);
        d.frames.push_back(std::move(frame));
    }
    d.decoded = sd.frames_decoded();
    d.skipped = sd.frames_skipped();
    d.without_output = sd.frames_without_output();
    d.discarded = sd.bytes_discarded();
    return d;
}

inline Decoded decode_stream(const std::vector<uint8_t> &bytes)
{
    return decode_stream(bytes.data(), bytes.size());
}

struct Snr {
    double db = -1e9;  // the worse channel
    int lag = -1;      // decoded sample index of source sample 0
};

// SNR of decoded output against the source. The codec delay is the lag in
// 0..max_lag with the least error over a window of channel 0; the SNR is then
// taken over the overlap, leaving out `margin` samples at either end where
// the encoder sees the signal start and stop.
inline Snr snr_against_source(const std::vector<int16_t> &source, const std::vector<float> &decoded,
                              int channels, int max_lag = 3000, int margin = 1152)
{
    Snr r;
    const long src_len = (long)source.size() / channels;
    const long dec_len = (long)decoded.size() / channels;
    const long window = 4096, w0 = 2048;
    if (src_len < w0 + window || dec_len < w0 + window + max_lag)
        return r;
    double best = 0;
    for (int lag = 0; lag <= max_lag; lag++) {
        double err = 0;
        for (long n = w0; n < w0 + window; n++) {
            const double e = decoded[(n + lag) * channels] - source[n * channels];
            err += e * e;
        }
        if (r.lag < 0 || err < best) {
            best = err;
            r.lag = lag;
        }
    }
    const long len = std::min(src_len, dec_len - r.lag);
    for (int c = 0; c < channels; c++) {
        double sig = 0, noise = 0;
        for (long n = margin; n < len - margin; n++) {
            const double s = source[n * channels + c];
            const double e = decoded[(n + r.lag) * channels + c] - s;
            sig += s * s;
            noise += e * e;
        }
        const double db = 10 * std::log10(sig / (noise > 0 ? noise : 1e-30));
        if (c == 0 || db < r.db)
            r.db = db;
    }
    return r;
}

// The checks every encoder stream shares: each frame decoded, nothing
// skipped or discarded, and the header fields the encoder was asked for.
inline void expect_clean_decode(const Decoded &d, const std::vector<uint8_t> &bytes, int layer_bits,
                                int rate, int mode, int bit_rate, bool crc)
{
    EXPECT_EQ(d.decoded, (long)frame_spans(bytes).size());
    EXPECT_EQ(d.skipped, 0);
    EXPECT_EQ(d.without_output, 0);
    EXPECT_EQ(d.discarded, 0);
    ASSERT_GT(d.decoded, 0);
    EXPECT_TRUE(d.uniform);
    EXPECT_EQ(d.first.layer_bits, layer_bits);
    EXPECT_EQ(d.first.id, rate >= 32000 ? 1 : 0);
    EXPECT_EQ(d.first.sampling_rate, rate);
    EXPECT_TRUE(d.modes & (1u << mode)) << "modes seen " << d.modes;
    EXPECT_EQ(d.first.bit_rate, bit_rate);
    EXPECT_EQ(d.first.protection_bit, crc ? 0 : 1);
}

}  // namespace mpa_test

#endif

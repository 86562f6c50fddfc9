// Test helper: real MPEG audio streams. The encoded_streams fixture
// (encode_streams.sh) makes every stream of tests/encoded_streams.txt once per
// build folder; here they are read by their settings and cached per process
// (a binary run by hand runs the script itself).
// Also a full stream decode through the stream layer and the SNR of its output
// against the source.
#ifndef ROVAZ_TESTS_SUPPORT_ENCODED_STREAMS_H
#define ROVAZ_TESTS_SUPPORT_ENCODED_STREAMS_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/header.h"
#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"
#include "support/read_file.h"

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
            std::error_code ec;
            const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
            std::random_device random;
            for (int attempt = 0; attempt < 100 && path.empty() && !ec; attempt++) {
                const std::filesystem::path p = tmp / ("rovaz-streams-" + std::to_string(random()));
                if (std::filesystem::create_directory(p, ec))
                    path = p.string();
            }
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

// The folder of the encoded streams: $ROVAZ_TEST_STREAMS, else the build's.
inline std::string streams_dir()
{
    const char *env = std::getenv("ROVAZ_TEST_STREAMS");
    return env && *env ? env : ROVAZ_TEST_STREAMS_DIR;
}

// The file of a stream or (encoder empty) of a source signal, named as
// encode_streams.sh names it. signal: "sweep" (one linear sweep per channel,
// left rising, right falling, so that the channels differ and the encoder
// delay has one clear best lag) or "tones".
inline std::string stream_path(const std::string &encoder, const std::string &options, int rate,
                               int channels, double seconds = 2.0, const std::string &signal = "sweep")
{
    char secs[32];
    std::snprintf(secs, sizeof(secs), "%g", seconds);
    std::string name = (encoder.empty() ? "signal" : encoder) + "_" + signal + "_" + std::to_string(rate) +
                       "_" + std::to_string(channels) + "_" + secs;
    if (!encoder.empty())
        name += "_" + options;
    std::replace(name.begin(), name.end(), ' ', '_');
    return streams_dir() + "/" + name + (encoder.empty() ? "" : ".mpa");
}

struct Source {
    int rate = 0;
    int channels = 0;
    std::string wav;             // path of the signal's file
    std::vector<int16_t> pcm;    // interleaved samples
};

// Runs the fixture's script once per process, for a test binary run by hand
// (not through CTest): it makes what is missing and keeps what is there.
inline void make_streams_once()
{
    static const bool done = [] {
        const std::string tests = std::string(ROVAZ_SOURCE_DIR) + "/tests/";
        const std::string cmd = "sh '" + tests + "encode_streams.sh' '" + tests + "encoded_streams.txt' '" +
                                streams_dir() + "' >/dev/null";
        return std::system(cmd.c_str()) == 0;
    }();
    (void)done;
}

inline const Source *source_signal(int rate, int channels, double seconds = 2.0,
                                   const std::string &signal = "sweep")
{
    static std::map<std::string, std::unique_ptr<Source>> cache;
    const std::string base = stream_path("", "", rate, channels, seconds, signal);
    auto it = cache.find(base);
    if (it != cache.end())
        return it->second.get();
    auto s = std::make_unique<Source>();
    s->rate = rate;
    s->channels = channels;
    s->wav = base + ".wav";
    std::vector<uint8_t> bytes = read_file_bytes(base + ".raw");
    if (bytes.empty()) {
        make_streams_once();
        bytes = read_file_bytes(base + ".raw");
    }
    if (bytes.empty())
        return nullptr;
    s->pcm.resize(bytes.size() / 2);
    for (size_t i = 0; i < s->pcm.size(); i++)
        s->pcm[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return cache.emplace(base, std::move(s)).first->second.get();
}

struct Encoded {
    const Source *source = nullptr;
    std::vector<uint8_t> bytes;
};

// The source signal encoded with `encoder` ("lame" or "twolame") and its
// options; null (with a message) when the fixture did not make it.
inline const Encoded *encode(const std::string &encoder, const std::string &options, int rate, int channels,
                             double seconds = 2.0, const std::string &signal = "sweep")
{
    static std::map<std::string, std::unique_ptr<Encoded>> cache;
    const std::string path = stream_path(encoder, options, rate, channels, seconds, signal);
    auto it = cache.find(path);
    if (it != cache.end())
        return it->second.get();
    auto e = std::make_unique<Encoded>();
    e->source = source_signal(rate, channels, seconds, signal);
    if (!read_file(path, &e->bytes)) {
        make_streams_once();
        read_file(path, &e->bytes);
    }
    if (!e->source || e->bytes.empty()) {
        std::fprintf(stderr, "%s: missing (listed in tests/encoded_streams.txt? fixture encoded_streams run?)\n",
                     path.c_str());
        return nullptr;
    }
    return cache.emplace(path, std::move(e)).first->second.get();
}

// An encoder's stream of the sweep and what its decode must show.
struct StreamCase {
    const char *options;
    int rate;
    int channels;
    int mode;      // a header mode the stream must use
    int bit_rate;  // expected kbit/s of the first frame, 0 for free format
    bool crc;
    double min_snr_db;
};

// The header search as the stream layer does it by default (MPEG 2.5 too).
inline int stream_header(mpa_header *h, const uint8_t *data, int len)
{
    return mpa_search_header(h, data, len, MPA_SEARCH_MPEG25);
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
        const int left = static_cast<int>(s.size() - pos);
        const mpa_header previous = h;
        const int status = stream_header(&h, s.data() + pos, left);
        if (status < 0 || h.header_offset != 0) {
            // Nothing confirms the last frame, and a sync-like word in its
            // data may have won the search: read its header alone.
            h = previous;
            if (out.empty() || stream_header(&h, s.data() + pos, 4) != MPA_HEADER_UNCONFIRMED)
                break;
            if (h.bitrate_index == 0)
                h.bits_in_frame = left * 8;
        }
        if (h.bits_in_frame / 8 > left)
            break;
        out.push_back({pos, h.bits_in_frame / 8, h.neg_offset});
        pos += static_cast<size_t>(h.bits_in_frame) / 8;
    }
    return out;
}

// Everything the stream layer gave for a stream, on the 16-bit scale.
struct Decoded {
    std::vector<float> interleaved;
    std::vector<std::vector<float>> frames;  // per frame of the first format: channel-major
    mpa_stream_format format{};              // of the first samples
    mpa_stream_info info{};
    int status = MPA_OK;                     // of the open, or of the read that ended the stream
};

// Decodes data whole with the given configuration (F32 output: the
// decoder's floats scaled by a power of two, so exactly comparable).
inline Decoded decode_stream(const uint8_t *data, size_t size, const mpa_stream_config *config = nullptr)
{
    Decoded d;
    mpa_stream_config c;
    mpa_stream_config_default(&c);
    if (config)
        c = *config;
    c.gapless = config ? config->gapless : 0;
    c.sample_format = MPA_SAMPLE_F32;
    c.planar = 0;
    mpa_stream *s = nullptr;
    d.status = mpa_stream_open_memory(&s, data, size, &c);
    if (d.status != MPA_OK)
        return d;
    mpa_stream_get_format(s, &d.format);
    std::vector<float> buf(4096);
    void *dest[2] = {buf.data(), nullptr};
    int channels = d.format.channels;
    for (;;) {
        size_t n = 0;
        d.status = mpa_stream_read(s, dest, buf.size() * sizeof(float), &n);
        if (d.status == MPA_STREAM_FORMAT_CHANGED) {
            mpa_stream_format f;
            mpa_stream_get_format(s, &f);
            channels = f.channels;
            continue;
        }
        if (d.status != MPA_OK)
            break;
        for (size_t i = 0; i < n * static_cast<size_t>(channels); i++)
            d.interleaved.push_back(buf[i] * 32768.0f);
    }
    mpa_stream_get_info(s, &d.info);
    mpa_stream_close(s);
    // Frames of the first format, for frame-by-frame comparisons.
    mpa_header h{};
    if (d.format.channels > 0 && stream_header(&h, data, static_cast<int>(size)) >= 0 && h.n_samples > 0) {
        const size_t per = static_cast<size_t>(h.n_samples) * static_cast<size_t>(d.format.channels);
        for (size_t at = 0; at + per <= d.interleaved.size(); at += per) {
            std::vector<float> f(per);
            for (size_t i = 0; i < static_cast<size_t>(h.n_samples); i++)
                for (size_t ch = 0; ch < static_cast<size_t>(d.format.channels); ch++)
                    f[ch * h.n_samples + i] = d.interleaved[at + i * d.format.channels + ch];
            d.frames.push_back(std::move(f));
        }
    }
    return d;
}

inline Decoded decode_stream(const std::vector<uint8_t> &bytes, const mpa_stream_config *config = nullptr)
{
    return decode_stream(bytes.data(), bytes.size(), config);
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
    const long src_len = static_cast<long>(source.size()) / channels;
    const long dec_len = static_cast<long>(decoded.size()) / channels;
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
    const std::vector<FrameSpan> spans = frame_spans(bytes);
    ASSERT_EQ(d.status, MPA_STREAM_END);
    const long info_frame = d.info.info_kind != MPA_INFO_NONE ? 1 : 0;
    EXPECT_EQ(d.info.frames_decoded, static_cast<long>(spans.size()) - info_frame);
    EXPECT_EQ(d.info.audio_frames, static_cast<long>(spans.size()) - info_frame);
    EXPECT_EQ(d.info.frames_concealed + d.info.frames_silent + d.info.frames_dropped, 0);
    EXPECT_EQ(d.info.bytes_skipped, 0);
    EXPECT_EQ(d.info.format_changes, 0);
    EXPECT_TRUE(d.info.length_exact);
    EXPECT_EQ(d.info.samples * d.format.channels, static_cast<int64_t>(d.interleaved.size()));
    EXPECT_EQ(d.format.layer, 4 - layer_bits);
    EXPECT_EQ(d.format.version, rate >= 32000 ? 1 : rate >= 16000 ? 2 : 25);
    EXPECT_EQ(d.format.sampling_rate, rate);
    unsigned modes = 0;
    mpa_header first{};
    for (const FrameSpan &f : spans) {
        mpa_header h{};
        stream_header(&h, bytes.data() + f.offset, 4);
        modes |= 1u << h.mode;
        if (&f == &spans[0])
            first = h;
    }
    EXPECT_TRUE(modes & (1u << mode)) << "modes seen " << modes;
    EXPECT_EQ(first.bit_rate, bit_rate);
    EXPECT_EQ(first.protection_bit, crc ? 0 : 1);
}

}  // namespace mpa_test

#endif

// Peer comparison: lame (and twolame) streams decoded by the stream layer at
// its defaults (gapless, 16-bit rounded) and by libmpg123 with gapless on
// must give the same number of samples, each within 1 LSB: the two decoders
// round differently, and nothing else may differ. At full precision (rovaz's
// 24-bit output against libmpg123's floats) they must agree within 1.0 and
// an RMS of 0.1, in 16-bit units. Also checks that mpadec --raw writes
// exactly the library's samples.
//
//   peer_compare [MPADEC]      exit 0 pass, 1 fail, 77 when sox or lame is missing
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "rovaz/mpa_stream.h"
#include "support/encoded_streams.h"

namespace {

struct Case {
    const char *name;
    const char *encoder;
    const char *options;
    int rate;
    int channels;
    double seconds;  // of the source signal
};

const Case kCases[] = {
    {"cbr 128k joint", "lame", "-b 128 -m j", 44100, 2, 2.0},
    {"cbr 320k stereo", "lame", "-m s -b 320", 44100, 2, 2.0},
    {"vbr -V 2", "lame", "-V 2", 44100, 2, 2.0},
    {"vbr -V 5 48k", "lame", "-V 5", 48000, 2, 2.0},
    {"mono 64k", "lame", "-m m -b 64", 44100, 1, 2.0},
    {"mpeg-2 22.05k 64k", "lame", "-b 64", 22050, 2, 2.0},
    {"mpeg-2 24k vbr", "lame", "-V 4", 24000, 2, 2.0},
    {"mpeg-2.5 8k 16k", "lame", "-b 16", 8000, 2, 2.0},
    {"mpeg-2.5 8k mono vbr", "lame", "-m m -V 6", 8000, 1, 2.0},
    {"mpeg-2.5 11k mono", "lame", "-m m -b 24", 11025, 1, 2.0},
    {"mpeg-2.5 11k vbr", "lame", "-V 5", 11025, 2, 2.0},
    {"mpeg-2.5 12k 32k", "lame", "-m s -b 32", 12000, 2, 2.0},
    {"mpeg-2.5 12k mono vbr", "lame", "-m m -V 4", 12000, 1, 2.0},
    {"free format 200k", "lame", "--freeformat -b 200", 44100, 2, 2.0},
    {"crc 128k", "lame", "-p -b 128", 44100, 2, 2.0},
    {"short 0.3 s", "lame", "-b 128", 44100, 2, 0.3},
    {"no lame tag", "lame", "-t -b 128", 44100, 2, 2.0},
    {"layer ii 192k", "twolame", "-b 192", 44100, 2, 2.0},
};

// The case's stream, as the encoded_streams fixture made it; empty when it is not there.
std::string make_stream(const Case &c)
{
    return mpa_test::encode(c.encoder, c.options, c.rate, c.channels, c.seconds)
               ? mpa_test::stream_path(c.encoder, c.options, c.rate, c.channels, c.seconds)
               : "";
}

struct Pcm {
    std::vector<double> samples;  // interleaved, on the 16-bit scale
    int rate = 0;
    int channels = 0;
    bool ok = false;
};

// At the stream layer's defaults, 16-bit rounded, or with full_precision 24-bit.
Pcm decode_rovaz(const std::vector<uint8_t> &bytes, bool full_precision)
{
    Pcm p;
    mpa_stream_config c;
    mpa_stream_config_default(&c);
    c.sample_format = full_precision ? MPA_SAMPLE_S24_32 : MPA_SAMPLE_S16;
    mpa_stream *s = nullptr;
    if (mpa_stream_open_memory(&s, bytes.data(), bytes.size(), &c) != MPA_OK)
        return p;
    mpa_stream_format f;
    mpa_stream_get_format(s, &f);
    p.rate = f.sampling_rate;
    p.channels = f.channels;
    std::vector<int32_t> buf(4608);
    void *dest[2] = {buf.data(), nullptr};
    int r;
    size_t n = 0;
    const int16_t *s16 = reinterpret_cast<const int16_t *>(buf.data());
    while ((r = mpa_stream_read(s, dest, buf.size() * sizeof(int32_t), &n)) == MPA_OK) {
        for (size_t i = 0; i < n * static_cast<size_t>(f.channels); i++)
            p.samples.push_back(full_precision ? buf[i] / 256.0 : s16[i]);
    }
    p.ok = r == MPA_STREAM_END;
    mpa_stream_close(s);
    return p;
}

Pcm decode_mpg123(const std::string &path, bool full_precision)
{
    Pcm p;
    int err = MPG123_OK;
    mpg123_handle *mh = mpg123_new(nullptr, &err);
    if (!mh)
        return p;
    mpg123_param(mh, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(mh);
    const long *rates = nullptr;
    size_t n_rates = 0;
    mpg123_rates(&rates, &n_rates);
    for (size_t i = 0; i < n_rates; i++)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO,
                      full_precision ? MPG123_ENC_FLOAT_32 : MPG123_ENC_SIGNED_16);
    if (mpg123_open(mh, path.c_str()) == MPG123_OK) {
        std::vector<unsigned char> buf(1 << 15);
        for (;;) {
            size_t done = 0;
            const int r = mpg123_read(mh, buf.data(), buf.size(), &done);
            for (size_t i = 0; full_precision && i < done / 4; i++)
                p.samples.push_back(reinterpret_cast<const float *>(buf.data())[i] * 32768.0);
            for (size_t i = 0; !full_precision && i < done / 2; i++)
                p.samples.push_back(reinterpret_cast<const int16_t *>(buf.data())[i]);
            if (r == MPG123_NEW_FORMAT) {
                long rate;
                int encoding;
                mpg123_getformat(mh, &rate, &p.channels, &encoding);
                p.rate = static_cast<int>(rate);
            } else if (r != MPG123_OK) {
                p.ok = r == MPG123_DONE;
                break;
            }
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
    return p;
}

// Output of `mpadec --raw` for the file, or "" when it fails.
std::string run_mpadec(const std::string &mpadec, const std::string &in)
{
    const std::string out = mpa_test::scratch_dir() + "/mpadec.raw";
    const std::string cmd = "'" + mpadec + "' --raw '" + in + "' '" + out + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0)
        return "";
    std::ifstream f(out, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string little_endian_bytes(const std::vector<double> &v)
{
    std::string s(v.size() * 2, '\0');
    for (size_t i = 0; i < v.size(); i++) {
        const int16_t x = static_cast<int16_t>(v[i]);
        s[2 * i] = static_cast<char>(x & 0xFF);
        s[2 * i + 1] = static_cast<char>(static_cast<uint16_t>(x) >> 8);
    }
    return s;
}

// The verdict on two decodes of a stream ("" when they agree) and the
// largest and RMS difference.
std::string compare(const Pcm &ours, const Pcm &peer, double max_allowed, double rms_allowed,
                    double *max_diff, double *rms)
{
    double sum = 0;
    *max_diff = 0;
    const size_t common = std::min(ours.samples.size(), peer.samples.size());
    for (size_t i = 0; i < common; i++) {
        const double d = std::fabs(ours.samples[i] - peer.samples[i]);
        *max_diff = std::max(*max_diff, d);
        sum += d * d;
    }
    *rms = common ? std::sqrt(sum / static_cast<double>(common)) : 0;
    if (!ours.ok || !peer.ok)
        return !ours.ok ? "FAIL: rovaz did not reach the end" : "FAIL: mpg123 did not reach the end";
    if (ours.rate != peer.rate || ours.channels != peer.channels)
        return "FAIL: format " + std::to_string(ours.rate) + "/" + std::to_string(ours.channels) +
               " against " + std::to_string(peer.rate) + "/" + std::to_string(peer.channels);
    if (ours.samples.size() != peer.samples.size() || *max_diff > max_allowed || *rms > rms_allowed)
        return "FAIL";
    return "";
}

}  // namespace

int main(int argc, char **argv)
{
    if (!mpa_test::have_tool("sox") || !mpa_test::have_tool("lame")) {
        std::printf("peer_compare: sox or lame is not installed, skipped\n");
        return 77;
    }
    const std::string mpadec = argc > 1 ? argv[1] : "";
    mpg123_init();
    int failures = 0;
    int index = 0;
    std::printf("%-22s %10s %10s %8s %8s %9s %9s\n", "case", "samples", "mpg123", "max diff", "rms",
                "max 24bit", "rms 24bit");
    for (const Case &c : kCases) {
        index++;
        if (!mpa_test::have_tool(c.encoder)) {
            std::printf("%-22s skipped: %s is not installed\n", c.name, c.encoder);
            continue;
        }
        const std::string path = make_stream(c);
        if (path.empty()) {
            std::printf("%-22s FAIL: cannot encode\n", c.name);
            failures++;
            continue;
        }
        const std::vector<uint8_t> bytes = mpa_test::read_file_bytes(path);
        const Pcm ours = decode_rovaz(bytes, false);
        const Pcm peer = decode_mpg123(path, false);
        double max16, rms16, max24, rms24;
        std::string verdict = compare(ours, peer, 1, 1, &max16, &rms16);
        const std::string verdict24 = compare(decode_rovaz(bytes, true), decode_mpg123(path, true), 1.0, 0.1,
                                              &max24, &rms24);
        if (verdict.empty() && !verdict24.empty())
            verdict = verdict24 + " at full precision";
        const int ch = std::max(ours.channels, 1);
        std::printf("%-22s %10zu %10zu %8.0f %8.4f %9.4f %9.4f %s\n", c.name, ours.samples.size() / ch,
                    peer.samples.size() / std::max(peer.channels, 1), max16, rms16, max24, rms24,
                    verdict.c_str());
        failures += !verdict.empty();

        // The tool on a CBR and a VBR file: the same bytes as the library.
        if (!mpadec.empty() && (index == 1 || index == 3)) {
            if (run_mpadec(mpadec, path) != little_endian_bytes(ours.samples)) {
                std::printf("%-22s FAIL: mpadec --raw differs from the library\n", c.name);
                failures++;
            }
        }
    }
    mpg123_exit();
    std::printf("peer_compare: %s\n",
                failures ? "FAILED" : "all agree (16-bit within 1 LSB, 24-bit within 1.0)");
    return failures ? 1 : 0;
}

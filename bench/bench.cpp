// mpabench: decode speed of rovaz beside libmpg123 and libmad, on the same
// bytes held in memory, in one process. Every decoder turns each file into
// 16-bit interleaved PCM, rovaz through its stream layer (mpa_stream_read).
// Runs alternate between decoders (round by round, file by file) so that a
// slow phase of the machine hits them all alike; the figure kept is the CPU
// time of the process (CLOCK_PROCESS_CPUTIME_ID), best and median over the
// rounds.
//
//   mpabench [--rounds N] [--min-cpu SECONDS] [--mpg123-decoder NAME]
//            [--only rovaz|mpg123|libmad] [--results FILE] FILE...
//
// --only keeps one decoder, e.g. for a profiler: mpabench --only rovaz
// --rounds 1 --min-cpu 0 FILE decodes FILE twice (the warm-up and the round).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "rovaz/mpa.h"
#include "rovaz/mpa_stream.h"

#ifdef ROVAZ_BENCH_MPG123
#include <mpg123.h>
#endif
#ifdef ROVAZ_BENCH_MAD
#include <mad.h>
#endif

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

// Zero bytes after the data: libmad needs them to decode the last frame.
constexpr size_t kGuardBytes = 8;

struct Input {
    std::string path;
    std::string name;
    std::vector<uint8_t> bytes;  // the file, then kGuardBytes zeros
    size_t size = 0;
    // From a walk over the frame headers.
    long frames = 0;
    long long samples = 0;  // per channel
    int layer = 0;
    int rate = 0;
    int channels = 0;
    int first_frame_samples = 0;
    double audio_seconds() const { return rate ? (double)samples / rate : 0.0; }
};

// What one decode of a file gave.
struct Outcome {
    long long samples = 0;  // per channel
    long errors = 0;        // frames a decoder gave up on
    uint32_t sink = 0;      // a few output bytes, so that nothing is optimised away
};

bool load(Input &in)
{
    FILE *f = std::fopen(in.path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), f)) > 0)
        in.bytes.insert(in.bytes.end(), chunk, chunk + n);
    std::fclose(f);
    in.size = in.bytes.size();
    in.bytes.resize(in.size + kGuardBytes, 0);
    const size_t slash = in.path.find_last_of('/');
    in.name = slash == std::string::npos ? in.path : in.path.substr(slash + 1);
    return true;
}

// Counts frames and samples by following the headers: the number of samples
// every decoder should produce, give or take the frames around the edges.
void walk_headers(Input &in)
{
    size_t pos = 0;
    while (pos < in.size) {
        mpa_header h;
        std::memset(&h, 0, sizeof(h));
        const int remaining = (int)std::min<size_t>(in.size - pos, 1 << 30);
        if (mpa_get_header(&h, in.bytes.data() + pos, remaining) < 0 || h.bits_in_frame < 8)
            break;
        if (in.frames == 0) {
            in.layer = 4 - h.layer_bits;
            in.rate = h.sampling_rate;
            in.channels = h.n_channels;
            in.first_frame_samples = h.n_samples;
        }
        in.frames++;
        in.samples += h.n_samples;
        pos += (size_t)h.header_offset + (size_t)(h.bits_in_frame >> 3);
    }
}

// ---- rovaz ----

// The stream layer on the bytes in memory, read into a buffer of 16-bit
// interleaved samples (rounded, its default). Gapless trimming is off so that
// the sample count stays comparable with the other two, which trim nothing.
// The buffer holds one frame, as the other loops' do: a 64 KB one no longer
// stays in the first-level cache (twice the D1 misses under cachegrind on
// Layer II) and the figure would measure the caller's buffer.
constexpr size_t kReadBytes = MPA_MAX_FRAME_PCM_BYTES;

Outcome decode_rovaz(const Input &in)
{
    Outcome r;
    mpa_stream_config config;
    mpa_stream_config_default(&config);
    config.gapless = 0;
    mpa_stream *stream = nullptr;
    if (mpa_stream_open_memory(&stream, in.bytes.data(), in.size, &config) != MPA_OK) {
        r.errors++;
        return r;
    }
    alignas(64) uint8_t out[kReadBytes];
    void *dest[2] = {out, nullptr};
    for (;;) {
        size_t n = 0;
        const int status = mpa_stream_read(stream, dest, sizeof(out), &n);
        if (status == MPA_OK) {
            r.samples += (long long)n;
            r.sink += out[0] + out[n * 2 * (size_t)in.channels - 1];
        } else if (status != MPA_STREAM_FORMAT_CHANGED) {
            if (status != MPA_STREAM_END)
                r.errors++;
            break;
        }
    }
    mpa_stream_info info;
    if (mpa_stream_get_info(stream, &info) == MPA_OK)
        r.errors += (long)(info.frames_concealed + info.frames_dropped);
    mpa_stream_close(stream);
    return r;
}

// ---- libmpg123 ----

#ifdef ROVAZ_BENCH_MPG123
std::string g_mpg123_decoder;  // set once in main, before any timing

// The whole file fed at once; 16-bit output at the stream's own rate and
// channel count, so no resampling or mixing; no gapless trimming, so the
// sample count is comparable.
Outcome decode_mpg123(const Input &in)
{
    Outcome r;
    int err = MPG123_OK;
    mpg123_handle *mh = mpg123_new(g_mpg123_decoder.empty() ? nullptr : g_mpg123_decoder.c_str(), &err);
    if (!mh) {
        r.errors++;
        return r;
    }
    mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(mh);
    const long *rates = nullptr;
    size_t n_rates = 0;
    mpg123_rates(&rates, &n_rates);
    for (size_t i = 0; i < n_rates; i++)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(mh) != MPG123_OK || mpg123_feed(mh, in.bytes.data(), in.size) != MPG123_OK) {
        r.errors++;
        mpg123_delete(mh);
        return r;
    }
    int channels = 2;
    for (;;) {
        off_t frame_num = 0;
        unsigned char *audio = nullptr;
        size_t bytes = 0;
        const int status = mpg123_decode_frame(mh, &frame_num, &audio, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            long rate = 0;
            int encoding = 0;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            continue;
        }
        if (status == MPG123_OK) {
            if (bytes > 0) {
                r.samples += (long long)(bytes / (2 * (size_t)channels));
                r.sink += audio[0] + audio[bytes - 1];
            }
            continue;
        }
        if (status != MPG123_NEED_MORE && status != MPG123_DONE)
            r.errors++;
        break;
    }
    mpg123_delete(mh);
    return r;
}
#endif

// ---- libmad ----

#ifdef ROVAZ_BENCH_MAD
// Rounds a 28-bit-fraction fixed-point sample to 16 bits, saturating.
inline int16_t mad_to_s16(mad_fixed_t s)
{
    s += (mad_fixed_t)1 << (MAD_F_FRACBITS - 16);
    if (s >= MAD_F_ONE)
        s = MAD_F_ONE - 1;
    else if (s < -MAD_F_ONE)
        s = -MAD_F_ONE;
    return (int16_t)(s >> (MAD_F_FRACBITS + 1 - 16));
}

// The low-level API: frames decoded from the whole buffer, synthesised, and
// converted to interleaved 16-bit samples by the caller.
Outcome decode_mad(const Input &in)
{
    Outcome r;
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, in.bytes.data(), in.size + kGuardBytes);
    alignas(64) int16_t out[1152 * 2];
    for (;;) {
        if (mad_frame_decode(&frame, &stream) != 0) {
            if (MAD_RECOVERABLE(stream.error))
                continue;  // bad reservoir pointer at the start, lost sync at the end
            if (stream.error != MAD_ERROR_BUFLEN)
                r.errors++;
            break;
        }
        mad_synth_frame(&synth, &frame);
        const unsigned n = synth.pcm.length;
        const mad_fixed_t *left = synth.pcm.samples[0];
        if (synth.pcm.channels == 2) {
            const mad_fixed_t *right = synth.pcm.samples[1];
            for (unsigned i = 0; i < n; i++) {
                out[2 * i] = mad_to_s16(left[i]);
                out[2 * i + 1] = mad_to_s16(right[i]);
            }
        } else {
            for (unsigned i = 0; i < n; i++)
                out[i] = mad_to_s16(left[i]);
        }
        r.samples += n;
        r.sink += (uint16_t)out[0] + (uint16_t)out[n - 1];
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    return r;
}
#endif

struct Decoder {
    std::string name;
    Outcome (*decode)(const Input &);
};

// One measurement: reps decodes of the file, CPU seconds per decode.
double time_decodes(const Decoder &d, const Input &in, int reps, Outcome *last)
{
    const double t0 = cpu_seconds();
    for (int i = 0; i < reps; i++)
        *last = d.decode(in);
    return (cpu_seconds() - t0) / reps;
}

#ifdef ROVAZ_BENCH_MPG123
// The decoder of libmpg123's build that is fastest here: each one is timed
// on the file, the best of three.
std::string pick_mpg123_decoder(const Input &in)
{
    std::string best;
    double best_time = 1e30;
    std::printf("libmpg123 decoders on %s:", in.name.c_str());
    for (const char **d = mpg123_supported_decoders(); d && *d; d++) {
        g_mpg123_decoder = *d;
        Outcome o;
        double t = 1e30;
        for (int i = 0; i < 3; i++)
            t = std::min(t, time_decodes({"", decode_mpg123}, in, 1, &o));
        std::printf(" %s %.1fx", *d, in.audio_seconds() / t);
        if (o.errors == 0 && t < best_time) {
            best_time = t;
            best = *d;
        }
    }
    std::printf(" -> %s\n", best.c_str());
    return best;
}
#endif

const char *layer_name(int layer)
{
    static const char *const names[] = {"?", "I", "II", "III"};
    return names[layer >= 1 && layer <= 3 ? layer : 0];
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string cpu_model()
{
    FILE *f = std::fopen("/proc/cpuinfo", "r");
    std::string model = "unknown CPU";
    if (!f)
        return model;
    char line[512];
    while (std::fgets(line, sizeof(line), f)) {
        if (std::strncmp(line, "model name", 10) == 0) {
            const char *colon = std::strchr(line, ':');
            if (colon) {
                model = colon + 2;
                while (!model.empty() && (model.back() == '\n' || model.back() == ' '))
                    model.pop_back();
            }
            break;
        }
    }
    std::fclose(f);
    return model;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: mpabench [--rounds N] [--min-cpu SECONDS] [--mpg123-decoder NAME]\n"
                 "                [--only rovaz|mpg123|libmad] [--results FILE] FILE...\n");
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    double min_cpu = 0.25;  // per measurement; short files are decoded repeatedly
    std::string results_path;
    std::string forced_mpg123;
    std::string only;
    std::vector<Input> inputs;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--rounds" && has_value) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--min-cpu" && has_value) {
            min_cpu = std::atof(argv[++i]);
        } else if (a == "--results" && has_value) {
            results_path = argv[++i];
        } else if (a == "--only" && has_value) {
            only = argv[++i];
        } else if (a == "--mpg123-decoder" && has_value) {
            forced_mpg123 = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            usage();
            return 2;
        } else {
            Input in;
            in.path = a;
            if (!load(in)) {
                std::fprintf(stderr, "mpabench: cannot read %s\n", a.c_str());
                return 2;
            }
            walk_headers(in);
            if (in.frames == 0) {
                std::fprintf(stderr, "mpabench: no MPEG audio frames in %s\n", a.c_str());
                return 2;
            }
            inputs.push_back(std::move(in));
        }
    }
    if (inputs.empty()) {
        usage();
        return 2;
    }

    const auto wanted = [&only](const char *name) { return only.empty() || only == name; };
    std::vector<Decoder> decoders;
    if (wanted("rovaz"))
        decoders.push_back({"rovaz", decode_rovaz});
#ifdef ROVAZ_BENCH_MPG123
    mpg123_init();
    if (wanted("mpg123")) {
        g_mpg123_decoder = forced_mpg123.empty() ? pick_mpg123_decoder(inputs[0]) : forced_mpg123;
        decoders.push_back({"mpg123/" + g_mpg123_decoder, decode_mpg123});
    }
#else
    std::printf("libmpg123 not built in (install libmpg123-dev and rebuild)\n");
#endif
#ifdef ROVAZ_BENCH_MAD
    if (wanted("libmad"))
        decoders.push_back({"libmad", decode_mad});
#else
    std::printf("libmad not built in (install libmad0-dev and rebuild)\n");
#endif
    if (decoders.empty()) {
        std::fprintf(stderr, "mpabench: no decoder named %s here\n", only.c_str());
        return 2;
    }
    std::printf("CPU: %s; %d rounds, CPU time of the process\n", cpu_model().c_str(), rounds);

    // Warm-up: one untimed decode each, which also sets how many decodes make
    // one measurement of a short file.
    const size_t nd = decoders.size();
    std::vector<int> reps(inputs.size(), 1);
    std::vector<std::vector<Outcome>> outcome(inputs.size(), std::vector<Outcome>(nd));
    for (size_t f = 0; f < inputs.size(); f++) {
        double slowest = 0;
        for (size_t d = 0; d < nd; d++)
            slowest = std::max(slowest, time_decodes(decoders[d], inputs[f], 1, &outcome[f][d]));
        reps[f] = std::max(1, (int)std::ceil(min_cpu / std::max(slowest, 1e-6)));
    }

    // seconds[f][d]: CPU seconds per decode, one value per round.
    std::vector<std::vector<std::vector<double>>> seconds(
        inputs.size(), std::vector<std::vector<double>>(nd));
    for (int round = 0; round < rounds; round++) {
        for (size_t f = 0; f < inputs.size(); f++) {
            for (size_t k = 0; k < nd; k++) {
                const size_t d = (k + (size_t)round) % nd;  // rotate who goes first
                seconds[f][d].push_back(time_decodes(decoders[d], inputs[f], reps[f], &outcome[f][d]));
            }
        }
    }

    FILE *results = nullptr;
    if (!results_path.empty() && !(results = std::fopen(results_path.c_str(), "w")))
        std::fprintf(stderr, "mpabench: cannot write %s\n", results_path.c_str());

    // Seconds of audio per CPU second; "vs mpg123" divides by libmpg123's.
    std::printf("\n%-22s %-5s %6s  %-16s %9s %9s %9s  %s\n", "file", "layer", "audio", "decoder",
                "best x", "median x", "vs mpg123", "samples");
    bool all_counts_ok = true;
    for (size_t f = 0; f < inputs.size(); f++) {
        const Input &in = inputs[f];
        double mpg123_best = 0, mpg123_median = 0;
        for (size_t d = 0; d < nd; d++) {
            if (decoders[d].name.compare(0, 6, "mpg123") == 0) {
                mpg123_best = in.audio_seconds() / *std::min_element(seconds[f][d].begin(), seconds[f][d].end());
                mpg123_median = in.audio_seconds() / median(seconds[f][d]);
            }
        }
        for (size_t d = 0; d < nd; d++) {
            const double best = in.audio_seconds() / *std::min_element(seconds[f][d].begin(), seconds[f][d].end());
            const double med = in.audio_seconds() / median(seconds[f][d]);
            const Outcome &o = outcome[f][d];
            // The frames at the edges (an encoder's info frame, frames whose
            // reservoir lies before the stream) may or may not give output.
            const long long slack = 3LL * in.first_frame_samples;
            const bool count_ok = o.errors == 0 && std::llabs(o.samples - in.samples) <= slack;
            all_counts_ok = all_counts_ok && count_ok;
            char vs[32] = "-";
            if (mpg123_best > 0)
                std::snprintf(vs, sizeof(vs), "%.2f", best / mpg123_best);
            char samples[64];
            std::snprintf(samples, sizeof(samples), "%lld/%lld%s", o.samples, in.samples,
                          count_ok ? "" : (o.errors ? " ERRORS" : " MISMATCH"));
            std::printf("%-22s %-5s %5.1fs  %-16s %9.1f %9.1f %9s  %s\n", d == 0 ? in.name.c_str() : "",
                        d == 0 ? layer_name(in.layer) : "", in.audio_seconds(),
                        decoders[d].name.c_str(), best, med, vs, samples);
            if (results)
                std::fprintf(results, "%s\t%s\t%.3f\t%.3f\t%.3f\t%.3f\n", in.name.c_str(),
                             decoders[d].name.c_str(), best, med, mpg123_best, mpg123_median);
        }
    }
    if (results)
        std::fclose(results);
    std::printf("\nbest/median x: seconds of audio decoded per CPU second; vs mpg123: best x / libmpg123's best x;\n"
                "samples: per channel, decoded/expected from the frame headers (+-3 frames allowed)\n");
    unsigned sink = 0;
    for (const auto &row : outcome)
        for (const Outcome &o : row)
            sink += o.sink;
    std::fflush(stdout);
    std::fprintf(stderr, "(checksum %u)\n", sink);
#ifdef ROVAZ_BENCH_MPG123
    mpg123_exit();
#endif
    return all_counts_ok ? 0 : 1;
}

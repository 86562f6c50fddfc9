// mpabench: decode speed of rovaz beside libmpg123 (its fastest decoder here
// and its generic one), libmad and libavcodec, on the same bytes held in
// memory, in one process. Every decoder turns each file into 16-bit
// interleaved PCM, rovaz through its stream layer (mpa_stream_read).
// Runs alternate between decoders (round by round, file by file) so that a
// slow phase of the machine hits them all alike; the figure kept is the CPU
// time of the process (CLOCK_PROCESS_CPUTIME_ID), best and median over the
// rounds.
//
//   mpabench [--rounds N] [--min-cpu SECONDS] [--mpg123-decoder NAME] [--once]
//            [--only rovaz|mpg123|mpg123-generic|libmad|libavcodec] [--results FILE] FILE...
//
// --only keeps one decoder, e.g. for a profiler: mpabench --only rovaz
// --rounds 1 --min-cpu 0 FILE decodes FILE twice (the warm-up and the round).
// --once decodes each file once with each decoder, untimed, and checks the
// sample counts: under callgrind, --collect-atstart=no
// --toggle-collect='*loop_rovaz(*' (loop_mpg123, loop_mad, loop_avcodec)
// counts the decode loop alone, without the decoder's open and close.
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
#ifdef ROVAZ_BENCH_AVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}
#endif

// The decode loops are functions of their own, never inlined or cloned, so
// that callgrind can collect them by name.
#if defined(__clang__)
#define BENCH_LOOP __attribute__((noinline))
#else
#define BENCH_LOOP __attribute__((noipa))
#endif

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Zero bytes after the data: libmad needs 8 of them to decode the last frame
// (MAD_BUFFER_GUARD), libavcodec 64 readable ones after a packet that ends
// there (AV_INPUT_BUFFER_PADDING_SIZE).
constexpr size_t kGuardBytes = 64;

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
    double audio_seconds() const { return rate ? static_cast<double>(samples) / rate : 0.0; }
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
        const int remaining = static_cast<int>(std::min<size_t>(in.size - pos, 1 << 30));
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
        pos += static_cast<size_t>(h.header_offset) + static_cast<size_t>(h.bits_in_frame >> 3);
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

BENCH_LOOP void loop_rovaz(mpa_stream *stream, int channels, Outcome &r)
{
    alignas(64) uint8_t out[kReadBytes];
    void *dest[2] = {out, nullptr};
    for (;;) {
        size_t n = 0;
        const int status = mpa_stream_read(stream, dest, sizeof(out), &n);
        if (status == MPA_OK) {
            r.samples += static_cast<long long>(n);
            r.sink += out[0] + out[n * 2 * static_cast<size_t>(channels) - 1];
        } else if (status != MPA_STREAM_FORMAT_CHANGED) {
            if (status != MPA_STREAM_END)
                r.errors++;
            break;
        }
    }
}

Outcome decode_rovaz(const Input &in, const std::string &)
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
    loop_rovaz(stream, in.channels, r);
    mpa_stream_info info;
    if (mpa_stream_get_info(stream, &info) == MPA_OK)
        r.errors += (info.frames_concealed + info.frames_dropped);
    mpa_stream_close(stream);
    return r;
}

// ---- libmpg123 ----

#ifdef ROVAZ_BENCH_MPG123
BENCH_LOOP void loop_mpg123(mpg123_handle *mh, Outcome &r)
{
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
                r.samples += static_cast<long long>(bytes / (2 * static_cast<size_t>(channels)));
                r.sink += audio[0] + audio[bytes - 1];
            }
            continue;
        }
        if (status != MPG123_NEED_MORE && status != MPG123_DONE)
            r.errors++;
        break;
    }
}

// The whole file fed at once (before the loop: it is the handover of the
// input); 16-bit output at the stream's own rate and channel count, so no
// resampling or mixing; no gapless trimming, so the sample count is
// comparable. decoder: one of libmpg123's, empty for its default.
Outcome decode_mpg123(const Input &in, const std::string &decoder)
{
    Outcome r;
    int err = MPG123_OK;
    mpg123_handle *mh = mpg123_new(decoder.empty() ? nullptr : decoder.c_str(), &err);
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
    loop_mpg123(mh, r);
    mpg123_delete(mh);
    return r;
}
#endif

// ---- libmad ----

#ifdef ROVAZ_BENCH_MAD
// Rounds a 28-bit-fraction fixed-point sample to 16 bits, saturating.
inline int16_t mad_to_s16(mad_fixed_t s)
{
    s += static_cast<mad_fixed_t>(1) << (MAD_F_FRACBITS - 16);
    if (s >= MAD_F_ONE)
        s = MAD_F_ONE - 1;
    else if (s < -MAD_F_ONE)
        s = -MAD_F_ONE;
    return static_cast<int16_t>(s >> (MAD_F_FRACBITS + 1 - 16));
}

// The low-level API: frames decoded from the whole buffer, synthesised, and
// converted to interleaved 16-bit samples by the caller.
BENCH_LOOP void loop_mad(mad_stream &stream, mad_frame &frame, mad_synth &synth, Outcome &r)
{
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
        r.sink += static_cast<uint16_t>(out[0]) + static_cast<uint16_t>(out[n - 1]);
    }
}

Outcome decode_mad(const Input &in, const std::string &)
{
    Outcome r;
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, in.bytes.data(), in.size + MAD_BUFFER_GUARD);
    loop_mad(stream, frame, synth, r);
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    return r;
}
#endif

// ---- libavcodec ----

#ifdef ROVAZ_BENCH_AVCODEC
// Rounds a float sample (full scale 1.0) to the nearest 16-bit value,
// saturating; inline, where lrintf would be a call per sample.
inline int16_t float_to_s16(float x)
{
    const float v = x * 32768.0f;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<int16_t>(v < 0.0f ? v - 0.5f : v + 0.5f);
}

// Takes every frame the decoder has ready; its planar float samples become
// interleaved 16-bit ones, rounded, as the other decoders give them.
void receive_avcodec(AVCodecContext *ctx, AVFrame *frame, Outcome &r)
{
    alignas(64) int16_t out[1152 * 2];
    for (;;) {
        const int status = avcodec_receive_frame(ctx, frame);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF)
            return;
        if (status < 0 || frame->format != AV_SAMPLE_FMT_FLTP || frame->nb_samples > 1152 ||
            frame->ch_layout.nb_channels < 1 || frame->ch_layout.nb_channels > 2) {
            r.errors++;
            return;
        }
        const int n = frame->nb_samples;
        const float *left = reinterpret_cast<const float *>(frame->extended_data[0]);
        if (frame->ch_layout.nb_channels == 2) {
            const float *right = reinterpret_cast<const float *>(frame->extended_data[1]);
            for (int i = 0; i < n; i++) {
                out[2 * i] = float_to_s16(left[i]);
                out[2 * i + 1] = float_to_s16(right[i]);
            }
        } else {
            for (int i = 0; i < n; i++)
                out[i] = float_to_s16(left[i]);
        }
        if (n > 0) {
            r.samples += n;
            r.sink += static_cast<uint16_t>(out[0]) + static_cast<uint16_t>(out[n - 1]);
        }
    }
}

// As libavcodec's own examples decode a stream in memory: the parser cuts
// the bytes into frames, each one sent as a packet, then the parser and the
// decoder are drained.
BENCH_LOOP void loop_avcodec(AVCodecParserContext *parser, AVCodecContext *ctx, AVPacket *packet,
                             AVFrame *frame, const Input &in, Outcome &r)
{
    size_t pos = 0;
    bool input_done = false;
    while (!input_done) {
        const int remaining = static_cast<int>(std::min<size_t>(in.size - pos, 1 << 30));
        // An empty input flushes the parser's last frame.
        const int used = av_parser_parse2(parser, ctx, &packet->data, &packet->size,
                                          remaining ? in.bytes.data() + pos : nullptr, remaining,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) {
            r.errors++;
            break;
        }
        pos += static_cast<size_t>(used);
        input_done = remaining == 0;
        if (packet->size == 0)
            continue;
        if (avcodec_send_packet(ctx, packet) < 0)
            r.errors++;
        receive_avcodec(ctx, frame, r);
    }
    if (avcodec_send_packet(ctx, nullptr) == 0)
        receive_avcodec(ctx, frame, r);
}

// The float decoder of the file's layer, set up before the loop.
Outcome decode_avcodec(const Input &in, const std::string &)
{
    Outcome r;
    static const char *const names[] = {"mp1float", "mp2float", "mp3float"};
    const AVCodec *codec =
        in.layer >= 1 && in.layer <= 3 ? avcodec_find_decoder_by_name(names[in.layer - 1]) : nullptr;
    AVCodecParserContext *parser = codec ? av_parser_init(codec->id) : nullptr;
    AVCodecContext *ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    if (parser && ctx && packet && frame && avcodec_open2(ctx, codec, nullptr) == 0)
        loop_avcodec(parser, ctx, packet, frame, in, r);
    else
        r.errors++;
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    if (parser)
        av_parser_close(parser);
    return r;
}
#endif

struct Decoder {
    std::string key;   // as --only names it
    std::string name;  // in the results
    Outcome (*decode)(const Input &, const std::string &option);
    std::string option;
};

// One measurement: reps decodes of the file, CPU seconds per decode.
double time_decodes(const Decoder &d, const Input &in, int reps, Outcome *last)
{
    const double t0 = cpu_seconds();
    for (int i = 0; i < reps; i++)
        *last = d.decode(in, d.option);
    return (cpu_seconds() - t0) / reps;
}

#ifdef ROVAZ_BENCH_MPG123
// The decoder of libmpg123's build that is fastest here: each one is timed
// on the file, the best of five rounds that take them in turns, so that a
// slow phase of the machine does not pick the wrong one.
std::string pick_mpg123_decoder(const Input &in)
{
    std::vector<Decoder> candidates;
    for (const char **d = mpg123_supported_decoders(); d && *d; d++)
        candidates.push_back({"", "", decode_mpg123, *d});
    std::vector<double> best_time(candidates.size(), 1e30);
    std::vector<long> errors(candidates.size(), 0);
    for (int round = 0; round < 5; round++) {
        for (size_t c = 0; c < candidates.size(); c++) {
            Outcome o;
            best_time[c] = std::min(best_time[c], time_decodes(candidates[c], in, 1, &o));
            errors[c] += o.errors;
        }
    }
    std::string best;
    double fastest = 1e30;
    std::printf("libmpg123 decoders on %s:", in.name.c_str());
    for (size_t c = 0; c < candidates.size(); c++) {
        std::printf(" %s %.1fx", candidates[c].option.c_str(), in.audio_seconds() / best_time[c]);
        if (errors[c] == 0 && best_time[c] < fastest) {
            fastest = best_time[c];
            best = candidates[c].option;
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

// The frames at the edges (an encoder's info frame, frames whose reservoir
// lies before the stream) may or may not give output.
bool count_ok(const Input &in, const Outcome &o)
{
    return o.errors == 0 && std::llabs(o.samples - in.samples) <= 3LL * in.first_frame_samples;
}

std::string samples_text(const Input &in, const Outcome &o)
{
    char text[64];
    std::snprintf(text, sizeof(text), "%lld/%lld%s", o.samples, in.samples,
                  count_ok(in, o) ? "" : (o.errors ? " ERRORS" : " MISMATCH"));
    return text;
}

void usage()
{
    std::fprintf(
        stderr,
        "usage: mpabench [--rounds N] [--min-cpu SECONDS] [--mpg123-decoder NAME] [--once]\n"
        "                [--only rovaz|mpg123|mpg123-generic|libmad|libavcodec] [--results FILE] FILE...\n");
}

}  // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    double min_cpu = 0.25;  // per measurement; short files are decoded repeatedly
    std::string results_path;
    std::string forced_mpg123;
    std::string only;
    bool once = false;
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
        } else if (a == "--once") {
            once = true;
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
        decoders.push_back({"rovaz", "rovaz", decode_rovaz, ""});
#ifdef ROVAZ_BENCH_MPG123
    mpg123_init();
    if (wanted("mpg123")) {
        const std::string fastest = forced_mpg123.empty() ? pick_mpg123_decoder(inputs[0]) : forced_mpg123;
        decoders.push_back({"mpg123", "mpg123/" + fastest, decode_mpg123, fastest});
    }
    // Its portable C decoder, which every build of it has.
    if (wanted("mpg123-generic"))
        decoders.push_back({"mpg123-generic", "mpg123/generic", decode_mpg123, "generic"});
#else
    std::printf("libmpg123 not built in (install libmpg123-dev and rebuild)\n");
#endif
#ifdef ROVAZ_BENCH_MAD
    if (wanted("libmad"))
        decoders.push_back({"libmad", "libmad", decode_mad, ""});
#else
    std::printf("libmad not built in (install libmad0-dev and rebuild)\n");
#endif
#ifdef ROVAZ_BENCH_AVCODEC
    av_log_set_level(AV_LOG_QUIET);
    if (wanted("libavcodec"))
        decoders.push_back({"libavcodec", "libavcodec", decode_avcodec, ""});
#else
    std::printf("libavcodec not built in (install libavcodec-dev and rebuild)\n");
#endif
    if (decoders.empty()) {
        std::fprintf(stderr, "mpabench: no decoder named %s here\n", only.c_str());
        return 2;
    }

    if (once) {
        bool ok = true;
        for (const Input &in : inputs) {
            for (const Decoder &d : decoders) {
                const Outcome o = d.decode(in, d.option);
                ok = ok && count_ok(in, o);
                std::printf("%s %s %.3fs %ld frames samples %s (checksum %u)\n", in.name.c_str(),
                            d.name.c_str(), in.audio_seconds(), in.frames, samples_text(in, o).c_str(),
                            static_cast<unsigned>(o.sink));
            }
        }
#ifdef ROVAZ_BENCH_MPG123
        mpg123_exit();
#endif
        return ok ? 0 : 1;
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
        reps[f] = std::max(1, static_cast<int>(std::ceil(min_cpu / std::max(slowest, 1e-6))));
    }

    // seconds[f][d]: CPU seconds per decode, one value per round.
    std::vector<std::vector<std::vector<double>>> seconds(
        inputs.size(), std::vector<std::vector<double>>(nd));
    for (int round = 0; round < rounds; round++) {
        for (size_t f = 0; f < inputs.size(); f++) {
            for (size_t k = 0; k < nd; k++) {
                const size_t d = (k + static_cast<size_t>(round)) % nd;  // rotate who goes first
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
            if (decoders[d].key == "mpg123") {
                mpg123_best =
                    in.audio_seconds() / *std::min_element(seconds[f][d].begin(), seconds[f][d].end());
                mpg123_median = in.audio_seconds() / median(seconds[f][d]);
            }
        }
        for (size_t d = 0; d < nd; d++) {
            const double best =
                in.audio_seconds() / *std::min_element(seconds[f][d].begin(), seconds[f][d].end());
            const double med = in.audio_seconds() / median(seconds[f][d]);
            const Outcome &o = outcome[f][d];
            all_counts_ok = all_counts_ok && count_ok(in, o);
            char vs[32] = "-";
            if (mpg123_best > 0)
                std::snprintf(vs, sizeof(vs), "%.2f", best / mpg123_best);
            std::printf("%-22s %-5s %5.1fs  %-16s %9.1f %9.1f %9s  %s\n", d == 0 ? in.name.c_str() : "",
                        d == 0 ? layer_name(in.layer) : "", in.audio_seconds(),
                        decoders[d].name.c_str(), best, med, vs, samples_text(in, o).c_str());
            if (results)
                std::fprintf(results, "%s\t%s\t%.3f\t%.3f\t%.3f\t%.3f\t%s\n", in.name.c_str(),
                             decoders[d].name.c_str(), best, med, mpg123_best, mpg123_median,
                             decoders[d].key.c_str());
        }
    }
    if (results)
        std::fclose(results);
    std::printf(
        "\nbest/median x: seconds of audio decoded per CPU second; vs mpg123: best x / libmpg123's best x;\n"
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

// mpadec: decodes an MPEG audio file (Layers I, II, III) to WAV or raw PCM
// through the stream layer: gapless, sample-accurate start, damaged frames
// concealed.
//
//   mpadec [options] INPUT OUTPUT      ("-" is standard input/output)
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/platform.h"
#include "rovaz/mpa_stream.h"
#include "wav_writer.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: mpadec [--bits 16|24|32|f32] [--raw] [--no-gapless] [--start SECONDS]\n"
                 "              [--channels 1|2] [--truncate] [--drop-damaged] [--no-mpeg25]\n"
                 "              [--threads N|auto] INPUT OUTPUT\n"
                 "  Decodes MPEG-1/2 audio (Layer I, II or III) and MPEG 2.5 (Layer III) to a\n"
                 "  WAV file, or with --raw to headerless interleaved little-endian PCM. \"-\"\n"
                 "  reads standard input or writes standard output.\n"
                 "  --bits        16 (rounded, the default), 24, 32 or f32 (32-bit float)\n"
                 "  --no-gapless  keep the encoder delay and padding a LAME tag declares\n"
                 "  --start       start at this time, sample-accurately\n"
                 "  --channels    1: downmix stereo; 2: duplicate mono (default: as the stream)\n"
                 "  --truncate    16-bit samples truncated toward zero, as the frame API gives them\n"
                 "  --drop-damaged  give nothing for a damaged frame instead of concealing it\n"
                 "  --no-mpeg25   refuse MPEG 2.5 (8, 11.025 and 12 kHz) as the frame API does\n"
                 "  --threads     decode a file on N threads (auto or 0: one per core), giving\n"
                 "                the same output as one thread, the default\n"
                 "  When the sampling rate or the channel count changes mid-stream, a WAV\n"
                 "  output is continued in a new file, OUTPUT with .2, .3, ... before its\n"
                 "  extension; raw output goes on in the new format (both are reported).\n");
}

struct Output {
    std::string base;  // the name given
    bool raw = false;
    int bits = 16;
    bool float_samples = false;
    FILE *f = nullptr;
    std::string name;
    uint64_t data_bytes = 0;
    int part = 1;
};

std::string part_name(const std::string &base, int part)
{
    if (part == 1)
        return base;
    const size_t slash = base.find_last_of('/');
    const size_t dot = base.find_last_of('.');
    const std::string n = "." + std::to_string(part);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return base + n;
    return base.substr(0, dot) + n + base.substr(dot);
}

bool finish(Output *o)
{
    if (!o->f)
        return true;
    bool ok = std::fflush(o->f) == 0;
    if (!o->raw && o->f != stdout && o->data_bytes < 0xFFFFFFFFu - 36)
        ok = wav_patch_sizes(o->f, static_cast<uint32_t>(o->data_bytes)) && ok;
    if (o->f != stdout)
        ok = std::fclose(o->f) == 0 && ok;
    o->f = nullptr;
    return ok;
}

bool begin(Output *o, const mpa_stream_format &fmt)
{
    o->name = part_name(o->base, o->part);
    o->f = o->base == "-" ? stdout : std::fopen(o->name.c_str(), "wb");
    if (!o->f) {
        std::fprintf(stderr, "mpadec: cannot create %s: %s\n", o->name.c_str(), std::strerror(errno));
        return false;
    }
    o->data_bytes = 0;
    if (!o->raw && !wav_write_header(o->f, fmt.sampling_rate, fmt.channels, o->bits, o->float_samples,
                                     0xFFFFFFFFu - 36)) {
        std::fprintf(stderr, "mpadec: cannot write %s\n", o->name.c_str());
        return false;
    }
    return true;
}

// WAV and raw output are little-endian; the stream gives the machine's order.
void to_little_endian(uint8_t *p, size_t bytes, int sample_bytes)
{
    const uint16_t probe = 1;
    if (*reinterpret_cast<const uint8_t *>(&probe) == 1)
        return;
    for (size_t i = 0; i + static_cast<size_t>(sample_bytes) <= bytes; i += static_cast<size_t>(sample_bytes))
        for (int a = 0, b = sample_bytes - 1; a < b; a++, b--)
            std::swap(p[i + a], p[i + b]);
}

const char *status_text(int r)
{
    switch (r) {
    case MPA_ERR_NO_STREAM: return "no MPEG audio frames found";
    case MPA_ERR_IO: return "read error";
    case MPA_ERR_NO_MEMORY: return "out of memory";
    default: return "cannot decode";
    }
}

long stdin_read(void *, uint8_t *dst, size_t max)
{
    const size_t got = std::fread(dst, 1, max, stdin);
    return got == 0 && std::ferror(stdin) ? -1 : static_cast<long>(got);
}

}  // namespace

int main(int argc, char **argv)
{
    mpa_binary_stdio();
    mpa_stream_config config;
    mpa_stream_config_default(&config);
    Output out;
    double start = 0;
    bool truncate = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--bits" && has_value) {
            const std::string v = argv[++i];
            if (v == "16") {
                config.sample_format = MPA_SAMPLE_S16;
            } else if (v == "24") {
                config.sample_format = MPA_SAMPLE_S24;
            } else if (v == "32") {
                config.sample_format = MPA_SAMPLE_S32;
            } else if (v == "f32") {
                config.sample_format = MPA_SAMPLE_F32;
                out.float_samples = true;
            } else {
                usage();
                return 2;
            }
            out.bits = v == "f32" ? 32 : std::atoi(v.c_str());
        } else if (a == "--start" && has_value) {
            char *end = nullptr;
            start = std::strtod(argv[++i], &end);
            if (!end || *end || !(start >= 0)) {
                usage();
                return 2;
            }
        } else if (a == "--channels" && has_value) {
            const std::string v = argv[++i];
            if (v != "1" && v != "2") {
                usage();
                return 2;
            }
            config.channels = std::atoi(v.c_str());
        } else if (a == "--threads" && has_value) {
            const std::string v = argv[++i];
            char *end = nullptr;
            const long n = v == "auto" ? 0 : std::strtol(v.c_str(), &end, 10);
            if (v != "auto" && (v.empty() || *end || n < 0 || n > 64)) {
                usage();
                return 2;
            }
            const unsigned cores = std::thread::hardware_concurrency();
            config.threads = n > 0 ? static_cast<int32_t>(n)
                                   : static_cast<int32_t>(cores == 0   ? 1
                                                          : cores > 64 ? 64
                                                                       : cores);
        } else if (a == "--truncate") {
            truncate = true;
        } else if (a == "--drop-damaged") {
            config.drop_damaged = 1;
        } else if (a == "--no-gapless") {
            config.gapless = 0;
        } else if (a == "--no-mpeg25") {
            config.mpeg25 = 0;
        } else if (a == "--raw") {
            out.raw = true;
        } else if (a == "-h" || a == "--help") {
            usage();
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            usage();
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2 || (truncate && config.sample_format != MPA_SAMPLE_S16)) {
        usage();
        return 2;
    }
    if (truncate)
        config.sample_format = MPA_SAMPLE_S16_TRUNCATED;
    out.base = files[1];

    mpa_stream *stream = nullptr;
    int r;
    if (files[0] == "-") {
        mpa_stream_io io{};
        io.read = stdin_read;
        r = mpa_stream_open_io(&stream, &io, &config);
    } else {
        errno = 0;
        r = mpa_stream_open_file(&stream, files[0].c_str(), &config);
        if (r == MPA_ERR_IO && errno) {
            std::fprintf(stderr, "mpadec: cannot open %s: %s\n", files[0].c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (r != MPA_OK) {
        std::fprintf(stderr, "mpadec: %s: %s\n", files[0].c_str(), status_text(r));
        return 1;
    }
    mpa_stream_format fmt;
    mpa_stream_get_format(stream, &fmt);
    if (start > 0) {
        r = mpa_stream_seek(stream, static_cast<int64_t>(std::llround(start * fmt.sampling_rate)));
        if (r != MPA_OK) {
            std::fprintf(stderr, "mpadec: cannot start at %.3f s: %s\n", start, status_text(r));
            mpa_stream_close(stream);
            return 1;
        }
    }
    if (!begin(&out, fmt)) {
        mpa_stream_close(stream);
        return 1;
    }

    std::vector<uint8_t> buf(1 << 16);
    void *dest[2] = {buf.data(), nullptr};
    bool ok = true;
    uint64_t samples = 0;
    double seconds = 0;
    for (;;) {
        size_t n = 0;
        r = mpa_stream_read(stream, dest, buf.size(), &n);
        if (r == MPA_OK) {
            const size_t bytes =
                n * static_cast<size_t>(fmt.channels) * static_cast<size_t>(fmt.bytes_per_sample);
            to_little_endian(buf.data(), bytes, fmt.bytes_per_sample);
            ok = std::fwrite(buf.data(), 1, bytes, out.f) == bytes && ok;
            out.data_bytes += bytes;
            samples += n;
            seconds += static_cast<double>(n) / fmt.sampling_rate;
            continue;
        }
        if (r != MPA_STREAM_FORMAT_CHANGED)
            break;
        mpa_stream_get_format(stream, &fmt);
        if (out.f == stdout && !out.raw) {
            std::fprintf(stderr,
                         "mpadec: the format changes at %.3f s (%d Hz, %d channel%s), which one WAV "
                         "stream cannot hold; stopping (write to a file, or use --raw)\n",
                         seconds, fmt.sampling_rate, fmt.channels, fmt.channels == 1 ? "" : "s");
            r = MPA_STREAM_END;
            ok = false;
            break;
        }
        if (!out.raw) {
            ok = finish(&out) && ok;
            out.part++;
            if (!begin(&out, fmt)) {
                ok = false;
                break;
            }
        }
        std::fprintf(stderr, "mpadec: the format changes at %.3f s to %d Hz, %d channel%s; %s%s\n", seconds,
                     fmt.sampling_rate, fmt.channels, fmt.channels == 1 ? "" : "s",
                     out.raw ? "raw output goes on in it" : "continued in ",
                     out.raw ? "" : out.name.c_str());
    }
    ok = finish(&out) && ok;
    mpa_stream_info info;
    mpa_stream_get_info(stream, &info);
    mpa_stream_close(stream);
    if (r != MPA_STREAM_END) {
        std::fprintf(stderr, "mpadec: %s: %s\n", files[0].c_str(), status_text(r));
        return 1;
    }
    if (!ok) {
        std::fprintf(stderr, "mpadec: error writing %s\n", out.name.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "mpadec: %lld frames decoded, %lld concealed (damaged), %lld dropped, %d Hz, %d channel%s, "
                 "%llu samples, %.3f s%s%s\n",
                 static_cast<long long>(info.frames_decoded), static_cast<long long>(info.frames_concealed),
                 static_cast<long long>(info.frames_dropped), fmt.sampling_rate, fmt.channels,
                 fmt.channels == 1 ? "" : "s", static_cast<unsigned long long>(samples), seconds,
                 info.gapless ? ", gapless" : "", info.crc_ignored ? ", CRC words ignored (all wrong)" : "");
    return 0;
}

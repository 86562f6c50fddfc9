// mpadec: decodes an MPEG audio file (Layers I, II, III) to WAV or raw PCM.
//
//   mpadec [--bits 16|24] [--raw] INPUT OUTPUT      ("-" is standard input/output)
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "stream_decoder.h"
#include "wav_writer.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: mpadec [--bits 16|24] [--raw] INPUT OUTPUT\n"
                 "  Decodes MPEG-1/2 audio (Layer I, II or III) to a WAV file, or with --raw to\n"
                 "  headerless interleaved little-endian PCM. \"-\" reads standard input or\n"
                 "  writes standard output. --bits 24 writes 24-bit samples.\n");
}

// Appends one frame's samples, as little-endian 16- or 24-bit PCM, with the
// stream's channel count (a frame of the other count is duplicated or its
// first channel taken).
void append_frame(const float *pcm, const mpa_header &h, int out_channels, int bits,
                  std::vector<uint8_t> *out)
{
    const int n = h.n_samples;
    const unsigned source = h.n_channels == 2 && out_channels == 2 ? MPA_PCM_STEREO : 0;
    const unsigned layout = out_channels == 2 ? MPA_PCM_INTERLEAVED : 0;
    if (bits == 16) {
        const size_t at = out->size();
        out->resize(at + (size_t)n * out_channels * 2);
        uint8_t *dest[2] = {out->data() + at, nullptr};
        mpa_output_pcm(source | layout | MPA_PCM_S16, pcm, dest, n);
        return;
    }
    // 24-bit: the 24-in-32 format in native order, repacked little-endian.
    int32_t wide[1152 * 2];
    uint8_t *dest[2] = {reinterpret_cast<uint8_t *>(wide), nullptr};
    mpa_output_pcm(source | layout | MPA_PCM_S32, pcm, dest, n);
    const size_t count = (size_t)n * out_channels;
    const size_t at = out->size();
    out->resize(at + count * 3);
    uint8_t *p = out->data() + at;
    for (size_t i = 0; i < count; i++, p += 3) {
        const uint32_t v = (uint32_t)wide[i];
        p[0] = (uint8_t)v;
        p[1] = (uint8_t)(v >> 8);
        p[2] = (uint8_t)(v >> 16);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    int bits = 16;
    bool raw = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--bits" && i + 1 < argc) {
            const std::string v = argv[++i];
            if (v != "16" && v != "24") {
                usage();
                return 2;
            }
            bits = std::stoi(v);
        } else if (a == "--raw") {
            raw = true;
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
    if (files.size() != 2) {
        usage();
        return 2;
    }

    FILE *in = files[0] == "-" ? stdin : std::fopen(files[0].c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "mpadec: cannot open %s: %s\n", files[0].c_str(), std::strerror(errno));
        return 1;
    }
    StreamDecoder decoder([in](uint8_t *dst, size_t max) { return std::fread(dst, 1, max, in); });
    if (!decoder.ok()) {
        std::fprintf(stderr, "mpadec: out of memory\n");
        return 1;
    }

    static float pcm[MPA_PCM_BUFFER_FLOATS];
    if (!decoder.next(pcm)) {
        std::fprintf(stderr, "mpadec: no MPEG audio frames found in %s\n", files[0].c_str());
        return 1;
    }
    const int rate = decoder.header().sampling_rate;
    const int channels = decoder.header().n_channels;

    FILE *out = files[1] == "-" ? stdout : std::fopen(files[1].c_str(), "wb");
    if (!out) {
        std::fprintf(stderr, "mpadec: cannot create %s: %s\n", files[1].c_str(), std::strerror(errno));
        return 1;
    }
    if (!raw && !wav_write_header(out, rate, channels, bits, 0xFFFFFFFFu - 36)) {
        std::fprintf(stderr, "mpadec: cannot write %s\n", files[1].c_str());
        return 1;
    }

    std::vector<uint8_t> chunk;
    uint64_t data_bytes = 0;
    uint64_t samples = 0;
    bool write_ok = true;
    do {
        append_frame(pcm, decoder.header(), channels, bits, &chunk);
        samples += (uint64_t)decoder.header().n_samples;
        if (chunk.size() >= 1 << 16) {
            write_ok = write_ok && std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
            data_bytes += chunk.size();
            chunk.clear();
        }
    } while (decoder.next(pcm));
    write_ok = write_ok && std::fwrite(chunk.data(), 1, chunk.size(), out) == chunk.size();
    data_bytes += chunk.size();
    if (!raw && out != stdout && data_bytes < 0xFFFFFFFFu - 36)
        write_ok = write_ok && wav_patch_sizes(out, (uint32_t)data_bytes);
    write_ok = std::fflush(out) == 0 && write_ok;
    if (out != stdout)
        write_ok = std::fclose(out) == 0 && write_ok;
    if (in != stdin)
        std::fclose(in);
    if (!write_ok) {
        std::fprintf(stderr, "mpadec: error writing %s\n", files[1].c_str());
        return 1;
    }

    std::fprintf(stderr,
                 "mpadec: %ld frames decoded, %ld skipped (damaged), %ld without output, %d Hz, "
                 "%d channel%s, %.3f s\n",
                 decoder.frames_decoded(), decoder.frames_skipped(), decoder.frames_without_output(),
                 rate, channels, channels == 1 ? "" : "s", (double)samples / rate);
    return 0;
}

// Installed-library consumer: the same frames as decode_frames.c, through the
// stream layer (rovaz/mpa_stream.h) from C++. Output truncated to 16 bits as
// mpa_output_pcm does, so both print the same line.
#include <rovaz/mpa_stream.h>

#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    mpa_stream_config config;
    mpa_stream_config_default(&config);
    config.sample_format = MPA_SAMPLE_S16_TRUNCATED;
    mpa_stream *s = nullptr;
    if (mpa_stream_open_file(&s, argv[1], &config) != MPA_OK)
        return 1;
    mpa_stream_format format;
    if (mpa_stream_get_format(s, &format) != MPA_OK)
        return 1;
    const long wanted = 20L * (format.layer == 1 ? 384 : 1152);  // 20 frames
    std::vector<uint8_t> out(1152 * 2 * 2);
    uint32_t hash = 2166136261u;
    long samples = 0;
    while (samples < wanted) {
        void *dest[2] = {out.data(), nullptr};
        const size_t room = (size_t)(wanted - samples) * format.channels * 2;
        size_t n = 0;
        const int status = mpa_stream_read(s, dest, room < out.size() ? room : out.size(), &n);
        if (status == MPA_STREAM_FORMAT_CHANGED)
            continue;
        if (status != MPA_OK) {
            std::fprintf(stderr, "read: status %d\n", status);
            return 1;
        }
        for (size_t i = 0; i < n * format.channels * 2; i++)
            hash = (hash ^ out[i]) * 16777619u;
        samples += (long)n;
    }
    std::printf("rovaz %s\n", mpa_version());
    std::printf("layer %d, %d Hz, %d channels, %ld samples, hash %08x\n", format.layer,
                format.sampling_rate, format.channels, samples, (unsigned)hash);
    mpa_stream_close(s);
    return 0;
}

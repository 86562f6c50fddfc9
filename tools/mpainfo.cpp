// mpainfo: lists the frames of an MPEG audio file, one line each.
#include <cstdio>
#include <cstring>
#include <vector>

#include "rovaz/mpa.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: mpainfo FILE\n");
        return 2;
    }
    FILE *f = std::fopen(argv[1], "rb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<uint8_t> data;
    uint8_t block[1 << 16];
    size_t got;
    while ((got = std::fread(block, 1, sizeof(block), f)) > 0)
        data.insert(data.end(), block, block + got);
    std::fclose(f);

    static const char *const kModes[] = {"stereo", "joint stereo", "dual channel", "mono"};
    mpa_header h;
    std::memset(&h, 0, sizeof(h));
    size_t pos = 0;
    long frames = 0;
    while (pos < data.size()) {
        const int status = mpa_get_header(&h, data.data() + pos, (int)(data.size() - pos));
        if (status < 0)
            break;
        const size_t at = pos + (size_t)h.header_offset;
        const int bytes = h.bits_in_frame >> 3;
        std::printf("frame %ld: Layer %d, MPEG-%d, %d Hz, %d kbit/s%s, %d channel%s (%s), %d bytes, offset %zu%s\n",
                    frames, 4 - h.layer_bits, h.id ? 1 : 2, h.sampling_rate, h.bit_rate,
                    h.bitrate_index == 0 ? " (free format)" : "", h.n_channels,
                    h.n_channels == 1 ? "" : "s", kModes[h.mode], bytes, at,
                    h.protection_bit == 0 ? ", CRC" : "");
        frames++;
        pos = at + (bytes > 0 ? (size_t)bytes : 1);
    }
    if (frames == 0) {
        std::fprintf(stderr, "mpainfo: no MPEG audio frames in %s\n", argv[1]);
        return 1;
    }
    return 0;
}

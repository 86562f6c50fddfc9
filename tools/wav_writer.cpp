#include "wav_writer.h"

namespace {

void put16(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t *p, uint32_t v)
{
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

}  // namespace

bool wav_write_header(FILE *f, int rate, int channels, int bits, bool float_samples, uint32_t data_bytes)
{
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    const uint32_t block = static_cast<uint32_t>(channels * bits / 8);
    put32(h + 4, 36 + data_bytes);
    put32(h + 16, 16);
    put16(h + 20, float_samples ? 3 : 1);  // IEEE float or PCM
    put16(h + 22, static_cast<uint32_t>(channels));
    put32(h + 24, static_cast<uint32_t>(rate));
    put32(h + 28, static_cast<uint32_t>(rate) * block);
    put16(h + 32, block);
    put16(h + 34, static_cast<uint32_t>(bits));
    h[36] = 'd';
    h[37] = 'a';
    h[38] = 't';
    h[39] = 'a';
    put32(h + 40, data_bytes);
    return fwrite(h, 1, sizeof(h), f) == sizeof(h);
}

bool wav_patch_sizes(FILE *f, uint32_t data_bytes)
{
    uint8_t v[4];
    put32(v, 36 + data_bytes);
    if (fseek(f, 4, SEEK_SET) != 0 || fwrite(v, 1, 4, f) != 4)
        return false;
    put32(v, data_bytes);
    return fseek(f, 40, SEEK_SET) == 0 && fwrite(v, 1, 4, f) == 4;
}

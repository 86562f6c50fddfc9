// Fuzz target: float to integer PCM conversion with every flag word, any
// count and arbitrary floats (NaN, infinities, denormals, huge values).
// Each output sample is checked against a direct computation, and the
// destinations are heap blocks of exactly the size the call may write.
//
// Bytes 0-3: the flag word; 4-5: the count (signed 16-bit); 6: bit 0 gives
// the second destination even when it is not needed. The rest: floats of the
// two channels (native byte order), the missing ones zero.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "rovaz/mpa.h"

namespace {

constexpr uint8_t kUntouched = 0xA5;

// Truncation toward zero, saturated; NaN gives 0.
int32_t expected(float x, bool wide)
{
    const double lo = wide ? -8388608.0 : -32768.0, hi = wide ? 8388607.0 : 32767.0;
    if (std::isnan(x))
        return 0;
    const double v = std::trunc(static_cast<double>(x) * (wide ? 256.0 : 1.0));
    return static_cast<int32_t>(v < lo ? lo : v > hi ? hi : v);
}

int32_t stored(const uint8_t *p, int bytes)
{
    if (bytes == 2) {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (bytes == 3) {  // most significant byte first, sign-extended
        const uint32_t u = static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
                           static_cast<uint32_t>(p[2]) << 8;
        return static_cast<int32_t>(u) >> 8;
    }
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

uint8_t *block(size_t n)
{
    uint8_t *p = static_cast<uint8_t *>(std::malloc(n ? n : 1));
    std::memset(p, kUntouched, n ? n : 1);
    return p;
}

bool untouched(const uint8_t *p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i] != kUntouched)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 7)
        return 0;
    uint32_t flags;
    int16_t count16;
    std::memcpy(&flags, data, 4);
    std::memcpy(&count16, data + 4, 2);
    const bool second = data[6] & 1;
    data += 7;
    size -= 7;

    float *pcm = static_cast<float *>(std::malloc(MPA_PCM_BUFFER_FLOATS * sizeof(float)));
    const size_t given = size / 4 < MPA_PCM_BUFFER_FLOATS ? size / 4 : MPA_PCM_BUFFER_FLOATS;
    std::memset(pcm, 0, MPA_PCM_BUFFER_FLOATS * sizeof(float));
    std::memcpy(pcm, data, given * 4);

    const bool stereo = flags & MPA_PCM_STEREO;
    const bool interleaved = flags & MPA_PCM_INTERLEAVED;
    const unsigned format = flags & MPA_PCM_FORMAT_MASK;
    const int bytes = format == MPA_PCM_S16 ? 2 : format == MPA_PCM_S24 ? 3 : 4;
    const bool wide = format != MPA_PCM_S16;
    // One frame per channel at most is converted.
    const int n = count16 <= 0 ? 0 : count16 > 1152 ? 1152 : count16;
    // Interleaved output has two values per sample, also from one channel.
    const size_t size0 = static_cast<size_t>(n) * bytes * (interleaved ? 2 : 1);
    const size_t size1 = static_cast<size_t>(n) * bytes;
    uint8_t *d0 = block(size0);
    uint8_t *d1 = (stereo && !interleaved) || second ? block(size1) : nullptr;
    uint8_t *dest[2] = {d0, d1};

    const int status = mpa_output_pcm(flags, pcm, dest, count16);
    if (stereo && !interleaved && !d1) {
        FUZZ_CHECK(status == MPA_ERR_NULL_ARG);
    } else if (format == 2) {
        FUZZ_CHECK(status == MPA_ERROR);
    } else {
        FUZZ_CHECK(status == MPA_OK);
    }
    if (status != MPA_OK) {
        FUZZ_CHECK(untouched(d0, size0) && (!d1 || untouched(d1, size1)));
    } else {
        for (int i = 0; i < n; i++) {
            const int32_t l = expected(pcm[i], wide), r = expected(pcm[1152 + i], wide);
            if (interleaved) {
                FUZZ_CHECK(stored(d0 + (2 * i) * bytes, bytes) == l);
                FUZZ_CHECK(stored(d0 + (2 * i + 1) * bytes, bytes) == (stereo ? r : l));
            } else {
                FUZZ_CHECK(stored(d0 + i * bytes, bytes) == l);
                if (stereo)
                    FUZZ_CHECK(stored(d1 + i * bytes, bytes) == r);
            }
        }
        // A destination the flags do not name is left alone.
        if (d1 && !(stereo && !interleaved))
            FUZZ_CHECK(untouched(d1, size1));
    }
    std::free(d1);
    std::free(d0);
    std::free(pcm);
    return 0;
}

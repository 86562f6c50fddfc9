/* Installed-library consumer: decodes the first frames of an MPEG audio file
 * through the frame API (rovaz/mpa.h) and prints what it decoded. */
#include <rovaz/mpa.h>

#include <stdio.h>
#include <stdlib.h>

enum { FRAMES = 20 };

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    FILE *f = fopen(argv[1], "rb");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    static uint8_t data[1 << 20];
    const int size = (int)fread(data, 1, sizeof data, f);
    fclose(f);

    mpa_decoder *dec = NULL;
    if (mpa_decoder_open(&dec) != MPA_OK)
        return 1;
    static float pcm[MPA_PCM_BUFFER_FLOATS];
    static uint8_t out[MPA_MAX_FRAME_PCM_BYTES];
    uint32_t hash = 2166136261u; /* FNV-1a over the 16-bit samples */
    long samples = 0;
    int frames = 0, pos = 0;
    const mpa_header *h = NULL;
    while (frames < FRAMES) {
        int consumed = 0, needed = 0;
        const int status = mpa_decode_step(dec, pcm, data + pos, size - pos, pos,
                                           MPA_PCM_BUFFER_FLOATS, &consumed, &needed);
        if (status != MPA_OK) {
            fprintf(stderr, "frame %d: status %d\n", frames, status);
            return 1;
        }
        pos += consumed;
        h = mpa_decoder_header(dec);
        uint8_t *dest[2] = {out, NULL};
        const unsigned flags = MPA_PCM_S16 | MPA_PCM_INTERLEAVED | (h->n_channels == 2 ? MPA_PCM_STEREO : 0);
        if (mpa_output_pcm(flags, pcm, dest, h->n_samples) != MPA_OK)
            return 1;
        const int bytes = h->n_samples * h->n_channels * 2;
        for (int i = 0; i < bytes; i++)
            hash = (hash ^ out[i]) * 16777619u;
        samples += h->n_samples;
        frames++;
    }
    printf("rovaz %s\n", mpa_version());
    printf("layer %d, %d Hz, %d channels, %ld samples, hash %08x\n", 4 - h->layer_bits,
           h->sampling_rate, h->n_channels, samples, (unsigned)hash);
    mpa_decoder_close(dec);
    return 0;
}

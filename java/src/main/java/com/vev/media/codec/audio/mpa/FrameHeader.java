package com.vev.media.codec.audio.mpa;

/**
 * One MPEG audio frame header (ISO/IEC 11172-3 2.4.2.3, ISO/IEC 13818-3 2.4.2.3) read in Java, and the
 * frame search of the native decoder, so that the stream driver knows which frame a native call
 * found without asking the library (whose header query prints to standard output when it fails).
 */
final class FrameHeader {
    // kbit/s by [id][layer code][bitrate_index]; layer code 3 = Layer I, 1 = Layer III.
    private static final short[][][] BIT_RATES = {
        {   // MPEG-2 low sampling frequencies
            {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
            {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
            {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
        },
        {   // MPEG-1
            {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
            {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1},
            {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
            {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
        },
    };
    private static final int[][] SAMPLING_RATES = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};
    private static final int[][] SAMPLES = {{0, 576, 1152, 384}, {0, 1152, 1152, 384}};
    // Layer I frames are whole 32-bit slots, Layers II and III whole bytes.
    private static final int[] SLOT_MASK = {0, 7, 7, 31};
    // Longest free-format frame searched for, in bytes, by layer code.
    private static final int[] FREE_FORMAT_LIMIT = {0, 1440, 1728, 672};
    // Layer III side information in bytes by [id][channels - 1].
    private static final int[][] SIDE_INFO_BYTES = {{9, 17}, {17, 32}};

    /** Where the header is: counted from the start of the searched range ({@link #find}), or the
     *  index in the array ({@link #at}). */
    final int offset;
    /** 1 = MPEG-1, 0 = MPEG-2 low sampling frequencies. */
    final int id;
    /** Layer code of the bitstream: 3 = Layer I, 2 = Layer II, 1 = Layer III. */
    final int layerCode;
    final boolean crc;
    final int bitRateIndex;
    final int samplingIndex;
    final int padding;
    /** 0 stereo, 1 joint stereo, 2 dual channel, 3 mono. */
    final int mode;
    /** Frame length in bytes, header included. */
    final int frameBytes;
    /** True when the next frame's header was found where this frame ends. */
    final boolean confirmed;

    /** The header at d[at]; its offset is recorded as {@code offset}. */
    private FrameHeader(byte[] d, int at, int offset, int frameBytes, boolean confirmed) {
        this.offset = offset;
        int b1 = d[at + 1] & 0xFF;
        int b2 = d[at + 2] & 0xFF;
        id = (b1 >> 3) & 1;
        layerCode = (b1 >> 1) & 3;
        crc = (b1 & 1) == 0;
        bitRateIndex = b2 >> 4;
        samplingIndex = (b2 >> 2) & 3;
        padding = (b2 >> 1) & 1;
        mode = (d[at + 3] & 0xFF) >> 6;
        this.frameBytes = frameBytes;
        this.confirmed = confirmed;
    }

    /** 1, 2 or 3. */
    int layer() {
        return 4 - layerCode;
    }

    /** kbit/s, 0 for free format. */
    int bitRate() {
        return BIT_RATES[id][layerCode][bitRateIndex];
    }

    int sampleRate() {
        return SAMPLING_RATES[id][samplingIndex];
    }

    int channels() {
        return mode == 3 ? 1 : 2;
    }

    /** Samples per channel in one frame. */
    int samples() {
        return SAMPLES[id][layerCode];
    }

    /** Layer III side information length in bytes. */
    int sideInfoBytes() {
        return SIDE_INFO_BYTES[id][channels() - 1];
    }

    /** True when the two headers belong to one stream: same version, layer and sampling rate. */
    boolean sameStream(FrameHeader o) {
        return o != null && id == o.id && layerCode == o.layerCode && samplingIndex == o.samplingIndex;
    }

    /** A plausible header at d[i..i+4): sync, a layer, a usable bit rate and sampling rate, emphasis. */
    static boolean isCandidate(byte[] d, int i) {
        return (d[i] & 0xFF) == 0xFF && (d[i + 1] & 0xF6) > 0xF0 && (d[i + 2] & 0xF0) != 0xF0
                && (d[i + 2] & 0x0C) != 0x0C && (d[i + 3] & 0x03) != 2;
    }

    /** The next header of the free-format frame at d[p] at d[q]: padding and private bits free. */
    private static boolean isFreeFormatSuccessor(byte[] d, int p, int q) {
        return (d[q] & 0xFF) == 0xFF && ((d[q + 1] ^ d[p + 1]) & 0xFE) == 0
                && ((d[q + 2] ^ d[p + 2]) & 0xFC) == 0 && (d[q + 3] & 3) != 2;
    }

    /** Frame length in bytes of a fixed-rate candidate at d[i]. */
    private static int fixedFrameBytes(byte[] d, int i) {
        int id = (d[i + 1] >> 3) & 1;
        int layer = (d[i + 1] >> 1) & 3;
        int b2 = d[i + 2] & 0xFF;
        int mask = SLOT_MASK[layer];
        long bits = (long) BIT_RATES[id][layer][b2 >> 4] * SAMPLES[id][layer] * 1000
                / SAMPLING_RATES[id][(b2 >> 2) & 3];
        bits &= ~mask;
        if ((b2 & 2) != 0) {
            bits += mask + 1;
        }
        return (int) (bits >> 3);
    }

    /**
     * The header at d[i], parsed without looking at its successor (the caller checked
     * {@link #isCandidate}); a free-format frame is taken to be {@code freeFormatBytes} long.
     */
    static FrameHeader at(byte[] d, int i, int freeFormatBytes) {
        int frame = (d[i + 2] & 0xF0) != 0 ? fixedFrameBytes(d, i) : freeFormatBytes;
        return new FrameHeader(d, i, i, frame, false);
    }

    /** {@link #find(byte[], int, int, FrameHeader)} with no previous frame. */
    static FrameHeader find(byte[] d, int off, int len) {
        return find(d, off, len, null);
    }

    /**
     * Finds the frame that the native decoder finds in {@code d[off .. off + len)}: the first header
     * confirmed by its successor; else, when the data starts with a header of the stream that
     * {@code previous} came from, that one; else the first header whose successor lies beyond the
     * data. Offsets in the result count from {@code off}. Null when there is none.
     */
    static FrameHeader find(byte[] d, int off, int len, FrameHeader previous) {
        int firstUnconfirmed = -1;
        for (int i = 0; i + 4 <= len; i++) {
            int p = off + i;
            if (!isCandidate(d, p)) {
                continue;
            }
            // A frame at the very start that continues the previous frame's stream.
            boolean continues = i == 0 && previous != null && previous.id == ((d[p + 1] >> 3) & 1)
                    && previous.layerCode == ((d[p + 1] >> 1) & 3)
                    && previous.samplingIndex == ((d[p + 2] >> 2) & 3);
            if ((d[p + 2] & 0xF0) != 0) {
                int frame = fixedFrameBytes(d, p);
                long next = (long) i + frame;
                boolean successorInRange = next + 1 < len;
                if (successorInRange) {
                    int q = off + (int) next;
                    if ((d[q] & 0xFF) == 0xFF && ((d[q + 1] ^ d[p + 1]) & 0xFE) == 0) {
                        return new FrameHeader(d, p, i, frame, true);
                    }
                }
                if (continues) {
                    return new FrameHeader(d, p, 0, frame, false);
                }
                if (!successorInRange && firstUnconfirmed < 0) {
                    firstUnconfirmed = i;
                }
                continue;
            }
            // Free format: the frame runs to the next header with the same version, layer,
            // bit-rate index and sampling rate; a frame continuing a free-format stream first
            // tries the previous frame's length, adjusted for padding.
            int limit = FREE_FORMAT_LIMIT[(d[p + 1] >> 1) & 3];
            if (continues && previous.bitRateIndex == 0 && previous.frameBytes > 0) {
                int slot = (d[p + 1] & 6) == 6 ? 4 : 1;
                long k = previous.frameBytes + (long) slot * (((d[p + 2] >> 1) & 1) - previous.padding);
                if (k >= 48 && k <= limit && i + k + 4 <= len && isFreeFormatSuccessor(d, p, p + (int) k)) {
                    return new FrameHeader(d, p, i, (int) k, true);
                }
            }
            for (int k = 48; k <= limit; k++) {
                if (i + k + 4 > len) {
                    if (firstUnconfirmed < 0) {
                        firstUnconfirmed = i;
                    }
                    break;
                }
                if (isFreeFormatSuccessor(d, p, p + k)) {
                    return new FrameHeader(d, p, i, k, true);
                }
            }
        }
        if (firstUnconfirmed < 0) {
            return null;
        }
        int p = off + firstUnconfirmed;
        int frame = (d[p + 2] & 0xF0) != 0 ? fixedFrameBytes(d, p) : len - firstUnconfirmed;
        return new FrameHeader(d, p, firstUnconfirmed, frame, false);
    }

    /**
     * Whether a frame at d[p] starts a run of frames that false syncs in audio data rarely imitate: its
     * next two headers follow where the frame lengths say, with the same version, layer and sampling
     * rate. A run that reaches {@code end}, the end of the data, counts.
     */
    static boolean startsFrameRun(byte[] d, int p, int end) {
        if (end - p < 4 || !isCandidate(d, p)) {
            return false;
        }
        int at = p + frameLength(d, p, end);
        if (at == p) {
            return false;
        }
        for (int k = 0; k < 2; k++) {
            if (at + 4 > end) {
                return true;
            }
            boolean sameStream = ((d[at + 1] ^ d[p + 1]) & 0x0E) == 0 && ((d[at + 2] ^ d[p + 2]) & 0x0C) == 0;
            if (!isCandidate(d, at) || !sameStream) {
                return false;
            }
            if (k == 0) {
                int n = frameLength(d, at, end);
                if (n == 0) {
                    return false;
                }
                at += n;
            }
        }
        return true;
    }

    /** Length of the frame at candidate d[p]; 0 for a free-format frame whose successor is not in d[p..end). */
    private static int frameLength(byte[] d, int p, int end) {
        if ((d[p + 2] & 0xF0) != 0) {
            return fixedFrameBytes(d, p);
        }
        FrameHeader f = find(d, p, end - p);
        return f != null && f.offset == 0 && f.confirmed ? f.frameBytes : 0;
    }

    /** "MPEG-1 Layer III" and the like. */
    String describe() {
        return (id == 1 ? "MPEG-1" : "MPEG-2") + " Layer " + (layer() == 1 ? "I" : layer() == 2 ? "II" : "III");
    }

    String modeName() {
        switch (mode) {
            case 0:
                return "stereo";
            case 1:
                return "joint stereo";
            case 2:
                return "dual channel";
            default:
                return "mono";
        }
    }
}

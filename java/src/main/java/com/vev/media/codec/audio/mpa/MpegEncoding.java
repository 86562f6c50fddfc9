package com.vev.media.codec.audio.mpa;

import javax.sound.sampled.AudioFormat;

/**
 * Java Sound encodings of MPEG audio, one per version and layer, named as Java Sound programs commonly
 * name them ("MPEG1L3" for MP3 and so on; "MPEG2DOT5L3" for MPEG 2.5, which has Layer III only).
 * Encodings compare by name.
 */
public final class MpegEncoding extends AudioFormat.Encoding {
    /** MPEG-1 Layer I. */
    public static final MpegEncoding MPEG1L1 = new MpegEncoding("MPEG1L1");
    /** MPEG-1 Layer II. */
    public static final MpegEncoding MPEG1L2 = new MpegEncoding("MPEG1L2");
    /** MPEG-1 Layer III (MP3). */
    public static final MpegEncoding MPEG1L3 = new MpegEncoding("MPEG1L3");
    /** MPEG-2 low sampling frequencies, Layer I. */
    public static final MpegEncoding MPEG2L1 = new MpegEncoding("MPEG2L1");
    /** MPEG-2 low sampling frequencies, Layer II. */
    public static final MpegEncoding MPEG2L2 = new MpegEncoding("MPEG2L2");
    /** MPEG-2 low sampling frequencies, Layer III. */
    public static final MpegEncoding MPEG2L3 = new MpegEncoding("MPEG2L3");
    /** MPEG 2.5 (8, 11.025 and 12 kHz), Layer III. */
    public static final MpegEncoding MPEG2DOT5L3 = new MpegEncoding("MPEG2DOT5L3");

    private static final MpegEncoding[][] BY_VERSION_AND_LAYER = {
        {MPEG1L1, MPEG1L2, MPEG1L3},
        {MPEG2L1, MPEG2L2, MPEG2L3},
    };

    private MpegEncoding(String name) {
        super(name);
    }

    /** All seven encodings. */
    static AudioFormat.Encoding[] all() {
        return new AudioFormat.Encoding[] {MPEG1L1, MPEG1L2, MPEG1L3, MPEG2L1, MPEG2L2, MPEG2L3, MPEG2DOT5L3};
    }

    /** The encoding of an MPEG version (1, 2, or 25 for MPEG 2.5, whose layer is 3) and layer (1 to 3). */
    static MpegEncoding of(int version, int layer) {
        return version == 25 ? MPEG2DOT5L3 : BY_VERSION_AND_LAYER[version - 1][layer - 1];
    }

    /** True for any of the seven encodings (compared by name, as Java Sound does). */
    static boolean isMpeg(AudioFormat.Encoding e) {
        for (AudioFormat.Encoding m : all()) {
            if (m.equals(e)) {
                return true;
            }
        }
        return false;
    }
}

package com.vev.media.codec.audio.mpa;

/** What {@link MpegAudio#nGetHeader} tells about one frame. */
public final class MpegAudioHeader {
    /** 1, 2 or 3. */
    public int layer;
    /** Byte offset of the frame's header in the searched data. */
    public int headerOffset;
    /** Frame length in bits, header included. */
    public int bitsInFrame;
    /** kbit/s; 0 for free format. */
    public int bitRate;
    /** Hz. */
    public int samplingRate;
    /** 1 or 2 (dual channel counts as 2). */
    public int nChannels;
    /** Samples per channel in the frame. */
    public int nSamples;
    /** Layer III main_data_begin: bytes of earlier frames the frame's audio data starts in; else 0. */
    public int negOffset;

    /** Frame length in bytes. */
    public int frameBytes() {
        return bitsInFrame >> 3;
    }

    @Override
    public String toString() {
        return "Layer " + layer + ", " + samplingRate + " Hz, " + bitRate + " kbit/s, " + nChannels
                + " channel(s), " + nSamples + " samples, " + frameBytes() + " bytes at " + headerOffset
                + (layer == 3 ? ", main_data_begin " + negOffset : "");
    }
}

package com.vev.media.codec.audio.mpa;

import java.nio.charset.StandardCharsets;

/**
 * What the start of an MPEG audio stream tells about it: the format of its first frame, the ID3v2 tags
 * before it, and what a Xing, Info or VBRI first frame declares (frame count, and with a LAME tag the
 * encoder's delay and padding). Immutable.
 */
public final class MpegStreamInfo {
    /**
     * Samples by which the polyphase synthesis filterbank of ISO/IEC 11172-3 delays its output
     * (528, plus one for the usual MP3 encoder alignment): added to the encoder delay for gapless output.
     */
    public static final int DECODER_DELAY = 529;

    private final long id3v2Bytes;
    private final FrameHeader first;
    private final String infoTag;
    private final long frames;
    private final long streamBytes;
    private final String encoder;
    private final int encoderDelay;
    private final int encoderPadding;
    /** Offset of the first frame from where the parse started. */
    final int firstFrameOffset;

    private MpegStreamInfo(long id3v2Bytes, FrameHeader first, int firstFrameOffset, String infoTag,
                           long frames, long streamBytes, String encoder, int delay, int padding) {
        this.id3v2Bytes = id3v2Bytes;
        this.first = first;
        this.firstFrameOffset = firstFrameOffset;
        this.infoTag = infoTag;
        this.frames = frames;
        this.streamBytes = streamBytes;
        this.encoder = encoder;
        this.encoderDelay = delay;
        this.encoderPadding = padding;
    }

    /** A stream that declares nothing about itself: only its first frame's format is known. */
    static MpegStreamInfo plain(long id3v2Bytes, FrameHeader first) {
        return new MpegStreamInfo(id3v2Bytes, first, 0, null, -1, -1, null, -1, -1);
    }

    /**
     * Reads the first frame found in {@code d[off .. off + len)} (the stream after its ID3v2 tags) and
     * what it declares when it is an info frame. Null when the bytes hold no frame.
     */
    static MpegStreamInfo parse(long id3v2Bytes, byte[] d, int off, int len) {
        FrameHeader h = FrameHeader.find(d, off, len);
        if (h == null) {
            return null;
        }
        int f = off + h.offset;
        int end = f + Math.min(h.frameBytes, len - h.offset);
        if (h.layer() != 3) {
            return new MpegStreamInfo(id3v2Bytes, h, h.offset, null, -1, -1, null, -1, -1);
        }
        // Encoders put the tag right after the side information, some ignoring a CRC word.
        int side = h.sideInfoBytes();
        for (int x : new int[] {f + 4 + side, f + 6 + side}) {
            if (x + 8 <= end && (Tags.matches(d, x, "Xing") || Tags.matches(d, x, "Info"))) {
                return xing(id3v2Bytes, h, d, x, end);
            }
        }
        int v = f + 36;   // VBRI sits at a fixed place, whatever the channel mode
        if (v + 18 <= end && Tags.matches(d, v, "VBRI")) {
            return new MpegStreamInfo(id3v2Bytes, h, h.offset, "VBRI", be32(d, v + 14), be32(d, v + 10), null,
                    -1, -1);
        }
        return new MpegStreamInfo(id3v2Bytes, h, h.offset, null, -1, -1, null, -1, -1);
    }

    private static MpegStreamInfo xing(long id3v2Bytes, FrameHeader h, byte[] d, int x, int end) {
        String tag = new String(d, x, 4, StandardCharsets.US_ASCII);
        long flags = be32(d, x + 4);
        int p = x + 8;
        long frames = -1;
        long bytes = -1;
        if ((flags & 1) != 0 && p + 4 <= end) {
            frames = be32(d, p);
            p += 4;
        }
        if ((flags & 2) != 0 && p + 4 <= end) {
            bytes = be32(d, p);
            p += 4;
        }
        if ((flags & 4) != 0) {
            p += 100;   // seek table
        }
        if ((flags & 8) != 0) {
            p += 4;     // quality
        }
        String encoder = null;
        int delay = -1;
        int padding = -1;
        // The LAME tag: nine characters of encoder version, then at byte 21 the 12-bit encoder delay
        // and 12-bit padding. Encoders built on LAME's tag writer (FFmpeg's) fill it the same way.
        if (p + 24 <= end && (Tags.matches(d, p, "LAME") || Tags.matches(d, p, "Lavf")
                || Tags.matches(d, p, "Lavc") || Tags.matches(d, p, "L3.99"))) {
            encoder = printable(d, p, 9);
            int v = (d[p + 21] & 0xFF) << 16 | (d[p + 22] & 0xFF) << 8 | (d[p + 23] & 0xFF);
            delay = v >> 12;
            padding = v & 0xFFF;
            if (frames >= 0 && delay + padding > frames * h.samples()) {
                delay = -1;   // a damaged tag: trimming by it would cut audio
                padding = -1;
            }
        }
        return new MpegStreamInfo(id3v2Bytes, h, h.offset, tag, frames, bytes, encoder, delay, padding);
    }

    private static long be32(byte[] d, int i) {
        return (d[i] & 0xFFL) << 24 | (d[i + 1] & 0xFFL) << 16 | (d[i + 2] & 0xFFL) << 8 | (d[i + 3] & 0xFFL);
    }

    private static String printable(byte[] d, int at, int n) {
        StringBuilder s = new StringBuilder();
        for (int i = at; i < at + n; i++) {
            char c = (char) (d[i] & 0xFF);
            if (c < 0x20 || c > 0x7E) {
                break;
            }
            s.append(c);
        }
        return s.toString().trim();
    }

    /** Bytes of ID3v2 tags before the first frame (0 when there are none). */
    public long getId3v2Bytes() {
        return id3v2Bytes;
    }

    /** 1, 2 or 3. */
    public int getLayer() {
        return first.layer();
    }

    /** 1 for MPEG-1, 2 for MPEG-2 low sampling frequencies. */
    public int getMpegVersion() {
        return first.id == 1 ? 1 : 2;
    }

    /** Sampling rate in Hz. */
    public int getSampleRate() {
        return first.sampleRate();
    }

    /** 1 or 2 (dual channel counts as 2). */
    public int getChannels() {
        return first.channels();
    }

    /** "stereo", "joint stereo", "dual channel" or "mono". */
    public String getChannelMode() {
        return first.modeName();
    }

    /** Bit rate of the first frame in kbit/s; 0 for free format. */
    public int getBitRate() {
        return first.bitRate();
    }

    /** Samples per channel in one frame: 384, 576 or 1152. */
    public int getSamplesPerFrame() {
        return first.samples();
    }

    /** "Xing" (variable bit rate), "Info" (constant bit rate), "VBRI", or null when there is no info frame. */
    public String getInfoTag() {
        return infoTag;
    }

    /** Audio frames the info frame declares (the info frame itself not counted), or -1. */
    public long getFrameCount() {
        return frames;
    }

    /** Stream bytes the info frame declares, or -1. */
    public long getStreamBytes() {
        return streamBytes;
    }

    /** Encoder named by the LAME tag, such as "LAME3.100", or null. */
    public String getEncoder() {
        return encoder;
    }

    /** Samples the encoder put before the signal (from the LAME tag), or -1 when unknown. */
    public int getEncoderDelay() {
        return encoderDelay;
    }

    /** Samples the encoder put after the signal (from the LAME tag), or -1 when unknown. */
    public int getEncoderPadding() {
        return encoderPadding;
    }

    /**
     * Samples per channel of the encoded signal: the frames' samples less the encoder's delay and
     * padding when a LAME tag gives them, else all the frames' samples; -1 when no info frame counts
     * the frames.
     */
    public long getSampleCount() {
        if (frames < 0) {
            return -1;
        }
        long all = frames * first.samples();
        return encoderDelay >= 0 ? all - encoderDelay - encoderPadding : all;
    }

    /** Duration in microseconds from {@link #getSampleCount()}, or -1. */
    public long getDurationMicros() {
        long n = getSampleCount();
        return n < 0 ? -1 : n * 1_000_000L / first.sampleRate();
    }

    @Override
    public String toString() {
        StringBuilder s = new StringBuilder(first.describe()).append(", ").append(getSampleRate())
                .append(" Hz, ").append(getChannelMode());
        if (infoTag != null) {
            s.append(", ").append(infoTag).append(" frame");
            if (frames >= 0) {
                s.append(" (").append(frames).append(" frames)");
            }
        }
        if (encoder != null) {
            s.append(", ").append(encoder);
        }
        if (encoderDelay >= 0) {
            s.append(", delay ").append(encoderDelay).append(", padding ").append(encoderPadding);
        }
        return s.toString();
    }

    FrameHeader firstHeader() {
        return first;
    }
}

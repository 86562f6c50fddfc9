package com.vev.media.codec.audio.mpa;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Locale;
import java.util.Map;

/**
 * What is known of an MPEG audio stream: the format of its first frame, its tags, what a Xing, Info or
 * VBRI first frame declares (frame count, and with a LAME tag the encoder's delay and padding), and its
 * length: exact when every frame header of a seekable source was counted, else as declared. Immutable;
 * a snapshot of when it was asked for.
 */
public final class MpegStreamInfo {
    /**
     * Samples by which the polyphase synthesis filterbank delays its output (528, plus one for the usual
     * MP3 encoder alignment): added to the encoder delay for gapless output.
     */
    public static final int DECODER_DELAY = 529;

    private static final String[] MODES = {"stereo", "joint stereo", "dual channel", "mono"};
    private static final String[] INFO_TAGS = {null, "Xing", "Info", "VBRI"};

    private final int layer;
    private final int version;
    private final int sampleRate;
    private final int channels;
    private final int mode;
    private final int bitRate;
    private final long[] info;
    private final String encoder;
    private final Map<String, String> tags;

    private MpegStreamInfo(int[] format, long[] info, String encoder, Map<String, String> tags) {
        this.layer = format[NativeStream.FORMAT_LAYER];
        this.version = format[NativeStream.FORMAT_VERSION];
        this.sampleRate = format[NativeStream.FORMAT_RATE];
        this.channels = format[NativeStream.FORMAT_SOURCE_CHANNELS];
        this.mode = format[NativeStream.FORMAT_MODE];
        this.bitRate = format[NativeStream.FORMAT_BIT_RATE];
        this.info = info;
        this.encoder = encoder.isEmpty() ? null : encoder;
        this.tags = Collections.unmodifiableMap(new LinkedHashMap<>(tags));
    }

    /** What the native stream knows now, with the format of its first frame; null before it has one. */
    static MpegStreamInfo of(NativeStream s, int[] firstFormat) throws java.io.IOException {
        long[] info = s.info();
        if (info == null || firstFormat == null) {
            return null;
        }
        return new MpegStreamInfo(firstFormat, info, s.encoder(), s.tags());
    }

    /** 1, 2 or 3. */
    public int getLayer() {
        return layer;
    }

    /** 1 for MPEG-1, 2 for MPEG-2 low sampling frequencies, 25 for MPEG 2.5 (8, 11.025 and 12 kHz). */
    public int getMpegVersion() {
        return version;
    }

    /** "1", "2" or "2.5": the version as Java Sound's "mp3.version.mpeg" property names it. */
    public String getMpegVersionName() {
        return version == 25 ? "2.5" : Integer.toString(version);
    }

    /** Sampling rate of the first frame in Hz. */
    public int getSampleRate() {
        return sampleRate;
    }

    /** Channels of the first frame: 1 or 2 (dual channel counts as 2). */
    public int getChannels() {
        return channels;
    }

    /** 0 stereo, 1 joint stereo, 2 dual channel, 3 mono: the header's mode field. */
    public int getMode() {
        return mode;
    }

    /** "stereo", "joint stereo", "dual channel" or "mono". */
    public String getChannelMode() {
        return MODES[mode & 3];
    }

    /** Bit rate of the first frame in kbit/s; 0 for free format. */
    public int getBitRate() {
        return bitRate;
    }

    /** Samples per channel in one frame: 384, 576 or 1152. */
    public int getSamplesPerFrame() {
        return layer == 1 ? 384 : layer == 3 && version != 1 ? 576 : 1152;
    }

    /** "Xing" (variable bit rate), "Info" (constant bit rate), "VBRI", or null when there is no info frame. */
    public String getInfoTag() {
        return INFO_TAGS[(int) info[NativeStream.INFO_KIND] & 3];
    }

    /** True for a variable bit rate, as a Xing or VBRI frame declares it. */
    public boolean isVbr() {
        return "Xing".equals(getInfoTag()) || "VBRI".equals(getInfoTag());
    }

    /** Audio frames the info frame declares (the info frame itself not counted), or -1. */
    public long getFrameCount() {
        return info[NativeStream.INFO_DECLARED_FRAMES];
    }

    /** Audio frames counted by the scan of a seekable source, or -1. */
    public long getCountedFrames() {
        return info[NativeStream.INFO_AUDIO_FRAMES];
    }

    /** Stream bytes the info frame declares, or -1. */
    public long getStreamBytes() {
        return info[NativeStream.INFO_DECLARED_BYTES];
    }

    /** Encoder named by the LAME tag, such as "LAME3.100", or null. */
    public String getEncoder() {
        return encoder;
    }

    /** Samples the encoder put before the signal (from the LAME tag), or -1 when unknown. */
    public int getEncoderDelay() {
        return (int) info[NativeStream.INFO_ENCODER_DELAY];
    }

    /** Samples the encoder put after the signal (from the LAME tag), or -1 when unknown. */
    public int getEncoderPadding() {
        return (int) info[NativeStream.INFO_ENCODER_PADDING];
    }

    /** True when the encoder's delay and padding are cut off the output. */
    public boolean isGapless() {
        return info[NativeStream.INFO_GAPLESS] != 0;
    }

    /**
     * Samples per channel of the whole output (after gapless trimming): counted from every frame of a
     * seekable source, else as an info frame declares them; -1 when unknown.
     */
    public long getSampleCount() {
        return info[NativeStream.INFO_SAMPLES];
    }

    /** True when {@link #getSampleCount()} was counted from every frame header, not declared. */
    public boolean isLengthExact() {
        return info[NativeStream.INFO_LENGTH_EXACT] != 0;
    }

    /** Duration in microseconds of {@link #getSampleCount()} samples, or -1. */
    public long getDurationMicros() {
        return info[NativeStream.INFO_DURATION_US];
    }

    /** True when the source can seek: then the length is exact and any sample can be reached quickly. */
    public boolean isSeekable() {
        return info[NativeStream.INFO_SEEKABLE] != 0;
    }

    /** Byte offset of the first frame (after ID3v2 tags and anything else before it), or -1. */
    public long getFirstFrameOffset() {
        return info[NativeStream.INFO_FIRST_FRAME_OFFSET];
    }

    /** Bytes of tags before and after the audio (so far, on a stream that is still being read). */
    public long getTagBytes() {
        return info[NativeStream.INFO_TAG_BYTES];
    }

    /** Sampling-rate or channel changes after the first format (all of them when scanned). */
    public int getFormatChanges() {
        return (int) info[NativeStream.INFO_FORMAT_CHANGES];
    }

    /**
     * The tags, each key once: "title", "artist", "album", "date", "track", "genre", "comment", and other
     * ID3v2 text frames by their frame id ("TCOP", "TPE2", ...) or APE keys. Tags at the end of a stream
     * that is not seekable appear only once it has been read to its end.
     */
    public Map<String, String> getTags() {
        return tags;
    }

    @Override
    public String toString() {
        StringBuilder s = new StringBuilder(String.format(Locale.ROOT, "MPEG-%s Layer %s, %d Hz, %s",
                getMpegVersionName(), "I".repeat(layer), sampleRate, getChannelMode()));
        if (getInfoTag() != null) {
            s.append(", ").append(getInfoTag()).append(" frame");
        }
        if (encoder != null) {
            s.append(", ").append(encoder);
        }
        if (getSampleCount() >= 0) {
            s.append(", ").append(getSampleCount()).append(isLengthExact() ? " samples" : " samples declared");
        }
        return s.toString();
    }
}

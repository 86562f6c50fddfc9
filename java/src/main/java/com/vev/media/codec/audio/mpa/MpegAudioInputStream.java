package com.vev.media.codec.audio.mpa;

import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteOrder;
import java.util.Arrays;
import java.util.Objects;

/**
 * Decodes an MPEG audio stream (MPEG-1 or MPEG-2 LSF, Layer I, II or III) into PCM: signed 16-bit
 * samples, <b>little-endian</b> whatever the platform, channels interleaved (left, right) for stereo.
 *
 * <p>The stream's format is that of its first decoded frame ({@link #getSampleRate()},
 * {@link #getChannels()}); a later frame with the other channel count is converted to it (a mono frame
 * duplicated, a stereo frame's left channel taken). ID3v2 tags at the start and ID3v1, APE and Lyrics3
 * tags at the end are skipped. A Xing, Info or VBRI first frame carries no audio and gives none; with a
 * LAME tag the encoder's delay and padding are cut off (gapless decoding), unless turned off; frames
 * beyond those the tag counts (files joined together) are given whole. Damaged frames are skipped and
 * counted, and decoding goes on after them. The output does not depend on how the underlying stream
 * splits its data between reads.
 *
 * <pre>{@code
 * try (MpegAudioInputStream pcm = new MpegAudioInputStream(new FileInputStream("song.mp3"))) {
 *     int rate = pcm.getSampleRate(), channels = pcm.getChannels();
 *     pcm.transferTo(out);
 * }
 * }</pre>
 *
 * <p>Closing the stream closes the underlying stream and releases the native decoder; a stream that is
 * never closed releases its decoder when it is garbage collected. Not thread-safe, except that
 * {@link #close()} may be called from another thread to stop a read: a read that close overtakes, and
 * every read after it, throws an IOException.
 */
public final class MpegAudioInputStream extends InputStream {
    // Stream bytes kept before the window: where Layer III finds an earlier frame's main data.
    private static final int HISTORY = 4096;
    // Bytes the window reaches past its start while the input lasts: more than two frames of any
    // layer, so that a frame is always seen with the next frame's header and side information.
    private static final int LOOKAHEAD = 8192;
    // Three frames of the longest kind: how far ahead FrameHeader.startsFrameRun looks.
    private static final int RUN_REACH = 3 * 1732;
    private static final boolean NATIVE_BIG_ENDIAN = ByteOrder.nativeOrder() == ByteOrder.BIG_ENDIAN;

    private final InputStream in;
    private final MpegAudio decoder;
    private final boolean gapless;
    private final boolean swap;

    private byte[] buf = new byte[HISTORY + 4 * LOOKAHEAD];
    private int pos;           // start of the window in buf
    private int len;           // valid bytes in buf
    private long base;         // stream offset of buf[0]
    private boolean eof;
    private long streamStart;  // stream offset of the first frame's header
    private boolean started;   // a frame was decoded or consumed
    private FrameHeader last;  // header of the frame the decoder parsed last
    private boolean resync;    // the next frame must start a run of frames

    private final byte[] pcm = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];
    private final byte[] out = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];
    private final byte[] one = new byte[1];
    private int outPos;
    private int outLen;

    private MpegStreamInfo info;
    private long infoFrameStart = -1; // stream offset of the info frame's header
    private boolean anyFrame;         // a frame was decoded, skipped or consumed
    private int sampleRate;
    private int channels;
    private long samples;             // samples per channel of audio frames decoded so far
    // Gapless decoding drops the samples before keepFrom and those from keepTo to dropTo, where
    // the frames that the info frame counts end: a longer stream (files joined) goes on after them.
    private long keepFrom;
    private long keepTo = Long.MAX_VALUE;
    private long dropTo = Long.MAX_VALUE;
    private long framesDecoded;
    private long framesSkipped;
    private long framesWithoutOutput;
    // Set by close, which another thread may call while a read decodes.
    private volatile boolean closed;

    /**
     * Opens a gapless decoding stream: reads up to the first audio frame to learn the format.
     *
     * @throws IOException when reading fails or the stream holds no MPEG audio frame; the underlying
     *     stream is then left open
     */
    public MpegAudioInputStream(InputStream in) throws IOException {
        this(in, true, false);
    }

    /**
     * Opens a decoding stream: reads up to the first audio frame to learn the format.
     *
     * @param gapless whether to cut off the encoder's delay and padding that a LAME tag declares
     *     (together with the decoder's delay of {@link MpegStreamInfo#DECODER_DELAY} samples), so that
     *     the output is exactly the encoded signal; when false every audio frame is output whole
     * @throws IOException when reading fails or the stream holds no MPEG audio frame; the underlying
     *     stream is then left open
     */
    public MpegAudioInputStream(InputStream in, boolean gapless) throws IOException {
        this(in, gapless, false);
    }

    MpegAudioInputStream(InputStream in, boolean gapless, boolean bigEndian) throws IOException {
        this.in = Objects.requireNonNull(in, "in");
        this.gapless = gapless;
        this.swap = NATIVE_BIG_ENDIAN != bigEndian;
        decoder = new MpegAudio();
        try {
            start();
        } catch (IOException | RuntimeException | Error e) {
            decoder.close();
            throw e;
        }
    }

    private void start() throws IOException {
        long id3v2 = 0;
        for (;;) {
            fill(Tags.ID3V2_HEADER);
            int tag = Tags.id3v2Length(buf, pos, len - pos);
            if (tag == 0) {
                break;
            }
            id3v2 += tag;
            discard(tag);
        }
        fill(LOOKAHEAD);
        info = MpegStreamInfo.parse(id3v2, buf, pos, len - pos);
        if (info != null && info.getInfoTag() != null) {
            infoFrameStart = base + pos + info.firstFrameOffset;
            if (gapless && info.getEncoderDelay() >= 0) {
                keepFrom = info.getEncoderDelay() + MpegStreamInfo.DECODER_DELAY;
                if (info.getFrameCount() >= 0) {
                    dropTo = info.getFrameCount() * info.getSamplesPerFrame();
                    keepTo = Math.min(dropTo, dropTo - info.getEncoderPadding() + MpegStreamInfo.DECODER_DELAY);
                }
            }
        }
        // The first audio frame (or an info frame and nothing after it) gives the format.
        while (sampleRate == 0 && nextFrame()) {
            continue;
        }
        if (sampleRate == 0) {
            throw new IOException("no MPEG audio frames found");
        }
        if (info == null && last != null) {
            info = MpegStreamInfo.plain(id3v2, last);   // no frame in the first bytes: found later
        }
    }

    /** Discards n stream bytes. */
    private void discard(long n) throws IOException {
        while (n > 0) {
            fill((int) Math.min(n, LOOKAHEAD));
            int k = (int) Math.min(len - pos, n);
            if (k == 0) {
                return;
            }
            pos += k;
            n -= k;
        }
    }

    /**
     * Makes the window hold at least want bytes, or all that is left. Reads as much as the buffer
     * takes, so what the decoder sees depends on the stream alone, not on how it arrives. Each read's
     * bytes are counted as it returns: when a later read fails, those before it stay in the buffer for
     * a caller that goes on reading after the IOException.
     */
    private void fill(int want) throws IOException {
        if (len - pos >= want || eof) {
            return;
        }
        if (pos > HISTORY) {
            int drop = pos - HISTORY;
            System.arraycopy(buf, drop, buf, 0, len - drop);
            pos -= drop;
            len -= drop;
            base += drop;
        }
        if (buf.length < pos + want) {
            buf = Arrays.copyOf(buf, pos + want);
        }
        while (len < buf.length) {
            int got = in.read(buf, len, buf.length - len);
            if (got < 0) {
                eof = true;
                len -= Tags.trailingLength(buf, pos, len);
                return;
            }
            len += got;
        }
    }

    /**
     * Earlier stream bytes before the window that a Layer III frame may take main data from: those
     * from the first frame on, for what comes before it (tags, junk) is no stream data.
     */
    private int precedingBytes() {
        long start = Math.max(base, Math.min(base + pos, streamStart));
        return (int) Math.min(base + pos - start, HISTORY);
    }

    /** Before the first frame: moves the window to the first header, where the stream data starts. */
    private void skipToFirstHeader() {
        FrameHeader h = FrameHeader.find(buf, pos, len - pos, last);
        if (h != null) {
            pos += h.offset;
        }
        streamStart = base + pos;
    }

    /** Decodes frames until one gives audio into out, or the stream ends (false). */
    private boolean nextFrame() throws IOException {
        int want = LOOKAHEAD;
        for (;;) {
            fill(want);
            if (!started) {
                skipToFirstHeader();
                fill(want);
            }
            if (resync && !resynchronise()) {
                if (pos == len && eof) {
                    return false;
                }
                continue;
            }
            int avail = len - pos;
            if (avail == 0) {
                return false;
            }
            // The frame the decoder is about to take; the native call does not say which it was.
            FrameHeader h = FrameHeader.find(buf, pos, avail, last);
            if (h != null) {
                last = h;
            }
            boolean ok = decoder.decode(buf, pos, avail, precedingBytes(), pcm, 0);
            int consumed = decoder.consumed();
            if (ok && consumed > 0 && h != null) {
                resync = !followedBySuccessor(pos + h.offset, pos + consumed);
            }
            if (ok && decoder.produced() > 0) {
                started = true;
                long frameStart = h != null ? base + pos + h.offset : -1;
                pos += consumed;
                framesDecoded++;
                if (output(h, decoder.produced(), frameStart)) {
                    return true;
                }
                want = LOOKAHEAD;
            } else if (ok && consumed > 0) {
                // Layer III main data reaching back before the stream start: no audio.
                started = true;
                pos += consumed;
                framesWithoutOutput++;
                anyFrame = true;
                want = LOOKAHEAD;
            } else if (ok && decoder.needed() > 0) {
                if (eof) {   // a frame cut off by the end of the stream
                    pos = len;
                    return false;
                }
                want = Math.max(want, decoder.needed() + LOOKAHEAD);
            } else if (h == null) {
                if (eof) {
                    pos = len;
                    return false;
                }
                if (avail > 3) {
                    pos += avail - 3;   // a header may start in the last three bytes
                }
                want = LOOKAHEAD;
            } else {
                skipDamagedFrame(h, avail);
                want = LOOKAHEAD;
            }
        }
    }

    /**
     * Steps just past the sync word of the frame that failed, h, and resynchronises. Not the whole frame
     * its header claims: a damaged bit-rate field claims a frame of another length, and sync-like bytes
     * often sit where it would end. Not past the first header a fresh search finds either: the failed
     * frame itself may be unconfirmed, and that search would land on the next good frame.
     */
    private void skipDamagedFrame(FrameHeader h, int avail) {
        pos += Math.min(h.offset + 1, avail);
        framesSkipped++;
        anyFrame = true;
        resync = true;
    }

    /**
     * Whether the frame at buf[start .. end) is followed by the header that confirms it, as the decoder's
     * search confirms one, or by the end of the stream. The window holds two frames and more while the
     * stream lasts.
     */
    private boolean followedBySuccessor(int start, int end) {
        if (len - end < 2) {
            return eof;
        }
        return buf[end] == (byte) 0xFF && ((buf[end + 1] ^ buf[start + 1]) & 0xFE) == 0;
    }

    /**
     * After a damaged frame, or a frame taken without a successor where one should be (a cut frame
     * accepted as continuing the stream), the next frame must start a run of frames: false headers in
     * audio data confirm each other often enough by the decoder's two-byte check. Bytes before the run
     * are discarded (they stay before the window: what is left of a damaged frame is main data that
     * later frames may reach back for), and the decoder searches the run afresh, so that the last
     * frame's header, damaged or of another length, does not make it take the run's first frame as its
     * continuation. False when more input is needed or the stream is done.
     */
    private boolean resynchronise() {
        int avail = len - pos;
        int decidable = eof ? avail : Math.max(0, avail - RUN_REACH);
        for (int i = 0; i < decidable; i++) {
            if (buf[pos + i] == (byte) 0xFF && FrameHeader.startsFrameRun(buf, pos + i, len)) {
                pos += i;
                resync = false;
                last = null;
                decoder.restartSearch();
                return true;
            }
        }
        pos += decidable;
        return false;
    }

    /**
     * Moves a decoded frame's PCM (produced bytes in pcm, native order) into out in the stream's
     * format, less the samples that gapless decoding cuts. False when nothing is left to give.
     */
    private boolean output(FrameHeader h, int produced, long frameStart) {
        boolean infoFrame = !anyFrame && frameStart == infoFrameStart;
        anyFrame = true;
        int frameChannels;
        int n;
        if (h != null && produced == h.samples() * h.channels() * 2) {
            frameChannels = h.channels();
            n = h.samples();
        } else {   // not expected: the search above finds what the decoder finds
            frameChannels = channels != 0 ? channels : 2;
            n = produced / (2 * frameChannels);
        }
        if (sampleRate == 0) {
            sampleRate = h != null ? h.sampleRate() : info != null ? info.getSampleRate() : 44100;
            channels = frameChannels;
        }
        if (infoFrame) {
            return false;
        }
        long first = samples;
        samples += n;
        outPos = 0;
        outLen = 0;
        int from = (int) Math.max(0, Math.min(n, keepFrom - first));
        copy(from, (int) Math.max(from, Math.min(n, keepTo - first)), frameChannels);
        copy((int) Math.max(from, Math.min(n, dropTo - first)), n, frameChannels);
        return outLen > 0;
    }

    /** Appends samples [from, to) of pcm to out, little-endian, in the stream's channel count. */
    private void copy(int from, int to, int frameChannels) {
        if (from >= to) {
            return;
        }
        if (frameChannels == channels && !swap) {
            int bytes = (to - from) * channels * 2;
            System.arraycopy(pcm, from * channels * 2, out, outLen, bytes);
            outLen += bytes;
            return;
        }
        int lo = swap ? 1 : 0;
        for (int s = from; s < to; s++) {
            for (int c = 0; c < channels; c++) {
                int i = (s * frameChannels + Math.min(c, frameChannels - 1)) * 2;
                out[outLen++] = pcm[i + lo];
                out[outLen++] = pcm[i + 1 - lo];
            }
        }
    }

    @Override
    public int read() throws IOException {
        return read(one, 0, 1) < 0 ? -1 : one[0] & 0xFF;
    }

    @Override
    public int read(byte[] b, int off, int n) throws IOException {
        Objects.checkFromIndexSize(off, n, b.length);
        if (closed) {
            throw new IOException("stream closed");
        }
        if (n == 0) {
            return 0;
        }
        while (outPos >= outLen) {
            boolean more;
            try {
                more = nextFrame();
            } catch (IllegalStateException e) {
                if (decoder.isOpen()) {
                    throw e;
                }
                // Only close closes the decoder: it did so while this read was decoding.
                throw new IOException("stream closed", e);
            }
            if (closed) {
                // What the decoder gave after close (nothing, from a handle already closed) is no end of stream.
                throw new IOException("stream closed");
            }
            if (!more) {
                return -1;
            }
        }
        int k = Math.min(n, outLen - outPos);
        System.arraycopy(out, outPos, b, off, k);
        outPos += k;
        return k;
    }

    /** PCM bytes that can be read without decoding another frame. */
    @Override
    public int available() {
        return closed ? 0 : outLen - outPos;
    }

    /** Closes the underlying stream and releases the decoder. Closing twice does nothing. */
    @Override
    public void close() throws IOException {
        if (!closed) {
            closed = true;
            decoder.close();
            in.close();
        }
    }

    /** Sampling rate of the output in Hz. */
    public int getSampleRate() {
        return sampleRate;
    }

    /** Channels of the output: 1 or 2. */
    public int getChannels() {
        return channels;
    }

    /** Bytes of one sample period of output: 2 per channel. */
    public int getFrameSize() {
        return 2 * channels;
    }

    /**
     * Samples per channel that the whole output will hold when the stream is intact, from what its
     * info frame declares; -1 when it declares no frame count.
     */
    public long getFrameLength() {
        long frames = info != null ? info.getFrameCount() : -1;
        if (frames < 0) {
            return -1;
        }
        long all = frames * info.getSamplesPerFrame();
        if (!gapless || info.getEncoderDelay() < 0) {
            return all;
        }
        return Math.max(0, keepTo - keepFrom);
    }

    /**
     * What the stream's start declares: format, tags, info frame. Null only if the decoder took a
     * frame that could not be described, which does not happen with the streams it accepts.
     */
    public MpegStreamInfo getStreamInfo() {
        return info;
    }

    /** Stream bytes read so far, excluding the decoder's read-ahead. */
    public long getStreamPosition() {
        return base + pos;
    }

    /** Frames decoded, an info frame included. */
    public long getFramesDecoded() {
        return framesDecoded;
    }

    /** Damaged frames (and false frame starts) skipped. */
    public long getFramesSkipped() {
        return framesSkipped;
    }

    /** Layer III frames consumed without output because their main data began before the stream. */
    public long getFramesWithoutOutput() {
        return framesWithoutOutput;
    }
}

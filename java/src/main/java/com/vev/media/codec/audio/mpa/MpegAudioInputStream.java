package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.net.URL;
import java.nio.file.Path;
import java.util.Map;
import java.util.Objects;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;

/**
 * Decodes an MPEG audio stream (MPEG-1 or MPEG-2 LSF, Layer I, II or III, and MPEG 2.5 Layer III at 8,
 * 11.025 and 12 kHz unless {@link Options#mpeg25} turns it off) into PCM, by default signed
 * 16-bit samples rounded to nearest, <b>little-endian</b> whatever the platform, channels interleaved
 * (left, right); {@link Options} choose 16-bit truncated, 24-bit, 32-bit or 32-bit float samples,
 * big-endian, and a fixed channel count (stereo downmixed, mono duplicated).
 *
 * <p>Tags at either end are parsed ({@link #getStreamInfo()}), not decoded. A Xing, Info or VBRI first
 * frame gives no audio; with a LAME tag the encoder's delay and padding are cut off (gapless
 * decoding) unless turned off. A damaged frame is replaced by as many samples of concealment, so that
 * the output keeps its length and timing. The output does not depend on how the input splits its data
 * between reads.
 *
 * <p>Sources: a {@link File} or {@link Path}, and a {@link FileInputStream} over a regular file, are
 * seekable: {@link #getFrameLength()} is exact from the start, and {@link #seek}, {@link #skip} and
 * {@link #reset} go straight to any sample, bit-identical to a decode from the start. Any other
 * {@link InputStream} is decoded as it arrives (its length is known when an info frame declares it);
 * {@link #open(URL, Options)} reads URLs, including Icecast/SHOUTcast streams.
 *
 * <pre>{@code
 * try (MpegAudioInputStream pcm = new MpegAudioInputStream(new File("song.mp3"))) {
 *     int rate = pcm.getSampleRate(), channels = pcm.getChannels();
 *     pcm.seekMicroseconds(90_000_000);   // from 1:30 on
 *     pcm.transferTo(out);
 * }
 * }</pre>
 *
 * <p><b>Format changes.</b> The channel count of the output never changes: it is the first frame's, or
 * the one the options fix. When the sampling rate changes mid-stream (streams joined together), reads
 * end ({@code -1}) at the last sample of the old rate; {@link #nextFormat()} then goes on with the new
 * one, whose rate {@link #getSampleRate()} and {@link #getFormat()} give:
 * <pre>{@code
 * do {
 *     play(pcm.getFormat(), pcm);        // reads up to -1
 * } while (pcm.nextFormat());
 * }</pre>
 *
 * <p>Closing the stream closes its input and releases the native decoder; a stream that is never
 * closed releases it when it is garbage collected. Not thread-safe, except that {@link #close()} may be
 * called from another thread to stop a read.
 */
public final class MpegAudioInputStream extends InputStream {
    /** Samples of the output. */
    public enum SampleFormat {
        /** Signed 16-bit, rounded to nearest: the default. */
        PCM_16(NativeStream.S16, 16, AudioFormat.Encoding.PCM_SIGNED),
        /** Signed 16-bit, truncated toward zero as the frame decoder {@link MpegAudio} gives them. */
        PCM_16_TRUNCATED(NativeStream.S16_TRUNCATED, 16, AudioFormat.Encoding.PCM_SIGNED),
        /** Signed 24-bit in three bytes. */
        PCM_24(NativeStream.S24, 24, AudioFormat.Encoding.PCM_SIGNED),
        /** Signed 32-bit, full scale 2^31 (24 bits of precision). */
        PCM_32(NativeStream.S32, 32, AudioFormat.Encoding.PCM_SIGNED),
        /** 32-bit IEEE float, full scale 1.0, not clipped. */
        FLOAT_32(NativeStream.F32, 32, AudioFormat.Encoding.PCM_FLOAT);

        final int code;
        final int bits;
        final AudioFormat.Encoding encoding;

        SampleFormat(int code, int bits, AudioFormat.Encoding encoding) {
            this.code = code;
            this.bits = bits;
            this.encoding = encoding;
        }

        /** Bits of one sample of one channel. */
        public int getBits() {
            return bits;
        }

        /** PCM_SIGNED or PCM_FLOAT. */
        public AudioFormat.Encoding getEncoding() {
            return encoding;
        }
    }

    /** How to decode: sample format, byte order, channels, gapless trimming. Each setter returns this. */
    public static final class Options {
        SampleFormat sampleFormat = SampleFormat.PCM_16;
        boolean bigEndian;
        int channels;
        boolean gapless = true;
        boolean dropDamaged;
        boolean mpeg25 = true;
        int threads = 1;
        IcyMetadataListener icyListener;

        /** PCM_16 by default. */
        public Options sampleFormat(SampleFormat f) {
            sampleFormat = Objects.requireNonNull(f, "sample format");
            return this;
        }

        /** Little-endian by default. */
        public Options bigEndian(boolean b) {
            bigEndian = b;
            return this;
        }

        /** 0 (the default): as the first frame; 1: stereo downmixed; 2: mono duplicated. */
        public Options channels(int n) {
            if (n < 0 || n > 2) {
                throw new IllegalArgumentException("channels must be 0, 1 or 2, not " + n);
            }
            channels = n;
            return this;
        }

        /** Whether to cut off the encoder delay and padding that a LAME tag declares (true by default). */
        public Options gapless(boolean g) {
            gapless = g;
            return this;
        }

        /** Whether a damaged frame gives nothing instead of concealment of its duration (false by default). */
        public Options dropDamaged(boolean d) {
            dropDamaged = d;
            return this;
        }

        /**
         * Whether to decode MPEG 2.5, Layer III at 8, 11.025 and 12 kHz (true by default). No standard
         * defines it, and the frame decoder {@link MpegAudio} refuses it; without it such a stream holds
         * no MPEG audio.
         */
        public Options mpeg25(boolean m) {
            mpeg25 = m;
            return this;
        }

        /**
         * Threads that decode a {@link File} or {@link java.nio.file.Path} ahead of the reads, each on a
         * block of a few seconds: 1 (the default) decodes in the reading thread; 0 takes one per
         * processor. The bytes are those of one thread, seeks included; other sources, and files
         * whose sampling rate or channel count changes, decode in the reading thread.
         */
        public Options threads(int n) {
            if (n < 0 || n > 64) {
                throw new IllegalArgumentException("threads must be 0 to 64, not " + n);
            }
            threads = n;
            return this;
        }

        /** Receives the titles an Icecast/SHOUTcast stream sends, for {@link #open(URL, Options)}. */
        public Options icyListener(IcyMetadataListener l) {
            icyListener = l;
            return this;
        }

        int flags() {
            return (gapless ? NativeStream.GAPLESS : 0) | (dropDamaged ? NativeStream.DROP_DAMAGED : 0)
                    | (bigEndian ? NativeStream.BIG_ENDIAN : 0) | (mpeg25 ? 0 : NativeStream.NO_MPEG25)
                    | (threads == 0 ? Math.min(64, Runtime.getRuntime().availableProcessors()) : threads)
                            << NativeStream.THREADS_SHIFT;
        }

        Options copy() {
            Options o = new Options();
            o.sampleFormat = sampleFormat;
            o.bigEndian = bigEndian;
            o.channels = channels;
            o.gapless = gapless;
            o.dropDamaged = dropDamaged;
            o.mpeg25 = mpeg25;
            o.threads = threads;
            o.icyListener = icyListener;
            return o;
        }
    }

    // Input bytes pushed per native call.
    private static final int FEED = 1 << 16;
    // Reads shorter than this decode into the stream's own buffer, so that the native call, which
    // decodes many frames, is not made for a few bytes.
    private static final int SMALL_READ = 1 << 14;

    private final NativeStream stream;
    private final InputStream in;          // pushed from; null for a seekable source
    private final AutoCloseable owned;     // closed with the stream
    private final Options options;
    private final boolean seekable;
    private final int[] firstFormat;
    private MpegStreamInfo info;
    private final long frameLength;
    private final byte[] feed;
    private final byte[] small = new byte[SMALL_READ];
    private int smallPos;
    private int smallLen;

    private int sampleRate;
    private final int channels;
    private final int frameSize;
    private int[] nextFormat;              // the format after a rate change, once reads have ended
    private boolean ended;
    private long bytesFed;
    private long markSample = -1;
    private int markSkip;
    // Set by close, which another thread may call while a read decodes.
    private volatile boolean closed;

    /**
     * Opens a gapless decoding stream in the default format: reads up to the first audio frame.
     *
     * @throws IOException when reading fails or the stream holds no MPEG audio frame; the input is then
     *     left open
     */
    public MpegAudioInputStream(InputStream in) throws IOException {
        this(in, new Options());
    }

    /**
     * Opens a decoding stream in the default format: reads up to the first audio frame.
     *
     * @param gapless whether to cut off the encoder's delay and padding that a LAME tag declares
     */
    public MpegAudioInputStream(InputStream in, boolean gapless) throws IOException {
        this(in, new Options().gapless(gapless));
    }

    /** Opens a decoding stream: reads up to the first audio frame. A FileInputStream is read seekably. */
    public MpegAudioInputStream(InputStream in, Options options) throws IOException {
        this(OpenedStream.of(Objects.requireNonNull(in, "in"), options), options);
    }

    /** Opens a file: seekable, its length exact. */
    public MpegAudioInputStream(File file) throws IOException {
        this(file, new Options());
    }

    /** Opens a file: seekable, its length exact. */
    public MpegAudioInputStream(File file, Options options) throws IOException {
        this(OpenedStream.file(file, options), options);
    }

    /** Opens a file of any file system: seekable, its length exact. */
    public MpegAudioInputStream(Path path) throws IOException {
        this(path, new Options());
    }

    /** Opens a file of any file system: seekable, its length exact. */
    public MpegAudioInputStream(Path path, Options options) throws IOException {
        this(OpenedStream.path(path, options), options);
    }

    /**
     * Opens a URL: file URLs as files, http and https with Icecast/SHOUTcast metadata taken out of the
     * audio and given to the options' listener, anything else as the stream it opens to.
     */
    public static MpegAudioInputStream open(URL url, Options options) throws IOException {
        UrlInput u = UrlInput.open(url, options.icyListener);
        if (u.file() != null) {
            u.stream().close();
            return new MpegAudioInputStream(u.file(), options);
        }
        try {
            return new MpegAudioInputStream(OpenedStream.push(u.stream(), options), options);
        } catch (IOException | RuntimeException e) {
            u.stream().close();
            throw e;
        }
    }

    MpegAudioInputStream(OpenedStream o, Options options) throws IOException {
        this.stream = o.stream;
        this.in = o.in;
        this.owned = o.owned;
        this.options = options.copy();
        this.bytesFed = o.fed;
        this.feed = in != null ? new byte[FEED] : null;
        try {
            int[] f = stream.firstFormat();
            while (f == null) {
                if (!feedMore()) {
                    throw new IOException("no MPEG audio frames found");
                }
                f = stream.firstFormat();
            }
            firstFormat = f;
            sampleRate = f[NativeStream.FORMAT_RATE];
            channels = options.channels != 0 ? options.channels : f[NativeStream.FORMAT_SOURCE_CHANNELS];
            if (!stream.setOutput(options.sampleFormat.code, channels, options.bigEndian)) {
                throw new IllegalStateException("the native stream refused its output format");
            }
            frameSize = channels * ((options.sampleFormat.bits + 7) / 8);
            info = MpegStreamInfo.of(stream, firstFormat);
            seekable = info.isSeekable();
            frameLength = info.isLengthExact() || info.getFrameCount() >= 0 ? info.getSampleCount() : -1;
        } catch (IOException | RuntimeException | Error e) {
            stream.close();
            throw e;
        }
    }

    /**
     * Feeds the native stream what it wants from the input; false when the input had ended already.
     * A read that fails leaves what came before it in the stream.
     */
    private boolean feedMore() throws IOException {
        if (in == null || ended) {
            if (!ended) {
                throw new IOException("no MPEG audio frames found");
            }
            return false;
        }
        int want = Math.max(1, Math.min(FEED, stream.inputWanted()));
        int got = in.read(feed, 0, want);
        if (got < 0) {
            ended = true;
            stream.endInput();
            return true;
        }
        stream.feed(feed, 0, got);
        bytesFed += got;
        return true;
    }

    @Override
    public int read() throws IOException {
        if (smallPos < smallLen && !closed) {
            return small[smallPos++] & 0xFF;
        }
        byte[] b = new byte[1];
        return read(b, 0, 1) < 0 ? -1 : b[0] & 0xFF;
    }

    @Override
    public int read(byte[] b, int off, int len) throws IOException {
        Objects.checkFromIndexSize(off, len, b.length);
        checkOpen();
        if (len == 0) {
            return 0;
        }
        if (smallPos < smallLen) {
            int k = Math.min(len, smallLen - smallPos);
            System.arraycopy(small, smallPos, b, off, k);
            smallPos += k;
            return k;
        }
        if (len < SMALL_READ) {
            int n = decode(small, 0, small.length);
            if (n < 0) {
                return -1;
            }
            smallPos = 0;
            smallLen = n;
            return read(b, off, len);
        }
        return decode(b, off, len - len % frameSize);
    }

    /** Decodes whole sample periods into b[off .. off + len): their bytes, or -1 at the end of this format. */
    private int decode(byte[] b, int off, int len) throws IOException {
        for (;;) {
            if (nextFormat != null) {
                return -1;
            }
            long r = stream.read(b, off, len);
            checkOpen();
            int status = NativeStream.status(r);
            switch (status) {
                case NativeStream.OK:
                    return NativeStream.bytes(r);
                case NativeStream.NEED_INPUT:
                    feedMore();
                    break;
                case NativeStream.FORMAT_CHANGED:
                    int[] f = stream.format();
                    if (f != null && f[NativeStream.FORMAT_RATE] != sampleRate) {
                        nextFormat = f;
                        return -1;
                    }
                    break;   // the same rate (the channels stay fixed): nothing changes for the reader
                case NativeStream.END:
                    return -1;
                default:
                    throw new IOException("decoding failed (status " + status + ")");
            }
        }
    }

    private void checkOpen() throws IOException {
        if (closed) {
            throw new IOException("stream closed");
        }
    }

    /**
     * After reads ended at a change of the sampling rate: goes on with the samples of the new rate
     * (true), whose rate {@link #getSampleRate()} now gives. False at the real end of the stream.
     */
    public boolean nextFormat() throws IOException {
        checkOpen();
        if (nextFormat == null) {
            return false;
        }
        sampleRate = nextFormat[NativeStream.FORMAT_RATE];
        nextFormat = null;
        return true;
    }

    /**
     * Skips n bytes of output, rounded down to whole sample periods: on a seekable source by seeking,
     * otherwise by decoding. Never beyond the end of the current format.
     */
    @Override
    public long skip(long n) throws IOException {
        checkOpen();
        if (n <= 0) {
            return 0;
        }
        long done = Math.min(n, smallLen - smallPos);
        smallPos += (int) done;
        long periods = (n - done) / frameSize;
        if (periods == 0 || nextFormat != null) {
            return done;
        }
        long from = stream.tell();
        long to = from + periods;
        if (frameLength >= 0) {
            to = Math.min(to, Math.max(from, frameLength));
        }
        seekNative(to);
        return done + (stream.tell() - from) * frameSize;
    }

    /**
     * Makes the next read start at output sample period {@code sampleFrame} (gapless trimming applied),
     * with the samples a decode from the start gives there. Backward only on a seekable source.
     *
     * @throws IOException backward on a stream that is not seekable, or when reading fails
     */
    public void seek(long sampleFrame) throws IOException {
        checkOpen();
        if (sampleFrame < 0) {
            throw new IllegalArgumentException("negative position " + sampleFrame);
        }
        if (!seekable && sampleFrame < getPosition()) {
            throw new IOException("cannot seek backward in a stream that is not seekable");
        }
        smallPos = smallLen = 0;
        seekNative(sampleFrame);
        if (nextFormat != null && stream.format() != null
                && stream.format()[NativeStream.FORMAT_RATE] == sampleRate) {
            nextFormat = null;   // back before the change
        }
    }

    /** Seeks the native stream; a pushed one decodes up to there, fed as it asks. */
    private void seekNative(long sampleFrame) throws IOException {
        int r;
        while ((r = stream.seek(sampleFrame)) == NativeStream.NEED_INPUT && feedMore()) {
            checkOpen();
        }
        if (r < 0) {
            throw new IOException("cannot seek (status " + r + ")");
        }
    }

    /** {@link #seek} to the sample period of a time in microseconds at the stream's first rate. */
    public void seekMicroseconds(long micros) throws IOException {
        seek(Math.round(micros * (double) firstFormat[NativeStream.FORMAT_RATE] / 1e6));
    }

    /** The output sample period the next read gives (from the first one, 0), or the end. */
    public long getPosition() {
        return stream.tell() - (smallLen - smallPos + frameSize - 1) / frameSize;
    }

    /** {@link #getPosition()} in microseconds at the stream's first rate. */
    public long getPositionMicros() {
        return getPosition() * 1_000_000L / firstFormat[NativeStream.FORMAT_RATE];
    }

    /** True on a seekable source: {@link #mark}/{@link #reset} then work at any distance. */
    @Override
    public boolean markSupported() {
        return seekable;
    }

    /** Remembers the position for {@link #reset()} (a seekable source only; readLimit plays no part). */
    @Override
    public synchronized void mark(int readLimit) {
        if (seekable) {
            long buffered = smallLen - smallPos;
            markSample = stream.tell() - (buffered + frameSize - 1) / frameSize;
            markSkip = (int) ((frameSize - buffered % frameSize) % frameSize);
        }
    }

    @Override
    public synchronized void reset() throws IOException {
        if (!seekable || markSample < 0) {
            throw new IOException(seekable ? "no mark set" : "mark and reset need a seekable source");
        }
        seek(markSample);
        for (long k = markSkip; k > 0; k--) {
            read();
        }
    }

    /** PCM bytes that can be read without decoding. */
    @Override
    public int available() {
        return closed ? 0 : smallLen - smallPos;
    }

    /** Closes the input and releases the decoder. Closing twice does nothing. */
    @Override
    public void close() throws IOException {
        if (closed) {
            return;
        }
        closed = true;
        stream.close();
        if (owned != null) {
            try {
                owned.close();
            } catch (IOException | RuntimeException e) {
                throw e;
            } catch (Exception e) {
                throw new IOException(e);
            }
        }
    }

    /** Sampling rate of the samples reads give now, in Hz. */
    public int getSampleRate() {
        return sampleRate;
    }

    /** Channels of the output: 1 or 2. */
    public int getChannels() {
        return channels;
    }

    /** Bytes of one sample period of output. */
    public int getFrameSize() {
        return frameSize;
    }

    /** The samples' format. */
    public SampleFormat getSampleFormat() {
        return options.sampleFormat;
    }

    /** The output as a Java Sound format, at the rate of the samples reads give now. */
    public AudioFormat getFormat() {
        return pcmFormat(options.sampleFormat, sampleRate, channels, options.bigEndian);
    }

    static AudioFormat pcmFormat(SampleFormat f, float rate, int channels, boolean bigEndian) {
        int frameSize = channels == AudioSystem.NOT_SPECIFIED ? AudioSystem.NOT_SPECIFIED
                : channels * ((f.bits + 7) / 8);
        Map<String, Object> props = f == SampleFormat.PCM_16_TRUNCATED ? Map.of(MpegProperties.ROUNDING,
                MpegProperties.TRUNCATE) : Map.of();
        return new AudioFormat(f.encoding, rate, f.bits, channels, frameSize, rate, bigEndian, props);
    }

    /**
     * Sample periods of the whole output (after gapless trimming): exact on a seekable source, else as
     * an info frame declares it; -1 when unknown. With a change of sampling rate, all formats together.
     */
    public long getFrameLength() {
        return frameLength;
    }

    /** Duration in microseconds of the whole output, or -1 when unknown. */
    public long getDurationMicros() {
        return frameLength >= 0 ? info.getDurationMicros() : -1;
    }

    /** True for a File, Path or FileInputStream over a regular file. */
    public boolean isSeekable() {
        return seekable;
    }

    /**
     * What is known of the stream: format, tags, info frame, length. Tags at the end of a stream that is
     * not seekable appear once it has been read to the end.
     */
    public MpegStreamInfo getStreamInfo() {
        if (!closed) {
            try {
                info = MpegStreamInfo.of(stream, firstFormat);
            } catch (IOException e) {
                throw new UncheckedIOException(e);
            }
        }
        return info;
    }

    /** Bytes taken from the input stream so far; -1 for a seekable source. */
    public long getStreamPosition() {
        return in != null ? bytesFed : -1;
    }

    private long count(int field) {
        try {
            long[] i = closed ? null : stream.info();
            return i != null ? i[field] : 0;
        } catch (IOException e) {
            return 0;
        }
    }

    /** Frames decoded, an info frame not included. */
    public long getFramesDecoded() {
        return count(NativeStream.INFO_FRAMES_DECODED);
    }

    /** Damaged frames, replaced by concealment or (with dropDamaged) by nothing. */
    public long getFramesSkipped() {
        return count(NativeStream.INFO_FRAMES_CONCEALED) + count(NativeStream.INFO_FRAMES_DROPPED);
    }

    /** Layer III frames that gave silence because their main data began before the stream. */
    public long getFramesWithoutOutput() {
        return count(NativeStream.INFO_FRAMES_SILENT);
    }
}

package com.vev.media.codec.audio.mpa;

import java.io.Closeable;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.SeekableByteChannel;
import java.lang.ref.Cleaner;
import java.nio.charset.StandardCharsets;
import java.util.LinkedHashMap;
import java.util.Map;

/**
 * The native stream layer: a whole MPEG audio stream, pushed in or read from a file, decoded many frames
 * per call into the caller's array. Tags, the info frame, gapless trimming, exact length, seeking,
 * concealment of damaged frames and format changes are all done natively; this class only carries
 * bytes. Not thread-safe, except that {@link #close()} may come from another thread: a call that close
 * overtakes sees a closed stream.
 */
final class NativeStream implements AutoCloseable {
    // Results and sample formats of the native stream layer.
    static final int OK = 0;
    static final int END = 2;
    static final int NEED_INPUT = 3;
    static final int FORMAT_CHANGED = 4;
    static final int ERR_NO_STREAM = -20;
    static final int ERR_IO = -21;

    static final int S16 = 0;
    static final int S16_TRUNCATED = 1;
    static final int S24 = 2;
    static final int S24_32 = 3;
    static final int S32 = 4;
    static final int F32 = 5;

    // Fields of info().
    static final int INFO_SAMPLES = 0;
    static final int INFO_DURATION_US = 1;
    static final int INFO_LENGTH_EXACT = 2;
    static final int INFO_SEEKABLE = 3;
    static final int INFO_KIND = 4;
    static final int INFO_ENCODER_DELAY = 5;
    static final int INFO_ENCODER_PADDING = 6;
    static final int INFO_GAPLESS = 7;
    static final int INFO_FRAMES_DECODED = 8;
    static final int INFO_FRAMES_CONCEALED = 9;
    static final int INFO_FRAMES_DROPPED = 10;
    static final int INFO_BYTES_SKIPPED = 11;
    static final int INFO_CRC_IGNORED = 12;
    static final int INFO_FORMAT_CHANGES = 13;
    static final int INFO_TAGS_CLAMPED = 14;
    static final int INFO_DECLARED_FRAMES = 15;
    static final int INFO_DECLARED_BYTES = 16;
    static final int INFO_AUDIO_FRAMES = 17;
    static final int INFO_FRAMES_SILENT = 18;
    static final int INFO_TAG_BYTES = 19;
    static final int INFO_FIRST_FRAME_OFFSET = 20;
    static final int INFO_LEADING_JUNK = 21;
    private static final int INFO_FIELDS = 22;

    // Fields of format().
    static final int FORMAT_RATE = 0;
    static final int FORMAT_CHANNELS = 1;
    static final int FORMAT_SOURCE_CHANNELS = 2;
    static final int FORMAT_LAYER = 3;
    static final int FORMAT_VERSION = 4;
    static final int FORMAT_MODE = 5;
    static final int FORMAT_BIT_RATE = 6;
    static final int FORMAT_SAMPLE_FORMAT = 7;
    static final int FORMAT_BYTES_PER_SAMPLE = 8;

    static final int GAPLESS = 1;
    static final int DROP_DAMAGED = 2;
    static final int BIG_ENDIAN = 4;
    /** Refuse MPEG 2.5 (8, 11.025 and 12 kHz), which the stream layer otherwise decodes. */
    static final int NO_MPEG25 = 8;
    /** Bits 16 to 23: the threads that decode a file ahead of the reads (nOpenFile only). */
    static final int THREADS_SHIFT = 16;

    private static final Cleaner CLEANER = Cleaner.create();
    private static final byte[] NO_BYTES = new byte[0];

    private final int handle;
    private final Cleaner.Cleanable cleanable;
    private final Source source;
    private int formatStatus;

    private NativeStream(int handle) {
        this(handle, null);
    }

    private NativeStream(int handle, Source source) {
        this.handle = handle;
        this.source = source;
        this.cleanable = CLEANER.register(this, new Closer(handle));
    }

    /** Closes the native stream of one that is gone: a class, as the first lambda of a JVM costs milliseconds. */
    private static final class Closer implements Runnable {
        private final int handle;

        Closer(int handle) {
            this.handle = handle;
        }

        @Override
        public void run() {
            nClose(handle);
        }
    }

    /** Throws what the source met during the last call, if anything. */
    private void rethrow() throws IOException {
        if (source != null) {
            source.rethrow();
        }
    }

    /** A stream fed with {@link #feed}; its format is known once enough bytes came. */
    static NativeStream push(int sampleFormat, int channels, int flags) {
        NativeLoader.load();
        return new NativeStream(check(nOpenPush(sampleFormat, channels, flags)));
    }

    /** A seekable stream over a file: exact length and sample-accurate seek. */
    static NativeStream file(String path, int sampleFormat, int channels, int flags) throws IOException {
        NativeLoader.load();
        int h = nOpenFile(path, sampleFormat, channels, flags);
        if (h == ERR_NO_STREAM) {
            throw new IOException("no MPEG audio frames found in " + path);
        }
        if (h < 0) {
            throw new IOException("cannot read " + path + " (status " + h + ")");
        }
        return new NativeStream(h);
    }

    /**
     * A seekable stream over a source the caller reads: a file through its channel, or any seekable
     * byte channel. The source's failures come back as the IOException of the call that met them.
     */
    static NativeStream source(Source source, int sampleFormat, int channels, int flags) throws IOException {
        NativeLoader.load();
        int h = nOpenSource(source, source.size(), sampleFormat, channels, flags);
        source.rethrow();
        if (h == ERR_NO_STREAM) {
            throw new IOException("no MPEG audio frames found");
        }
        if (h < 0) {
            throw new IOException("cannot read the stream (status " + h + ")");
        }
        return new NativeStream(h, source);
    }

    /**
     * Bytes from offset 0 of a seekable channel, starting where the channel is now: what came before is
     * not part of the stream. The native stream calls read and seek; an IOException is kept for the
     * Java call that led to it.
     */
    static final class Source implements Closeable {
        private final SeekableByteChannel channel;
        private final long base;
        private final long size;
        private IOException failure;

        Source(SeekableByteChannel channel) throws IOException {
            this.channel = channel;
            this.base = channel.position();
            this.size = Math.max(-1, channel.size() - base);
        }

        long size() {
            return size;
        }

        /** Called by the native stream: bytes placed in chunk, -1 at the end, -2 on failure. */
        int read(byte[] chunk, int length) {
            try {
                int n = channel.read(ByteBuffer.wrap(chunk, 0, length));
                return n < 0 ? -1 : n;
            } catch (IOException e) {
                failure = e;
                return -2;
            }
        }

        /** Called by the native stream. */
        boolean seek(long offset) {
            try {
                channel.position(base + offset);
                return true;
            } catch (IOException e) {
                failure = e;
                return false;
            }
        }

        void rethrow() throws IOException {
            IOException e = failure;
            if (e != null) {
                failure = null;
                throw e;
            }
        }

        @Override
        public void close() throws IOException {
            channel.close();
        }
    }

    private static int check(int handle) {
        if (handle <= 0) {
            throw new OutOfMemoryError("cannot open a native stream (status " + handle + ")");
        }
        return handle;
    }

    /** Bytes of b[off .. off + len) the stream took; all of them when {@link #inputWanted()} was at least len. */
    int feed(byte[] b, int off, int len) {
        return nFeed(handle, b, off, len);
    }

    void endInput() {
        nEndInput(handle);
    }

    int inputWanted() {
        return nInputWanted(handle);
    }

    /**
     * Decodes into b[off .. off + len), whole sample periods only. The status is in the low 32 bits
     * ({@link #OK}, {@link #END}, {@link #NEED_INPUT}, {@link #FORMAT_CHANGED} or a negative error), the
     * bytes written in the high 32.
     */
    long read(byte[] b, int off, int len) throws IOException {
        long r = nRead(handle, b, off, len);
        rethrow();
        return r;
    }

    /** Changes the sample format, channels (0: as the stream) and byte order of later reads. */
    boolean setOutput(int sampleFormat, int channels, boolean bigEndian) {
        return nSetOutput(handle, sampleFormat, channels, bigEndian ? BIG_ENDIAN : 0) == OK;
    }

    /** The encoder a LAME tag names, or "". */
    String encoder() {
        String e = nEncoder(handle);
        return e != null ? e : "";
    }

    static int status(long read) {
        return (int) read;
    }

    static int bytes(long read) {
        return (int) (read >>> 32);
    }

    /**
     * The format of the next samples: rate, channels, source channels, layer, version, mode, bit rate,
     * sample format, bytes per sample, start sample (two ints); null before a pushed stream shows one.
     */
    int[] format() {
        int[] f = new int[11];
        formatStatus = nFormat(handle, f);
        return formatStatus == OK ? f : null;
    }

    /**
     * The format once the bytes fed so far show the first frame, else null: a pushed stream looks at its
     * input only when asked for samples, and an empty read asks without taking any.
     */
    int[] firstFormat() throws IOException {
        read(NO_BYTES, 0, 0);
        return format();
    }

    /** After format() gave null: true when no format will come (the input holds no MPEG audio). */
    boolean noStream() {
        return formatStatus == ERR_NO_STREAM;
    }

    /**
     * What is known of the stream, indexed by the INFO_ constants. A seekable stream is scanned first.
     */
    long[] info() throws IOException {
        long[] i = new long[INFO_FIELDS];
        int r = nInfo(handle, i);
        rethrow();
        return r == OK ? i : null;
    }

    int seek(long sample) throws IOException {
        int r = nSeek(handle, sample);
        rethrow();
        return r;
    }

    long tell() {
        return nTell(handle);
    }

    /** The tags in their order, keys as the native layer names them ("title", "artist", "TPE2", ...). */
    Map<String, String> tags() {
        Map<String, String> m = new LinkedHashMap<>();
        byte[] all = nTags(handle);
        if (all == null) {
            return m;
        }
        String key = null;
        for (int from = 0, i = 0; i < all.length; i++) {
            if (all[i] == 0) {
                String s = new String(all, from, i - from, StandardCharsets.UTF_8);
                if (key == null) {
                    key = s;
                } else {
                    m.put(key, s);
                    key = null;
                }
                from = i + 1;
            }
        }
        return m;
    }

    @Override
    public void close() {
        cleanable.clean();
    }

    private static native int nOpenPush(int sampleFormat, int channels, int flags);

    private static native int nOpenFile(String path, int sampleFormat, int channels, int flags);

    private static native int nOpenSource(Source source, long size, int sampleFormat, int channels, int flags);

    private static native int nSetOutput(int handle, int sampleFormat, int channels, int flags);

    private static native String nEncoder(int handle);

    private static native void nClose(int handle);

    private static native int nFeed(int handle, byte[] data, int offset, int length);

    private static native int nEndInput(int handle);

    private static native int nInputWanted(int handle);

    private static native long nRead(int handle, byte[] out, int offset, int length);

    private static native int nFormat(int handle, int[] fields);

    private static native int nInfo(int handle, long[] fields);

    private static native int nSeek(int handle, long sample);

    private static native long nTell(int handle);

    private static native byte[] nTags(int handle);
}

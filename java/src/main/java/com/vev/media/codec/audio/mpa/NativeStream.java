package com.vev.media.codec.audio.mpa;

import java.io.IOException;
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

    static final int GAPLESS = 1;
    static final int DROP_DAMAGED = 2;
    static final int BIG_ENDIAN = 4;

    private static final Cleaner CLEANER = Cleaner.create();

    private final int handle;
    private final Cleaner.Cleanable cleanable;

    private NativeStream(int handle) {
        this.handle = handle;
        this.cleanable = CLEANER.register(this, () -> nClose(handle));
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
    long read(byte[] b, int off, int len) {
        return nRead(handle, b, off, len);
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
        return nFormat(handle, f) == OK ? f : null;
    }

    /**
     * What is known of the stream: samples, duration (us), length exact, seekable, info kind, encoder
     * delay, padding, gapless, frames decoded, concealed, dropped, bytes skipped, CRC ignored, format
     * changes, tags clamped. A seekable stream is scanned first.
     */
    long[] info() {
        long[] i = new long[15];
        return nInfo(handle, i) == OK ? i : null;
    }

    int seek(long sample) {
        return nSeek(handle, sample);
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

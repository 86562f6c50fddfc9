package com.vev.media.codec.audio.mpa;

import java.lang.ref.Cleaner;
import java.lang.ref.Reference;

/**
 * MPEG-1 and MPEG-2 (low sampling frequencies) audio decoder, Layers I, II and III, free format included.
 *
 * <p>An instance decodes one stream, one frame per {@link #decode} call, into interleaved signed 16-bit
 * PCM in the platform's byte order. The four static methods nOpen, nClose, nGetHeader and nConvert are the low-level interface; the instance
 * methods wrap them with argument checks and a readable result. An instance is not thread-safe, but
 * different instances may decode concurrently. An instance that is not closed releases its native
 * memory once it is garbage collected; {@link #close()} releases it at once.
 *
 * <pre>{@code
 * try (MpegAudio decoder = new MpegAudio()) {
 *     if (decoder.decode(input, offset, length, offset, pcm, 0)) {
 *         offset += decoder.consumed();   // then use decoder.produced() bytes of pcm
 *     }
 * }
 * }</pre>
 */
public final class MpegAudio implements AutoCloseable {
    static {
        // A library that cannot be loaded does not fail the class: the constructor and header() say why,
        // every time; the native methods called directly throw the JVM's UnsatisfiedLinkError.
        NativeLoader.isAvailable();
    }

    /** Largest number of PCM bytes one frame produces (1152 stereo samples of 16 bits). */
    public static final int MAX_FRAME_PCM_BYTES = 4608;

    /** Largest frame of any layer, in bytes (MPEG-1 Layer II at 384 kbit/s, 32 kHz, padded). */
    public static final int MAX_FRAME_BYTES = 1729;

    /**
     * The version of rovaz, such as {@code "0.9.0"}: the jar's, which its native library must have too;
     * the same as the C library's {@code mpa_version()} and the jar manifest's {@code Implementation-Version}.
     * A method rather than a constant, so that code compiled against one jar reports the jar it runs with.
     *
     * @return the version, MAJOR.MINOR.PATCH
     */
    public static String version() {
        return BuildVersion.VERSION;
    }

    // One daemon thread closes the instances that their users forgot.
    private static final Cleaner CLEANER = Cleaner.create();

    private int handle;
    private final Cleaner.Cleanable release;
    private final int[] consumed = new int[1];
    private final int[] produced = new int[1];
    private final int[] needed = new int[1];

    /**
     * Opens a decoder instance.
     *
     * @throws OutOfMemoryError when the native instance cannot be allocated
     * @throws UnsatisfiedLinkError when the native library cannot be used; the message says why
     */
    public MpegAudio() {
        NativeLoader.load();
        int h = nOpen(new int[1]);
        if (h == 0) {
            throw new OutOfMemoryError("cannot allocate an MPEG audio decoder instance");
        }
        handle = h;
        release = CLEANER.register(this, new Release(h));
    }

    /** Closes a handle; holds no reference to the instance, so that it can become unreachable. */
    private static final class Release implements Runnable {
        private final int handle;

        Release(int handle) {
            this.handle = handle;
        }

        @Override
        public void run() {
            nClose(handle);
        }
    }

    /**
     * Decodes the first frame found in {@code input[inputOffset .. inputOffset + inputLength)}.
     *
     * @param precedingBytes how many bytes of earlier stream data lie in {@code input} right before
     *     {@code inputOffset}; Layer III may take the bit reservoir from there (0 to inputOffset)
     * @return true when the call did its work: then {@link #consumed()} input bytes are done with,
     *     {@link #produced()} PCM bytes were written at {@code outputOffset}, or, when both are 0,
     *     {@link #needed()} tells how many input bytes the frame needs. False when the frame could
     *     not be decoded (damaged data, or arguments out of range); skip it with {@link #header}.
     */
    public boolean decode(byte[] input, int inputOffset, int inputLength, int precedingBytes,
                          byte[] output, int outputOffset) {
        ensureOpen();
        try {
            return nConvert(handle, input, inputOffset, inputLength, output, outputOffset, 0,
                    consumed, produced, precedingBytes, needed);
        } finally {
            // The cleaner must not close the handle while the native call uses it.
            Reference.reachabilityFence(this);
        }
    }

    /** Input bytes the last successful {@link #decode} consumed, counted from its inputOffset. */
    public int consumed() {
        return consumed[0];
    }

    /** PCM bytes the last {@link #decode} wrote. */
    public int produced() {
        return produced[0];
    }

    /** Input bytes from the last {@link #decode}'s inputOffset that the next frame needs, when it had too little input; else 0. */
    public int needed() {
        return needed[0];
    }

    /**
     * Makes the next {@link #decode} search for its frame afresh, as at the start of a stream: the last
     * frame's header is no longer the stream that a frame at the start of the input continues. For the
     * stream driver after damage; the decoding history stays.
     */
    void restartSearch() {
        ensureOpen();
        try {
            nRestartSearch(handle);
        } finally {
            Reference.reachabilityFence(this);
        }
    }

    /** True until {@link #close()}. */
    public boolean isOpen() {
        return handle != 0;
    }

    /** Releases the native instance. Closing twice does nothing. */
    @Override
    public void close() {
        if (handle != 0) {
            handle = 0;
            release.clean();   // runs nClose exactly once, here or never again
        }
    }

    /**
     * Describes the first MPEG audio frame in {@code data[0 .. length)}, or returns null when there is
     * none. A header is taken even when the data does not hold its successor to confirm it.
     *
     * @throws UnsatisfiedLinkError when the native library cannot be used; the message says why
     */
    public static MpegAudioHeader header(byte[] data, int length) {
        NativeLoader.load();
        if (data == null || length < 4) {
            return null;   // the native method would report this on standard output
        }
        MpegAudioHeader h = new MpegAudioHeader();
        return nGetHeader(data, Math.min(length, data.length), h) ? h : null;
    }

    private void ensureOpen() {
        if (handle == 0) {
            throw new IllegalStateException("decoder is closed");
        }
    }

    // ---- native methods ----

    /** Opens an instance; status[0] is set to 0. Returns the handle, 0 on failure. */
    public static native int nOpen(int[] status);

    /** Closes an instance; a handle that is not open is ignored. Always true. */
    public static native boolean nClose(int handle);

    /**
     * Finds and describes the first frame in data[0 .. length): sets the int fields layer,
     * headerOffset, bitsInFrame, bitRate, samplingRate, nChannels, nSamples and negOffset of
     * headerObject. False (and a line on standard output) when there is no header.
     */
    public static native boolean nGetHeader(byte[] data, int length, Object headerObject);

    /**
     * Decodes one frame; see {@link #decode}. The library also exports this method as a native one;
     * this class checks the three counter arrays and fills them here instead, which saves the
     * native call six JNI round trips per frame. What the caller sees is the same: false with
     * nothing written when a counter array is null or empty, else all three counters set.
     */
    public static boolean nConvert(int handle, byte[] input, int inputOffset, int inputLength,
                                   byte[] output, int outputOffset, int ignored, int[] consumed,
                                   int[] produced, int precedingBytes, int[] needed) {
        if (consumed == null || produced == null || needed == null
                || consumed.length == 0 || produced.length == 0 || needed.length == 0) {
            return false;
        }
        long packed = nConvertFrame(handle, input, inputOffset, inputLength, output, outputOffset,
                                    precedingBytes);
        int count = (int) packed & 0x7fffffff;
        boolean countIsNeeded = (packed & 0x80000000L) != 0;
        produced[0] = (int) (packed >>> 32) & 0xffff;
        consumed[0] = countIsNeeded ? 0 : count;
        needed[0] = countIsNeeded ? count : 0;
        return (packed & (1L << 48)) != 0;
    }

    /**
     * The native half of {@link #nConvert}, without the counter arrays: bits 0-30 hold consumed
     * (needed when bit 31 is set), bits 32-47 produced, bit 48 the result.
     */
    private static native void nRestartSearch(int handle);

    private static native long nConvertFrame(int handle, byte[] input, int inputOffset, int inputLength,
                                             byte[] output, int outputOffset, int precedingBytes);
}

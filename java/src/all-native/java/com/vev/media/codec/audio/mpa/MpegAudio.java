package com.vev.media.codec.audio.mpa;

/**
 * The Java class as an application built against the library's plain JNI interface declares it: all
 * four methods native, nothing else. Tests load it through a class loader of its own, with its own
 * copy of the library (the path in the system property rovaz.allNative.library), to call every exported
 * entry point directly, including the native nConvert that rovaz's own class no longer calls.
 */
public final class MpegAudio {
    static {
        System.load(System.getProperty("rovaz.allNative.library"));
    }

    private MpegAudio() {
    }

    public static native int nOpen(int[] status);

    public static native boolean nClose(int handle);

    public static native boolean nGetHeader(byte[] data, int length, Object headerObject);

    public static native boolean nConvert(int handle, byte[] input, int inputOffset, int inputLength,
                                          byte[] output, int outputOffset, int ignored, int[] consumed,
                                          int[] produced, int precedingBytes, int[] needed);
}

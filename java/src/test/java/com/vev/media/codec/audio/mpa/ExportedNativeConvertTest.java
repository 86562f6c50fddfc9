package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.Random;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * MpegAudio.nConvert fills its counters on the Java side and calls a leaner native method; the
 * library still exports the native nConvert for classes that declare it. Both must answer every call
 * alike: same result, same counters, same PCM, for whole streams fed in odd windows and for the
 * arguments a careless caller passes. The native one is reached through a class that declares all
 * four methods native, loaded with a copy of the library in a class loader of its own.
 */
public class ExportedNativeConvertTest {
    private static URLClassLoader loader;
    private static Path libraryCopy;
    private static Method nOpen;
    private static Method nClose;
    private static Method nGetHeader;
    private static Method nConvert;

    @BeforeClass
    public static void loadExportedMethods() throws Exception {
        String build = System.getProperty("rovaz.build", "build");
        libraryCopy = Files.createTempFile("rovaz-exported", ".so");
        Files.copy(Path.of(build, "librovaz.so"), libraryCopy, StandardCopyOption.REPLACE_EXISTING);
        System.setProperty("rovaz.allNative.library", libraryCopy.toString());
        URL stub = Path.of(build, "rovaz-all-native.jar").toUri().toURL();
        loader = new URLClassLoader(new URL[] {stub}, ClassLoader.getPlatformClassLoader());
        Class<?> c = Class.forName(MpegAudio.class.getName(), true, loader);
        assertNotEquals(MpegAudio.class, c);
        nOpen = c.getMethod("nOpen", int[].class);
        nClose = c.getMethod("nClose", int.class);
        nGetHeader = c.getMethod("nGetHeader", byte[].class, int.class, Object.class);
        nConvert = c.getMethod("nConvert", int.class, byte[].class, int.class, int.class, byte[].class,
                               int.class, int.class, int[].class, int[].class, int.class, int[].class);
    }

    @AfterClass
    public static void cleanUp() throws Exception {
        loader.close();
        Files.deleteIfExists(libraryCopy);
    }

    /** One call's visible outcome: the result, the three counters and the output array. */
    private static final class Outcome {
        final boolean result;
        final int[] counters;
        final byte[] output;

        Outcome(boolean result, int[] consumed, int[] produced, int[] needed, byte[] output) {
            this.result = result;
            this.counters = new int[] {first(consumed), first(produced), first(needed)};
            this.output = output == null ? null : output.clone();
        }

        private static int first(int[] a) {
            return a == null || a.length == 0 ? Integer.MIN_VALUE : a[0];
        }

        void assertSame(Outcome other, String what) {
            assertEquals(what + ": result", result, other.result);
            assertArrayEquals(what + ": consumed, produced, needed", counters, other.counters);
            assertArrayEquals(what + ": output", output, other.output);
        }
    }

    /** The arguments of one call; each side gets its own copies of the arrays. */
    private static final class Call {
        byte[] input;
        int inputOffset;
        int inputLength;
        byte[] output = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];
        int outputOffset;
        int preceding;
        int[] consumed = {-1};
        int[] produced = {-1};
        int[] needed = {-1};

        Outcome ours(int handle) throws Exception {
            return run((out, c, p, n) -> MpegAudio.nConvert(handle, input, inputOffset, inputLength, out,
                                                            outputOffset, 0, c, p, preceding, n));
        }

        Outcome exported(int handle) throws Exception {
            return run((out, c, p, n) -> (Boolean) nConvert.invoke(null, handle, input, inputOffset,
                                                                   inputLength, out, outputOffset, 0, c,
                                                                   p, preceding, n));
        }

        /** One side's nConvert, given copies of the output and counter arrays. */
        private interface Side {
            boolean convert(byte[] out, int[] consumed, int[] produced, int[] needed) throws Exception;
        }

        /**
         * Calls one side on copies of the arrays; where the call passes one array for several
         * counters, so do the copies.
         */
        private Outcome run(Side side) throws Exception {
            byte[] out = output == null ? null : output.clone();
            int[] c = consumed == null ? null : consumed.clone();
            int[] p = produced == consumed ? c : produced == null ? null : produced.clone();
            int[] n = needed == consumed ? c : needed == null ? null : needed.clone();
            return new Outcome(side.convert(out, c, p, n), c, p, n, out);
        }
    }

    /** Feeds a stream to both sides in windows of random length, comparing every call. */
    private static void compareWholeStream(byte[] stream, long seed) throws Exception {
        int ours = MpegAudio.nOpen(new int[1]);
        int exported = (Integer) nOpen.invoke(null, (Object) new int[1]);
        Random random = new Random(seed);
        int pos = 0;
        int extra = 0;
        int frames = 0;
        int calls = 0;
        try {
            while (pos < stream.length) {
                Call call = new Call();
                call.input = stream;
                call.inputOffset = pos;
                call.inputLength = Math.min(stream.length - pos, 200 + random.nextInt(3000) + extra);
                call.preceding = random.nextInt(4) == 0 ? 0 : Math.min(pos, 4096);
                Outcome a = call.ours(ours);
                a.assertSame(call.exported(exported), "call " + calls + " at byte " + pos);
                calls++;
                extra = 0;
                if (!a.result) {
                    pos++;                            // damaged or unsupported: step past it
                } else if (a.counters[0] > 0) {
                    pos += a.counters[0];
                    frames += a.counters[1] > 0 ? 1 : 0;
                } else if (a.counters[2] > call.inputLength && call.inputLength < stream.length - pos) {
                    extra = a.counters[2];            // the window was too short: widen the next
                } else {
                    break;                            // a frame cut off by the end of the stream
                }
            }
        } finally {
            MpegAudio.nClose(ours);
            nClose.invoke(null, exported);
        }
        assertTrue("decoded " + frames + " frames", frames > 10);
    }

    @Test
    public void wholeStreamsInRandomWindowsAgree() throws Exception {
        compareWholeStream(TestStreams.lame(44100, 2, 2.0, "-V", "2"), 1);
        compareWholeStream(TestStreams.lame(22050, 1, 2.0, "-b", "32"), 2);
        compareWholeStream(TestStreams.twolame(48000, 2, 2.0, "-b", "192"), 3);
        // The same with junk in front and damage inside: false results must agree too.
        byte[] damaged = TestStreams.lame(32000, 2, 2.0, "-b", "96");
        Random random = new Random(4);
        for (int i = 0; i < 40; i++) {
            damaged[random.nextInt(damaged.length)] ^= (byte) (1 << random.nextInt(8));
        }
        byte[] withJunk = new byte[damaged.length + 500];
        random.nextBytes(withJunk);
        System.arraycopy(damaged, 0, withJunk, 500, damaged.length);
        compareWholeStream(withJunk, 5);
    }

    @Test
    public void carelessArgumentsGetTheSameAnswer() throws Exception {
        byte[] stream = TestStreams.twolame(44100, 2, 0.5, "-b", "128");
        int frame = MpegAudio.header(stream, stream.length).frameBytes();
        Call[] calls = new Call[22];
        for (int i = 0; i < calls.length; i++) {
            calls[i] = new Call();
            calls[i].input = stream;
            calls[i].inputLength = stream.length;
        }
        calls[1].consumed = null;
        calls[2].produced = new int[0];
        calls[3].needed = new int[0];
        calls[4].input = null;
        calls[5].output = null;
        calls[6].inputOffset = -1;
        calls[7].inputLength = stream.length + 1;
        calls[8].inputOffset = stream.length;
        calls[8].inputLength = 1;
        calls[9].outputOffset = -3;
        calls[10].outputOffset = MpegAudio.MAX_FRAME_PCM_BYTES + 1;
        calls[11].output = new byte[MpegAudio.MAX_FRAME_PCM_BYTES - 1];      // too short for the frame
        calls[12].preceding = 1;                                               // more than the offset
        calls[13].preceding = -1;
        calls[14].inputLength = frame - 1;                                     // asks for more
        calls[15].inputLength = 3;
        calls[16].inputLength = 0;
        calls[17].inputOffset = 1;                                             // junk before a header
        calls[17].inputLength = stream.length - 1;
        calls[18].consumed = calls[18].produced = calls[18].needed = new int[] {-1};  // one array for all
        calls[19].outputOffset = 100;
        calls[19].output = new byte[100 + MpegAudio.MAX_FRAME_PCM_BYTES];
        calls[20].inputLength = Integer.MAX_VALUE;
        calls[21].inputOffset = Integer.MAX_VALUE;
        for (int i = 0; i < calls.length; i++) {
            // A fresh instance on each side for every call, so that no call depends on the one before.
            int ours = MpegAudio.nOpen(new int[1]);
            int exported = (Integer) nOpen.invoke(null, (Object) new int[1]);
            calls[i].ours(ours).assertSame(calls[i].exported(exported), "case " + i);
            MpegAudio.nClose(ours);
            nClose.invoke(null, exported);
        }
        // Handles that are not open.
        int ours = MpegAudio.nOpen(new int[1]);
        int exported = (Integer) nOpen.invoke(null, (Object) new int[1]);
        MpegAudio.nClose(ours);
        nClose.invoke(null, exported);
        for (int[] handles : new int[][] {{0, 0}, {-1, -1}, {ours, exported}}) {
            calls[0].ours(handles[0]).assertSame(calls[0].exported(handles[1]), "handle " + handles[0]);
        }
    }

    @Test
    public void exportedHeaderMethodAgrees() throws Exception {
        byte[] stream = TestStreams.lame(24000, 1, 0.5, "-b", "48");
        for (int length : new int[] {stream.length, 3, 0, -7, stream.length + 10}) {
            MpegAudioHeader a = new MpegAudioHeader();
            MpegAudioHeader b = new MpegAudioHeader();
            boolean ra = MpegAudio.nGetHeader(stream, length, a);
            boolean rb = (Boolean) nGetHeader.invoke(null, stream, length, b);
            assertEquals(ra, rb);
            assertEquals(Arrays.toString(new int[] {a.layer, a.headerOffset, a.bitsInFrame, a.bitRate,
                                                    a.samplingRate, a.nChannels, a.nSamples, a.negOffset}),
                         Arrays.toString(new int[] {b.layer, b.headerOffset, b.bitsInFrame, b.bitRate,
                                                    b.samplingRate, b.nChannels, b.nSamples, b.negOffset}));
        }
    }
}

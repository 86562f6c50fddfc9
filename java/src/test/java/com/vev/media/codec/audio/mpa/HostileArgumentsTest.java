package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeTrue;

import java.util.Arrays;
import java.util.HashSet;
import java.util.Random;
import java.util.Set;
import org.junit.After;
import org.junit.Before;
import org.junit.Test;

/**
 * The native methods with arguments a careless or hostile caller may pass: the calls answer false (or
 * ignore the handle) and touch nothing outside the windows they were given. The frame natives' checks of
 * their arguments are all here (NativeStreamTest has the stream natives').
 */
public class HostileArgumentsTest {
    private static final byte GUARD = 0x5A;

    private int handle;
    private final int[] consumed = new int[1];
    private final int[] produced = new int[1];
    private final int[] needed = new int[1];

    @Before
    public void open() {
        handle = MpegAudio.nOpen(new int[1]);
        assertNotEquals(0, handle);
    }

    @After
    public void close() {
        MpegAudio.nClose(handle);
    }

    private boolean convert(int h, byte[] in, int offset, int length, int preceding, byte[] out, int outOffset) {
        consumed[0] = produced[0] = needed[0] = -1;
        return MpegAudio.nConvert(h, in, offset, length, out, outOffset, 0, consumed, produced, preceding, needed);
    }

    private static byte[] guarded(int length) {
        byte[] b = new byte[length];
        Arrays.fill(b, GUARD);
        return b;
    }

    /** Every byte of out outside [from, from + count) still holds the guard value. */
    private static void assertGuardsIntact(byte[] out, int from, int count) {
        for (int i = 0; i < out.length; i++) {
            if (i < from || i >= from + count) {
                assertEquals("output byte " + i, GUARD, out[i]);
            }
        }
    }

    @Test
    public void writesOnlyItsOutputWindowAndNeverTheInput() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        MpegAudioHeader h = MpegAudio.header(mp2, mp2.length);
        // The stream inside a larger array, after bytes that are not stream data.
        byte[] in = new byte[mp2.length + 300];
        System.arraycopy(mp2, 0, in, 100, mp2.length);
        byte[] before = in.clone();

        // Room for exactly one frame after the output offset.
        byte[] out = guarded(77 + 4608);
        assertTrue(convert(handle, in, 100, mp2.length, 0, out, 77));
        assertEquals(4608, produced[0]);
        assertEquals(h.frameBytes(), consumed[0]);
        assertGuardsIntact(out, 77, 4608);
        assertArrayEquals(before, in);

        // One byte less room: refused before anything is written or decoded.
        out = guarded(78 + 4608 - 1);
        assertFalse(convert(handle, in, 100 + consumed[0], mp2.length - consumed[0], 0, out, 78));
        assertGuardsIntact(out, 0, 0);

        // A window that ends one byte before the frame does, with the rest of the frame right
        // after it in the array: the frame is asked for, not decoded from bytes beyond the window.
        out = guarded(4608);
        int second = 100 + h.frameBytes();
        int frame = MpegAudio.header(Arrays.copyOfRange(in, second, in.length), in.length - second).frameBytes();
        assertTrue(convert(handle, in, second, frame - 1, 0, out, 0));
        assertEquals(frame, needed[0]);
        assertEquals(0, consumed[0]);
        assertGuardsIntact(out, 0, 0);
        assertArrayEquals(before, in);
    }

    @Test
    public void aFrameThatFailsWithinItsLengthIsNotSwappedForAnotherOne() {
        // An MPEG-1 Layer II header (4,608 bytes of PCM), then an MPEG-2 Layer III mono frame at 61
        // (1,152 bytes) asking for more main data than it holds, confirmed by the header at 97. Cut at
        // the Layer III frame's end, a fresh search would find the Layer II header first.
        byte[] in = new byte[101];
        byte[] layer3 = {(byte) 0xFF, (byte) 0xF3, 0x18, (byte) 0xC0, 0x00, 0x7F, (byte) 0xF8};
        System.arraycopy(new byte[] {(byte) 0xFF, (byte) 0xFD, 0x14, 0x00}, 0, in, 0, 4);
        System.arraycopy(layer3, 0, in, 61, layer3.length);
        System.arraycopy(layer3, 0, in, 97, 4);
        byte[] out = guarded(3 * 1152);
        assertFalse(convert(handle, in, 0, in.length, 0, out, 1152));
        assertEquals(0, produced[0] | consumed[0] | needed[0]);
        assertGuardsIntact(out, 0, 0);
    }

    @Test
    public void layerThreeTakesEarlierDataOnlyFromThePrecedingBytes() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 2.0, "-b", "128");
        // A frame that reaches back into the frames before it.
        int pos = 0;
        MpegAudioHeader h = null;
        for (int i = 0; i < 40; i++) {
            h = MpegAudio.header(Arrays.copyOfRange(mp3, pos, mp3.length), mp3.length - pos);
            if (i > 2 && h.negOffset > 0) {
                break;
            }
            pos += h.headerOffset + h.frameBytes();
        }
        assumeTrue(h.negOffset > 0);
        byte[] out = guarded(4608);
        // The earlier bytes are in the array, but not offered: the frame is consumed without output.
        assertTrue(convert(handle, mp3, pos, mp3.length - pos, 0, out, 0));
        assertEquals(h.frameBytes(), consumed[0]);
        assertEquals(0, produced[0]);
        assertEquals(0, needed[0]);
        assertGuardsIntact(out, 0, 0);
        // Offered, they make the frame decode.
        int fresh = MpegAudio.nOpen(new int[1]);
        try {
            assertTrue(convert(fresh, mp3, pos, mp3.length - pos, h.negOffset, out, 0));
            assertEquals(4608, produced[0]);
        } finally {
            MpegAudio.nClose(fresh);
        }
    }

    /** nConvert with these arguments answers false and, given this test's counters, zeroes them. */
    private void assertRefused(String what, int h, byte[] in, int offset, int length, int preceding, byte[] out,
                               int outOffset, int[] c, int[] p, int[] n) {
        consumed[0] = produced[0] = needed[0] = -1;
        assertFalse(what, MpegAudio.nConvert(h, in, offset, length, out, outOffset, 0, c, p, preceding, n));
        if (c == consumed && p == produced && n == needed) {
            assertEquals(what, 0, consumed[0] | produced[0] | needed[0]);
        }
        if (out != null) {
            assertGuardsIntact(out, 0, 0);
        }
    }

    @Test
    public void refusedCallsAnswerFalseAndTouchNothing() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        int n = mp2.length;
        byte[] out = guarded(4608);
        int[][] windows = {{-1, 10, 0}, {0, -1, 0}, {0, n + 1, 0}, {n, 1, 0}, {Integer.MAX_VALUE, 10, 0},
                           {10, Integer.MAX_VALUE, 0}, {n + 5, 0, 0}, {10, 100, 11}, {10, 100, -1},
                           {Integer.MIN_VALUE, n, Integer.MIN_VALUE}};
        for (int[] w : windows) {
            assertRefused("offset " + w[0] + ", length " + w[1] + ", preceding " + w[2], handle, mp2, w[0], w[1],
                    w[2], out, 0, consumed, produced, needed);
        }
        assertRefused("null input", handle, null, 0, 0, 0, out, 0, consumed, produced, needed);
        assertRefused("empty input", handle, new byte[0], 0, 0, 0, out, 0, consumed, produced, needed);
        assertRefused("null output", handle, mp2, 0, n, 0, null, 0, consumed, produced, needed);
        assertRefused("output one byte short", handle, mp2, 0, n, 0, guarded(4607), 0, consumed, produced, needed);
        for (int at : new int[] {-1, 4608, 4609}) {
            assertRefused("output offset " + at, handle, mp2, 0, n, 0, out, at, consumed, produced, needed);
        }
        int[] ok = new int[1];
        for (int[] bad : new int[][] {null, new int[0]}) {
            String kind = bad == null ? " null" : " empty";
            assertRefused("consumed" + kind, handle, mp2, 0, n, 0, out, 0, bad, ok, ok);
            assertRefused("produced" + kind, handle, mp2, 0, n, 0, out, 0, ok, bad, ok);
            assertRefused("needed" + kind, handle, mp2, 0, n, 0, out, 0, ok, ok, bad);
        }
        int closed = MpegAudio.nOpen(new int[1]);
        MpegAudio.nClose(closed);
        for (int bad : new int[] {0, -1, 12345, Integer.MAX_VALUE, Integer.MIN_VALUE, closed}) {
            assertRefused("handle " + bad, bad, mp2, 0, n, 0, out, 0, consumed, produced, needed);
        }
        // None of it disturbed the instance.
        assertTrue(convert(handle, mp2, 0, n, 0, out, 0));
        assertEquals(4608, produced[0]);
    }

    @Test
    public void oneArrayAsInputAndOutput() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        MpegAudioHeader h = MpegAudio.header(mp2, mp2.length);
        // Output behind the input window.
        byte[] both = Arrays.copyOf(mp2, mp2.length + 4608);
        assertTrue(convert(handle, both, 0, mp2.length, 0, both, mp2.length));
        assertEquals(4608, produced[0]);
        assertArrayEquals(mp2, Arrays.copyOf(both, mp2.length));
        // Output over the frame being decoded: the frame is read before the PCM is written.
        both = Arrays.copyOf(mp2, mp2.length);
        int fresh = MpegAudio.nOpen(new int[1]);
        try {
            assertTrue(convert(fresh, both, 0, mp2.length, 0, both, 0));
            assertEquals(h.frameBytes(), consumed[0]);
            assertEquals(4608, produced[0]);
        } finally {
            MpegAudio.nClose(fresh);
        }
    }

    @Test
    public void staleAndRandomHandlesReachNoInstance() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        byte[] out = new byte[4608];
        // A closed handle whose slot now belongs to another instance.
        int stale = MpegAudio.nOpen(new int[1]);
        assertTrue(MpegAudio.nClose(stale));
        Set<Integer> live = new HashSet<>();
        live.add(handle);
        int[] others = new int[8];
        for (int i = 0; i < others.length; i++) {
            others[i] = MpegAudio.nOpen(new int[1]);
            assertNotEquals(stale, others[i]);
            live.add(others[i]);
        }
        try {
            assertFalse(convert(stale, mp2, 0, mp2.length, 0, out, 0));
            assertTrue(MpegAudio.nClose(stale));
            assertTrue(MpegAudio.nClose(stale));
            // Handles never issued.
            Random random = new Random(42);
            for (int i = 0; i < 2000; i++) {
                int h = i < 1000 ? random.nextInt() : stale + (random.nextInt(64) - 32);
                if (live.contains(h)) {
                    continue;
                }
                assertFalse(convert(h, mp2, 0, mp2.length, 0, out, 0));
                assertEquals(0, consumed[0]);
                assertTrue(MpegAudio.nClose(h));
            }
            // Every live instance survived all of that.
            for (int h : live) {
                assertTrue(convert(h, mp2, 0, mp2.length, 0, out, 0));
                assertEquals(4608, produced[0]);
            }
        } finally {
            for (int h : others) {
                MpegAudio.nClose(h);
            }
        }
        // Closed twice, an instance stays closed and the handle stays dead.
        assertTrue(MpegAudio.nClose(others[0]));
        assertFalse(convert(others[0], mp2, 0, mp2.length, 0, out, 0));
    }

    /** A header class whose fields have the names but not the kind nGetHeader sets. */
    static final class OddHeader {
        long layer = -1;
        String bitRate = "x";
        static int samplingRate = -1;
        int nChannels = -1;
    }

    /** A header class with only some of the fields. */
    static final class PartialHeader {
        int layer;
        int samplingRate;
    }

    @Test
    public void headerObjectsOfAnyShape() {
        byte[] data = new byte[212];
        byte[] hdr = {(byte) 0xFF, (byte) 0xFF, (byte) 0x60, (byte) 0xC0};   // Layer I mono, twice
        System.arraycopy(hdr, 0, data, 0, 4);
        System.arraycopy(hdr, 0, data, 208, 4);
        // Fields that cannot be set are skipped, as missing ones are; the result is the search's.
        assertTrue(MpegAudio.nGetHeader(data, data.length, null));
        OddHeader odd = new OddHeader();
        assertTrue(MpegAudio.nGetHeader(data, data.length, odd));
        assertEquals(-1, odd.layer);
        assertEquals("x", odd.bitRate);
        assertEquals(-1, OddHeader.samplingRate);
        assertEquals(1, odd.nChannels);
        PartialHeader partial = new PartialHeader();
        assertTrue(MpegAudio.nGetHeader(data, data.length, partial));
        assertEquals(1, partial.layer);
        assertEquals(44100, partial.samplingRate);   // set although the fields before it are missing
        for (Object any : new Object[] {new int[4], "a string", new Object()}) {
            assertTrue(MpegAudio.nGetHeader(data, data.length, any));
        }
        // Lengths that make no sense.
        MpegAudioHeader h = new MpegAudioHeader();
        assertFalse(MpegAudio.nGetHeader(data, 0, h));
        assertFalse(MpegAudio.nGetHeader(data, Integer.MIN_VALUE, h));
        assertFalse(MpegAudio.nGetHeader(new byte[0], Integer.MAX_VALUE, h));
        assertEquals(0, h.layer);
        // A status array without an element still gives an instance.
        int c = MpegAudio.nOpen(new int[0]);
        assertNotEquals(0, c);
        assertTrue(MpegAudio.nClose(c));
    }
}

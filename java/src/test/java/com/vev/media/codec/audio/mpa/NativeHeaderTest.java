package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeNotNull;

import java.util.Arrays;
import org.junit.Test;

/** nOpen, nClose and nGetHeader through the Java class. */
public class NativeHeaderTest {

    private static MpegAudioHeader header(byte[] data) {
        MpegAudioHeader h = new MpegAudioHeader();
        assertTrue(MpegAudio.nGetHeader(data, data.length, h));
        return h;
    }

    private static void assertHeader(MpegAudioHeader h, int layer, int rate, int bitRate, int channels,
                                     int samples) {
        assertEquals(layer, h.layer);
        assertEquals(rate, h.samplingRate);
        assertEquals(bitRate, h.bitRate);
        assertEquals(channels, h.nChannels);
        assertEquals(samples, h.nSamples);
    }

    @Test
    public void openAndCloseInstances() {
        int[] status = {42};
        int a = MpegAudio.nOpen(status);
        assertEquals(0, status[0]);
        int b = MpegAudio.nOpen(new int[1]);
        assertNotEquals(0, a);
        assertNotEquals(0, b);
        assertNotEquals(a, b);
        assertTrue(MpegAudio.nClose(a));
        assertTrue(MpegAudio.nClose(a));   // already closed: ignored
        assertTrue(MpegAudio.nClose(0));
        assertTrue(MpegAudio.nClose(12345678));
        assertTrue(MpegAudio.nClose(b));
        int c = MpegAudio.nOpen(null);   // a null status array is tolerated
        assertNotEquals(0, c);
        assertTrue(MpegAudio.nClose(c));
    }

    @Test
    public void layerThreeMpeg1WithAndWithoutCrc() throws Exception {
        for (String[] opts : new String[][] {{"-b", "128"}, {"-b", "128", "-p"}}) {
            byte[] mp3 = TestStreams.lame(44100, 2, 1.0, opts);
            MpegAudioHeader h = header(mp3);
            assertHeader(h, 3, 44100, 128, 2, 1152);
            // The first frame may carry lame's info tag; it is a frame all the same.
            assertTrue(h.bitsInFrame == 3336 || h.bitsInFrame == 3344);
            assertEquals(0, h.headerOffset);
        }
    }

    @Test
    public void layerThreeMpeg2Mono() throws Exception {
        byte[] mp3 = TestStreams.lame(24000, 1, 1.0, "-b", "64", "-m", "m");
        MpegAudioHeader h = header(mp3);
        assertHeader(h, 3, 24000, 64, 1, 576);
        assertEquals(1536, h.bitsInFrame);
    }

    @Test
    public void layerTwoMpeg1AndMpeg2() throws Exception {
        MpegAudioHeader h = header(TestStreams.twolame(48000, 2, 1.0, "-b", "192"));
        assertHeader(h, 2, 48000, 192, 2, 1152);
        assertEquals(4608, h.bitsInFrame);
        assertEquals(0, h.negOffset);

        h = header(TestStreams.twolame(44100, 2, 1.0, "-b", "160", "-p"));
        assertHeader(h, 2, 44100, 160, 2, 1152);

        h = header(TestStreams.twolame(22050, 1, 1.0, "-b", "64", "-m", "m"));
        assertHeader(h, 2, 22050, 64, 1, 1152);
        assertEquals(64 * 1152 * 1000 / 22050 / 8 * 8, h.bitsInFrame);
    }

    @Test
    public void layerOneFromBytes() {
        // MPEG-1 Layer I, 192 kbit/s, 44.1 kHz, mono, protected; then the next header.
        byte[] hdr = {(byte) 0xFF, (byte) 0xFE, (byte) 0x60, (byte) 0xC0};
        byte[] data = new byte[208 + 4];
        System.arraycopy(hdr, 0, data, 0, 4);
        System.arraycopy(hdr, 0, data, 208, 4);
        MpegAudioHeader h = header(data);
        assertHeader(h, 1, 44100, 192, 1, 384);
        assertEquals(1664, h.bitsInFrame);
        assertEquals(0, h.negOffset);
    }

    @Test
    public void conformanceStreamsOfEveryLayer() throws Exception {
        byte[] l1 = TestStreams.conformance("l1-fl1.bit");
        assumeNotNull(l1);
        assertEquals(1, header(l1).layer);
        assertEquals(32000, header(l1).samplingRate);
        assertEquals(2, header(TestStreams.conformance("l2-fl10.bit")).layer);
        MpegAudioHeader lsf = header(TestStreams.conformance("l2-test32.bit"));
        assertEquals(24000, lsf.samplingRate);
        MpegAudioHeader l3 = header(TestStreams.conformance("M2L3_compl24.bit"));
        assertHeader(l3, 3, 24000, l3.bitRate, 1, 576);
    }

    @Test
    public void garbageBeforeTheFrameAndLengthClamping() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-b", "128");
        byte[] data = new byte[mp3.length + 100];
        Arrays.fill(data, 0, 100, (byte) 0x55);
        System.arraycopy(mp3, 0, data, 100, mp3.length);
        MpegAudioHeader h = new MpegAudioHeader();
        // A length beyond the array is clamped, not read past.
        assertTrue(MpegAudio.nGetHeader(data, Integer.MAX_VALUE, h));
        assertEquals(100, h.headerOffset);
        assertEquals(3, h.layer);
    }

    @Test
    public void unconfirmedFreeFormatHeaderSpansTheBuffer() {
        byte[] data = new byte[300];
        data[0] = (byte) 0xFF;
        data[1] = (byte) 0xFB;   // MPEG-1 Layer III, no CRC
        data[2] = (byte) 0x00;   // free format, 44.1 kHz
        MpegAudioHeader h = new MpegAudioHeader();
        assertTrue(MpegAudio.nGetHeader(data, 250, h));
        assertEquals(0, h.bitRate);
        assertEquals(250 * 8, h.bitsInFrame);
    }

    @Test
    public void noHeaderReportsOnStandardOutput() throws Exception {
        String out = TestStreams.runJava(ShortHeaderProbe.class);
        assertEquals("mpa_get_header returned -7\nfalse\nmpa_get_header returned -7\nfalse\n"
                + "mpa_get_header returned -5\nfalse\n", out.replace("\r", ""));
    }

    @Test
    public void headerHelperGivesNullForTooLittleData() {
        byte[] data = new byte[212];
        byte[] hdr = {(byte) 0xFF, (byte) 0xFF, (byte) 0x60, (byte) 0xC0};
        System.arraycopy(hdr, 0, data, 0, 4);
        System.arraycopy(hdr, 0, data, 208, 4);
        assertNull(MpegAudio.header(new byte[3], 3));
        MpegAudioHeader h = MpegAudio.header(data, data.length);
        assertEquals(1664, h.bitsInFrame);
        assertFalse(h.toString().isEmpty());
    }

    /** Prints what nGetHeader returns for too little data and for a null array. */
    public static final class ShortHeaderProbe {
        public static void main(String[] args) {
            MpegAudioHeader h = new MpegAudioHeader();
            print(MpegAudio.nGetHeader(new byte[] {(byte) 0xFF, (byte) 0xFB, (byte) 0x90}, 3, h));
            print(MpegAudio.nGetHeader(new byte[10], -4, h));
            print(MpegAudio.nGetHeader(null, 10, h));
        }

        private static void print(boolean b) {
            // The native line goes straight to file descriptor 1: keep Java's output in step.
            System.out.print(b + "\n");
            System.out.flush();
        }
    }
}

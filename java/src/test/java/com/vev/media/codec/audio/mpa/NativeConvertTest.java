package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.nio.file.Files;
import java.util.Arrays;
import org.junit.After;
import org.junit.Before;
import org.junit.Test;

/** nConvert through the Java class: counters, windows, whole streams (hostile arguments: HostileArgumentsTest). */
public class NativeConvertTest {
    private int handle;
    private final int[] consumed = new int[1];
    private final int[] produced = new int[1];
    private final int[] needed = new int[1];
    private final byte[] out = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];

    @Before
    public void open() {
        handle = MpegAudio.nOpen(new int[1]);
        assertTrue(handle != 0);
    }

    @After
    public void close() {
        MpegAudio.nClose(handle);
    }

    private boolean convert(byte[] in, int offset, int length, int preceding) {
        consumed[0] = produced[0] = needed[0] = -1;
        return MpegAudio.nConvert(handle, in, offset, length, out, 0, 0, consumed, produced, preceding, needed);
    }

    private void assertCounters(int c, int p, int n) {
        assertEquals("consumed", c, consumed[0]);
        assertEquals("produced", p, produced[0]);
        assertEquals("needed", n, needed[0]);
    }

    @Test
    public void framesOfEachKindProduceTheirSamples() throws Exception {
        byte[] stereo = TestStreams.twolame(44100, 2, 1.0, "-b", "192");
        MpegAudioHeader h = MpegAudio.header(stereo, stereo.length);
        assertTrue(convert(stereo, 0, stereo.length, 0));
        assertCounters(h.frameBytes(), 4608, 0);

        MpegAudio.nClose(handle);
        handle = MpegAudio.nOpen(new int[1]);
        byte[] mono = TestStreams.lame(24000, 1, 1.0, "-b", "32", "-m", "m");
        int pos = 0;
        int frames = 0;
        while (pos < mono.length && convert(mono, pos, mono.length - pos, pos) && consumed[0] > 0) {
            if (produced[0] > 0) {
                assertEquals(1152, produced[0]);   // 576 mono samples
                frames++;
            }
            pos += consumed[0];
        }
        assertTrue(frames > 30);
    }

    @Test
    public void partialFrameAsksForTheWholeFrame() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        MpegAudioHeader h = MpegAudio.header(mp2, mp2.length);
        assertTrue(convert(mp2, 0, h.frameBytes() - 10, 0));
        assertCounters(0, 0, h.frameBytes());
        // With garbage in front, consumed covers the skipped bytes too.
        byte[] shifted = new byte[mp2.length + 33];
        Arrays.fill(shifted, 0, 33, (byte) 0x77);
        System.arraycopy(mp2, 0, shifted, 33, mp2.length);
        assertTrue(convert(shifted, 0, shifted.length, 0));
        assertCounters(33 + h.frameBytes(), 4608, 0);
    }

    @Test
    public void wholeStreamThroughJavaEqualsTheCommandLineDecoder() throws Exception {
        File mpadec = new File(System.getProperty("rovaz.build", "build"), "mpadec");
        assumeTrue(mpadec.canExecute());
        for (byte[] stream : new byte[][] {TestStreams.lame(44100, 2, 3.0, "-V", "2"),
                                           TestStreams.lame(48000, 2, 2.0, "-b", "320", "-m", "s"),
                                           TestStreams.lame(22050, 2, 2.0, "-b", "48"),
                                           TestStreams.twolame(32000, 1, 2.0, "-b", "64", "-m", "m")}) {
            File in = File.createTempFile("rovaz", ".mpa");
            File raw = File.createTempFile("rovaz", ".raw");
            in.deleteOnExit();
            raw.deleteOnExit();
            Files.write(in.toPath(), stream);
            TestStreams.run(mpadec.getPath(), "--raw", "--no-gapless", "--truncate", in.getPath(), raw.getPath());
            byte[] expected = Files.readAllBytes(raw.toPath());
            // The command-line decoder reads an info frame; the frame natives decode it.
            MpegStreamInfo info;
            try (MpegAudioInputStream s = new MpegAudioInputStream(new java.io.ByteArrayInputStream(stream))) {
                info = s.getStreamInfo();
            }
            int infoFrameBytes = info.getInfoTag() != null ? info.getSamplesPerFrame() * info.getChannels() * 2 : 0;
            // Any window that holds the frame and the next frame's header and side
            // information gives the same PCM.
            for (int window : new int[] {1100, 2000, 4096, 65536, Integer.MAX_VALUE}) {
                MpegAudio.nClose(handle);
                handle = MpegAudio.nOpen(new int[1]);
                byte[] all = decodeAll(stream, window);
                assertArrayEquals("window " + window, expected, Arrays.copyOfRange(all, infoFrameBytes, all.length));
            }
        }
    }

    /**
     * Decodes a stream frame by frame through windows of at most window bytes, each starting at the
     * next frame and keeping every earlier byte before it as preceding data.
     */
    private byte[] decodeAll(byte[] stream, int window) {
        ByteArrayOutputStream pcm = new ByteArrayOutputStream();
        MpegAudioHeader first = MpegAudio.header(stream, stream.length);
        int pos = first.headerOffset;   // leading junk is not stream data
        int start = pos;
        while (pos < stream.length) {
            int len = Math.min(window, stream.length - pos);
            if (!convert(stream, pos, len, Math.min(pos - start, 4096))) {
                break;
            }
            if (consumed[0] == 0) {
                break;
            }
            pcm.write(out, 0, produced[0]);
            pos += consumed[0];
        }
        return pcm.toByteArray();
    }
}

package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;
import static org.junit.Assume.assumeNotNull;
import static org.junit.Assume.assumeTrue;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Random;
import org.junit.Test;

/** Streaming decode: chunking, tags, damage, gapless trimming, and agreement with the native tool. */
public class MpegAudioInputStreamTest {

    /**
     * Hands out at most {@code chunk} bytes per read, or random amounts up to it when random is set;
     * with failAt set, the first read from that offset on throws an IOException, and the reads after
     * it go on where the stream was.
     */
    static final class Chunked extends InputStream {
        private final byte[] data;
        private final int chunk;
        private final Random random;
        private int failAt = -1;
        private int pos;

        Chunked(byte[] data, int chunk, Random random) {
            this.data = data;
            this.chunk = chunk;
            this.random = random;
        }

        Chunked failingOnceAt(int offset) {
            failAt = offset;
            return this;
        }

        @Override
        public int read() {
            return pos < data.length ? data[pos++] & 0xFF : -1;
        }

        @Override
        public int read(byte[] b, int off, int len) throws IOException {
            if (failAt >= 0 && pos >= failAt) {
                failAt = -1;
                throw new IOException("read failed at " + pos);
            }
            if (pos >= data.length) {
                return -1;
            }
            int n = Math.min(Math.min(len, data.length - pos), random != null ? 1 + random.nextInt(chunk) : chunk);
            System.arraycopy(data, pos, b, off, n);
            pos += n;
            return n;
        }
    }

    /** Decodes as the native tool does with --drop-damaged: a damaged frame gives nothing. */
    static byte[] decode(InputStream in, boolean gapless) throws IOException {
        try (MpegAudioInputStream s = new MpegAudioInputStream(in, dropping(gapless))) {
            return s.readAllBytes();
        }
    }

    static byte[] decode(byte[] data, boolean gapless) throws IOException {
        return decode(new ByteArrayInputStream(data), gapless);
    }

    static MpegAudioInputStream.Options dropping(boolean gapless) {
        return new MpegAudioInputStream.Options().gapless(gapless).dropDamaged(true);
    }

    static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] p : parts) {
            out.writeBytes(p);
        }
        return out.toByteArray();
    }

    static short[] samples(byte[] pcm) {
        short[] s = new short[pcm.length / 2];
        ByteBuffer.wrap(pcm).order(ByteOrder.LITTLE_ENDIAN).asShortBuffer().get(s);
        return s;
    }

    /**
     * pcm is clean (stereo frames of 1152 samples) less frame number lost: the frames before it are
     * unchanged; the one after it starts from other filterbank history; from the next on all is
     * whole again.
     */
    static void assertOnlyFrameLost(byte[] clean, byte[] pcm, int lost) {
        assertEquals(clean.length - 4608, pcm.length);
        assertArrayEquals(Arrays.copyOf(clean, lost * 4608), Arrays.copyOf(pcm, lost * 4608));
        assertArrayEquals(Arrays.copyOfRange(clean, (lost + 2) * 4608, clean.length),
                Arrays.copyOfRange(pcm, (lost + 1) * 4608, pcm.length));
    }

    /**
     * The native command-line decoder's raw output (little-endian PCM) with the settings of this stream
     * (no gapless trimming, 16-bit rounded, damaged frames dropped, the first frame's channel count), or
     * null when it is not built.
     */
    static byte[] nativeTool(byte[] stream) throws IOException {
        File tool = new File(System.getProperty("rovaz.build", "build"), "mpadec");
        if (!tool.canExecute()) {
            return null;
        }
        Path in = Files.createTempFile(TestStreams.dir(), "in", ".bit");
        Path out = Files.createTempFile(TestStreams.dir(), "out", ".raw");
        try {
            Files.write(in, stream);
            String channels = String.valueOf(MpegAudio.header(stream, stream.length).nChannels);
            TestStreams.run(tool.getPath(), "--raw", "--no-gapless", "--drop-damaged", "--channels",
                    channels, in.toString(), out.toString());
            return Files.readAllBytes(out);
        } finally {
            Files.delete(in);
            Files.delete(out);
        }
    }

    /** The stream from a frame (past its start) whose main data begins in the frames before it. */
    static byte[] cutBeforeReservoirFrame(byte[] mp3) {
        for (int at = 0; ; ) {
            MpegAudioHeader h = MpegAudio.header(Arrays.copyOfRange(mp3, at, at + 2000), 2000);
            if (at >= 2000 && h.negOffset > 0) {
                return Arrays.copyOfRange(mp3, at + h.headerOffset, mp3.length);
            }
            at += h.headerOffset + h.frameBytes();
        }
    }

    @Test
    public void chunkBoundariesNeverChangeTheOutput() throws Exception {
        byte[][] streams = {
            TestStreams.lame(44100, 2, 2.0, "-V", "2"),           // VBR, the reservoir in use
            TestStreams.lame(24000, 1, 1.0, "-b", "32", "-m", "m"),
            TestStreams.twolame(48000, 2, 1.0, "-b", "192"),
        };
        for (byte[] stream : streams) {
            byte[] whole = decode(stream, true);
            assertTrue(whole.length > 0);
            for (int chunk : new int[] {1, 2, 3, 7, 100, 417, 4096, 8193}) {
                assertArrayEquals("chunk " + chunk, whole, decode(new Chunked(stream, chunk, null), true));
            }
            assertArrayEquals(whole, decode(new Chunked(stream, 3000, new Random(7)), true));
        }
    }

    @Test
    public void readingOnAfterTheSourceFailedLosesNothing() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 4.0, "-b", "128");
        byte[] clean = decode(mp3, true);
        // Past the first fill, which the constructor makes; 1000 bytes a read, so the failure comes
        // after a run of reads whose bytes must not be dropped.
        for (int failAt : new int[] {40_000, 47_500, 61_000}) {
            ByteArrayOutputStream pcm = new ByteArrayOutputStream();
            int failures = 0;
            try (MpegAudioInputStream s = new MpegAudioInputStream(new Chunked(mp3, 1000, null).failingOnceAt(failAt))) {
                byte[] b = new byte[3000];
                for (int n = 0; n >= 0; ) {
                    try {
                        n = s.read(b);
                    } catch (IOException expected) {
                        failures++;
                        continue;
                    }
                    pcm.write(b, 0, Math.max(n, 0));
                }
            }
            assertEquals(1, failures);
            assertArrayEquals("failure at " + failAt, clean, pcm.toByteArray());
        }
    }

    @Test
    public void tagsAtBothEndsAreSkippedNotDecoded() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-b", "128");
        // The ID3v2 body holds real frames of another stream: decoding them would add audio.
        byte[] foreign = Arrays.copyOf(TestStreams.twolame(22050, 1, 1.0, "-b", "64", "-m", "m"), 1500);
        byte[] body = concat("TIT2 title".getBytes(), foreign);
        int n = body.length;
        byte[] id3v2 = concat(new byte[] {'I', 'D', '3', 3, 0, 0,
            (byte) (n >> 21 & 127), (byte) (n >> 14 & 127), (byte) (n >> 7 & 127), (byte) (n & 127)}, body);
        byte[] apeItems = "\u0005\0\0\0\0\0\0\0Title\0hello".getBytes();
        ByteBuffer apeFooter = ByteBuffer.allocate(32).order(ByteOrder.LITTLE_ENDIAN);
        apeFooter.put("APETAGEX".getBytes()).putInt(2000).putInt(apeItems.length + 32).putInt(1).putInt(0);
        byte[] id3v1 = Arrays.copyOf("TAGsome title".getBytes(), 128);
        byte[] lyrics = "LYRICSBEGININD00002\u0001\u0001".getBytes();
        byte[] lyricsFooter = String.format("%06dLYRICS200", lyrics.length).getBytes();

        byte[] plain = decode(mp3, true);
        byte[] tagged = concat(id3v2, id3v2, mp3, apeItems, apeFooter.array(), lyrics, lyricsFooter, id3v1);
        try (MpegAudioInputStream s = new MpegAudioInputStream(new Chunked(tagged, 1000, null))) {
            assertEquals(2L * id3v2.length, s.getStreamInfo().getFirstFrameOffset());
            assertEquals(44100, s.getSampleRate());
            assertArrayEquals(plain, s.readAllBytes());
            assertEquals(0, s.getFramesSkipped());
        }
        // The tag is no earlier stream data: a frame reaching back into it gives no audio.
        byte[] cut = cutBeforeReservoirFrame(mp3);
        assertArrayEquals(decode(cut, true), decode(concat(id3v2, cut), true));
    }

    @Test
    public void streamCutInsideAFrameKeepsTheWholeFramesBeforeIt() throws Exception {
        for (byte[] stream : new byte[][] {
            TestStreams.twolame(44100, 2, 1.0, "-b", "160"), TestStreams.lame(44100, 2, 1.0, "-b", "128")}) {
            byte[] full = decode(stream, false);
            byte[] cut = decode(Arrays.copyOf(stream, stream.length * 2 / 3 + 101), false);
            assertTrue(cut.length > full.length / 2 && cut.length < full.length);
            assertEquals(0, cut.length % 4608);
            assertArrayEquals(Arrays.copyOf(full, cut.length), cut);
        }
    }

    @Test
    public void garbageBetweenFramesAndDamagedFramesAreSkipped() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "192", "-p");
        int frame = 576;   // 192 kbit/s at 48 kHz
        byte[] clean = decode(mp2, false);
        // Garbage (no 0xFF, so no false sync) after frame 5, and a hit on frame 20's audio data,
        // which its CRC catches.
        byte[] garbage = new byte[777];
        Random random = new Random(1);
        for (int i = 0; i < garbage.length; i++) {
            garbage[i] = (byte) random.nextInt(255);
        }
        byte[] damaged = concat(Arrays.copyOf(mp2, 5 * frame), garbage, Arrays.copyOfRange(mp2, 5 * frame, mp2.length));
        damaged[5 * frame + garbage.length + 15 * frame + 7] ^= 0x5A;
        try (MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(damaged), dropping(false))) {
            byte[] pcm = s.readAllBytes();
            assertEquals(1, s.getFramesSkipped());
            assertOnlyFrameLost(clean, pcm, 20);
        }
        byte[] tool = nativeTool(damaged);
        if (tool != null) {
            assertArrayEquals(tool, decode(damaged, false));
            // A stereo stream, then a mono one of another version joined in mid-stream: the last frame
            // before the switch empties the reservoir, the first after it takes its main data from the
            // bytes before it, and its mono samples are doubled to stereo. Reads end at the change of
            // rate, and go on at the new one.
            byte[] second = cutBeforeReservoirFrame(TestStreams.lame(24000, 1, 1.0, "-b", "64", "-m", "m"));
            byte[] joined = concat(TestStreams.lame(44100, 2, 1.0, "-b", "128"), second);
            try (MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(joined), dropping(false))) {
                byte[] first = s.readAllBytes();
                assertTrue(s.nextFormat());
                assertEquals(24000, s.getSampleRate());
                assertEquals(2, s.getChannels());
                assertArrayEquals(nativeTool(joined), concat(first, s.readAllBytes()));
                assertEquals(false, s.nextFormat());
            }
        }
        try {
            decode(garbage, true);
            fail("no frames, yet decoded");
        } catch (IOException expected) {
            assertTrue(expected.getMessage().contains("no MPEG audio frames"));
        }
    }

    @Test
    public void aDamagedHeaderThatClaimsTheNextFrameCostsOnlyItsOwnFrame() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "192", "-p");
        int frame = 576;   // 192 kbit/s at 48 kHz; 384 kbit/s makes 1152 bytes, two frames
        byte[] clean = decode(mp2, false);
        // Frame 10's bit rate turned to 384 kbit/s: the header after the two frames it now spans
        // confirms it, and its CRC fails. Frame 11 inside it must still be found and decoded.
        byte[] damaged = mp2.clone();
        damaged[10 * frame + 2] = (byte) ((damaged[10 * frame + 2] & 0x0F) | (14 << 4));
        byte[] pcm = decode(damaged, false);
        assertOnlyFrameLost(clean, pcm, 10);
        byte[] tool = nativeTool(damaged);
        if (tool != null) {
            assertArrayEquals(tool, pcm);
        }
    }

    @Test
    public void bytesInsertedInAFrameCostOnlyThatFrame() throws Exception {
        // 24 frames of 44.1 kHz 192 kbit/s Layer II (626 or 627 bytes), 20 bytes inserted 100 bytes into
        // the ninth: its header is no longer confirmed, and the frames after it must all be found.
        byte[] mp2 = TestStreams.twolame(44100, 2, 1.0, "-b", "192");
        int[] starts = new int[25];
        for (int k = 0; k < 24; k++) {
            MpegAudioHeader h = MpegAudio.header(Arrays.copyOfRange(mp2, starts[k], starts[k] + 1400), 1400);
            starts[k + 1] = starts[k] + h.headerOffset + h.frameBytes();
        }
        int at = starts[8] + 100;
        byte[] damaged = concat(Arrays.copyOf(mp2, at), new byte[20], Arrays.copyOfRange(mp2, at, starts[24]));
        try (MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(damaged), dropping(false))) {
            byte[] pcm = s.readAllBytes();
            assertTrue(pcm.length / 4608 + " frames", pcm.length >= 23 * 4608);
            assertTrue(s.getFramesSkipped() <= 1);
        }
        byte[] tool = nativeTool(damaged);
        if (tool != null) {
            assertArrayEquals(tool, decode(damaged, false));
        }
    }

    @Test
    public void lameTagTrimsToTheSourceSignal() throws Exception {
        for (String[] opts : new String[][] {{"-b", "128"}, {"-V", "4"}, {"-b", "64", "-m", "m"}}) {
            int rate = opts.length > 2 ? 24000 : 44100;
            int channels = opts.length > 2 ? 1 : 2;
            byte[] mp3 = TestStreams.lame(rate, channels, 1.0, opts);
            byte[] wav = Files.readAllBytes(TestStreams.signal(rate, channels, 1.0));
            short[] source = samples(Arrays.copyOfRange(wav, 44, wav.length));
            try (MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(mp3))) {
                MpegStreamInfo info = s.getStreamInfo();
                assertTrue(info.getEncoder().startsWith("LAME"));
                assertEquals(rate, info.getSampleCount());
                assertEquals(rate, s.getFrameLength());
                short[] pcm = samples(s.readAllBytes());
                assertEquals(source.length, pcm.length);
                // Aligned: the error is smallest with no shift.
                double aligned = error(source, pcm, 0);
                assertTrue(aligned < error(source, pcm, channels) / 3);
                assertTrue(aligned < error(source, pcm, -channels) / 3);
            }
            // Past the frames the tag counts (files joined), the audio goes on untrimmed.
            // (This stream is left for the cleaner to release.)
            MpegStreamInfo info = new MpegAudioInputStream(new ByteArrayInputStream(mp3)).getStreamInfo();
            long joined = rate + (info.getFrameCount() + 1) * info.getSamplesPerFrame();
            assertEquals(joined * 2 * channels, decode(concat(mp3, mp3), true).length);
            // The info frame alone: no audio, so no stream.
            byte[] infoFrame = Arrays.copyOf(mp3, MpegAudio.header(mp3, mp3.length).frameBytes());
            try {
                decode(infoFrame, true);
                fail("an info frame alone taken for a stream");
            } catch (IOException expected) {
                assertTrue(expected.getMessage().contains("no MPEG audio frames"));
            }
            try (MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(mp3), false)) {
                long frames = s.getStreamInfo().getFrameCount();
                assertEquals(frames * s.getStreamInfo().getSamplesPerFrame(), s.getFrameLength());
                assertEquals(s.getFrameLength() * s.getFrameSize(), s.readAllBytes().length);
            }
        }
    }

    private static double error(short[] a, short[] b, int shift) {
        double sum = 0;
        for (int i = 2000; i < a.length - 2000; i++) {
            double d = a[i] - b[i + shift];
            sum += d * d;
        }
        return sum;
    }

    @Test
    public void sameOutputAsTheNativeTool() throws Exception {
        byte[] tagged = TestStreams.lame(44100, 2, 1.0, "-V", "2");
        byte[] tool = nativeTool(tagged);
        assumeNotNull(tool);
        assertArrayEquals(tool, decode(tagged, false));
        byte[] untagged = TestStreams.lame(22050, 1, 1.5, "-b", "40", "-t", "-m", "m");
        assertArrayEquals(nativeTool(untagged), decode(untagged, true));
        byte[] mp2 = TestStreams.twolame(32000, 2, 1.0, "-b", "256");
        assertArrayEquals(nativeTool(mp2), decode(mp2, true));
        byte[] l1 = TestStreams.conformance("l1-fl8.bit");
        assumeTrue("conformance streams not present", l1 != null);
        assertArrayEquals(nativeTool(l1), decode(new Chunked(l1, 5, null), true));
    }

    @Test
    public void threadsGiveTheBytesOfOne() throws Exception {
        Path file = TestStreams.dir().resolve("threads.mp3");
        Files.write(file, TestStreams.lame(44100, 2, 4.0, "-V", "2"));
        byte[][] got = new byte[2][];
        for (int threads = 1; threads <= 2; threads++) {
            MpegAudioInputStream.Options o = new MpegAudioInputStream.Options().threads(threads)
                    .sampleFormat(MpegAudioInputStream.SampleFormat.PCM_24);
            try (MpegAudioInputStream s = new MpegAudioInputStream(file.toFile(), o)) {
                byte[] whole = s.readAllBytes();
                s.seek(70_000);
                got[threads - 1] = concat(whole, s.readAllBytes());
            }
        }
        assertTrue(got[0].length > 4 * 44100 * 6);
        assertArrayEquals(got[0], got[1]);
    }
}

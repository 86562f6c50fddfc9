package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.channels.ClosedChannelException;
import java.nio.channels.FileChannel;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;
import org.junit.Test;

/** The native stream methods: the bytes of the command-line decoder, pushed or from a file; seeking; refusals. */
public class NativeStreamTest {
    /** All that is left of a stream, read through out-arrays of the given size. */
    private static byte[] drain(NativeStream s, int chunk) throws java.io.IOException {
        ByteArrayOutputStream pcm = new ByteArrayOutputStream();
        byte[] out = new byte[chunk];
        for (;;) {
            long r = s.read(out, 0, out.length);
            int status = NativeStream.status(r);
            if (status == NativeStream.OK) {
                pcm.write(out, 0, NativeStream.bytes(r));
            } else if (status != NativeStream.FORMAT_CHANGED) {
                assertEquals(NativeStream.END, status);
                return pcm.toByteArray();
            }
        }
    }

    /** Pushed in uneven pieces, never more than the stream wants. */
    private static byte[] pushed(byte[] stream, int flags) throws java.io.IOException {
        try (NativeStream s = NativeStream.push(NativeStream.S16, 0, flags)) {
            ByteArrayOutputStream pcm = new ByteArrayOutputStream();
            byte[] out = new byte[10000];
            int fed = 0;
            for (int turn = 0;; turn++) {
                int n = Math.min(Math.min(stream.length - fed, s.inputWanted()), 1 + turn * 613 % 7000);
                assertEquals(n, s.feed(stream, fed, n));
                fed += n;
                if (fed == stream.length) {
                    s.endInput();
                }
                long r = s.read(out, 0, out.length);
                int status = NativeStream.status(r);
                if (status == NativeStream.OK) {
                    pcm.write(out, 0, NativeStream.bytes(r));
                } else if (status == NativeStream.END) {
                    return pcm.toByteArray();
                } else {
                    assertTrue("status " + status,
                            status == NativeStream.NEED_INPUT || status == NativeStream.FORMAT_CHANGED);
                }
            }
        }
    }

    private static Path file(byte[] bytes) throws IOException {
        Path p = Files.createTempFile(TestStreams.dir(), "stream", ".mp3");
        Files.write(p, bytes);
        return p;
    }

    /** An ID3v2.3 tag with a title in front of the stream. */
    private static byte[] tagged(byte[] stream) {
        byte[] title = "Native title".getBytes(StandardCharsets.ISO_8859_1);
        byte[] tag = new byte[10 + 11 + title.length];
        System.arraycopy("ID3\3".getBytes(StandardCharsets.ISO_8859_1), 0, tag, 0, 4);
        tag[9] = (byte) (tag.length - 10);
        System.arraycopy("TIT2".getBytes(StandardCharsets.ISO_8859_1), 0, tag, 10, 4);
        tag[17] = (byte) (title.length + 1);
        System.arraycopy(title, 0, tag, 21, title.length);
        byte[] all = Arrays.copyOf(tag, tag.length + stream.length);
        System.arraycopy(stream, 0, all, tag.length, stream.length);
        return all;
    }

    @Test
    public void pushedAndFileStreamsGiveTheCommandLineDecodersBytes() throws Exception {
        File mpadec = new File(System.getProperty("rovaz.build", "build"), "mpadec");
        assumeTrue(mpadec.canExecute());
        byte[] stream = tagged(TestStreams.lame(44100, 2, 2.0, "-V", "2"));
        Path in = file(stream);
        Path raw = Files.createTempFile(TestStreams.dir(), "out", ".raw");
        TestStreams.run(mpadec.getPath(), "--raw", in.toString(), raw.toString());
        byte[] expected = Files.readAllBytes(raw);
        // WAV and --raw output are little-endian.
        assertArrayEquals(expected, pushed(stream, NativeStream.GAPLESS));
        try (NativeStream s = NativeStream.file(in.toString(), NativeStream.S16, 0, NativeStream.GAPLESS)) {
            assertEquals("Native title", s.tags().get("title"));
            long[] info = s.info();
            assertEquals(1, info[2]);                       // exact length
            assertEquals(expected.length / 4, info[0]);     // samples, after gapless trimming
            assertArrayEquals(expected, drain(s, 4099));
            // Seeking: the samples from there on are the decode's.
            for (long at : new long[] {44100, 0, 1151, expected.length / 4 - 10}) {
                assertEquals(NativeStream.OK, s.seek(at));
                assertEquals(at, s.tell());
                assertArrayEquals(Arrays.copyOfRange(expected, (int) at * 4, expected.length), drain(s, 8192));
            }
        }
        byte[] big = pushed(stream, NativeStream.GAPLESS | NativeStream.BIG_ENDIAN);
        for (int i = 0; i < expected.length; i += 2) {
            assertEquals(expected[i], big[i + 1]);
        }
    }

    @Test
    public void badArgumentsAndClosedStreamsAreRefused() throws Exception {
        byte[] stream = TestStreams.twolame(44100, 2, 1.0, "-b", "192");
        NativeStream s = NativeStream.push(NativeStream.S16, 0, 0);
        byte[] out = new byte[4608];
        assertTrue(s.feed(stream, -1, 10) < 0);
        assertTrue(s.feed(stream, stream.length - 5, 10) < 0);
        assertTrue(s.feed(null, 0, 0) < 0);
        assertTrue(NativeStream.status(s.read(out, 4600, 100)) < 0);
        assertTrue(NativeStream.status(s.read(null, 0, 0)) < 0);
        assertEquals(NativeStream.NEED_INPUT, NativeStream.status(s.read(out, 0, out.length)));
        // Too little room for one sample period, then exactly one.
        s.feed(stream, 0, Math.min(stream.length, s.inputWanted()));
        s.endInput();
        assertEquals(NativeStream.FORMAT_CHANGED, NativeStream.status(s.read(out, 0, out.length)));
        assertTrue(NativeStream.status(s.read(out, 0, 3)) < 0);
        long r = s.read(out, 1, 4);
        assertEquals(NativeStream.OK, NativeStream.status(r));
        assertEquals(4, NativeStream.bytes(r));
        s.close();
        s.close();
        assertTrue(NativeStream.status(s.read(out, 0, out.length)) < 0);
        assertTrue(s.feed(stream, 0, 10) < 0);
        assertNull(s.info());
        assertNull(s.format());
        try {
            NativeStream.file(file(new byte[5000]).toString(), NativeStream.S16, 0, 0);
            throw new AssertionError("no frames, yet opened");
        } catch (IOException expected) {
            assertTrue(expected.getMessage().contains("no MPEG audio frames"));
        }
    }

    @Test
    public void aJavaSourceThatFailsGivesItsOwnIOException() throws Exception {
        byte[] stream = TestStreams.lame(44100, 2, 6.0, "-b", "128");
        FileChannel channel = FileChannel.open(file(stream), StandardOpenOption.READ);
        try (NativeStream s = NativeStream.source(new NativeStream.Source(channel), NativeStream.S16, 0, 0)) {
            byte[] out = new byte[4608];
            assertEquals(NativeStream.OK, NativeStream.status(s.read(out, 0, out.length)));
            assertFalse(s.setOutput(NativeStream.F32 + 1, 0, false));
            assertFalse(s.setOutput(NativeStream.S16, 3, false));
            assertTrue(s.setOutput(NativeStream.F32, 1, true));
            long r = s.read(out, 0, 6);   // one 4-byte mono sample fits
            assertEquals(4, NativeStream.bytes(r));
            channel.close();
            try {
                drain(s, out.length);
                throw new AssertionError("read on after the source failed");
            } catch (ClosedChannelException expected) {
                // what the channel threw, not a status
            }
        }
    }
}

package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;

import java.nio.file.Files;
import java.util.Arrays;
import java.util.Random;
import org.junit.Test;

/** The Java frame search against the native one, and what the file reader takes for MPEG audio. */
public class FrameSearchTest {

    @Test
    public void javaSearchFindsTheFrameTheNativeSearchFinds() throws Exception {
        byte[][] streams = {
            TestStreams.lame(44100, 2, 1.0, "-b", "128"),
            TestStreams.lame(16000, 1, 1.0, "-b", "24", "-m", "m"),
            TestStreams.twolame(32000, 2, 1.0, "-b", "384"),
        };
        Random random = new Random(3);
        int compared = 0;
        int empty = 0;
        for (int round = 0; round < 3000; round++) {
            byte[] data;
            if (round % 2 == 0) {
                // A slice of a real stream, from anywhere, of any length.
                byte[] s = streams[round % 3];
                int from = random.nextInt(s.length - 8);
                data = Arrays.copyOfRange(s, from, Math.min(s.length, from + 4 + random.nextInt(4000)));
            } else {
                // Noise salted with sync words, header-like bytes and free-format headers.
                data = new byte[16 + random.nextInt(3000)];
                random.nextBytes(data);
                for (int k = random.nextInt(40); k > 0; k--) {
                    int at = random.nextInt(data.length - 3);
                    data[at] = (byte) 0xFF;
                    data[at + 1] = (byte) (0xF0 | random.nextInt(16));
                    if (random.nextBoolean()) {
                        data[at + 2] &= 0x0F;
                    }
                }
            }
            FrameHeader found = FrameHeader.find(data, 0, data.length);
            if (found == null && ++empty > 20) {
                continue;   // each native miss prints a line: check only some
            }
            MpegAudioHeader expected = MpegAudio.header(data, data.length);
            if (expected == null) {
                assertNull(found);
                continue;
            }
            compared++;
            assertNotNull(found);
            assertEquals(expected.headerOffset, found.offset);
            assertEquals(expected.bitsInFrame, found.frameBytes * 8);
            assertEquals(expected.layer, found.layer());
            assertEquals(expected.samplingRate, found.sampleRate());
            assertEquals(expected.nChannels, found.channels());
            assertEquals(expected.nSamples, found.samples());
            assertEquals(expected.bitRate, found.bitRate());
        }
        assertEquals(true, compared > 1000);
    }

    @Test
    public void readerClaimsMpegStreamsOnly() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-b", "128");
        assertNotNull(MpegAudioFileReader.detect(mp3, mp3.length, 0));
        // Junk before the first frame is allowed, but not just anything.
        byte[] junk = new byte[1000];
        Arrays.fill(junk, (byte) 0x41);
        byte[] late = MpegAudioInputStreamTest.concat(junk, mp3);
        assertNotNull(MpegAudioFileReader.detect(late, late.length, 0));
        byte[] wav = Files.readAllBytes(TestStreams.signal(44100, 2, 1.0));
        assertNull(MpegAudioFileReader.detect(wav, wav.length, 0));
        // MP3 data in a RIFF container belongs to the WAV reader.
        byte[] riff = MpegAudioInputStreamTest.concat(Arrays.copyOf(wav, 58), mp3);
        assertNull(MpegAudioFileReader.detect(riff, riff.length, 0));
        // One lone header is not a stream.
        byte[] lone = Arrays.copyOf(mp3, 600);
        Arrays.fill(lone, 4, lone.length, (byte) 0);
        assertNull(MpegAudioFileReader.detect(lone, lone.length, 0));
        byte[] noise = new byte[20000];
        new Random(5).nextBytes(noise);
        assertNull(MpegAudioFileReader.detect(noise, noise.length, 0));
    }
}

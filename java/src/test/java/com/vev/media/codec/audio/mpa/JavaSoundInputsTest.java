package com.vev.media.codec.audio.mpa;

import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Map;
import java.util.jar.JarEntry;
import java.util.jar.JarOutputStream;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import org.junit.Test;

/** Java Sound over every kind of input: lengths, tags, target formats, skipping. */
public class JavaSoundInputsTest {

    private static Path file(String name, byte[] data) throws IOException {
        Path p = TestStreams.dir().resolve(name);
        Files.write(p, data);
        return p;
    }

    /** A stream that supports neither mark nor reset, as most streams are. */
    private static InputStream plain(byte[] data) {
        return new MpegAudioInputStreamTest.Chunked(data, 3000, null);
    }

    private static AudioInputStream pcm(AudioInputStream mpeg) {
        return AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg);
    }

    @Test
    public void streamsThatCannotResetDecodeThroughPlainJavaSound() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-V", "4");
        byte[] expected = MpegAudioInputStreamTest.decode(mp3, true);
        Path f = file("plain.mp3", mp3);
        Path jar = TestStreams.dir().resolve("sounds.jar");
        try (JarOutputStream j = new JarOutputStream(Files.newOutputStream(jar))) {
            j.putNextEntry(new JarEntry("sounds/x.mp3"));
            j.write(mp3);
        }
        try (URLClassLoader loader = new URLClassLoader(new URL[] {jar.toUri().toURL()}, null)) {
            for (InputStream in : new InputStream[] {new FileInputStream(f.toFile()), plain(mp3),
                loader.getResourceAsStream("sounds/x.mp3")}) {
                assertFalse(in.markSupported());
                try (AudioInputStream s = pcm(AudioSystem.getAudioInputStream(in))) {
                    assertArrayEquals(in.getClass().getName(), expected, s.readAllBytes());
                }
            }
        }
        // The bytes the reader looked at are handed on: the MPEG stream itself reads back whole.
        try (AudioInputStream s = AudioSystem.getAudioInputStream(plain(mp3))) {
            assertArrayEquals(mp3, s.readAllBytes());
        }
    }

    @Test
    public void lengthsAreExactWhereTheInputAllows() throws Exception {
        String[][] kinds = {{"-b", "128", "-t"}, {"-V", "3"}, {"-V", "3", "-t"}};   // no tag, Xing, no Xing
        for (String[] opts : kinds) {
            String what = String.join(" ", opts);
            File f = file("len" + what.replace(' ', '_') + ".mp3", TestStreams.lame(32000, 2, 1.7, opts)).toFile();
            byte[] mp3 = TestStreams.lame(32000, 2, 1.7, opts);
            long samples = MpegAudioInputStreamTest.decode(mp3, true).length / 4;
            boolean declared = opts.length == 2;   // only the Xing frame tells a stream its length
            AudioFileFormat[] formats = {AudioSystem.getAudioFileFormat(f),
                AudioSystem.getAudioFileFormat(f.toURI().toURL()), AudioSystem.getAudioFileFormat(new FileInputStream(f)),
                AudioSystem.getAudioFileFormat(plain(mp3))};
            for (int k = 0; k < formats.length; k++) {
                AudioFileFormat a = formats[k];
                what = String.join(" ", opts) + " input " + k;
                boolean known = a.getByteLength() > 0 || a.getProperty("mp3.length.bytes") != null || declared;
                if (!known) {
                    assertEquals(what, AudioSystem.NOT_SPECIFIED, a.getFrameLength());
                    continue;
                }
                assertEquals(what, samples, a.getFrameLength());
                assertEquals(what, samples * 1_000_000 / 32000, a.getProperty("duration"));
                assertEquals(32000f, a.getFormat().getFrameRate(), 0f);
            }
            for (InputStream in : new InputStream[] {new FileInputStream(f), plain(mp3)}) {
                try (AudioInputStream s = pcm(AudioSystem.getAudioInputStream(in))) {
                    boolean known = in instanceof FileInputStream || declared;
                    assertEquals(what, known ? samples : AudioSystem.NOT_SPECIFIED, s.getFrameLength());
                }
            }
            // What needs the length: a WAV file written straight from the decoded stream.
            Path wav = TestStreams.dir().resolve("len.wav");
            AudioSystem.write(pcm(AudioSystem.getAudioInputStream(f)), AudioFileFormat.Type.WAVE, wav.toFile());
            assertEquals(what, samples, AudioSystem.getAudioFileFormat(wav.toFile()).getFrameLength());
        }
    }

    /** An ID3v2 tag of version 2, 3 or 4 holding text frames (id, Latin-1 text), unsynchronised or not. */
    static byte[] id3v2(int version, boolean unsync, String... idsAndTexts) {
        ByteArrayOutputStream body = new ByteArrayOutputStream();
        for (int i = 0; i < idsAndTexts.length; i += 2) {
            byte[] text = ("\0" + idsAndTexts[i + 1]).getBytes(ISO_8859_1);
            // Version 4 unsynchronises each frame, and its sizes count the bytes as stored.
            boolean perFrame = unsync && version == 4;
            text = perFrame ? unsynchronised(text) : text;
            body.writeBytes(idsAndTexts[i].getBytes(ISO_8859_1));
            int n = text.length;
            if (version == 2) {
                body.writeBytes(new byte[] {(byte) (n >> 16), (byte) (n >> 8), (byte) n});
            } else {
                body.writeBytes(version == 4 ? syncsafe(n) : ByteBuffer.allocate(4).putInt(n).array());
                body.writeBytes(new byte[] {0, (byte) (perFrame ? 2 : 0)});
            }
            body.writeBytes(text);
        }
        byte[] b = body.toByteArray();
        if (unsync && version < 4) {
            b = unsynchronised(b);
        }
        byte[] header = {'I', 'D', '3', (byte) version, 0, (byte) (unsync ? 0x80 : 0)};
        return MpegAudioInputStreamTest.concat(header, syncsafe(b.length), b);
    }

    private static byte[] unsynchronised(byte[] b) {
        ByteArrayOutputStream u = new ByteArrayOutputStream();
        for (byte x : b) {
            u.write(x);
            if (x == (byte) 0xFF) {
                u.write(0);
            }
        }
        return u.toByteArray();
    }

    private static byte[] syncsafe(int n) {
        return new byte[] {(byte) (n >> 21 & 127), (byte) (n >> 14 & 127), (byte) (n >> 7 & 127), (byte) (n & 127)};
    }

    private static byte[] id3v1(String title, String artist, String album, String year, int track, int genre) {
        byte[] t = new byte[128];
        int at = 0;
        for (String[] f : new String[][] {{"TAG", "3"}, {title, "30"}, {artist, "30"}, {album, "30"}, {year, "4"}}) {
            byte[] v = f[0].getBytes(ISO_8859_1);
            System.arraycopy(v, 0, t, at, v.length);
            at += Integer.parseInt(f[1]);
        }
        t[126] = (byte) track;
        t[127] = (byte) genre;
        return t;
    }

    @Test
    public void tagsBecomeTheUsualProperties() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 1, 0.5, "-b", "64", "-m", "m");
        String title = "\u00ffes \u00ff";   // 0xFF bytes, which unsynchronisation escapes
        String[][] ids = {
            {"TT2", "TP1", "TAL", "TYE", "TCR", "TCO", "TRK", "TCM"},
            {"TIT2", "TPE1", "TALB", "TYER", "TCOP", "TCON", "TRCK", "TCOM"},
            {"TIT2", "TPE1", "TALB", "TDRC", "TCOP", "TCON", "TRCK", "TCOM"},
        };
        String[] texts = {title, "Artist", "Album", "1999", "(c) someone", "Jazz", "7/9", "Composer"};
        String[] keys = {"title", "author", "album", "date", "copyright", "mp3.id3tag.genre", "mp3.id3tag.track",
            "mp3.id3tag.composer"};
        for (int version = 2; version <= 4; version++) {
            for (boolean unsync : new boolean[] {false, true}) {
                String[] frames = new String[16];
                for (int i = 0; i < 8; i++) {
                    frames[2 * i] = ids[version - 2][i];
                    frames[2 * i + 1] = texts[i];
                }
                byte[] tagged = MpegAudioInputStreamTest.concat(id3v2(version, unsync, frames), mp3);
                for (AudioFileFormat a : new AudioFileFormat[] {
                    AudioSystem.getAudioFileFormat(file("v2.mp3", tagged).toFile()),
                    AudioSystem.getAudioFileFormat(plain(tagged))}) {
                    for (int i = 0; i < keys.length; i++) {
                        assertEquals("ID3v2." + version + (unsync ? " unsync " : " ") + keys[i], texts[i],
                                a.getProperty(keys[i]));
                    }
                }
            }
        }
        // ID3v1 at the end, where a file has it at once; ID3v2 wins where both have a value.
        byte[] both = MpegAudioInputStreamTest.concat(id3v2(3, false, "TIT2", "v2 title"), mp3,
                id3v1("v1 title", "v1 artist", "v1 album", "2001", 5, 8));
        Map<String, Object> p = AudioSystem.getAudioFileFormat(file("v1.mp3", both).toFile()).properties();
        assertEquals("v2 title", p.get("title"));
        assertEquals("v1 artist", p.get("author"));
        assertEquals("v1 album", p.get("album"));
        assertEquals("2001", p.get("date"));
        assertEquals("5", p.get("mp3.id3tag.track"));
        assertEquals("Jazz", p.get("mp3.id3tag.genre"));
        assertEquals(64000, p.get("bitrate"));
        assertEquals(false, p.get("vbr"));
        assertEquals("1", p.get("mp3.version.mpeg"));
        assertEquals("3", p.get("mp3.version.layer"));
        assertEquals(3, p.get("mp3.mode"));
        assertEquals((int) Files.size(TestStreams.dir().resolve("v1.mp3")), p.get("mp3.length.bytes"));
    }

    /** Sample values of PCM bytes as fractions of full scale. */
    private static double[] values(byte[] pcm, AudioFormat f) {
        int bytes = f.getSampleSizeInBits() / 8;
        ByteBuffer b = ByteBuffer.wrap(pcm).order(f.isBigEndian() ? ByteOrder.BIG_ENDIAN : ByteOrder.LITTLE_ENDIAN);
        double[] v = new double[pcm.length / bytes];
        for (int i = 0; i < v.length; i++) {
            if (f.getEncoding().equals(AudioFormat.Encoding.PCM_FLOAT)) {
                v[i] = b.getFloat();
            } else if (bytes == 3) {
                int lo = b.get() & 0xFF;
                int mid = b.get() & 0xFF;
                int hi = b.get();
                v[i] = (f.isBigEndian() ? (lo << 24 >> 8 | mid << 8 | (hi & 0xFF)) : (hi << 16 | mid << 8 | lo)) / 8388608.0;
            } else {
                v[i] = (bytes == 2 ? b.getShort() / 32768.0 : b.getInt() / 2147483648.0);
            }
        }
        return v;
    }

    @Test
    public void everyOfferedFormatDeliversItsSamples() throws Exception {
        for (byte[] mp3 : new byte[][] {TestStreams.lame(48000, 2, 0.5, "-b", "192", "-m", "s"),
            TestStreams.lame(22050, 1, 0.5, "-b", "32", "-m", "m")}) {
            Path f = file("formats.mp3", mp3);
            MpegAudioInputStream.Options o24 = new MpegAudioInputStream.Options()
                    .sampleFormat(MpegAudioInputStream.SampleFormat.PCM_24);
            byte[] ref;
            int sourceChannels;
            try (MpegAudioInputStream s = new MpegAudioInputStream(f, o24)) {
                sourceChannels = s.getChannels();
                ref = s.readAllBytes();
            }
            double[] exact = values(ref, new AudioFormat(1, 24, 1, true, false));
            AudioFormat source = AudioSystem.getAudioFileFormat(f.toFile()).getFormat();
            MpegFormatConversionProvider codec = new MpegFormatConversionProvider();
            int offered = 0;
            for (AudioFormat.Encoding e : codec.getTargetEncodings(source)) {
                for (AudioFormat target : codec.getTargetFormats(e, source)) {
                    offered++;
                    assertTrue(codec.isConversionSupported(target, source));
                    byte[] pcm;
                    try (AudioInputStream in = AudioSystem.getAudioInputStream(target,
                            AudioSystem.getAudioInputStream(f.toFile()))) {
                        assertTrue(target.toString(), in.getFormat().matches(target));
                        pcm = in.readAllBytes();
                    }
                    double[] got = values(pcm, target);
                    int channels = target.getChannels();
                    assertEquals(target.toString(), exact.length / sourceChannels, got.length / channels);
                    boolean truncated = MpegProperties.TRUNCATE.equals(target.getProperty(MpegProperties.ROUNDING));
                    // Within one step of the format (the 24-bit reference itself is rounded), or of
                    // 24 bits for float and 32-bit samples.
                    double step = Math.pow(2, 1 - Math.min(24, target.getSampleSizeInBits()));
                    for (int i = 0; i < got.length; i++) {
                        int period = i / channels;
                        double want = sourceChannels == channels ? exact[i]
                                : channels == 1 ? (exact[2 * period] + exact[2 * period + 1]) / 2 : exact[period];
                        double err = got[i] - want;
                        assertTrue(target + " sample " + i + ": " + got[i] + " for " + want,
                                Math.abs(err) <= step * 1.01 + 1.0 / 8388608);
                        if (truncated && Math.abs(want) > step) {
                            assertTrue("truncated toward zero", Math.abs(got[i]) <= Math.abs(want) + 1.0 / 8388608);
                        }
                    }
                }
            }
            assertEquals(2 * 2 * 5, offered);   // 16, 16 truncated, 24, 32, float; channels; byte orders
            for (AudioFormat refused : new AudioFormat[] {new AudioFormat(source.getSampleRate(), 8, 1, true, false),
                new AudioFormat(source.getSampleRate(), 20, 1, true, false), new AudioFormat(8000, 16, 1, true, false),
                new AudioFormat(AudioFormat.Encoding.ULAW, source.getSampleRate(), 8, 1, 1, source.getSampleRate(), false),
                new AudioFormat(AudioFormat.Encoding.PCM_UNSIGNED, source.getSampleRate(), 16, 1, 2,
                        source.getSampleRate(), false)}) {
                assertFalse(refused.toString(), codec.isConversionSupported(refused, source));
            }
        }
    }

    @Test
    public void skipSeeksToTheSampleOnFilesAndDecodesOnStreams() throws Exception {
        byte[] mp2 = TestStreams.twolame(44100, 2, 3.0, "-b", "192");
        byte[] all = MpegAudioInputStreamTest.decode(mp2, true);
        File f = file("skip.mp2", mp2).toFile();
        for (long frames : new long[] {1, 1151, 1152, 77777, all.length / 4 - 5}) {
            for (InputStream source : new InputStream[] {null, plain(mp2)}) {
                AudioInputStream mpeg = source == null ? AudioSystem.getAudioInputStream(f)
                        : AudioSystem.getAudioInputStream(source);
                try (AudioInputStream s = pcm(mpeg)) {
                    assertEquals(frames * 4, s.skip(frames * 4));
                    byte[] rest = s.readNBytes(40000);
                    assertArrayEquals("skip " + frames, Arrays.copyOfRange(all, (int) frames * 4,
                            (int) Math.min(all.length, frames * 4 + 40000)), rest);
                }
            }
        }
        try (MpegAudioInputStream s = new MpegAudioInputStream(f)) {
            s.seek(50000);
            assertEquals(50000, s.getPosition());
            s.mark(0);
            byte[] a = s.readNBytes(1001);   // not a whole period: reset must still land exactly
            s.reset();
            assertArrayEquals(a, s.readNBytes(1001));
            s.seekMicroseconds(2_000_000);
            assertEquals(88200, s.getPosition());
            assertArrayEquals(Arrays.copyOfRange(all, 88200 * 4, 88200 * 4 + 4000), s.readNBytes(4000));
            s.seek(all.length);   // past the end
            assertEquals(-1, s.read());
        }
        // A stream that is not seekable goes forward by decoding, reading as far as it needs.
        try (MpegAudioInputStream s = new MpegAudioInputStream(plain(mp2))) {
            s.seek(100000);
            assertEquals(100000, s.getPosition());
            assertArrayEquals(Arrays.copyOfRange(all, 100000 * 4, 100000 * 4 + 4000), s.readNBytes(4000));
            try {
                s.seek(10);
                fail("backward on a stream");
            } catch (IOException expected) {
                assertTrue(expected.getMessage().contains("backward"));
            }
        }
    }
}

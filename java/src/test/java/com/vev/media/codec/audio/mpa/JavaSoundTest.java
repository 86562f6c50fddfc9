package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.BufferedInputStream;
import java.io.ByteArrayInputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.UnsupportedAudioFileException;
import org.junit.Test;

/** The Java Sound providers, in this JVM and through AudioSystem with only the jar; the command line. */
public class JavaSoundTest {

    private static final String PLAIN_JAVA_SOUND = String.join("\n",
        "import javax.sound.sampled.*;",
        "import java.io.File;",
        "public class Convert {",
        "    public static void main(String[] a) throws Exception {",
        "        System.out.println(AudioSystem.getAudioFileFormat(new File(a[2])).getType());",
        "        AudioInputStream mpeg = AudioSystem.getAudioInputStream(new File(a[0]));",
        "        AudioInputStream pcm = AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg);",
        "        AudioSystem.write(pcm, AudioFileFormat.Type.WAVE, new File(a[1]));",
        "        System.out.println(mpeg.getFormat().getEncoding());",
        "    }",
        "}", "");

    private static File jar() {
        return new File(System.getProperty("rovaz.build", "build"), "rovaz.jar");
    }

    /** Runs a command; returns its exit status and appends its output (both streams) to out. */
    private static int exec(StringBuilder out, List<String> cmd) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(cmd).redirectErrorStream(true).start();
        try (InputStream in = p.getInputStream()) {
            out.append(new String(in.readAllBytes()));
        }
        return p.waitFor();
    }

    private static List<String> java(String... args) {
        List<String> cmd = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java"));
        cmd.addAll(Arrays.asList(args));
        return cmd;
    }

    private static byte[] wavData(Path wav) throws IOException {
        byte[] b = Files.readAllBytes(wav);
        return Arrays.copyOfRange(b, 44, b.length);
    }

    @Test
    public void readerDescribesMpegAndLeavesOtherStreamsAsTheyWere() throws Exception {
        MpegAudioFileReader reader = new MpegAudioFileReader();
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-b", "128");
        InputStream in = new BufferedInputStream(new ByteArrayInputStream(mp3));
        AudioFileFormat f = reader.getAudioFileFormat(in);
        assertEquals(MpegAudioFileReader.MP3, f.getType());
        assertEquals(MpegEncoding.MPEG1L3, f.getFormat().getEncoding());
        assertEquals(44100, f.getFrameLength());
        assertEquals(1_000_000L, f.getProperty("duration"));
        assertEquals(128000, f.getFormat().getProperty("bitrate"));
        assertArrayEquals(mp3, in.readAllBytes());   // reset to the start

        byte[] wav = Files.readAllBytes(TestStreams.signal(44100, 2, 1.0));
        in = new BufferedInputStream(new ByteArrayInputStream(wav));
        try {
            reader.getAudioInputStream(in);
            fail("a WAV file taken for MPEG audio");
        } catch (UnsupportedAudioFileException expected) {
            assertArrayEquals(wav, in.readAllBytes());
        }
        AudioFileFormat mp2 = reader.getAudioFileFormat(new ByteArrayInputStream(
                TestStreams.twolame(22050, 1, 1.0, "-b", "64", "-m", "m")));
        assertEquals(MpegEncoding.MPEG2L2, mp2.getFormat().getEncoding());
        assertEquals(1, mp2.getFormat().getChannels());
    }

    @Test
    public void converterDecodesInEitherByteOrder() throws Exception {
        byte[] mp3 = TestStreams.lame(24000, 2, 1.0, "-V", "5");
        MpegFormatConversionProvider codec = new MpegFormatConversionProvider();
        AudioInputStream source = new MpegAudioFileReader().getAudioInputStream(
                new BufferedInputStream(new ByteArrayInputStream(mp3)));
        AudioFormat big = new AudioFormat(AudioFormat.Encoding.PCM_SIGNED, 24000, 16, 2, 4, 24000, true);
        assertTrue(codec.isConversionSupported(big, source.getFormat()));
        AudioInputStream pcm = codec.getAudioInputStream(big, source);
        assertTrue(pcm.getFormat().isBigEndian());
        byte[] swapped = pcm.readAllBytes();
        byte[] little = MpegAudioInputStreamTest.decode(mp3, true);
        assertEquals(little.length, swapped.length);
        for (int i = 0; i < little.length; i += 2) {
            assertEquals(little[i], swapped[i + 1]);
            assertEquals(little[i + 1], swapped[i]);
        }
        AudioFormat wrongRate = new AudioFormat(44100, 16, 2, true, false);
        assertEquals(false, codec.isConversionSupported(wrongRate, source.getFormat()));
        assertEquals(0, codec.getTargetEncodings(wrongRate).length);
    }

    @Test
    public void mpeg25IsDecodedAboveTheFrameDecoderOnly() throws Exception {
        byte[] mp3 = TestStreams.lame(8000, 1, 1.0, "-V", "6");
        AudioFileFormat f = new MpegAudioFileReader().getAudioFileFormat(new ByteArrayInputStream(mp3));
        assertEquals(MpegEncoding.MPEG2DOT5L3, f.getFormat().getEncoding());
        assertEquals(8000, f.getFrameLength());
        assertEquals("2.5", f.getProperty("mp3.version.mpeg"));
        AudioInputStream source = new MpegAudioFileReader().getAudioInputStream(new ByteArrayInputStream(mp3));
        byte[] pcm = new MpegFormatConversionProvider()
                .getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, source).readAllBytes();
        assertArrayEquals(MpegAudioInputStreamTest.decode(mp3, true), pcm);
        assertEquals(2 * 8000, pcm.length);

        MpegAudioInputStream.Options off = new MpegAudioInputStream.Options().mpeg25(false);
        try {
            new MpegAudioInputStream(new ByteArrayInputStream(mp3), off).close();
            fail("MPEG 2.5 decoded with it turned off");
        } catch (IOException expected) {
            // no MPEG audio in it
        }
        // The frame decoder refuses the header, which with the twelfth sync bit set is an MPEG-2 one.
        byte[] header = Arrays.copyOf(mp3, 4);
        assertEquals(null, MpegAudio.header(header, 4));
        header[1] |= 0x10;
        assertEquals(16000, MpegAudio.header(header, 4).samplingRate);
    }

    /** An ID3v2 header that declares the longest tag there is, 256 MB, which the file holds. */
    private static final byte[] LONGEST_TAG = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};

    @Test
    public void aTagOfAnyDeclaredLengthTakesNoMemoryToLookPast() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-b", "128");
        Path file = Files.createTempFile(TestStreams.dir(), "long-tag", ".mp3");
        Path pcm = Files.createTempFile(TestStreams.dir(), "long-tag", ".raw");
        try {
            try (RandomAccessFile f = new RandomAccessFile(file.toFile(), "rw")) {
                f.write(LONGEST_TAG);
                f.seek(10 + 0x0FFFFFFF);   // past the tag: a hole, quick to write
                f.write(mp3);
            }
            String out = TestStreams.runJava(List.of("-Xmx64m"), LongTagProbe.class, file.toString(),
                    pcm.toString());
            assertEquals("MP3\nMPEG1L3\nMPEG1L3\nMPEG1L3\n", out.replace("\r", ""));
            byte[] expected = MpegAudioInputStreamTest.decode(mp3, true);
            assertArrayEquals(MpegAudioInputStreamTest.concat(expected, expected, expected), Files.readAllBytes(pcm));
        } finally {
            Files.delete(file);
            Files.delete(pcm);
        }
    }

    /**
     * Through AudioSystem: the file's type, then its PCM (args[1]) as a File, as a URL and as a plain
     * stream, which cannot be reset past the tag and is handed on instead.
     */
    public static final class LongTagProbe {
        public static void main(String[] args) throws Exception {
            File file = new File(args[0]);
            System.out.print(AudioSystem.getAudioFileFormat(file).getType() + "\n");
            try (OutputStream pcm = new FileOutputStream(args[1]);
                 InputStream stream = new BufferedInputStream(new FileInputStream(file))) {
                for (AudioInputStream mpeg : new AudioInputStream[] {AudioSystem.getAudioInputStream(file),
                    AudioSystem.getAudioInputStream(file.toURI().toURL()), AudioSystem.getAudioInputStream(stream)}) {
                    System.out.print(mpeg.getFormat().getEncoding() + "\n");
                    AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg).transferTo(pcm);
                }
            }
        }
    }

    @Test
    public void plainJavaSoundDecodesWithOnlyTheJarOnTheClassPath() throws Exception {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "sound");
        Path program = dir.resolve("Convert.java");
        Files.writeString(program, PLAIN_JAVA_SOUND);
        Path mp3 = dir.resolve("in.mp3");
        Files.write(mp3, TestStreams.lame(44100, 2, 1.0, "-V", "3"));
        Path out = dir.resolve("out.wav");
        StringBuilder log = new StringBuilder();
        // No java.library.path: the library comes out of the jar.
        int status = exec(log, java("-cp", jar().getAbsolutePath(), program.toString(), mp3.toString(),
                out.toString(), TestStreams.signal(44100, 2, 1.0).toString()));
        assertEquals(log.toString(), 0, status);
        assertEquals("WAVE\nMPEG1L3\n", log.toString().replace("\r", ""));
        byte[] expected = MpegAudioInputStreamTest.decode(Files.readAllBytes(mp3), true);
        assertArrayEquals(expected, wavData(out));
    }

    @Test
    public void commandLineDecodesDescribesAndFailsClearly() throws Exception {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "cli");
        Path mp3 = dir.resolve("in.mp3");
        byte[] data = TestStreams.lame(44100, 1, 1.0, "-b", "64", "-m", "m");
        Files.write(mp3, data);
        Path wav = dir.resolve("out.wav");
        String jar = jar().getAbsolutePath();
        StringBuilder log = new StringBuilder();
        assertEquals(log.toString(), 0, exec(log, java("-jar", jar, mp3.toString(), wav.toString())));
        assertArrayEquals(MpegAudioInputStreamTest.decode(data, true), wavData(wav));
        byte[] header = Arrays.copyOf(Files.readAllBytes(wav), 44);
        assertArrayEquals(MpegAudioTool.wavHeader(new AudioFormat(44100, 16, 1, true, false), 88200), header);

        log.setLength(0);
        assertEquals(0, exec(log, java("-jar", jar, "--info", mp3.toString())));
        String info = log.toString();
        for (String s : new String[] {"MPEG-1 Layer III, 44100 Hz, mono, 64 kbit/s", "frames:    40",
            "encoder delay 576", "0:00:01.000 (44100 samples, exact)"}) {
            assertTrue(info, info.contains(s));
        }

        log.setLength(0);
        assertEquals(1, exec(log, java("-jar", jar, dir.resolve("missing.mp3").toString(), wav.toString())));
        assertTrue(log.toString(), log.toString().contains("no such file"));
        log.setLength(0);
        assertEquals(1, exec(log, java("-jar", jar, TestStreams.signal(44100, 2, 1.0).toString(), wav.toString())));
        assertTrue(log.toString(), log.toString().contains("no MPEG audio frames"));
        assertEquals(2, exec(new StringBuilder(), java("-jar", jar, "--bogus", "a", "b")));
        assertEquals(2, exec(new StringBuilder(), java("-jar", jar, mp3.toString())));
    }
}

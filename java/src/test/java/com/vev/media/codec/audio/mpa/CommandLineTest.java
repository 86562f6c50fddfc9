package com.vev.media.codec.audio.mpa;

import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.tools.ToolProvider;
import org.junit.Assume;
import org.junit.Test;

/** java -jar rovaz.jar as a user runs it, from a folder of its own; the README's Java examples. */
public class CommandLineTest {
    private static final String TITLE = "Blue in Green";
    private static final String ARTIST = "Bill Evans";

    private static final class Ran {
        final int status;
        final byte[] out;
        final String err;

        Ran(int status, byte[] out, String err) {
            this.status = status;
            this.out = out;
            this.err = err;
        }
    }

    private static File build(String name) {
        return new File(System.getProperty("rovaz.build", "build"), name).getAbsoluteFile();
    }

    private static List<String> rovaz(String... args) {
        List<String> cmd = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java", "-jar",
                build("rovaz.jar").getPath()));
        cmd.addAll(Arrays.asList(args));
        return cmd;
    }

    /** Runs cmd in dir; standard input from the file stdin, or else the bytes pipe through a pipe. */
    private static Ran run(Path dir, Path stdin, byte[] pipe, List<String> cmd) throws Exception {
        Path err = Files.createTempFile(dir, "err", ".txt");
        ProcessBuilder b = new ProcessBuilder(cmd).directory(dir.toFile()).redirectError(err.toFile());
        if (stdin != null) {
            b.redirectInput(stdin.toFile());
        }
        Process p = b.start();
        Thread feed = new Thread(() -> {
            try (OutputStream in = p.getOutputStream()) {
                in.write(pipe != null ? pipe : new byte[0]);
            } catch (IOException e) {
                // it stopped reading: its status tells
            }
        });
        feed.start();
        byte[] out = p.getInputStream().readAllBytes();
        int status = p.waitFor();
        feed.join();
        return new Ran(status, out, Files.readString(err));
    }

    private static Path song(Path dir) throws IOException {
        byte[] tag = JavaSoundInputsTest.id3v2(3, false, "TIT2", TITLE, "TPE1", ARTIST);
        byte[] mp3 = TestStreams.lame(44100, 2, 1.0, "-V", "4");
        return Files.write(dir.resolve("song.mp3"), MpegAudioInputStreamTest.concat(tag, mp3));
    }

    @Test
    public void decodesAtEachPrecisionAndFromAnyStartOfAFileOrStandardInput() throws Exception {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "cli");
        // 96 kB: more than the first reads from a pipe bring in.
        byte[] mp3 = TestStreams.lame(44100, 2, 6.0, "-b", "128");
        Path in = Files.write(dir.resolve("in.mp3"), mp3);
        Object[][] precisions = {{"--bits", "24", "24", AudioFormat.Encoding.PCM_SIGNED, 24},
            {"--float", null, "f32", AudioFormat.Encoding.PCM_FLOAT, 32}};
        for (Object[] p : precisions) {
            String what = p[0] + " " + p[2];
            List<String> cmd = rovaz((String) p[0]);
            if (p[1] != null) {
                cmd.add((String) p[1]);
            }
            cmd.addAll(List.of("in.mp3", "out.wav"));
            Ran ran = run(dir, null, null, cmd);
            assertEquals(ran.err, 0, ran.status);
            assertTrue(ran.err, ran.err.matches("(?s).*, 6\\.000 s of audio in \\d+\\.\\d{3} s \\(\\d+x real time\\)\n"));
            assertEquals(0, run(dir, null, null, List.of(build("mpadec").getPath(), "--raw", "--bits", (String) p[2],
                    "in.mp3", "out.raw")).status);
            byte[] expected = Files.readAllBytes(dir.resolve("out.raw"));
            Path wav = dir.resolve("out.wav");
            try (AudioInputStream s = AudioSystem.getAudioInputStream(wav.toFile())) {
                AudioFormat f = s.getFormat();
                assertEquals(what, p[3], f.getEncoding());
                assertEquals(what, p[4], f.getSampleSizeInBits());
                assertEquals(what, expected.length / f.getFrameSize(), s.getFrameLength());
                assertArrayEquals(what, expected, s.readAllBytes());
            }
            if (p[3] == AudioFormat.Encoding.PCM_FLOAT) {
                // A float WAV without a fact chunk is not quite one; its count is of sample periods.
                byte[] h = Files.readAllBytes(wav);
                String text = new String(h, 0, 64, ISO_8859_1);
                assertEquals(18, ByteBuffer.wrap(h, 16, 4).order(ByteOrder.LITTLE_ENDIAN).getInt());
                assertTrue(text, text.contains("fact"));
                assertEquals(expected.length / 8, ByteBuffer.wrap(h, text.indexOf("fact") + 8, 4)
                        .order(ByteOrder.LITTLE_ENDIAN).getInt());
            }
        }

        byte[] full = MpegAudioInputStreamTest.decode(mp3, true);
        for (double start : new double[] {0.5, 4.5}) {
            byte[] tail = Arrays.copyOfRange(full, (int) Math.round(start * 44100) * 4, full.length);
            List<String> args = rovaz("--raw", "--start", Double.toString(start), "-", "-");
            List<String> fromFile = rovaz("--raw", "--start", Double.toString(start), "in.mp3", "-");
            Ran[] runs = {run(dir, null, null, fromFile), run(dir, in, null, args), run(dir, null, mp3, args)};
            for (int k = 0; k < runs.length; k++) {
                String what = "--start " + start + (k == 0 ? " file" : k == 1 ? " standard input from the file" : " pipe");
                assertEquals(what + runs[k].err, 0, runs[k].status);
                assertArrayEquals(what, tail, runs[k].out);
            }
        }

        // MPEG 2.5 is decoded unless turned off.
        Files.write(dir.resolve("low.mp3"), TestStreams.lame(8000, 1, 1.0, "-V", "6"));
        Ran low = run(dir, null, null, rovaz("--raw", "low.mp3", "-"));
        assertEquals(low.err, 0, low.status);
        assertEquals(2 * 8000, low.out.length);
        Ran off = run(dir, null, null, rovaz("--raw", "--no-mpeg25", "low.mp3", "-"));
        assertNotEquals(off.err, 0, off.status);
        assertEquals(0, off.out.length);
    }

    @Test
    public void describesTagsAndTheExactLengthOfAFileOrAPipeAndPlaysOrSaysWhyNot() throws Exception {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "cli");
        Path song = song(dir);
        long samples = MpegAudioInputStreamTest.decode(Files.readAllBytes(song), true).length / 4;
        for (boolean pipe : new boolean[] {false, true}) {
            Ran r = run(dir, null, pipe ? Files.readAllBytes(song) : null, rovaz("--info", pipe ? "-" : "song.mp3"));
            String info = new String(r.out, ISO_8859_1);
            assertEquals(r.err, 0, r.status);
            for (String s : new String[] {"title:     " + TITLE, "artist:    " + ARTIST, samples + " samples, exact"}) {
                assertTrue(info, info.contains(s));
            }
        }
        // Most machines that run this have no audio device: then a message that says so.
        Ran r = run(dir, null, null, rovaz("--play", "song.mp3"));
        assertTrue(r.err, r.status == 0 || r.status == 1 && r.err.contains("device"));
    }

    /** The source folder, found upward from the build folder; null when the build is elsewhere. */
    private static Path sources() {
        for (File d = build("."); d != null; d = d.getParentFile()) {
            if (new File(d, "README.md").isFile() && new File(d, "java/src/test").isDirectory()) {
                return d.toPath();
            }
        }
        return null;
    }

    /**
     * Each java block of the README becomes a class (its imports, the rest in main) compiled against the
     * jar; those that need nothing but song.mp3 run in a JVM with only the jar, in a folder with one.
     */
    @Test
    public void readmeJavaExamplesCompileAndTheLocalOnesRun() throws Exception {
        Path sources = sources();
        Assume.assumeTrue("no README beside the build", sources != null);
        String readme = Files.readString(sources.resolve("README.md"));
        Path dir = Files.createTempDirectory(TestStreams.dir(), "readme");
        Path classes = Files.createDirectory(dir.resolve("classes"));
        List<String> javac = new ArrayList<>(List.of("-d", classes.toString(), "-cp", build("rovaz.jar").getPath()));
        List<String> runnable = new ArrayList<>();
        Matcher m = Pattern.compile("```java\n(.*?)```", Pattern.DOTALL).matcher(readme);
        for (int n = 1; m.find(); n++) {
            StringBuilder imports = new StringBuilder();
            StringBuilder body = new StringBuilder();
            for (String line : m.group(1).split("\n")) {
                (line.startsWith("import ") ? imports : body).append(line).append('\n');
            }
            String name = "Readme" + n;
            Path source = dir.resolve(name + ".java");
            Files.writeString(source, imports + "public class " + name
                    + " { public static void main(String[] args) throws Exception {\n" + body + "}}\n");
            javac.add(source.toString());
            String code = m.group(1);
            if (code.contains("song.mp3") && !code.contains("SourceDataLine") && !code.contains("URL")) {
                runnable.add(name);
            }
        }
        ByteArrayOutputStream diagnostics = new ByteArrayOutputStream();
        int status = ToolProvider.getSystemJavaCompiler().run(null, diagnostics, diagnostics,
                javac.toArray(new String[0]));
        assertEquals(diagnostics.toString(), 0, status);

        Path song = song(dir);
        StringBuilder out = new StringBuilder();
        for (String name : runnable) {
            Ran r = run(dir, null, null, List.of(System.getProperty("java.home") + "/bin/java", "-cp",
                    build("rovaz.jar") + File.pathSeparator + classes, name));
            assertEquals(name + ": " + r.err, 0, r.status);
            out.append(new String(r.out, ISO_8859_1));
        }
        assertTrue(out.toString(), out.toString().contains("MP3: " + TITLE + " by " + ARTIST));
        try (AudioInputStream wav = AudioSystem.getAudioInputStream(dir.resolve("song.wav").toFile())) {
            assertArrayEquals(MpegAudioInputStreamTest.decode(Files.readAllBytes(song), true), wav.readAllBytes());
        }
    }
}

package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.Test;

/** Loading librovaz: from the jar, of the wrong version, not at all; in child JVMs with only the jar. */
public class NativeLoaderTest {

    /** What an application sees of the library, one line each; the last lines show where it came from. */
    private static final String PROGRAM = String.join("\n",
        "import com.vev.media.codec.audio.mpa.*;",
        "import java.io.*;",
        "import java.nio.file.*;",
        "import javax.sound.sampled.*;",
        "public class Probe {",
        "    public static void main(String[] a) throws Exception {",
        "        File mp3 = new File(a[0]);",
        "        try {",
        "            System.out.println(\"AudioSystem: \" + AudioSystem.getAudioInputStream(mp3).getFormat());",
        "        } catch (UnsupportedAudioFileException e) {",
        "            System.out.println(\"AudioSystem: refused\");",
        "        }",
        "        try {",
        "            System.out.println(\"reader: \" + new MpegAudioFileReader().getAudioFileFormat(mp3).getType());",
        "        } catch (UnsupportedAudioFileException e) {",
        "            System.out.println(\"reader: \" + e.getMessage());",
        "        }",
        "        MpegFormatConversionProvider p = new MpegFormatConversionProvider();",
        "        AudioFormat f = new AudioFormat(MpegEncoding.MPEG1L3, 44100, -1, 2, -1, -1, false);",
        "        System.out.println(\"conversions: \" + p.getSourceEncodings().length + \" \"",
        "                + p.getTargetEncodings(f).length + \" \" + p.getTargetFormats(AudioFormat.Encoding.PCM_SIGNED, f).length);",
        "        for (int i = 0; i < 2; i++) {",
        "            try (InputStream in = new FileInputStream(mp3)) {",
        "                System.out.println(\"decoder: \" + new MpegAudioInputStream(in).readAllBytes().length);",
        "            } catch (Throwable t) {",
        "                System.out.println(\"decoder: \" + t);",
        "            }",
        "        }",
        "        File[] left = new File(System.getProperty(\"java.io.tmpdir\")).listFiles();",
        "        System.out.println(\"left: \" + (left == null ? \"-\" : left.length));",
        "        for (String line : Files.readAllLines(Paths.get(\"/proc/self/maps\"))) {",
        "            if (line.contains(\"librovaz\")) {",
        "                System.out.println(\"mapped: \" + line.substring(line.indexOf('/')));",
        "                break;",
        "            }",
        "        }",
        "    }",
        "}", "");

    private static final String BUILD = System.getProperty("rovaz.build", "build");

    /** Runs the program in a JVM with only the jar on its class path; its standard output, by line. */
    private static List<String> probe(String... options) throws IOException {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "loader");
        Path program = dir.resolve("Probe.java");
        Files.writeString(program, PROGRAM);
        Path mp3 = dir.resolve("in.mp3");
        Files.write(mp3, TestStreams.lame(44100, 2, 1.0, "-b", "128"));
        List<String> cmd = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java"));
        cmd.addAll(Arrays.asList(options));
        cmd.addAll(List.of("-cp", new File(BUILD, "rovaz.jar").getAbsolutePath(), program.toString(), mp3.toString()));
        Process p = new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.DISCARD).start();
        String out;
        try (InputStream in = p.getInputStream()) {
            out = new String(in.readAllBytes());
        }
        try {
            assertEquals(out, 0, p.waitFor());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
        return Arrays.asList(out.replace("\r", "").split("\n"));
    }

    private static String line(List<String> lines, String key) {
        return lines.stream().filter(l -> l.startsWith(key + ": ")).map(l -> l.substring(key.length() + 2))
                .collect(Collectors.joining("\n"));
    }

    @Test
    public void theJarsCopyIsExtractedForTheOwnerOnlyAndDeletedOnceLoaded() throws Exception {
        Path file = NativeLoader.extract(NativeLoader.resource());
        try {
            assertEquals("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file)));
            assertEquals("rwx------", PosixFilePermissions.toString(Files.getPosixFilePermissions(file.getParent())));
        } finally {
            NativeLoader.delete(file);
        }
        assertFalse(Files.exists(file.getParent()));

        Path tmp = Files.createTempDirectory(TestStreams.dir(), "tmp");
        List<String> lines = probe("-Djava.io.tmpdir=" + tmp);
        assertEquals("MP3", line(lines, "reader"));
        assertEquals(line(lines, "decoder"), "176400\n176400", line(lines, "decoder"));
        // Loaded from the private folder, and gone from it while the JVM still runs.
        assertTrue(line(lines, "mapped"), line(lines, "mapped").matches(tmp + "/rovaz[^/]*/librovaz.so \\(deleted\\)"));
        assertEquals("0", line(lines, "left"));
        try (Stream<Path> left = Files.list(tmp)) {
            assertEquals(0, left.count());
        }
    }

    @Test
    public void platformsAreNamedAsTheJarsFolders() {
        assertEquals("linux-x86_64", NativeLoader.platform("Linux", "amd64"));
        assertEquals("linux-aarch64", NativeLoader.platform("Linux", "aarch64"));
        assertEquals("windows-x86_64", NativeLoader.platform("Windows 11", "amd64"));
        assertEquals("macos-aarch64", NativeLoader.platform("Mac OS X", "aarch64"));
        assertEquals("macos-x86_64", NativeLoader.platform("Mac OS X", "x86_64"));
        assertEquals("freebsd-riscv64", NativeLoader.platform("FreeBSD", "riscv64"));
        assertTrue(NativeLoader.platformsInJar().contains("linux-x86_64"));
    }

    @Test
    public void aLibraryOfAnotherVersionIsRefused() throws Exception {
        File other = new File(BUILD, "other-version/librovaz.so").getAbsoluteFile();
        List<String> lines = probe("-Djava.library.path=" + other.getParent());
        String expected = "java.lang.UnsatisfiedLinkError: cannot use librovaz: " + other
                + " (found on java.library.path) is version 0.0.0, but this jar needs version " + BuildVersion.VERSION;
        String[] decoder = line(lines, "decoder").split("\n");
        assertTrue(decoder[0], decoder[0].startsWith(expected + ": "));
        assertEquals(decoder[0], decoder[1]);
        assertEquals("refused", line(lines, "AudioSystem"));
        assertEquals("0 0 0", line(lines, "conversions"));
    }

    @Test
    public void withoutAUsableLibraryNothingIsClaimedAndEveryUseSaysWhy() throws Exception {
        // Root writes anywhere: a folder that is not there stands for one that cannot be written.
        Path missing = TestStreams.dir().resolve("no-such-folder");
        List<String> lines = probe("-Djava.io.tmpdir=" + missing);
        assertEquals("refused", line(lines, "AudioSystem"));
        assertEquals("0 0 0", line(lines, "conversions"));
        String why = "cannot load librovaz: no librovaz.so on java.library.path (";
        String extracting = "and extracting the jar's " + NativeLoader.resource() + " into java.io.tmpdir ("
                + missing + ") failed: java.nio.file.NoSuchFileException: " + missing;
        String reader = line(lines, "reader");
        assertTrue(reader, reader.startsWith("MPEG audio cannot be decoded without the native library: " + why));
        assertTrue(reader, reader.contains(extracting));
        String[] decoder = line(lines, "decoder").split("\n");
        assertTrue(decoder[0], decoder[0].startsWith("java.lang.UnsatisfiedLinkError: " + why));
        assertTrue(decoder[0], decoder[0].contains(extracting));
        assertEquals(decoder[0], decoder[1]);
    }
}

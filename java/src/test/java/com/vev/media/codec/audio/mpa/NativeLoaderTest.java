package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
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
        "import java.net.*;",
        "import java.nio.file.*;",
        "import java.util.*;",
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
        "        // The same classes in a loader of their own: the library once more, from another file.",
        "        URL jar = MpegAudioInputStream.class.getProtectionDomain().getCodeSource().getLocation();",
        "        try (URLClassLoader other = new URLClassLoader(new URL[] {jar}, ClassLoader.getPlatformClassLoader());",
        "                InputStream s = (InputStream) other.loadClass(MpegAudioInputStream.class.getName())",
        "                        .getConstructor(InputStream.class).newInstance(new FileInputStream(mp3))) {",
        "            System.out.println(\"isolated: \" + s.readAllBytes().length);",
        "        } catch (Throwable t) {",
        "            System.out.println(\"isolated: \" + (t.getCause() != null ? t.getCause() : t));",
        "        }",
        "        Set<String> mapped = new TreeSet<>();",
        "        for (String line : Files.readAllLines(Paths.get(\"/proc/self/maps\"))) {",
        "            if (line.contains(\"librovaz\")) {",
        "                mapped.add(line.substring(line.indexOf('/')));",
        "            }",
        "        }",
        "        mapped.forEach(m -> System.out.println(\"mapped: \" + m));",
        "    }",
        "}", "");

    private static final String BUILD = System.getProperty("rovaz.build", "build");
    /** The mapping of a library extracted into a private folder of the folder TMP, deleted once loaded. */
    private static final String PRIVATE_COPY = "TMP/rovaz[^/]*/librovaz.so \\(deleted\\)";

    /** Starts the program in a JVM with only the jar on its class path. */
    private static Process start(String... options) throws IOException {
        Path dir = Files.createTempDirectory(TestStreams.dir(), "loader");
        Path program = dir.resolve("Probe.java");
        Files.writeString(program, PROGRAM);
        Path mp3 = dir.resolve("in.mp3");
        Files.write(mp3, TestStreams.lame(44100, 2, 1.0, "-b", "128"));
        List<String> cmd = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java"));
        cmd.addAll(Arrays.asList(options));
        cmd.addAll(List.of("-cp", new File(BUILD, "rovaz.jar").getAbsolutePath(), program.toString(), mp3.toString()));
        return new ProcessBuilder(cmd).redirectError(ProcessBuilder.Redirect.DISCARD).start();
    }

    /** Runs the program as {@link #start} does; its standard output, by line. */
    private static List<String> probe(String... options) throws IOException {
        return finish(start(options));
    }

    private static List<String> finish(Process p) throws IOException {
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

    private static List<Path> list(Path dir) throws IOException {
        try (Stream<Path> files = Files.list(dir)) {
            return files.collect(Collectors.toList());
        }
    }

    private static String permissions(Path p) throws IOException {
        return PosixFilePermissions.toString(Files.getPosixFilePermissions(p));
    }

    @Test
    public void theJarsCopyIsCachedForTheOwnerOnlyReplacedWhenItDiffersAndNotUsedFromAFolderOthersWrite()
            throws Exception {
        byte[] library;
        try (InputStream in = NativeLoader.class.getResourceAsStream("/" + NativeLoader.resource())) {
            library = in.readAllBytes();
        }
        // JVMs that start together on an empty cache: one copy, complete, with no part-written files left;
        // a second class loader, which cannot load the cached file again, takes a private copy.
        Path tmp = Files.createTempDirectory(TestStreams.dir(), "tmp");
        Path cache = tmp.resolve(NativeLoader.cacheFolder().getFileName());
        List<Process> together = new ArrayList<>();
        for (int i = 0; i < 3; i++) {
            together.add(start("-Djava.io.tmpdir=" + tmp));
        }
        for (Process p : together) {
            List<String> lines = finish(p);
            assertEquals("MP3", line(lines, "reader"));
            assertEquals(line(lines, "decoder"), "176400\n176400", line(lines, "decoder"));
            assertEquals("176400", line(lines, "isolated"));
            // Replaced by another JVM's copy as it was loaded, the file is gone but the mapping is the same.
            assertTrue(line(lines, "mapped"), line(lines, "mapped").matches(cache + "/librovaz-"
                    + BuildVersion.VERSION.replace(".", "\\.") + "-" + library.length + "-[0-9a-f]+\\.so( \\(deleted\\))?\n"
                    + PRIVATE_COPY.replace("TMP", tmp.toString())));
        }
        assertEquals(List.of(cache), list(tmp));
        assertEquals("rwx------", permissions(cache));
        List<Path> cached = list(cache);
        assertEquals(1, cached.size());
        Path file = cached.get(0);
        assertEquals("rw-------", permissions(file));
        assertArrayEquals(library, Files.readAllBytes(file));

        // A copy that is not the jar's any more, though of its size, is written anew and that is loaded.
        byte[] damaged = library.clone();
        damaged[damaged.length / 2] ^= 1;
        Files.write(file, damaged);
        List<String> lines = probe("-Djava.io.tmpdir=" + tmp);
        assertEquals(line(lines, "decoder"), "176400\n176400", line(lines, "decoder"));
        assertTrue(line(lines, "mapped"), line(lines, "mapped").startsWith(file + "\n"));
        assertArrayEquals(library, Files.readAllBytes(file));

        // A cache folder (here named by rovaz.cache) that others may write is left alone: the library
        // comes from a private folder, gone once it is loaded.
        Path shared = Files.createDirectory(tmp.resolve("shared"));
        Files.setPosixFilePermissions(shared, PosixFilePermissions.fromString("rwxrwxrwx"));
        lines = probe("-Djava.io.tmpdir=" + tmp, "-D" + NativeLoader.CACHE_PROPERTY + "=" + shared);
        assertEquals(line(lines, "decoder"), "176400\n176400", line(lines, "decoder"));
        String two = PRIVATE_COPY + "\n" + PRIVATE_COPY;
        assertTrue(line(lines, "mapped"), line(lines, "mapped").matches(two.replace("TMP", tmp.toString())));
        assertEquals(List.of(), list(shared));
        assertEquals(2, list(tmp).size());

        // The private folder itself: the owner's only, and removed with the file.
        Path own = NativeLoader.extract(NativeLoader.resource());
        try {
            assertEquals("rw-------", permissions(own));
            assertEquals("rwx------", permissions(own.getParent()));
        } finally {
            NativeLoader.delete(own);
        }
        assertFalse(Files.exists(own.getParent()));
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

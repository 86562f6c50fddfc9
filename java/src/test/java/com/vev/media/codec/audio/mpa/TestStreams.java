package com.vev.media.codec.audio.mpa;

import static org.junit.Assume.assumeTrue;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Streams for the tests (those of the encoded_streams fixture), a scratch folder and process helpers. */
final class TestStreams {
    private static Path dir;

    private TestStreams() {
    }

    static synchronized Path dir() throws IOException {
        if (dir == null) {
            Path d = Files.createTempDirectory("rovaz-test");
            // deleteOnExit removes only empty folders: this one goes with all it holds.
            Runtime.getRuntime().addShutdownHook(new Thread(() -> deleteTree(d.toFile())));
            dir = d;
        }
        return dir;
    }

    private static void deleteTree(File f) {
        File[] children = f.listFiles();
        if (children != null) {
            for (File c : children) {
                deleteTree(c);
            }
        }
        f.delete();
    }

    /**
     * The folder of the encoded streams, which the encoded_streams fixture fills once per build from
     * tests/encoded_streams.txt: the property rovaz.streams, else build/test-streams.
     */
    private static Path streams() {
        return Path.of(System.getProperty("rovaz.streams", "build/test-streams"));
    }

    /** A file of the fixture's, named as encode_streams.sh names it; skips the test when tool is missing. */
    private static Path made(String tool, String name) throws IOException {
        Path p = streams().resolve(name);
        if (!Files.isRegularFile(p)) {
            assumeTrue(tool + " is not installed", onPath(tool));
            throw new IOException(p + " is missing: is it listed in tests/encoded_streams.txt?");
        }
        return p;
    }

    private static boolean onPath(String tool) {
        for (String d : System.getenv().getOrDefault("PATH", "").split(File.pathSeparator)) {
            if (Files.isExecutable(Path.of(d, tool))) {
                return true;
            }
        }
        return false;
    }

    private static String settings(int rate, int channels, double seconds) {
        String s = Double.toString(seconds);
        return "tones_" + rate + "_" + channels + "_" + (s.endsWith(".0") ? s.substring(0, s.length() - 2) : s);
    }

    /** The signal (440 Hz and 1250 Hz) as a WAV file. */
    static Path signal(int rate, int channels, double seconds) throws IOException {
        return made("sox", "signal_" + settings(rate, channels, seconds) + ".wav");
    }

    /** The signal encoded with lame; extra holds lame options. */
    static byte[] lame(int rate, int channels, double seconds, String... extra) throws IOException {
        return encoded("lame", rate, channels, seconds, extra);
    }

    /** The signal encoded with twolame (Layer II); extra holds twolame options. */
    static byte[] twolame(int rate, int channels, double seconds, String... extra) throws IOException {
        return encoded("twolame", rate, channels, seconds, extra);
    }

    private static byte[] encoded(String encoder, int rate, int channels, double seconds, String... extra)
            throws IOException {
        signal(rate, channels, seconds);
        String name = encoder + "_" + settings(rate, channels, seconds) + "_" + String.join("_", extra) + ".mpa";
        return Files.readAllBytes(made(encoder, name));
    }

    /** A conformance bitstream, or null when the folder is not there. */
    static byte[] conformance(String name) throws IOException {
        File f = new File(System.getProperty("rovaz.conformance", "../shared/conformance"), name);
        return f.isFile() ? Files.readAllBytes(f.toPath()) : null;
    }

    static String run(String... cmd) throws IOException {
        Process p = new ProcessBuilder(cmd).redirectErrorStream(true).start();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream in = p.getInputStream()) {
            in.transferTo(out);
        }
        try {
            int code = p.waitFor();
            if (code != 0) {
                throw new IOException(String.join(" ", cmd) + " exited with " + code + ": " + out);
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
        return out.toString();
    }

    /** Runs main of a class in a fresh JVM with this JVM's class and library paths; returns its stdout. */
    static String runJava(Class<?> main, String... args) throws IOException {
        return runJava(List.of(), main, args);
    }

    /** Runs main of a class in a fresh JVM with these options first; returns its output. */
    static String runJava(List<String> options, Class<?> main, String... args) throws IOException {
        List<String> cmd = new ArrayList<>();
        cmd.add(System.getProperty("java.home") + "/bin/java");
        cmd.addAll(options);
        cmd.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        cmd.add("-cp");
        cmd.add(System.getProperty("java.class.path"));
        cmd.add(main.getName());
        cmd.addAll(Arrays.asList(args));
        return run(cmd.toArray(new String[0]));
    }
}

package com.vev.media.codec.audio.mpa;

import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** Streams for the tests, made at test time with sox, lame and twolame, and cached per JVM. */
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

    /** A synthesised signal (two tones) as a WAV file; no dither, so the same bytes every run. */
    static Path signal(int rate, int channels, double seconds) throws IOException {
        Path wav = dir().resolve("signal-" + rate + "-" + channels + "-" + seconds + ".wav");
        if (!Files.exists(wav)) {
            run("sox", "-D", "-n", "-r", Integer.toString(rate), "-c", Integer.toString(channels), "-b", "16",
                    wav.toString(), "synth", Double.toString(seconds), "sine", "440", "sine", "1250",
                    "gain", "-6");
        }
        return wav;
    }

    /** Encodes with lame; extra holds lame options. */
    static byte[] lame(int rate, int channels, double seconds, String... extra) throws IOException {
        Path out = dir().resolve("lame-" + rate + "-" + channels + "-" + seconds + "-" + String.join("_", extra)
                + ".mp3");
        if (!Files.exists(out)) {
            List<String> cmd = new ArrayList<>(Arrays.asList("lame", "--quiet"));
            cmd.addAll(Arrays.asList(extra));
            cmd.add(signal(rate, channels, seconds).toString());
            cmd.add(out.toString());
            run(cmd.toArray(new String[0]));
        }
        return Files.readAllBytes(out);
    }

    /** Encodes with twolame (Layer II); extra holds twolame options. */
    static byte[] twolame(int rate, int channels, double seconds, String... extra) throws IOException {
        Path out = dir().resolve("twolame-" + rate + "-" + channels + "-" + seconds + "-"
                + String.join("_", extra) + ".mp2");
        if (!Files.exists(out)) {
            List<String> cmd = new ArrayList<>(Arrays.asList("twolame", "--quiet"));
            cmd.addAll(Arrays.asList(extra));
            cmd.add(signal(rate, channels, seconds).toString());
            cmd.add(out.toString());
            run(cmd.toArray(new String[0]));
        }
        return Files.readAllBytes(out);
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

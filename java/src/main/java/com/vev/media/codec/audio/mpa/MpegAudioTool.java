package com.vev.media.codec.audio.mpa;

import java.io.BufferedInputStream;
import java.io.BufferedOutputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Command line of the jar: decodes an MP1, MP2 or MP3 file to WAV, or describes it.
 *
 * <pre>
 * java -jar rovaz.jar [--raw] [--no-gapless] INPUT OUTPUT
 * java -jar rovaz.jar --info INPUT
 * </pre>
 *
 * "-" stands for standard input or output. Exit status: 0 done, 1 failed, 2 wrong arguments.
 */
public final class MpegAudioTool {
    private static final String NAME = "rovaz";
    private static final long PROGRESS_AFTER_NANOS = 1_000_000_000L;
    private static final long PROGRESS_EVERY_NANOS = 250_000_000L;

    private final PrintStream err;

    private MpegAudioTool(PrintStream err) {
        this.err = err;
    }

    /** Runs the command line and exits with its status. */
    public static void main(String[] args) {
        System.exit(new MpegAudioTool(System.err).run(args));
    }

    private static void usage(PrintStream s) {
        s.println("usage: java -jar rovaz.jar [--raw] [--no-gapless] INPUT OUTPUT.wav");
        s.println("       java -jar rovaz.jar --info INPUT");
        s.println("  Decodes MPEG-1/2 audio (Layer I, II or III) to a 16-bit WAV file, or with --raw to");
        s.println("  headerless interleaved little-endian PCM. \"-\" reads standard input or writes");
        s.println("  standard output. --no-gapless keeps the encoder delay and padding that a LAME tag");
        s.println("  declares. --info describes the file: format, frames, duration, tags.");
    }

    int run(String[] args) {
        boolean raw = false;
        boolean gapless = true;
        boolean info = false;
        List<String> files = new ArrayList<>();
        for (String a : args) {
            switch (a) {
                case "--raw":
                    raw = true;
                    break;
                case "--no-gapless":
                    gapless = false;
                    break;
                case "--info":
                    info = true;
                    break;
                case "-h":
                case "--help":
                    usage(System.out);
                    return 0;
                default:
                    if (a.length() > 1 && a.startsWith("-")) {
                        err.println(NAME + ": unknown option " + a);
                        usage(err);
                        return 2;
                    }
                    files.add(a);
            }
        }
        if (files.size() != (info ? 1 : 2)) {
            usage(err);
            return 2;
        }
        try {
            return info ? info(files.get(0)) : decode(files.get(0), files.get(1), raw, gapless);
        } catch (NoSuchFileException e) {
            err.println(NAME + ": no such file: " + e.getFile());
        } catch (IOException e) {
            err.println(NAME + ": " + e.getMessage());
        } catch (RuntimeException | UnsatisfiedLinkError e) {
            err.println(NAME + ": " + e);
        }
        return 1;
    }

    private static InputStream openInput(String name) throws IOException {
        if (name.equals("-")) {
            return new BufferedInputStream(System.in);
        }
        return new BufferedInputStream(Files.newInputStream(Path.of(name)));
    }

    private int decode(String input, String output, boolean raw, boolean gapless) throws IOException {
        long inputBytes = input.equals("-") ? -1 : new File(input).length();
        MpegAudioInputStream pcm;
        InputStream in = openInput(input);
        try {
            pcm = new MpegAudioInputStream(in, gapless);
        } catch (IOException e) {
            in.close();
            throw new IOException(e.getMessage() + " in " + input, e);
        }
        boolean toStdout = output.equals("-");
        long dataBytes = 0;
        long start = System.nanoTime();
        try (MpegAudioInputStream source = pcm;
             OutputStream out = toStdout ? System.out : Files.newOutputStream(Path.of(output))) {
            OutputStream buffered = new BufferedOutputStream(out, 1 << 16);
            if (!raw) {
                buffered.write(wavHeader(pcm.getSampleRate(), pcm.getChannels(), 0xFFFFFFFFL - 36));
            }
            byte[] b = new byte[1 << 16];
            long nextReport = start + PROGRESS_AFTER_NANOS;
            boolean reported = false;
            for (int n; (n = source.read(b)) > 0; ) {
                buffered.write(b, 0, n);
                dataBytes += n;
                long now = System.nanoTime();
                if (now >= nextReport) {
                    progress(source, inputBytes, dataBytes);
                    reported = true;
                    nextReport = now + PROGRESS_EVERY_NANOS;
                }
            }
            buffered.flush();
            if (reported) {
                err.println();
            }
        }
        if (!raw && !toStdout) {
            patchWavSizes(output, dataBytes);
        }
        double seconds = (double) dataBytes / pcm.getFrameSize() / pcm.getSampleRate();
        double elapsed = Math.max(1e-9, (System.nanoTime() - start) / 1e9);
        err.printf(Locale.ROOT, "%s: %d frames decoded, %d skipped (damaged), %d without output, %d Hz, "
                        + "%d channel%s, %.3f s of audio in %.3f s (%.0fx real time)%n", NAME,
                pcm.getFramesDecoded(), pcm.getFramesSkipped(), pcm.getFramesWithoutOutput(),
                pcm.getSampleRate(), pcm.getChannels(), pcm.getChannels() == 1 ? "" : "s", seconds,
                elapsed, seconds / elapsed);
        return 0;
    }

    private void progress(MpegAudioInputStream s, long inputBytes, long dataBytes) {
        double seconds = (double) dataBytes / s.getFrameSize() / s.getSampleRate();
        String done = inputBytes > 0
                ? String.format(Locale.ROOT, "%3d%% ", Math.min(100, s.getStreamPosition() * 100 / inputBytes))
                : "";
        err.printf(Locale.ROOT, "\r%s: %s%s decoded", NAME, done, clock(seconds));
        err.flush();
    }

    /** The 44-byte header of a 16-bit PCM WAV file with dataBytes of samples (clamped to 32 bits). */
    static byte[] wavHeader(int rate, int channels, long dataBytes) {
        long data = Math.min(dataBytes, 0xFFFFFFFFL - 36);
        byte[] h = new byte[44];
        put(h, 0, "RIFF");
        le(h, 4, data + 36, 4);
        put(h, 8, "WAVEfmt ");
        le(h, 16, 16, 4);
        le(h, 20, 1, 2);   // PCM
        le(h, 22, channels, 2);
        le(h, 24, rate, 4);
        le(h, 28, (long) rate * channels * 2, 4);
        le(h, 32, channels * 2, 2);
        le(h, 34, 16, 2);
        put(h, 36, "data");
        le(h, 40, data, 4);
        return h;
    }

    private static void patchWavSizes(String output, long dataBytes) throws IOException {
        if (dataBytes > 0xFFFFFFFFL - 36) {
            return;   // too long for WAV: the header keeps its maximal sizes
        }
        try (RandomAccessFile f = new RandomAccessFile(output, "rw")) {
            byte[] size = new byte[4];
            le(size, 0, dataBytes + 36, 4);
            f.seek(4);
            f.write(size);
            le(size, 0, dataBytes, 4);
            f.seek(40);
            f.write(size);
        }
    }

    private static void put(byte[] b, int at, String ascii) {
        for (int i = 0; i < ascii.length(); i++) {
            b[at + i] = (byte) ascii.charAt(i);
        }
    }

    private static void le(byte[] b, int at, long v, int n) {
        for (int i = 0; i < n; i++) {
            b[at + i] = (byte) (v >>> (8 * i));
        }
    }

    private static String clock(double seconds) {
        long ms = Math.round(seconds * 1000);
        return String.format(Locale.ROOT, "%d:%02d:%02d.%03d", ms / 3_600_000, ms / 60_000 % 60, ms / 1000 % 60,
                ms % 1000);
    }

    private int info(String input) throws IOException {
        byte[] d;
        try (InputStream in = input.equals("-") ? System.in : new FileInputStream(input)) {
            d = in.readAllBytes();
        }
        int p = 0;
        long id3v2 = 0;
        for (int t; (t = Tags.id3v2Length(d, p, d.length - p)) > 0; p = (int) Math.min(d.length, (long) p + t)) {
            id3v2 += t;
        }
        int end = Tags.audioEnd(d, p, d.length, null);
        MpegStreamInfo s = MpegStreamInfo.parse(id3v2, d, p, end - p);
        if (s == null) {
            err.println(NAME + ": no MPEG audio frames found in " + input);
            return 1;
        }
        // Walk the frames as the decoder finds them.
        long frames = 0;
        long garbage = 0;
        int minRate = Integer.MAX_VALUE;
        int maxRate = 0;
        FrameHeader previous = null;
        for (int at = p; at < end; ) {
            FrameHeader h = FrameHeader.find(d, at, end - at, previous);
            if (h == null) {
                garbage += end - at;
                break;
            }
            garbage += h.offset;
            frames++;
            minRate = Math.min(minRate, h.bitRate());
            maxRate = Math.max(maxRate, h.bitRate());
            at += h.offset + Math.max(1, h.frameBytes);
            previous = h;
        }
        boolean infoFrame = s.getInfoTag() != null;
        long audioFrames = frames - (infoFrame ? 1 : 0);
        PrintStream o = System.out;
        o.println("file:      " + input + " (" + d.length + " bytes)");
        o.printf(Locale.ROOT, "format:    %s, %d Hz, %s, %s%n", s.firstHeader().describe(), s.getSampleRate(),
                s.getChannelMode(), minRate == 0 ? "free format"
                        : minRate == maxRate ? minRate + " kbit/s" : "VBR " + minRate + "-" + maxRate + " kbit/s");
        o.println("frames:    " + audioFrames + (garbage > 0 ? " (" + garbage + " bytes between frames)" : ""));
        List<String> tags = new ArrayList<>();
        if (id3v2 > 0) {
            tags.add("ID3v2 (" + id3v2 + " bytes)");
        }
        Tags.audioEnd(d, p, d.length, tags);
        o.println("tags:      " + (tags.isEmpty() ? "none" : String.join(", ", tags)));
        if (infoFrame) {
            o.println("info:      " + s.getInfoTag() + " frame"
                    + (s.getFrameCount() >= 0 ? ", " + s.getFrameCount() + " frames" : "")
                    + (s.getEncoder() != null ? ", encoder " + s.getEncoder() : ""));
        }
        if (s.getEncoderDelay() >= 0) {
            o.println("gapless:   encoder delay " + s.getEncoderDelay() + ", padding " + s.getEncoderPadding()
                    + " samples");
        }
        long samples = s.getSampleCount() >= 0 ? s.getSampleCount() : audioFrames * s.getSamplesPerFrame();
        o.printf(Locale.ROOT, "duration:  %s (%d samples)%n", clock((double) samples / s.getSampleRate()), samples);
        return 0;
    }
}

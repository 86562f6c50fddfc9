package com.vev.media.codec.audio.mpa;

import java.io.BufferedOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.net.MalformedURLException;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.SourceDataLine;

/**
 * Command line of the jar: decodes an MP1, MP2 or MP3 file or URL to WAV, plays it, or describes it.
 *
 * <pre>
 * java -jar rovaz.jar [OPTIONS] INPUT OUTPUT
 * java -jar rovaz.jar [OPTIONS] --play INPUT
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
        s.println("usage: java -jar rovaz.jar [OPTIONS] INPUT OUTPUT.wav");
        s.println("       java -jar rovaz.jar [OPTIONS] --play INPUT");
        s.println("       java -jar rovaz.jar --info INPUT");
        s.println("  Decodes MPEG-1/2 audio (Layer I, II or III) to a WAV file, or plays it on the default");
        s.println("  audio device. INPUT is a file, an http(s) URL (Icecast/SHOUTcast too) or \"-\" for");
        s.println("  standard input; OUTPUT \"-\" writes standard output.");
        s.println("  --bits 16|24|32   sample size (16: rounded to nearest)   --float   32-bit float samples");
        s.println("  --start SECONDS   begin there (a file seeks straight to it)");
        s.println("  --raw             headerless interleaved little-endian PCM instead of WAV");
        s.println("  --no-gapless      keep the encoder delay and padding that a LAME tag declares");
        s.println("  --info            describe the input: format, exact length, tags");
    }

    int run(String[] args) {
        boolean raw = false;
        boolean info = false;
        boolean play = false;
        double start = 0;
        MpegAudioInputStream.Options o = new MpegAudioInputStream.Options();
        List<String> files = new ArrayList<>();
        try {
            for (int i = 0; i < args.length; i++) {
                String a = args[i];
                switch (a) {
                    case "--raw":
                        raw = true;
                        break;
                    case "--no-gapless":
                        o.gapless(false);
                        break;
                    case "--info":
                        info = true;
                        break;
                    case "--play":
                        play = true;
                        break;
                    case "--float":
                        o.sampleFormat(MpegAudioInputStream.SampleFormat.FLOAT_32);
                        break;
                    case "--bits":
                        o.sampleFormat(bits(value(args, ++i, a)));
                        break;
                    case "--start":
                        start = Double.parseDouble(value(args, ++i, a));
                        if (!(start >= 0) || Double.isInfinite(start)) {
                            throw new IllegalArgumentException("--start needs a time in seconds, not " + args[i]);
                        }
                        break;
                    case "-h":
                    case "--help":
                        usage(System.out);
                        return 0;
                    default:
                        if (a.length() > 1 && a.startsWith("-")) {
                            throw new IllegalArgumentException("unknown option " + a);
                        }
                        files.add(a);
                }
            }
        } catch (IllegalArgumentException e) {   // NumberFormatException included
            err.println(NAME + ": " + e.getMessage());
            usage(err);
            return 2;
        }
        if (files.size() != (info || play ? 1 : 2) || (info && play)) {
            usage(err);
            return 2;
        }
        try {
            if (info) {
                return info(files.get(0));
            }
            try (MpegAudioInputStream pcm = open(files.get(0), o)) {
                if (start > 0) {
                    pcm.seekMicroseconds(Math.round(start * 1e6));
                }
                return play ? play(pcm) : decode(pcm, files.get(0), files.get(1), raw);
            }
        } catch (NoSuchFileException e) {
            err.println(NAME + ": no such file: " + e.getFile());
        } catch (IOException e) {
            err.println(NAME + ": " + e.getMessage());
        } catch (RuntimeException | UnsatisfiedLinkError e) {
            err.println(NAME + ": " + e);
        }
        return 1;
    }

    private static String value(String[] args, int i, String option) {
        if (i >= args.length) {
            throw new IllegalArgumentException(option + " needs a value");
        }
        return args[i];
    }

    private static MpegAudioInputStream.SampleFormat bits(String v) {
        switch (v) {
            case "16":
                return MpegAudioInputStream.SampleFormat.PCM_16;
            case "24":
                return MpegAudioInputStream.SampleFormat.PCM_24;
            case "32":
                return MpegAudioInputStream.SampleFormat.PCM_32;
            default:
                throw new IllegalArgumentException("--bits takes 16, 24 or 32, not " + v);
        }
    }

    private MpegAudioInputStream open(String input, MpegAudioInputStream.Options o) throws IOException {
        try {
            if (input.equals("-")) {
                return new MpegAudioInputStream(System.in, o);
            }
            if (input.contains("://")) {
                try {
                    return MpegAudioInputStream.open(new URL(input), o.icyListener((title, fields) -> {
                        if (title != null) {
                            err.println(NAME + ": now playing: " + title);
                        }
                    }));
                } catch (MalformedURLException e) {
                    // not a URL after all: a file name
                }
            }
            Path path = Path.of(input);
            if (!Files.exists(path)) {
                throw new NoSuchFileException(input);
            }
            return new MpegAudioInputStream(path, o);
        } catch (NoSuchFileException e) {
            throw e;
        } catch (IOException e) {
            throw new IOException(e.getMessage() + " in " + input, e);
        }
    }

    private int play(MpegAudioInputStream pcm) throws IOException {
        AudioFormat format = pcm.getFormat();
        SourceDataLine line;
        try {
            line = AudioSystem.getSourceDataLine(format);
            line.open(format);
        } catch (LineUnavailableException | IllegalArgumentException | SecurityException e) {
            err.println(NAME + ": no audio output device can play " + format + " here"
                    + (e.getMessage() != null ? " (" + e.getMessage() + ")" : "")
                    + "; decode to a file instead: java -jar rovaz.jar INPUT OUTPUT.wav");
            return 1;
        }
        try {
            line.start();
            byte[] b = new byte[Math.max(4096, line.getBufferSize() / 4 / format.getFrameSize() * format.getFrameSize())];
            for (int n; (n = pcm.read(b)) > 0; ) {
                line.write(b, 0, n);
            }
            line.drain();
        } finally {
            line.close();
        }
        return 0;
    }

    private int decode(MpegAudioInputStream pcm, String input, String output, boolean raw) throws IOException {
        boolean toStdout = output.equals("-");
        long dataBytes = 0;
        long started = System.nanoTime();
        long total = pcm.getFrameLength();
        try (OutputStream out = toStdout ? System.out : Files.newOutputStream(Path.of(output))) {
            OutputStream buffered = new BufferedOutputStream(out, 1 << 16);
            if (!raw) {
                buffered.write(wavHeader(pcm.getFormat(), 0xFFFFFFFFL - 36));
            }
            byte[] b = new byte[1 << 16];
            long nextReport = started + PROGRESS_AFTER_NANOS;
            boolean reported = false;
            for (int n; (n = pcm.read(b)) > 0; ) {
                buffered.write(b, 0, n);
                dataBytes += n;
                long now = System.nanoTime();
                if (now >= nextReport) {
                    progress(pcm, total, dataBytes);
                    reported = true;
                    nextReport = now + PROGRESS_EVERY_NANOS;
                }
            }
            buffered.flush();
            if (reported) {
                err.println();
            }
        }
        if (pcm.nextFormat()) {
            err.println(NAME + ": the sampling rate changes to " + pcm.getSampleRate() + " Hz at "
                    + clock((double) pcm.getPosition() / pcm.getSampleRate())
                    + "; the output ends there");
        }
        if (!raw && !toStdout) {
            patchWavSizes(output, dataBytes);
        }
        double seconds = (double) dataBytes / pcm.getFrameSize() / pcm.getSampleRate();
        double elapsed = Math.max(1e-9, (System.nanoTime() - started) / 1e9);
        err.printf(Locale.ROOT, "%s: %d frames decoded, %d damaged, %d without output, %d Hz, "
                        + "%d channel%s, %.3f s of audio in %.3f s (%.0fx real time)%n", NAME,
                pcm.getFramesDecoded(), pcm.getFramesSkipped(), pcm.getFramesWithoutOutput(),
                pcm.getSampleRate(), pcm.getChannels(), pcm.getChannels() == 1 ? "" : "s", seconds,
                elapsed, seconds / elapsed);
        return 0;
    }

    private void progress(MpegAudioInputStream s, long total, long dataBytes) {
        double seconds = (double) dataBytes / s.getFrameSize() / s.getSampleRate();
        String done = total > 0
                ? String.format(Locale.ROOT, "%3d%% ", Math.min(100, s.getPosition() * 100 / total)) : "";
        err.printf(Locale.ROOT, "\r%s: %s%s decoded", NAME, done, clock(seconds));
        err.flush();
    }

    /** The header of a PCM (or, for float samples, IEEE float) WAV file with dataBytes of samples. */
    static byte[] wavHeader(AudioFormat f, long dataBytes) {
        long data = Math.min(dataBytes, 0xFFFFFFFFL - 36);
        int channels = f.getChannels();
        int bytes = f.getSampleSizeInBits() / 8;
        int rate = (int) f.getSampleRate();
        byte[] h = new byte[44];
        put(h, 0, "RIFF");
        le(h, 4, data + 36, 4);
        put(h, 8, "WAVEfmt ");
        le(h, 16, 16, 4);
        le(h, 20, f.getEncoding().equals(AudioFormat.Encoding.PCM_FLOAT) ? 3 : 1, 2);
        le(h, 22, channels, 2);
        le(h, 24, rate, 4);
        le(h, 28, (long) rate * channels * bytes, 4);
        le(h, 32, channels * bytes, 2);
        le(h, 34, bytes * 8, 2);
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
        MpegStreamInfo s;
        long size;
        try (MpegAudioInputStream pcm = open(input, new MpegAudioInputStream.Options())) {
            if (!pcm.isSeekable()) {
                pcm.skip(Long.MAX_VALUE);   // to the end, for the tags and the length there
                while (pcm.read(new byte[1 << 16]) >= 0 || pcm.nextFormat()) {
                    continue;
                }
            }
            s = pcm.getStreamInfo();
            size = input.equals("-") || input.contains("://") ? -1 : new File(input).length();
        }
        PrintStream o = System.out;
        o.println("file:      " + input + (size >= 0 ? " (" + size + " bytes)" : ""));
        o.printf(Locale.ROOT, "format:    MPEG-%d Layer %s, %d Hz, %s, %s%n", s.getMpegVersion(),
                "I".repeat(s.getLayer()), s.getSampleRate(), s.getChannelMode(),
                s.getBitRate() == 0 ? "free format" : s.isVbr() ? "VBR" : s.getBitRate() + " kbit/s");
        if (s.getCountedFrames() >= 0) {
            o.println("frames:    " + s.getCountedFrames());
        }
        if (s.getInfoTag() != null) {
            o.println("info:      " + s.getInfoTag() + " frame"
                    + (s.getFrameCount() >= 0 ? ", " + s.getFrameCount() + " frames" : "")
                    + (s.getEncoder() != null ? ", encoder " + s.getEncoder() : ""));
        }
        if (s.getEncoderDelay() >= 0) {
            o.println("gapless:   encoder delay " + s.getEncoderDelay() + ", padding " + s.getEncoderPadding()
                    + " samples" + (s.isGapless() ? ", trimmed" : ""));
        }
        long samples = s.getSampleCount();
        if (samples >= 0) {
            o.printf(Locale.ROOT, "duration:  %s (%d samples%s)%n", clock(s.getDurationMicros() / 1e6), samples,
                    s.isLengthExact() ? ", exact" : ", as declared");
        }
        if (s.getFormatChanges() > 0) {
            o.println("changes:   " + s.getFormatChanges() + " format change" + (s.getFormatChanges() > 1 ? "s" : ""));
        }
        if (s.getTags().isEmpty()) {
            o.println("tags:      none");
        }
        for (Map.Entry<String, String> t : s.getTags().entrySet()) {
            o.printf(Locale.ROOT, "%-10s %s%n", t.getKey() + ":", t.getValue().replace('\n', ' '));
        }
        return 0;
    }
}

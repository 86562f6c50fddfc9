package com.vev.media.codec.audio.mpa;

import java.io.BufferedOutputStream;
import java.io.FileDescriptor;
import java.io.FileInputStream;
import java.io.FileNotFoundException;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.io.UncheckedIOException;
import java.net.MalformedURLException;
import java.net.URL;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.time.Instant;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.Line;
import javax.sound.sampled.LineUnavailableException;
import javax.sound.sampled.Mixer;
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
    private static final long MAX_RIFF_SIZE = 0xFFFFFFFFL;

    private final PrintStream err;
    private boolean live;   // the input is an Icecast/SHOUTcast stream, which has no end

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
        s.println("  --start SECONDS   begin there, sample-accurately (a file seeks straight to it)");
        s.println("  --raw             headerless interleaved little-endian PCM instead of WAV");
        s.println("  --no-gapless      keep the encoder delay and padding that a LAME tag declares");
        s.println("  --no-mpeg25       refuse MPEG 2.5 (8, 11.025 and 12 kHz) as the frame API does");
        s.println("  --threads N       decode a file on N threads (0: one per processor), the same bytes");
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
                    case "--no-mpeg25":
                        o.mpeg25(false);
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
                        start = seconds(value(args, ++i, a));
                        break;
                    case "--threads":
                        o.threads(threads(value(args, ++i, a)));
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
            if (info && play) {
                throw new IllegalArgumentException("--info and --play exclude each other");
            }
            if (files.size() != (info || play ? 1 : 2)) {
                throw new IllegalArgumentException(info || play ? "give one INPUT" : "give INPUT and OUTPUT");
            }
        } catch (IllegalArgumentException e) {
            err.println(NAME + ": " + e.getMessage());
            usage(err);
            return 2;
        }
        try (MpegAudioInputStream pcm = open(files.get(0), o)) {
            if (info) {
                return info(pcm, files.get(0));
            }
            if (start > 0) {
                pcm.seekMicroseconds(Math.round(start * 1e6));
            }
            return play ? play(pcm) : decode(pcm, files.get(1), raw, start);
        } catch (NoSuchFileException e) {
            err.println(NAME + ": no such file: " + e.getFile());
        } catch (FileSystemException e) {
            err.println(NAME + ": " + e.getFile() + ": " + why(e));
        } catch (IOException e) {
            err.println(NAME + ": " + e.getMessage());
        } catch (UncheckedIOException e) {
            err.println(NAME + ": " + e.getCause().getMessage());
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

    private static double seconds(String v) {
        double s;
        try {
            s = Double.parseDouble(v);
        } catch (NumberFormatException e) {
            s = Double.NaN;
        }
        if (!(s >= 0) || Double.isInfinite(s)) {
            throw new IllegalArgumentException("--start needs a time in seconds, not " + v);
        }
        return s;
    }

    private static int threads(String v) {
        try {
            int n = Integer.parseInt(v);
            if (n >= 0 && n <= 64) {
                return n;
            }
        } catch (NumberFormatException e) {
            // below
        }
        throw new IllegalArgumentException("--threads takes 0 to 64, not " + v);
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

    private static String why(FileSystemException e) {
        if (e.getReason() != null) {
            return e.getReason();
        }
        return e instanceof NoSuchFileException ? "no such file or folder"
                : e instanceof AccessDeniedException ? "permission denied" : e.getClass().getSimpleName();
    }

    private MpegAudioInputStream open(String input, MpegAudioInputStream.Options o) throws IOException {
        try {
            if (input.equals("-")) {
                return openStandardInput(o);
            }
            URL url = null;
            if (input.contains("://")) {
                try {
                    url = new URL(input);
                } catch (MalformedURLException e) {
                    // not a URL after all: a file name
                }
            }
            if (url != null) {
                return openUrl(url, o);
            }
            Path path = Path.of(input);
            if (!Files.exists(path)) {
                throw new NoSuchFileException(input);
            }
            if (!Files.isReadable(path)) {
                throw new AccessDeniedException(input);
            }
            return new MpegAudioInputStream(path, o);
        } catch (FileSystemException e) {
            throw e;
        } catch (IOException e) {
            String m = String.valueOf(e.getMessage());
            throw new IOException(input.equals("-") || m.contains(input) ? m : m + " in " + input, e);
        }
    }

    /** Standard input redirected from a regular file is read as that file: exact length, seeking. */
    private static MpegAudioInputStream openStandardInput(MpegAudioInputStream.Options o) throws IOException {
        FileInputStream fd = new FileInputStream(FileDescriptor.in);
        boolean regular;
        try {
            regular = fd.getChannel().size() > fd.getChannel().position();
        } catch (IOException e) {
            regular = false;   // a pipe cannot tell its position
        }
        return new MpegAudioInputStream(regular ? fd : System.in, o);
    }

    private MpegAudioInputStream openUrl(URL url, MpegAudioInputStream.Options o) throws IOException {
        UrlInput u = UrlInput.open(url, (title, fields) -> {
            if (title != null) {
                err.println(NAME + ": now playing: " + title);
            }
        });
        InputStream in = u.stream();
        try {
            if (u.file() != null) {
                in.close();
                return new MpegAudioInputStream(u.file(), o);
            }
            live = !u.icyHeaders().isEmpty();
            return new MpegAudioInputStream(in, o);
        } catch (IOException | RuntimeException e) {
            in.close();
            throw e;
        }
    }

    private int play(MpegAudioInputStream pcm) throws IOException {
        do {
            AudioFormat format = pcm.getFormat();
            SourceDataLine line;
            try {
                line = AudioSystem.getSourceDataLine(format);
                line.open(format);
            } catch (LineUnavailableException | IllegalArgumentException | SecurityException e) {
                String why = !hasOutputDevice() ? "no audio output device here"
                        : e instanceof IllegalArgumentException ? "the audio output device cannot play " + format
                        : "the audio output device is not available (" + e.getMessage() + ")";
                err.println(NAME + ": " + why + "; decode to a file instead: java -jar rovaz.jar INPUT OUTPUT.wav");
                return 1;
            }
            try {
                line.start();
                // Whole sample periods: a line refuses a fraction of one.
                int period = format.getFrameSize();
                byte[] b = new byte[Math.max(1024, line.getBufferSize() / 4) / period * period];
                for (int n; (n = pcm.read(b)) > 0; ) {
                    line.write(b, 0, n);
                }
                line.drain();
            } finally {
                line.close();
            }
        } while (pcm.nextFormat());
        return 0;
    }

    private static boolean hasOutputDevice() {
        Line.Info output = new Line.Info(SourceDataLine.class);
        for (Mixer.Info m : AudioSystem.getMixerInfo()) {
            if (AudioSystem.getMixer(m).getSourceLineInfo(output).length > 0) {
                return true;
            }
        }
        return false;
    }

    private int decode(MpegAudioInputStream pcm, String output, boolean raw, double start) throws IOException {
        boolean toStdout = output.equals("-");
        AudioFormat format = pcm.getFormat();
        int rate = pcm.getSampleRate();
        long dataBytes = 0;
        long started = System.nanoTime();
        long total = pcm.getFrameLength();
        // Standard output as a file, not System.out, which would hide a write that fails (a closed pipe).
        try (OutputStream out = toStdout ? new FileOutputStream(FileDescriptor.out) : create(output)) {
            OutputStream buffered = new BufferedOutputStream(out, 1 << 16);
            if (!raw) {
                buffered.write(wavHeader(format, Long.MAX_VALUE));
            }
            byte[] b = new byte[1 << 16];
            long nextReport = started + PROGRESS_AFTER_NANOS;
            boolean reported = false;
            boolean stamp = Boolean.getBoolean("rovaz.timing");
            for (int n; (n = pcm.read(b)) > 0; ) {
                if (stamp) {
                    // For bench/java-start.sh: the wall clock at the first sample, to set against the launch.
                    Instant now = Instant.now();
                    err.println(NAME + ": first sample at " + (now.getEpochSecond() * 1_000_000 + now.getNano() / 1000)
                            + " us since the epoch");
                    stamp = false;
                }
                buffered.write(b, 0, n);
                dataBytes += n;
                long now = System.nanoTime();
                if (now >= nextReport) {
                    progress(pcm, total, dataBytes);
                    reported = true;
                    nextReport = now + PROGRESS_EVERY_NANOS;
                }
            }
            if (!raw && dataBytes % 2 != 0) {
                buffered.write(0);   // RIFF chunks have an even length
            }
            buffered.flush();
            if (reported) {
                err.println();
            }
        }
        double seconds = (double) dataBytes / pcm.getFrameSize() / rate;
        if (pcm.nextFormat()) {
            err.println(NAME + ": the sampling rate changes to " + pcm.getSampleRate() + " Hz at "
                    + clock(start + seconds) + "; the output ends there");
        }
        if (!raw && !toStdout && Files.isRegularFile(Path.of(output))) {
            try (RandomAccessFile f = new RandomAccessFile(output, "rw")) {
                f.write(wavHeader(format, dataBytes));
            }
        }
        double elapsed = Math.max(1e-9, (System.nanoTime() - started) / 1e9);
        // Without Formatter, whose locale data would take longer to load than a short file to decode.
        err.println(NAME + ": " + pcm.getFramesDecoded() + " frames decoded, " + pcm.getFramesSkipped()
                + " damaged, " + pcm.getFramesWithoutOutput() + " without output, " + rate + " Hz, "
                + pcm.getChannels() + " channel" + (pcm.getChannels() == 1 ? "" : "s") + ", " + fixed(seconds, 3)
                + " s of audio in " + fixed(elapsed, 3) + " s (" + fixed(seconds / elapsed, 0) + "x real time)");
        return 0;
    }

    /** A non-negative number with this many decimals, as %.Nf writes it in Locale.ROOT (but for exact ties). */
    private static String fixed(double v, int decimals) {
        long scale = 1;
        for (int i = 0; i < decimals; i++) {
            scale *= 10;
        }
        long units = Math.round(v * scale);
        String fraction = Long.toString(scale + units % scale).substring(1);
        return units / scale + (decimals > 0 ? "." + fraction : "");
    }

    private static OutputStream create(String output) throws IOException {
        try {
            // A FileOutputStream starts faster than a channel, whose native library has to load first.
            return new FileOutputStream(output);
        } catch (FileNotFoundException e) {
            // It does not say why in words of its own: the channel's exception does.
        }
        try {
            return Files.newOutputStream(Path.of(output));
        } catch (FileSystemException e) {
            throw new IOException("cannot write " + output + ": " + why(e), e);
        }
    }

    private void progress(MpegAudioInputStream s, long total, long dataBytes) {
        double seconds = (double) dataBytes / s.getFrameSize() / s.getSampleRate();
        String done = total > 0
                ? String.format(Locale.ROOT, "%3d%% ", Math.min(100, s.getPosition() * 100 / total)) : "";
        err.printf(Locale.ROOT, "\r%s: %s%s decoded", NAME, done, clock(seconds));
        err.flush();
    }

    /**
     * The header of a WAV file with dataBytes of samples (at most what RIFF sizes can say): PCM, or for
     * float samples IEEE float, whose fmt chunk has the extension size and which has a fact chunk, as
     * every format but PCM must.
     */
    static byte[] wavHeader(AudioFormat f, long dataBytes) {
        boolean isFloat = f.getEncoding().equals(AudioFormat.Encoding.PCM_FLOAT);
        int fmt = isFloat ? 18 : 16;
        byte[] h = new byte[20 + fmt + (isFloat ? 12 : 0) + 8];
        long data = Math.min(dataBytes, MAX_RIFF_SIZE - (h.length - 8) - 1);
        int channels = f.getChannels();
        int bytes = f.getSampleSizeInBits() / 8;
        int rate = (int) f.getSampleRate();
        put(h, 0, "RIFF");
        le(h, 4, h.length - 8 + data + (data & 1), 4);
        put(h, 8, "WAVEfmt ");
        le(h, 16, fmt, 4);
        le(h, 20, isFloat ? 3 : 1, 2);
        le(h, 22, channels, 2);
        le(h, 24, rate, 4);
        le(h, 28, (long) rate * channels * bytes, 4);
        le(h, 32, channels * bytes, 2);
        le(h, 34, bytes * 8, 2);
        int at = 20 + fmt;   // cbSize, at 36, stays 0
        if (isFloat) {
            put(h, at, "fact");
            le(h, at + 4, 4, 4);
            le(h, at + 8, data / (channels * bytes), 4);
            at += 12;
        }
        put(h, at, "data");
        le(h, at + 4, data, 4);
        return h;
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

    private int info(MpegAudioInputStream pcm, String input) throws IOException {
        long size = pcm.isSeekable() && !input.equals("-") && !input.contains("://") ? Files.size(Path.of(input)) : -1;
        // A stream is read to its end, for the tags there and the exact length; a live one has no end.
        long counted = -1;
        double countedSeconds = 0;
        if (!pcm.isSeekable() && !live) {
            counted = 0;
            byte[] b = new byte[1 << 16];
            do {
                long bytes = 0;
                for (int n; (n = pcm.read(b)) >= 0; ) {
                    bytes += n;
                }
                counted += bytes / pcm.getFrameSize();
                countedSeconds += (double) bytes / pcm.getFrameSize() / pcm.getSampleRate();
            } while (pcm.nextFormat());
        }
        MpegStreamInfo s = pcm.getStreamInfo();
        PrintStream o = System.out;
        o.println("file:      " + input + (size >= 0 ? " (" + size + " bytes)" : ""));
        o.printf(Locale.ROOT, "format:    MPEG-%s Layer %s, %d Hz, %s, %s%n", s.getMpegVersionName(),
                "I".repeat(s.getLayer()), s.getSampleRate(), s.getChannelMode(),
                s.getBitRate() == 0 ? "free format" : s.isVbr() ? "VBR" : s.getBitRate() + " kbit/s");
        long frames = counted >= 0 ? pcm.getFramesDecoded() + pcm.getFramesSkipped() : s.getCountedFrames();
        if (frames >= 0) {
            o.println("frames:    " + frames);
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
        if (counted >= 0) {
            o.printf(Locale.ROOT, "duration:  %s (%d samples, exact)%n", clock(countedSeconds), counted);
        } else if (live) {
            o.println("duration:  none, a live stream");
        } else if (s.getSampleCount() >= 0) {
            o.printf(Locale.ROOT, "duration:  %s (%d samples%s)%n", clock(s.getDurationMicros() / 1e6),
                    s.getSampleCount(), s.isLengthExact() ? ", exact" : ", as declared");
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

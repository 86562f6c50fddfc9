import com.vev.media.codec.audio.mpa.MpegAudio;
import com.vev.media.codec.audio.mpa.MpegAudioHeader;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Whole-file decodes through MpegAudio.nConvert, frame by frame, as a Java caller holding the file in
 * memory does it: each call starts at the next frame and sees either the rest of the file or a window
 * of it, with up to 4096 bytes of earlier stream offered for the bit reservoir. Prints seconds of audio
 * per CPU second of the decoding thread and the ratio to the native figure: rovaz's stream layer
 * (mpa_stream_read) on the same file, from mpabench runs alternating with the Java rounds, so that both
 * see the same machine.
 *
 * <pre>java -Djava.library.path=build -cp build/rovaz.jar:DIR JavaBench [--mpabench PATH] [--rounds N] FILE...</pre>
 */
public final class JavaBench {
    private static final int WINDOW = 8192;
    private static final double MIN_CPU_SECONDS = 0.25;   // per measurement

    private final int[] consumed = new int[1];
    private final int[] produced = new int[1];
    private final int[] needed = new int[1];
    private final byte[] out = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];
    private long sink;

    /** Decodes the stream from its first frame; returns the PCM bytes produced. window 0: rest of file. */
    private long decodeAll(byte[] stream, int start, int window) {
        int handle = MpegAudio.nOpen(new int[1]);
        long total = 0;
        int pos = start;
        while (pos < stream.length) {
            int len = window > 0 ? Math.min(window, stream.length - pos) : stream.length - pos;
            if (!MpegAudio.nConvert(handle, stream, pos, len, out, 0, 0, consumed, produced,
                                    Math.min(pos - start, 4096), needed)
                || consumed[0] == 0) {
                break;
            }
            total += produced[0];
            pos += consumed[0];
        }
        MpegAudio.nClose(handle);
        sink += out[0];
        return total;
    }

    private static double median(double[] v) {
        double[] s = v.clone();
        Arrays.sort(s);
        int n = s.length;
        return n % 2 == 1 ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
    }

    /** rovaz's seconds of audio per CPU second on the file: one round of mpabench (the stream layer). */
    private static double nativeRound(String mpabench, String file) throws IOException, InterruptedException {
        Path results = Files.createTempFile("mpabench", ".tsv");
        try {
            Process p = new ProcessBuilder(mpabench, "--only", "rovaz", "--rounds", "1", "--results",
                                           results.toString(), file)
                            .redirectErrorStream(true)
                            .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                            .start();
            if (p.waitFor() != 0) {
                return Double.NaN;
            }
            String[] f = Files.readAllLines(results).get(0).split("\t");
            return Double.parseDouble(f[2]);
        } finally {
            Files.deleteIfExists(results);
        }
    }

    public static void main(String[] args) throws IOException, InterruptedException {
        int rounds = 5;
        String mpabench = null;
        List<String> files = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--mpabench") && i + 1 < args.length) {
                mpabench = args[++i];
            } else if (args[i].equals("--rounds") && i + 1 < args.length) {
                rounds = Math.max(1, Integer.parseInt(args[++i]));
            } else {
                files.add(args[i]);
            }
        }
        ThreadMXBean mx = ManagementFactory.getThreadMXBean();
        JavaBench bench = new JavaBench();
        int[] windows = {0, WINDOW};
        System.out.printf("%-22s %-10s %9s %9s %9s %9s  %s%n", "file", "window", "best x", "median x",
                          "native x", "vs native", "samples/ch");
        for (String file : files) {
            byte[] stream = Files.readAllBytes(Path.of(file));
            MpegAudioHeader h = MpegAudio.header(stream, stream.length);
            if (h == null) {
                System.out.println(file + ": no MPEG audio frame");
                continue;
            }
            String name = Path.of(file).getFileName().toString();
            int bytesPerSample = 2 * h.nChannels;
            for (int window : windows) {
                // Warm-up: lets the JIT compile the loop; also sets how many decodes make a measurement.
                long bytes = 0;
                long t0 = mx.getCurrentThreadCpuTime();
                for (int i = 0; i < 3; i++) {
                    bytes = bench.decodeAll(stream, h.headerOffset, window);
                }
                double once = (mx.getCurrentThreadCpuTime() - t0) * 1e-9 / 3;
                int reps = Math.max(1, (int) Math.ceil(MIN_CPU_SECONDS / Math.max(once, 1e-6)));
                double[] seconds = new double[rounds];
                double nativeBest = Double.NaN;
                for (int r = 0; r < rounds; r++) {
                    t0 = mx.getCurrentThreadCpuTime();
                    for (int i = 0; i < reps; i++) {
                        bytes = bench.decodeAll(stream, h.headerOffset, window);
                    }
                    seconds[r] = (mx.getCurrentThreadCpuTime() - t0) * 1e-9 / reps;
                    if (mpabench != null) {
                        double x = nativeRound(mpabench, file);
                        nativeBest = Double.isNaN(nativeBest) ? x : Math.max(nativeBest, x);
                    }
                }
                long samples = bytes / bytesPerSample;
                double audio = (double) samples / h.samplingRate;
                double best = audio / Arrays.stream(seconds).min().getAsDouble();
                double med = audio / median(seconds);
                System.out.printf("%-22s %-10s %9.1f %9.1f %9s %9s  %d%n", window == windows[0] ? name : "",
                                  window == 0 ? "rest" : window / 1024 + " KB", best, med,
                                  Double.isNaN(nativeBest) ? "-" : String.format("%.1f", nativeBest),
                                  Double.isNaN(nativeBest) ? "-" : String.format("%.2f", best / nativeBest),
                                  samples);
            }
        }
        System.out.println();
        System.out.println("best/median x: seconds of audio per CPU second of the decoding thread;"
                           + " native x: best of the mpabench rounds run in between; vs native: best x / native x");
        System.err.println("(checksum " + bench.sink + ")");
    }
}

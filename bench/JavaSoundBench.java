import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.zip.CRC32;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/**
 * Java Sound against the native command-line decoder, as a program sees it.
 *
 * <p>Decoding: each file goes through AudioSystem.getAudioInputStream(File), then to PCM_SIGNED, read
 * into a 64 KB array until -1; the figure is the CPU time of the decoding thread, open and close
 * included, after a warm-up. Against it, {@code mpadec --raw FILE /dev/null}, its CPU time (user +
 * system) from wait4 by the cputime helper. Two ratios: gross, all of each (Java's open and mpadec's
 * start-up included), and decode, the decoding alone on both sides: Java less its open (the two
 * getAudioInputStream calls and close, timed on their own), mpadec less its start-up, estimated by a
 * run over the file's first 8 KB (exec, loading the libraries, the open, the first touch of the
 * decoder's code and tables, and a few frames). Each round runs them in turns; medians of the rounds.
 * The output must be byte for byte mpadec's.
 *
 * <p>Seeking (--seek FILE): wall time of a fresh Java Sound stream skipped to 50:00, and whether the
 * next 10 seconds are the bytes a full decode by mpadec gives there.
 *
 * <pre>java -Djava.library.path=BUILD -cp BUILD/rovaz.jar:DIR JavaSoundBench --mpadec BUILD/mpadec
 *      --cputime BUILD/cputime [--rounds N] [--seek FILE] FILE...</pre>
 */
public final class JavaSoundBench {
    private static final int BUFFER = 1 << 16;
    private static final double WARM_UP_CPU_SECONDS = 1.0;   // per file, and at least 3 decodes
    private static final double MAX_CPU_SECONDS = 20;        // per file, Java and mpadec together
    private static final int HEAD = 8192;                    // bytes of the start-up run
    private static final int SEEK_TO_SECONDS = 50 * 60;
    private static final int CHECK_SECONDS = 10;

    private final byte[] buf = new byte[BUFFER];
    private final ThreadMXBean mx = ManagementFactory.getThreadMXBean();
    private final String mpadec;
    private final String cputime;

    private JavaSoundBench(String mpadec, String cputime) {
        this.mpadec = mpadec;
        this.cputime = cputime;
    }

    /** The whole file through Java Sound; PCM bytes, and their CRC into crc unless null. */
    private long decode(File file, CRC32 crc) throws Exception {
        long total = 0;
        try (AudioInputStream mpeg = AudioSystem.getAudioInputStream(file);
             AudioInputStream pcm = AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg)) {
            for (int n; (n = pcm.read(buf, 0, buf.length)) >= 0; ) {
                total += n;
                if (crc != null) {
                    crc.update(buf, 0, n);
                }
            }
        }
        return total;
    }

    /** CPU seconds (user + system) of one run of the command, from cputime. */
    private double cpu(String... command) throws IOException, InterruptedException {
        List<String> c = new ArrayList<>(List.of(cputime));
        c.addAll(List.of(command));
        Process p = new ProcessBuilder(c).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String[] f = new String(p.getInputStream().readAllBytes()).trim().split(" ");
        if (p.waitFor() != 0 || f.length != 3 || !f[2].equals("0")) {
            throw new IOException("failed: " + String.join(" ", command));
        }
        return (Long.parseLong(f[0]) + Long.parseLong(f[1])) * 1e-6;
    }

    private static double median(double[] v) {
        double[] s = v.clone();
        Arrays.sort(s);
        int n = s.length;
        return n % 2 == 1 ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
    }

    /** mpadec's whole decode of the file, through a pipe: the number of bytes, and their CRC into crc. */
    private long reference(String file, CRC32 crc) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(mpadec, "--raw", file, "-").redirectError(ProcessBuilder.Redirect.DISCARD)
                        .start();
        long total = 0;
        try (InputStream in = p.getInputStream()) {
            for (int n; (n = in.read(buf)) >= 0; ) {
                crc.update(buf, 0, n);
                total += n;
            }
        }
        if (p.waitFor() != 0) {
            throw new IOException("mpadec failed on " + file);
        }
        return total;
    }

    private void decoding(List<String> files, int rounds) throws Exception {
        System.out.printf("%-22s %8s %7s %9s %8s %10s %8s %7s %7s  %s%n", "file", "audio s", "rounds", "Java ms",
                          "open ms", "mpadec ms", "start ms", "decode", "gross", "same output");
        Path head = Files.createTempFile("head", ".mpa");
        try {
            for (String name : files) {
                File file = new File(name);
                try (InputStream in = Files.newInputStream(file.toPath())) {
                    Files.write(head, in.readNBytes(HEAD));
                }
                CRC32 want = new CRC32();
                CRC32 got = new CRC32();
                long bytes = decode(file, got);
                boolean same = reference(name, want) == bytes && want.getValue() == got.getValue();
                AudioFormat format;
                try (AudioInputStream mpeg = AudioSystem.getAudioInputStream(file);
                     AudioInputStream pcm = AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg)) {
                    format = pcm.getFormat();
                }
                // Warm-up, so that the JIT has compiled the read path; it also times a decode, which caps
                // the rounds of a long file.
                long t0 = mx.getCurrentThreadCpuTime();
                int warm = 0;
                while (warm < 3 || mx.getCurrentThreadCpuTime() - t0 < WARM_UP_CPU_SECONDS * 1e9) {
                    decode(file, null);
                    warm++;
                }
                double once = (mx.getCurrentThreadCpuTime() - t0) * 1e-9 / warm;
                int n = Math.max(5, Math.min(rounds, (int) (MAX_CPU_SECONDS / (2 * once))));
                double[] open = new double[n];
                double[] java = new double[n];
                double[] nat = new double[n];
                double[] up = new double[n];
                double[] ratio = new double[n];
                double[] gross = new double[n];
                for (int r = 0; r < n; r++) {
                    // Each round runs all three, in turns, so that a change in the machine's load between
                    // rounds cancels out in the round's ratio.
                    if (r % 2 == 1) {
                        nat[r] = cpu(mpadec, "--raw", name, "/dev/null");
                        up[r] = cpu(mpadec, "--raw", head.toString(), "/dev/null");
                    }
                    t0 = mx.getCurrentThreadCpuTime();
                    decode(file, null);
                    java[r] = (mx.getCurrentThreadCpuTime() - t0) * 1e-9;
                    t0 = mx.getCurrentThreadCpuTime();
                    AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED,
                                                    AudioSystem.getAudioInputStream(file)).close();
                    open[r] = (mx.getCurrentThreadCpuTime() - t0) * 1e-9;
                    if (r % 2 == 0) {
                        up[r] = cpu(mpadec, "--raw", head.toString(), "/dev/null");
                        nat[r] = cpu(mpadec, "--raw", name, "/dev/null");
                    }
                    ratio[r] = (java[r] - open[r]) / (nat[r] - up[r]);
                    gross[r] = java[r] / nat[r];
                }
                double audio = bytes / (double) format.getFrameSize() / format.getSampleRate();
                System.out.printf("%-22s %8.1f %7d %9.2f %8.2f %10.2f %8.2f %7.3f %7.3f  %s%n", file.getName(), audio,
                                  n, median(java) * 1e3, median(open) * 1e3, median(nat) * 1e3, median(up) * 1e3,
                                  median(ratio),
                                  median(gross), same ? "yes" : "NO");
            }
        } finally {
            Files.delete(head);
        }
        System.out.printf("%nCPU time, medians; open: the two getAudioInputStream calls and close, no read (part of"
                          + " Java); start: mpadec on the file's first %d bytes (exec, libraries, open, first use of"
                          + " the decoder, a few frames); decode: (Java - open) / (mpadec - start), the decoding"
                          + " alone on both sides; gross: Java / mpadec, all of each; both per round%n", HEAD);
    }

    /** A fresh Java Sound stream over the file, skipped by bytes; times in ns into t[0..2]. */
    private AudioInputStream skipped(File file, long bytes, long[] t) throws Exception {
        long t0 = System.nanoTime();
        AudioInputStream mpeg = AudioSystem.getAudioInputStream(file);
        AudioInputStream pcm = AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg);
        long t1 = System.nanoTime();
        long done = pcm.skip(bytes);
        long t2 = System.nanoTime();
        if (done != bytes) {
            pcm.close();
            throw new IOException("skipped " + done + " bytes, not " + bytes);
        }
        t[0] = t1 - t0;
        t[1] = t2 - t1;
        t[2] = t2 - t0;
        return pcm;
    }

    private void seeking(String name, int runs) throws Exception {
        File file = new File(name);
        AudioFormat format;
        try (AudioInputStream mpeg = AudioSystem.getAudioInputStream(file);
             AudioInputStream pcm = AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpeg)) {
            format = pcm.getFormat();
        }
        int rate = (int) format.getSampleRate();
        long bytes = (long) SEEK_TO_SECONDS * rate * format.getFrameSize();
        long[] t = new long[3];
        double[] open = new double[runs];
        double[] skip = new double[runs];
        double[] total = new double[runs];
        double[] first = new double[runs];
        for (int r = -5; r < runs; r++) {   // five warm-up runs
            try (AudioInputStream pcm = skipped(file, bytes, t)) {
                long t0 = System.nanoTime();
                pcm.read(buf, 0, buf.length);
                if (r >= 0) {
                    open[r] = t[0] * 1e-6;
                    skip[r] = t[1] * 1e-6;
                    total[r] = t[2] * 1e-6;
                    first[r] = (System.nanoTime() - t0) * 1e-6;
                }
            }
        }
        int check = CHECK_SECONDS * rate * format.getFrameSize();
        byte[] got;
        try (AudioInputStream pcm = skipped(file, bytes, t)) {
            got = pcm.readNBytes(check);
        }
        // The reference: mpadec decoding from the start, read through a pipe up to 50:00.
        byte[] want;
        Process p = new ProcessBuilder(mpadec, "--raw", name, "-").redirectError(ProcessBuilder.Redirect.DISCARD)
                        .start();
        try (InputStream in = p.getInputStream()) {
            for (long left = bytes; left > 0; ) {
                int n = in.read(buf, 0, (int) Math.min(buf.length, left));
                if (n < 0) {
                    throw new IOException("mpadec ended before 50:00");
                }
                left -= n;
            }
            want = in.readNBytes(check);
        } finally {
            p.destroy();
            p.waitFor();
        }
        System.out.printf("%s, %d Hz, %d-byte frames, skip(%d) = 50:00, wall time, median of %d in one JVM"
                          + " (5 warm-up runs), each a fresh stream:%n", file.getName(), rate, format.getFrameSize(),
                          bytes, runs);
        System.out.printf("  getAudioInputStream(File) + (PCM_SIGNED, ...) + skip  %8.2f ms  (best %.2f)%n",
                          median(total), Arrays.stream(total).min().getAsDouble());
        System.out.printf("    the two getAudioInputStream calls (probe, open, exact-length scan)  %8.2f ms%n",
                          median(open));
        System.out.printf("    skip alone                                          %8.2f ms  (best %.2f)%n",
                          median(skip), Arrays.stream(skip).min().getAsDouble());
        System.out.printf("  then the first 64 KB read (the frames before 50:00 that make it exact)  %.2f ms%n",
                          median(first));
        System.out.printf("  sample-exact: %s (%d s after the skip = mpadec's full decode from 50:00, %d bytes)%n",
                          Arrays.equals(got, want) ? "yes" : "NO", CHECK_SECONDS, check);
    }

    public static void main(String[] args) throws Exception {
        int rounds = 21;
        String mpadec = null;
        String cputime = null;
        String seek = null;
        List<String> files = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--mpadec") && i + 1 < args.length) {
                mpadec = args[++i];
            } else if (args[i].equals("--cputime") && i + 1 < args.length) {
                cputime = args[++i];
            } else if (args[i].equals("--rounds") && i + 1 < args.length) {
                rounds = Math.max(1, Integer.parseInt(args[++i]));
            } else if (args[i].equals("--seek") && i + 1 < args.length) {
                seek = args[++i];
            } else {
                files.add(args[i]);
            }
        }
        if (mpadec == null || cputime == null) {
            System.err.println("usage: JavaSoundBench --mpadec PATH --cputime PATH [--rounds N] [--seek FILE] FILE...");
            System.exit(2);
        }
        JavaSoundBench bench = new JavaSoundBench(mpadec, cputime);
        if (!files.isEmpty()) {
            bench.decoding(files, rounds);
        }
        if (seek != null) {
            if (!files.isEmpty()) {
                System.out.println();
            }
            bench.seeking(seek, Math.max(11, rounds));
        }
    }
}

package com.vev.media.codec.audio.mpa;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.Callable;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.Test;

/** Native methods called from many threads at once. */
public class ConcurrencyTest {
    private static final int THREADS = 8;

    /** Decodes a whole stream with its own instance and counters, as a Java caller does. */
    private static byte[] decode(byte[] stream) {
        int handle = MpegAudio.nOpen(new int[1]);
        assertNotEquals(0, handle);
        int[] consumed = new int[1];
        int[] produced = new int[1];
        int[] needed = new int[1];
        byte[] out = new byte[MpegAudio.MAX_FRAME_PCM_BYTES];
        ByteArrayOutputStream pcm = new ByteArrayOutputStream();
        try {
            int pos = 0;
            while (pos < stream.length) {
                if (!MpegAudio.nConvert(handle, stream, pos, stream.length - pos, out, 0, 0, consumed, produced,
                        Math.min(pos, 4096), needed) || consumed[0] == 0) {
                    break;
                }
                pcm.write(out, 0, produced[0]);
                pos += consumed[0];
            }
        } finally {
            MpegAudio.nClose(handle);
        }
        return pcm.toByteArray();
    }

    private static <T> List<T> runAll(List<Callable<T>> tasks) throws Exception {
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        try {
            List<T> results = new ArrayList<>();
            for (Future<T> f : pool.invokeAll(tasks)) {
                results.add(f.get());
            }
            return results;
        } finally {
            pool.shutdownNow();
            assertTrue(pool.awaitTermination(60, TimeUnit.SECONDS));
        }
    }

    @Test
    public void threadsWithTheirOwnInstancesDecodeExactlyAsOneThreadDoes() throws Exception {
        List<byte[]> streams = new ArrayList<>();
        streams.add(TestStreams.lame(44100, 2, 2.0, "-b", "128"));
        streams.add(TestStreams.lame(22050, 1, 2.0, "-b", "32", "-m", "m"));
        streams.add(TestStreams.lame(48000, 2, 2.0, "-V", "4"));
        streams.add(TestStreams.twolame(48000, 2, 2.0, "-b", "192"));
        streams.add(TestStreams.twolame(24000, 1, 2.0, "-b", "48", "-m", "m"));
        List<byte[]> expected = new ArrayList<>();
        for (byte[] s : streams) {
            expected.add(decode(s));
            assertTrue(expected.get(expected.size() - 1).length > 0);
        }
        // Every stream three times over, all at once.
        List<Callable<byte[]>> tasks = new ArrayList<>();
        for (int round = 0; round < 3; round++) {
            for (byte[] s : streams) {
                tasks.add(() -> decode(s));
            }
        }
        List<byte[]> results = runAll(tasks);
        for (int i = 0; i < results.size(); i++) {
            assertArrayEquals("task " + i, expected.get(i % streams.size()), results.get(i));
        }
    }

    @Test
    public void openingAndClosingFromManyThreadsAtOnce() throws Exception {
        Set<Integer> seen = ConcurrentHashMap.newKeySet();
        List<Callable<List<Integer>>> tasks = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            tasks.add(() -> {
                List<Integer> closed = new ArrayList<>();
                List<Integer> open = new ArrayList<>();
                for (int i = 0; i < 3000; i++) {
                    int h = MpegAudio.nOpen(new int[1]);
                    assertNotEquals(0, h);
                    // No two live instances share a handle.
                    assertTrue(seen.add(h));
                    open.add(h);
                    if (open.size() > 5 || i % 7 == 0) {
                        int victim = open.remove(0);
                        assertTrue(seen.remove(victim));
                        assertTrue(MpegAudio.nClose(victim));
                        closed.add(victim);
                    }
                }
                for (int h : open) {
                    seen.remove(h);
                    MpegAudio.nClose(h);
                    closed.add(h);
                }
                return closed;
            });
        }
        byte[] out = new byte[4608];
        byte[] in = new byte[64];
        int[] c = new int[1];
        for (List<Integer> closed : runAll(tasks)) {
            for (int i = 0; i < closed.size(); i += 97) {
                // A closed handle reaches nothing.
                assertFalse(MpegAudio.nConvert(closed.get(i), in, 0, in.length, out, 0, 0, c, c, 0, c));
            }
        }
        assertTrue(seen.isEmpty());
    }

    @Test
    public void oneInstanceUsedByTwoThreadsAtOnceRefusesTheSecondCall() throws Exception {
        byte[] mp2 = TestStreams.twolame(48000, 2, 1.0, "-b", "128");
        MpegAudioHeader h = MpegAudio.header(mp2, mp2.length);
        int handle = MpegAudio.nOpen(new int[1]);
        AtomicInteger refused = new AtomicInteger();
        AtomicInteger decoded = new AtomicInteger();
        CountDownLatch start = new CountDownLatch(1);
        List<Callable<Void>> tasks = new ArrayList<>();
        for (int t = 0; t < 4; t++) {
            tasks.add(() -> {
                int[] consumed = new int[1];
                int[] produced = new int[1];
                int[] needed = new int[1];
                byte[] out = new byte[4608];
                start.await();
                for (int i = 0; i < 3000; i++) {
                    if (MpegAudio.nConvert(handle, mp2, 0, mp2.length, out, 0, 0, consumed, produced, 0, needed)) {
                        // A call that ran had the instance to itself: a whole, sane frame.
                        assertEquals(h.frameBytes(), consumed[0]);
                        assertEquals(4608, produced[0]);
                        decoded.incrementAndGet();
                    } else {
                        assertEquals(0, consumed[0]);
                        assertEquals(0, produced[0]);
                        refused.incrementAndGet();
                    }
                }
                return null;
            });
        }
        ExecutorService pool = Executors.newFixedThreadPool(4);
        try {
            List<Future<Void>> futures = new ArrayList<>();
            for (Callable<Void> task : tasks) {
                futures.add(pool.submit(task));
            }
            start.countDown();
            for (Future<Void> f : futures) {
                f.get();
            }
        } finally {
            pool.shutdownNow();
        }
        assertEquals(4 * 3000, decoded.get() + refused.get());
        assertTrue(decoded.get() > 0);
        // The instance is still whole.
        int[] c = new int[1];
        int[] p = new int[1];
        int[] n = new int[1];
        assertTrue(MpegAudio.nConvert(handle, mp2, 0, mp2.length, new byte[4608], 0, 0, c, p, 0, n));
        assertEquals(4608, p[0]);
        assertTrue(MpegAudio.nClose(handle));
    }

    @Test
    public void closingAStreamThatAnotherThreadReadsGivesIOExceptionOnly() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 2.0, "-b", "128");
        Random random = new Random(3);
        // Decoding the whole stream takes about 0.7 ms: close lands anywhere in it, or after it.
        for (int round = 0; round < 500; round++) {
            MpegAudioInputStream s = new MpegAudioInputStream(new ByteArrayInputStream(mp3));
            AtomicReference<Throwable> thrown = new AtomicReference<>();
            CountDownLatch reading = new CountDownLatch(1);
            Thread reader = new Thread(() -> {
                byte[] b = new byte[1000];
                try {
                    // Reads on past the end too: once closed, the stream must say so.
                    for (;;) {
                        s.read(b);
                        reading.countDown();
                    }
                } catch (Throwable t) {
                    thrown.set(t);
                }
            });
            reader.start();
            reading.await();
            long until = System.nanoTime() + random.nextInt(800_000);
            while (System.nanoTime() < until) {
                Thread.onSpinWait();
            }
            s.close();
            reader.join(60000);
            assertFalse(reader.isAlive());
            Throwable t = thrown.get();
            if (!(t instanceof IOException)) {
                throw new AssertionError("round " + round + ": " + t, t);
            }
        }
    }

    @Test
    public void closingAnInstanceThatAnotherThreadIsUsing() throws Exception {
        byte[] mp3 = TestStreams.lame(44100, 2, 2.0, "-b", "128");
        for (int round = 0; round < 20; round++) {
            int handle = MpegAudio.nOpen(new int[1]);
            AtomicBoolean sawFalse = new AtomicBoolean();
            CountDownLatch running = new CountDownLatch(1);
            Thread user = new Thread(() -> {
                int[] consumed = new int[1];
                int[] produced = new int[1];
                int[] needed = new int[1];
                byte[] out = new byte[4608];
                int pos = 0;
                for (int i = 0; i < 100000 && !sawFalse.get(); i++) {
                    if (i == 3) {
                        running.countDown();
                    }
                    boolean ok = MpegAudio.nConvert(handle, mp3, pos, mp3.length - pos, out, 0, 0, consumed,
                            produced, Math.min(pos, 4096), needed);
                    if (!ok) {
                        sawFalse.set(true);
                    } else {
                        pos = consumed[0] > 0 && pos + consumed[0] < mp3.length ? pos + consumed[0] : 0;
                    }
                }
                running.countDown();
            });
            user.start();
            running.await();
            assertTrue(MpegAudio.nClose(handle));
            user.join(60000);
            assertFalse(user.isAlive());
            // Once closed, the handle answers false from every thread.
            assertTrue(sawFalse.get());
        }
    }
}

package com.vev.media.codec.audio.mpa;

import static java.nio.charset.StandardCharsets.ISO_8859_1;
import static java.nio.charset.StandardCharsets.UTF_8;
import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.FilterInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.net.URL;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/** Network input: audio bytes exact through ICY metadata, titles reported once each, from a server of our own. */
public class IcyInputTest {
    private static final int METAINT = 1000;   // odd, so that blocks fall inside frames
    private static final String NAME = "Radio Ünï";
    private static final byte[] TITLED = "StreamTitle='Don't stop'; go on';StreamUrl='http://h/a;b';"
            .getBytes(UTF_8);
    /** The blocks in turn, null for an empty one; empty ones after the last. */
    private static final byte[][] BLOCKS = {null, TITLED, null, TITLED,
        "StreamTitle='Ünïcødé ♪';".getBytes(UTF_8), "StreamTitle='Café';".getBytes(ISO_8859_1),
        "StreamUrl='';".getBytes(UTF_8)};
    private static final List<Map<String, String>> REPORTED = List.of(
            Map.of("StreamTitle", "Don't stop'; go on", "StreamUrl", "http://h/a;b"),
            Map.of("StreamTitle", "Ünïcødé ♪"), Map.of("StreamTitle", "Café"), Map.of("StreamUrl", ""));

    private static byte[] mp3;
    private static ServerSocket server;
    private static final List<String> requests = Collections.synchronizedList(new ArrayList<>());

    @BeforeClass
    public static void start() throws IOException {
        mp3 = TestStreams.lame(44100, 2, 2.0, "-b", "128");
        server = new ServerSocket(0, 50, InetAddress.getLoopbackAddress());
        Thread t = new Thread(() -> {
            try {
                for (;;) {
                    Socket s = server.accept();
                    new Thread(() -> serve(s)).start();
                }
            } catch (IOException closed) {
                // end of the tests
            }
        });
        t.setDaemon(true);
        t.start();
    }

    @AfterClass
    public static void stop() throws IOException {
        server.close();
    }

    private static void serve(Socket s) {
        try (s; OutputStream out = s.getOutputStream()) {
            ByteArrayOutputStream request = new ByteArrayOutputStream();
            InputStream in = s.getInputStream();
            for (int c; !request.toString(ISO_8859_1).endsWith("\r\n\r\n") && (c = in.read()) >= 0;) {
                request.write(c);
            }
            requests.add(request.toString(ISO_8859_1));
            String path = request.toString(ISO_8859_1).split(" ")[1];
            String icy = "icy-name: " + NAME + "\r\nicy-metaint: " + METAINT + "\r\n\r\n";
            String head = Map.of(
                    // with a made-up length, as some live servers send
                    "/icecast", "HTTP/1.0 200 OK\r\nContent-Length: 999999999\r\n" + icy,
                    "/shoutcast", "ICY 200 OK\r\n" + icy,
                    "/plain", "HTTP/1.1 200 OK\r\nContent-Length: " + mp3.length + "\r\n\r\n",
                    "/moved", "HTTP/1.1 302 Found\r\nLocation: /plain\r\nContent-Length: 0\r\n\r\n")
                    .getOrDefault(path, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            byte[] body = path.equals("/plain") ? mp3 : head.contains("icy") ? interleaved(path.equals("/shoutcast"))
                    : new byte[0];
            out.write(head.getBytes(UTF_8));
            for (int at = 0; at < body.length; at += 1500) {
                out.write(body, at, Math.min(1500, body.length - at));
                out.flush();
            }
        } catch (IOException hungUp) {
            // the client went, as HttpURLConnection does on seeing "ICY 200 OK"
        }
    }

    /** The MP3 with a block after every METAINT bytes; cut, it stops in a block after whole intervals. */
    private static byte[] interleaved(boolean cut) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        int end = cut ? mp3.length / METAINT * METAINT : mp3.length;
        for (int at = 0, k = 0; at < end; at += METAINT, k++) {
            out.write(mp3, at, Math.min(METAINT, end - at));
            byte[] meta = k < BLOCKS.length ? BLOCKS[k] : null;
            int l = meta == null ? 0 : (meta.length + 15) / 16;
            if (at + METAINT < end) {
                out.write(l);
                out.write(Arrays.copyOf(meta == null ? new byte[0] : meta, 16 * l), 0, 16 * l);
            }
        }
        if (cut) {
            out.write(new byte[] {3, 'S', 't', 'r'}, 0, 4);
        }
        return out.toByteArray();
    }

    private static URL url(String path) throws IOException {
        return new URL("http://127.0.0.1:" + server.getLocalPort() + path);
    }

    /** Reads through odd-sized reads, single bytes and skips, checking each byte read against expected. */
    private static void drain(InputStream in, byte[] expected) throws IOException {
        byte[] buf = new byte[4096];
        int pos = 0;
        for (int turn = 0;; turn++) {
            int off = turn % 4 == 3 ? 3 : 0;
            int n;
            if (turn % 4 == 2) {
                pos += (int) in.skip(333);
                continue;
            } else if (turn % 4 == 1) {
                n = in.read();
                buf[0] = (byte) n;
                n = n < 0 ? -1 : 1;
            } else {
                n = in.read(buf, off, off == 0 ? 7 : 4000);
            }
            if (n < 0) {
                break;
            }
            assertArrayEquals("at " + pos, Arrays.copyOfRange(expected, pos, pos + n),
                    Arrays.copyOfRange(buf, off, off + n));
            pos += n;
        }
        assertEquals(expected.length, pos);
        assertEquals(-1, in.read());
    }

    private static IcyMetadataListener recorder(List<Map<String, String>> seen) {
        return (title, fields) -> {
            assertEquals(fields.get("StreamTitle"), title);
            seen.add(fields);
        };
    }

    /** The audio, whole or up to the block it is cut in, and the metadata, each change once. */
    private static void check(InputStream in, boolean cut, List<Map<String, String>> seen) throws IOException {
        try (in) {
            drain(in, Arrays.copyOf(mp3, cut ? mp3.length / METAINT * METAINT : mp3.length));
        }
        assertEquals(REPORTED, seen);
    }

    @Test
    public void icecastAndShoutcastServers() throws IOException {
        for (String path : new String[] {"/icecast", "/shoutcast"}) {
            List<Map<String, String>> seen = new ArrayList<>();
            UrlInput in = UrlInput.open(url(path), recorder(seen));
            assertEquals(path, -1, in.length());
            assertEquals(path, NAME, in.icyHeaders().get("icy-name"));
            check(in.stream(), path.equals("/shoutcast"), seen);
        }
        // Decoded as it arrives, the titles reported on the way.
        List<Map<String, String>> seen = new ArrayList<>();
        try (MpegAudioInputStream s = MpegAudioInputStream.open(url("/icecast"),
                new MpegAudioInputStream.Options().icyListener(recorder(seen)))) {
            assertArrayEquals(MpegAudioInputStreamTest.decode(mp3, true), s.readAllBytes());
        }
        assertEquals(REPORTED, seen);
        for (String r : requests) {
            assertTrue(r, r.toLowerCase(Locale.ROOT).contains("\r\nicy-metadata: 1\r\n"));
            assertTrue(r, r.contains("\r\nHost: 127.0.0.1:" + server.getLocalPort() + "\r\n"));
        }
    }

    /** The underlying stream giving 1 to 13 bytes a read and skipping nothing, to split lengths and blocks. */
    @Test
    public void shortReadsAnywhere() throws IOException {
        for (boolean cut : new boolean[] {false, true}) {
            InputStream trickle = new FilterInputStream(new ByteArrayInputStream(interleaved(cut))) {
                private int calls;

                @Override
                public int read(byte[] b, int off, int len) throws IOException {
                    return super.read(b, off, Math.min(len, 1 + calls++ * 7 % 13));
                }

                @Override
                public long skip(long n) {
                    return 0;
                }
            };
            List<Map<String, String>> seen = new ArrayList<>();
            check(new IcyInputStream(trickle, METAINT, recorder(seen)), cut, seen);
        }
    }

    @Test
    public void plainHttpRedirectFileAndErrors() throws IOException {
        Path file = TestStreams.dir().resolve("icy input ü.mp3");
        Files.write(file, mp3);
        for (URL u : new URL[] {url("/plain"), url("/moved"), file.toUri().toURL()}) {
            UrlInput in = UrlInput.open(u, null);
            assertEquals(u.toString(), mp3.length, in.length());
            assertTrue(in.icyHeaders().isEmpty());
            assertEquals(u.getProtocol().equals("file") ? file.toFile() : null, in.file());
            try (InputStream s = in.stream()) {
                drain(s, mp3);
            }
        }
        try {
            UrlInput.open(url("/missing"), null);
            fail();
        } catch (IOException e) {
            assertTrue(e.getMessage(), e.getMessage().contains("404 Not Found from " + url("/missing")));
        }
    }
}

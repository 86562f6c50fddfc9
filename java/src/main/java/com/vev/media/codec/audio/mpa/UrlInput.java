package com.vev.media.codec.audio.mpa;

import java.io.BufferedInputStream;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.HttpURLConnection;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.net.URISyntaxException;
import java.net.URL;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Locale;
import java.util.Map;
import java.util.zip.GZIPInputStream;

/** The audio bytes behind a URL: a file, an HTTP(S) resource, or a Shoutcast/Icecast stream. */
final class UrlInput {
    private static final int TIMEOUT_MS = 15_000;
    private static final int MAX_REDIRECTS = 5;
    private static final int MAX_HEADER_LINE = 8192;
    private static final int MAX_HEADER_LINES = 100;
    private static final String USER_AGENT = "rovaz/" + BuildVersion.VERSION;

    private final InputStream stream;
    private final long length;
    private final File file;
    private final Map<String, String> icyHeaders;

    private UrlInput(InputStream stream, long length, File file, Map<String, String> icyHeaders) {
        this.stream = stream;
        this.length = length;
        this.file = file;
        this.icyHeaders = Collections.unmodifiableMap(icyHeaders);
    }

    /** Audio bytes only; the caller closes it. */
    InputStream stream() {
        return stream;
    }

    /** Bytes in the stream when known: a file's, or a plain HTTP response's Content-Length; else -1. */
    long length() {
        return length;
    }

    /** The regular file a file: URL names, for seekable access; else null. stream() is open all the same. */
    File file() {
        return file;
    }

    /** The icy-* response headers, names in lower case; empty when none. */
    Map<String, String> icyHeaders() {
        return icyHeaders;
    }

    /** Connects; the listener, when not null, receives the stream's metadata as it is read. */
    static UrlInput open(URL url, IcyMetadataListener listener) throws IOException {
        String protocol = url.getProtocol().toLowerCase(Locale.ROOT);
        if (protocol.equals("http") || protocol.equals("https")) {
            return http(url, listener);
        }
        if (protocol.equals("file")) {
            File f = localFile(url);
            if (f != null && f.isFile()) {
                return new UrlInput(new FileInputStream(f), f.length(), f, Map.of());
            }
            if (f != null && f.isDirectory()) {
                throw new FileNotFoundException(f + " is a folder");
            }
        }
        return new UrlInput(url.openStream(), -1, null, Map.of());
    }

    private static File localFile(URL url) {
        try {
            return new File(url.toURI());
        } catch (URISyntaxException | IllegalArgumentException e) {
            // Unescaped characters such as spaces, or a host: take the path as written.
            String host = url.getHost();
            return host == null || host.isEmpty() || host.equalsIgnoreCase("localhost")
                    ? new File(url.getPath()) : null;
        }
    }

    /*
     * Redirects are followed here rather than by HttpURLConnection, which stays within one protocol, so
     * that http may move to https; never the other way.
     */
    private static UrlInput http(URL url, IcyMetadataListener listener) throws IOException {
        URL at = url;
        for (int hop = 0;; hop++) {
            HttpURLConnection c = (HttpURLConnection) at.openConnection();
            c.setInstanceFollowRedirects(false);
            c.setConnectTimeout(TIMEOUT_MS);
            c.setReadTimeout(TIMEOUT_MS);
            c.setRequestProperty("User-Agent", USER_AGENT);
            c.setRequestProperty("Accept", "*/*");
            c.setRequestProperty("Icy-MetaData", "1");
            int code = orDisconnect(c, c::getResponseCode);
            if (code == -1) {
                // Not HTTP: a Shoutcast v1 server's "ICY 200 OK", which HttpURLConnection cannot read.
                c.disconnect();
                if (!at.getProtocol().equalsIgnoreCase("http")) {
                    throw new IOException("not an HTTP response from " + at);
                }
                return icy(at, listener);
            }
            if (code == 301 || code == 302 || code == 303 || code == 307 || code == 308) {
                String location = c.getHeaderField("Location");
                c.disconnect();
                if (location == null) {
                    throw new IOException(code + " without a Location from " + at);
                }
                URL next = new URL(at, location);
                String to = next.getProtocol().toLowerCase(Locale.ROOT);
                if (!to.equals("https") && !(to.equals("http") && at.getProtocol().equalsIgnoreCase("http"))) {
                    throw new IOException("refused redirect from " + at + " to " + next);
                }
                if (hop == MAX_REDIRECTS) {
                    throw new IOException("more than " + MAX_REDIRECTS + " redirects from " + url);
                }
                at = next;
                continue;
            }
            if (code / 100 != 2) {
                String status = c.getHeaderField(0);
                c.disconnect();
                throw new IOException(status + " from " + at);
            }
            Map<String, String> headers = new LinkedHashMap<>();
            for (int i = 1;; i++) {
                String value = c.getHeaderField(i);
                if (value == null) {
                    break;
                }
                String key = c.getHeaderFieldKey(i);
                if (key != null) {
                    // HttpURLConnection reads header bytes as ISO-8859-1.
                    headers.putIfAbsent(key.toLowerCase(Locale.ROOT),
                            IcyInputStream.text(value.getBytes(StandardCharsets.ISO_8859_1)));
                }
            }
            InputStream body = orDisconnect(c, c::getInputStream);
            String encoding = headers.getOrDefault("content-encoding", "identity").trim();
            if (encoding.equalsIgnoreCase("gzip") || encoding.equalsIgnoreCase("x-gzip")) {
                body = new GZIPInputStream(body);
            } else if (!encoding.equalsIgnoreCase("identity")) {
                body.close();
                throw new IOException("unsupported Content-Encoding " + encoding + " from " + at);
            }
            Map<String, String> icy = icyOnly(headers);
            long length = icy.isEmpty() && encoding.equalsIgnoreCase("identity") ? c.getContentLengthLong() : -1;
            return new UrlInput(strip(body, icy, listener, at), length, null, icy);
        }
    }

    /** A call on a connection that may throw. */
    private interface ConnectionCall<T> {
        T call() throws IOException;
    }

    /** What call gives; when it throws, c is disconnected first. */
    private static <T> T orDisconnect(HttpURLConnection c, ConnectionCall<T> call) throws IOException {
        try {
            return call.call();
        } catch (IOException | RuntimeException e) {
            c.disconnect();
            throw e;
        }
    }

    /** A plain socket client, for the servers that answer "ICY 200 OK". */
    private static UrlInput icy(URL url, IcyMetadataListener listener) throws IOException {
        int port = url.getPort() < 0 ? url.getDefaultPort() : url.getPort();
        Socket s = new Socket();
        try {
            s.connect(new InetSocketAddress(url.getHost(), port), TIMEOUT_MS);
            s.setSoTimeout(TIMEOUT_MS);
            String host = url.getPort() < 0 ? url.getHost() : url.getHost() + ":" + port;
            // HTTP/1.0, so that the body comes unchunked.
            String request = "GET " + escape(url.getFile().isEmpty() ? "/" : url.getFile()) + " HTTP/1.0\r\n"
                    + "Host: " + host + "\r\n"
                    + "User-Agent: " + USER_AGENT + "\r\n"
                    + "Accept: */*\r\n"
                    + "Icy-MetaData: 1\r\n"
                    + "Connection: close\r\n\r\n";
            OutputStream out = s.getOutputStream();
            out.write(request.getBytes(StandardCharsets.US_ASCII));
            out.flush();
            InputStream in = new BufferedInputStream(s.getInputStream());
            String status = line(in);
            String[] words = status.split(" +", 3);
            if (words.length < 2 || !(words[0].equals("ICY") || words[0].startsWith("HTTP/"))
                    || !words[1].matches("2\\d\\d")) {
                throw new IOException(status + " from " + url);
            }
            Map<String, String> headers = new LinkedHashMap<>();
            for (int n = 0;; n++) {
                String h = line(in);
                if (h.isEmpty()) {
                    break;
                }
                int colon = h.indexOf(':');
                if (n == MAX_HEADER_LINES) {
                    throw new IOException("too many header lines from " + url);
                }
                if (colon > 0) {
                    headers.putIfAbsent(h.substring(0, colon).trim().toLowerCase(Locale.ROOT),
                            h.substring(colon + 1).trim());
                }
            }
            Map<String, String> icy = icyOnly(headers);
            return new UrlInput(strip(in, icy, listener, url), -1, null, icy);
        } catch (IOException | RuntimeException e) {
            s.close();
            throw e;
        }
    }

    private static Map<String, String> icyOnly(Map<String, String> headers) {
        Map<String, String> icy = new LinkedHashMap<>();
        headers.forEach((k, v) -> {
            if (k.startsWith("icy-")) {
                icy.put(k, v);
            }
        });
        return icy;
    }

    private static InputStream strip(InputStream body, Map<String, String> icy, IcyMetadataListener listener,
            URL url) throws IOException {
        String metaint = icy.get("icy-metaint");
        if (metaint == null) {
            return body;
        }
        int n;
        try {
            n = Integer.parseInt(metaint.trim());
        } catch (NumberFormatException e) {
            n = -1;
        }
        if (n < 0) {
            body.close();
            throw new IOException("icy-metaint " + metaint + " from " + url);
        }
        return n == 0 ? body : new IcyInputStream(body, n, listener);
    }

    /** One header line without its CR LF (or bare LF), bytes read as UTF-8 or else ISO-8859-1. */
    private static String line(InputStream in) throws IOException {
        ByteArrayOutputStream b = new ByteArrayOutputStream();
        for (;;) {
            int c = in.read();
            if (c < 0) {
                throw new IOException("connection closed in the response header");
            }
            if (c == '\n') {
                break;
            }
            if (b.size() == MAX_HEADER_LINE) {
                throw new IOException("response header line longer than " + MAX_HEADER_LINE);
            }
            b.write(c);
        }
        byte[] bytes = b.toByteArray();
        int len = bytes.length > 0 && bytes[bytes.length - 1] == '\r' ? bytes.length - 1 : bytes.length;
        return IcyInputStream.text(Arrays.copyOf(bytes, len));
    }

    /** Percent-escapes what may not go on a request line as it is: controls, spaces, non-ASCII. */
    private static String escape(String target) {
        StringBuilder sb = new StringBuilder();
        for (byte b : target.getBytes(StandardCharsets.UTF_8)) {
            int c = b & 0xFF;
            if (c <= 0x20 || c >= 0x7F) {
                sb.append('%').append(Character.toUpperCase(Character.forDigit(c >> 4, 16)))
                        .append(Character.toUpperCase(Character.forDigit(c & 15, 16)));
            } else {
                sb.append((char) c);
            }
        }
        return sb.toString();
    }
}

package com.vev.media.codec.audio.mpa;

import java.io.FilterInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Objects;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * The audio of an ICY stream: after every {@code metaint} audio bytes the server sends one length byte
 * L and 16·L bytes of metadata, which this takes out and hands to the listener.
 */
final class IcyInputStream extends FilterInputStream {
    private static final int MAX_METADATA = 16 * 255;
    /*
     * key='value'; where the value ends at the first "';" followed by another key or the end, so that
     * titles may hold quotes and semicolons. A block cut short after the value is taken as it is.
     */
    private static final Pattern FIELD = Pattern.compile(
            "\\G\\s*([^=';\\s]+)='(.*?)(?:';(?=\\s*[^=';\\s]+=')|'?;?\\s*$)", Pattern.DOTALL);

    private final int metaint;
    private final IcyMetadataListener listener;
    private final byte[] block = new byte[MAX_METADATA];
    private byte[] previous = new byte[0];
    private int audioLeft;
    private boolean ended;

    IcyInputStream(InputStream in, int metaint, IcyMetadataListener listener) {
        super(Objects.requireNonNull(in));
        if (metaint <= 0) {
            throw new IllegalArgumentException("metaint " + metaint);
        }
        this.metaint = metaint;
        this.listener = listener;
        this.audioLeft = metaint;
    }

    @Override
    public int read() throws IOException {
        if (!audioAhead()) {
            return -1;
        }
        int c = in.read();
        if (c < 0) {
            ended = true;
        } else {
            audioLeft--;
        }
        return c;
    }

    @Override
    public int read(byte[] b, int off, int len) throws IOException {
        Objects.checkFromIndexSize(off, len, b.length);
        if (len == 0) {
            return 0;
        }
        if (!audioAhead()) {
            return -1;
        }
        int n = in.read(b, off, Math.min(len, audioLeft));
        if (n < 0) {
            ended = true;
        } else {
            audioLeft -= n;
        }
        return n;
    }

    @Override
    public long skip(long n) throws IOException {
        if (n <= 0 || !audioAhead()) {
            return 0;
        }
        long s = in.skip(Math.min(n, audioLeft));
        if (s <= 0) {
            // Some streams skip nothing short of the end: a read tells which.
            return read() < 0 ? 0 : 1;
        }
        audioLeft -= (int) s;
        return s;
    }

    @Override
    public int available() throws IOException {
        return ended || audioLeft == 0 ? 0 : Math.min(in.available(), audioLeft);
    }

    @Override
    public boolean markSupported() {
        return false;
    }

    @Override
    public void mark(int readlimit) {
        // Not supported: the metadata between would make the positions of in and of this differ.
    }

    @Override
    public void reset() throws IOException {
        throw new IOException("mark/reset not supported");
    }

    /** False at the end; otherwise passes the metadata block that is next, if any, so audio follows. */
    private boolean audioAhead() throws IOException {
        if (ended) {
            return false;
        }
        if (audioLeft > 0) {
            return true;
        }
        int l = in.read();
        int size = 16 * Math.max(l, 0);
        int got = 0;
        while (l >= 0 && got < size) {
            int n = in.read(block, got, size - got);
            if (n < 0) {
                break;
            }
            got += n;
        }
        if (l < 0 || got < size) {
            ended = true;   // the stream ended in or before a block: the audio before it is whole
            return false;
        }
        audioLeft = metaint;
        if (size > 0) {
            received(size);
        }
        return true;
    }

    private void received(int size) {
        int end = size;
        while (end > 0 && block[end - 1] == 0) {
            end--;
        }
        if (Arrays.equals(block, 0, end, previous, 0, previous.length)) {
            return;
        }
        previous = Arrays.copyOf(block, end);
        if (listener != null) {
            Map<String, String> fields = fields(text(previous));
            listener.metadata(fields.get("StreamTitle"), fields);
        }
    }

    /** UTF-8 as most servers send now; ISO-8859-1 for the older ones, whose bytes are seldom valid UTF-8. */
    static String text(byte[] b) {
        try {
            return StandardCharsets.UTF_8.newDecoder().onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT).decode(ByteBuffer.wrap(b)).toString();
        } catch (CharacterCodingException e) {
            return new String(b, StandardCharsets.ISO_8859_1);
        }
    }

    static Map<String, String> fields(String text) {
        Map<String, String> fields = new LinkedHashMap<>();
        Matcher m = FIELD.matcher(text);
        while (m.find()) {
            fields.put(m.group(1), m.group(2));
        }
        return Collections.unmodifiableMap(fields);
    }
}

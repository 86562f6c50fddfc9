package com.vev.media.codec.audio.mpa;

import java.nio.charset.StandardCharsets;
import java.util.List;

/** Metadata blocks that wrap an MPEG audio stream: ID3v2 in front, APE, Lyrics3 and ID3v1 behind. */
final class Tags {
    /** Bytes of an ID3v2 header, and of its optional footer. */
    static final int ID3V2_HEADER = 10;
    private static final int ID3V1 = 128;
    private static final int APE_FOOTER = 32;
    private static final int LYRICS3_FOOTER = 15;   // six-digit size and "LYRICS200"

    private Tags() {
    }

    /**
     * Length of the ID3v2 tag (header, body and footer) that starts at {@code d[off]}, or 0 when none
     * does. Needs {@link #ID3V2_HEADER} bytes.
     */
    static int id3v2Length(byte[] d, int off, int len) {
        if (len < ID3V2_HEADER || !matches(d, off, "ID3") || d[off + 3] == (byte) 0xFF
                || d[off + 4] == (byte) 0xFF) {
            return 0;
        }
        int size = 0;
        for (int i = 6; i < 10; i++) {
            int b = d[off + i];
            if ((b & 0x80) != 0) {
                return 0;   // not a sync-safe size: not a tag
            }
            size = size << 7 | b;
        }
        boolean footer = (d[off + 5] & 0x10) != 0;
        return ID3V2_HEADER + size + (footer ? ID3V2_HEADER : 0);
    }

    /**
     * Bytes at the end of {@code d[from .. end)} taken by an ID3v1 tag and, before it, any APEv1/v2
     * and Lyrics3v2 tags; 0 when the data ends in audio.
     */
    static int trailingLength(byte[] d, int from, int end) {
        return end - audioEnd(d, from, end, null);
    }

    /**
     * Where the audio before the trailing tags of {@code d[from .. end)} ends; names, when not null,
     * receives a description of each tag, the last in the data first.
     */
    static int audioEnd(byte[] d, int from, int end, List<String> names) {
        int e = end;
        if (e - from >= ID3V1 && matches(d, e - ID3V1, "TAG")) {
            e -= ID3V1;
            add(names, "ID3v1", ID3V1);
        }
        for (;;) {
            int n = apeLength(d, from, e);
            if (n > 0) {
                add(names, "APE", n);
            } else if ((n = lyrics3Length(d, from, e)) > 0) {
                add(names, "Lyrics3", n);
            } else {
                return e;
            }
            e -= n;
        }
    }

    private static void add(List<String> names, String tag, int bytes) {
        if (names != null) {
            names.add(tag + " (" + bytes + " bytes)");
        }
    }

    private static int apeLength(byte[] d, int from, int end) {
        int footer = end - APE_FOOTER;
        if (footer < from || !matches(d, footer, "APETAGEX")) {
            return 0;
        }
        long size = le32(d, footer + 12);                // items and footer
        boolean header = (le32(d, footer + 20) & 0x80000000L) != 0;
        long total = size + (header ? APE_FOOTER : 0);
        return size >= APE_FOOTER && total <= end - from ? (int) total : 0;
    }

    private static int lyrics3Length(byte[] d, int from, int end) {
        int footer = end - LYRICS3_FOOTER;
        if (footer < from || !matches(d, end - 9, "LYRICS200")) {
            return 0;
        }
        int size = 0;
        for (int i = 0; i < 6; i++) {
            int c = d[footer + i] - '0';
            if (c < 0 || c > 9) {
                return 0;
            }
            size = size * 10 + c;
        }
        int total = size + LYRICS3_FOOTER;
        return total <= end - from && matches(d, end - total, "LYRICSBEGIN") ? total : 0;
    }

    private static long le32(byte[] d, int i) {
        return (d[i] & 0xFFL) | (d[i + 1] & 0xFFL) << 8 | (d[i + 2] & 0xFFL) << 16 | (d[i + 3] & 0xFFL) << 24;
    }

    /** True when d[at ..] starts with the ASCII text s (and holds it whole). */
    static boolean matches(byte[] d, int at, String s) {
        if (at < 0 || at + s.length() > d.length) {
            return false;
        }
        byte[] b = s.getBytes(StandardCharsets.US_ASCII);
        for (int i = 0; i < b.length; i++) {
            if (d[at + i] != b[i]) {
                return false;
            }
        }
        return true;
    }
}

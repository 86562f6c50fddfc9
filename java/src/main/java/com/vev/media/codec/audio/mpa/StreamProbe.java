package com.vev.media.codec.audio.mpa;

import java.io.IOException;
import java.io.InputStream;
import java.util.Arrays;
import javax.sound.sampled.UnsupportedAudioFileException;

/**
 * The start of a stream fed to a native stream up to its first frame, with the bytes read kept
 * (up to {@link #KEEP}) so that they can be handed on.
 */
final class StreamProbe implements AutoCloseable {
    /** Bytes kept to hand on as they were; beyond them (long tags) the stream can only be decoded. */
    static final int KEEP = 1 << 20;
    private static final int CHUNK = 1 << 14;
    // Containers whose data may hold MPEG frames but which are not MPEG audio files.
    private static final String[] FOREIGN = {"RIFF", "RIFX", "RF64", "FORM", ".snd", "MThd", "OggS", "fLaC",
        "caff", "wvpk", "MAC ", "FRM8"};

    NativeStream stream;
    final InputStream in;
    byte[] kept = new byte[CHUNK];
    int keptLength;
    boolean keptAll = true;
    long fed;
    int[] format;

    private StreamProbe(InputStream in) {
        this.in = in;
    }

    /** Reads in up to its first frame; refuses a stream that is not MPEG audio. */
    static StreamProbe run(InputStream in) throws UnsupportedAudioFileException, IOException {
        StreamProbe p = new StreamProbe(in);
        p.stream = NativeStream.push(NativeStream.S16, 0, NativeStream.GAPLESS);
        try {
            p.feedToFirstFrame();
            return p;
        } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
            p.close();
            throw e;
        }
    }

    private void feedToFirstFrame() throws UnsupportedAudioFileException, IOException {
        byte[] chunk = new byte[CHUNK];
        while ((format = stream.firstFormat()) == null) {
            if (stream.noStream() || stream.info()[NativeStream.INFO_BYTES_SKIPPED] > MpegAudioFileReader.JUNK_LIMIT) {
                throw new UnsupportedAudioFileException("not an MPEG audio stream");
            }
            int got = in.read(chunk, 0, Math.max(1, Math.min(CHUNK, stream.inputWanted())));
            if (got < 0) {
                stream.endInput();
                if (stream.firstFormat() == null) {
                    throw new UnsupportedAudioFileException("not an MPEG audio stream");
                }
                continue;
            }
            keep(chunk, got);
            if (fed < 4 && fed + got >= 4 && isForeign()) {
                throw new UnsupportedAudioFileException("a container, not an MPEG audio stream");
            }
            stream.feed(chunk, 0, got);
            fed += got;
        }
        long[] i = stream.info();
        if (i[NativeStream.INFO_LEADING_JUNK] > MpegAudioFileReader.JUNK_LIMIT) {
            throw new UnsupportedAudioFileException("not an MPEG audio stream");
        }
    }

    private void keep(byte[] b, int n) {
        if (!keptAll) {
            return;
        }
        if ((long) keptLength + n > KEEP) {
            keptAll = false;
            if (keptLength >= 4) {
                kept = Arrays.copyOf(kept, 4);   // the magic check needs only these
            }
            return;
        }
        if (keptLength + n > kept.length) {
            kept = Arrays.copyOf(kept, Math.max(keptLength + n, 2 * kept.length));
        }
        System.arraycopy(b, 0, kept, keptLength, n);
        keptLength += n;
    }

    private boolean isForeign() {
        for (String magic : FOREIGN) {
            boolean same = true;
            for (int i = 0; i < 4; i++) {
                same &= kept[i] == (byte) magic.charAt(i);
            }
            if (same) {
                return true;
            }
        }
        return false;
    }

    MpegStreamInfo info() throws IOException {
        return MpegStreamInfo.of(stream, format);
    }

    @Override
    public void close() {
        if (stream != null) {
            stream.close();
        }
    }
}

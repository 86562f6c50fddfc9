package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.nio.channels.FileChannel;
import javax.sound.sampled.AudioFileFormat;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.UnsupportedAudioFileException;
import javax.sound.sampled.spi.AudioFileReader;

/**
 * Java Sound reader of MP1, MP2 and MP3 files: recognises MPEG audio streams and gives them as
 * {@link AudioInputStream}s of the {@link MpegEncoding} encodings, which
 * {@link MpegFormatConversionProvider} turns into PCM. Registered as a service, so that
 * {@code AudioSystem.getAudioInputStream(file)} finds it.
 *
 * <p>A stream is taken for MPEG audio when, after optional ID3v2 tags, a run of frames of one stream
 * starts within its first {@value #JUNK_LIMIT} bytes; RIFF, AIFF and other containers are left to
 * their own readers.
 *
 * <p>Any stream can be passed in, markable or not. The reader reads up to the first frame and hands
 * on what it read with the rest of the stream; a markable stream that is not MPEG audio is reset for
 * the next reader. {@link #getAudioFileFormat(InputStream)} resets a markable stream, and consumes the
 * bytes it looked at from one that is not. A {@link File} (or a file URL) is read seekably: its
 * AudioFileFormat has the exact length, and the PCM stream of {@link MpegFormatConversionProvider}
 * skips by seeking.
 *
 * <p>Properties of the {@link AudioFileFormat}: "duration" (Long, microseconds, where known),
 * "author", "title", "album", "date", "comment", "copyright" from the tags and "mp3.id3tag.*" for the
 * other tags ("mp3.id3tag.genre", "mp3.id3tag.track", ...), "bitrate" (Integer, bit/s of the first
 * frame), "vbr" (Boolean), "mp3.version.mpeg", "mp3.version.layer", "mp3.mode", "mp3.channels",
 * "mp3.frequency.hz", "mp3.length.frames" (MPEG frames), "mp3.length.bytes"; its frame length is in
 * PCM sample periods after gapless trimming, and its format's frame rate is the sampling rate, so
 * that length / rate is the duration. The {@link AudioFormat} carries "bitrate" and "vbr".
 *
 * <p>When the native library cannot be used, MPEG audio streams are refused (and the reason logged
 * once), for they could not be decoded.
 */
public final class MpegAudioFileReader extends AudioFileReader {
    /** File type of MPEG Layer III files. */
    public static final AudioFileFormat.Type MP3 = new AudioFileFormat.Type("MP3", "mp3");
    /** File type of MPEG Layer II files. */
    public static final AudioFileFormat.Type MP2 = new AudioFileFormat.Type("MP2", "mp2");
    /** File type of MPEG Layer I files. */
    public static final AudioFileFormat.Type MP1 = new AudioFileFormat.Type("MP1", "mp1");

    /** How far into the stream (after its tags) the first frame may lie when something else comes first. */
    static final int JUNK_LIMIT = 4096;

    private static volatile boolean refusalLogged;

    /** Used by the service loader. */
    public MpegAudioFileReader() {
    }

    @Override
    public AudioFileFormat getAudioFileFormat(InputStream stream)
            throws UnsupportedAudioFileException, IOException {
        checkNative();
        if (isRegularFile(stream)) {
            FileChannel channel = ((FileInputStream) stream).getChannel();
            long start = channel.position();
            try (NativeStream s = openChannel((FileInputStream) stream)) {
                return fileFormat(MpegStreamInfo.of(s, s.format()), channel.size() - start);
            } finally {
                channel.position(start);
            }
        }
        if (stream.markSupported()) {
            stream.mark(Probe.KEEP);
        }
        try (Probe p = Probe.run(stream)) {
            return fileFormat(p.info(), -1);
        } finally {
            if (stream.markSupported()) {
                resetIfMarked(stream);
            }
        }
    }

    @Override
    public AudioFileFormat getAudioFileFormat(URL url) throws UnsupportedAudioFileException, IOException {
        checkNative();
        UrlInput u = UrlInput.open(url, null);
        try (InputStream in = u.stream()) {
            if (u.file() != null) {
                return getAudioFileFormat(u.file());
            }
            try (Probe p = Probe.run(in)) {
                return fileFormat(p.info(), u.length());
            }
        }
    }

    /** A regular file is scanned: the length is exact, the tags at its end are read. */
    @Override
    public AudioFileFormat getAudioFileFormat(File file) throws UnsupportedAudioFileException, IOException {
        checkNative();
        if (!file.isFile()) {
            try (InputStream in = new FileInputStream(file); Probe p = Probe.run(in)) {
                return fileFormat(p.info(), -1);
            }
        }
        try (NativeStream s = openFile(file)) {
            return fileFormat(MpegStreamInfo.of(s, s.format()), file.length());
        }
    }

    @Override
    public AudioInputStream getAudioInputStream(InputStream stream)
            throws UnsupportedAudioFileException, IOException {
        checkNative();
        if (isRegularFile(stream)) {
            FileInputStream in = (FileInputStream) stream;
            long start = in.getChannel().position();
            NativeStream s = openChannel(in);
            try {
                return encoded(new EncodedInput(s, in, start), MpegStreamInfo.of(s, s.format()));
            } catch (IOException | RuntimeException e) {
                s.close();
                throw e;
            }
        }
        if (stream.markSupported()) {
            stream.mark(Probe.KEEP);
        }
        Probe p;
        try {
            p = Probe.run(stream);
        } catch (UnsupportedAudioFileException e) {
            if (stream.markSupported()) {
                resetIfMarked(stream);
            }
            throw e;
        }
        return encoded(new EncodedInput(p), p.info());
    }

    @Override
    public AudioInputStream getAudioInputStream(URL url) throws UnsupportedAudioFileException, IOException {
        checkNative();
        UrlInput u = UrlInput.open(url, null);
        if (u.file() != null) {
            u.stream().close();
            return getAudioInputStream(u.file());
        }
        try {
            Probe p = Probe.run(u.stream());
            return encoded(new EncodedInput(p), p.info());
        } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
            u.stream().close();
            throw e;
        }
    }

    /** A regular file is read seekably: exact length, and its PCM stream skips by seeking. */
    @Override
    public AudioInputStream getAudioInputStream(File file) throws UnsupportedAudioFileException, IOException {
        checkNative();
        if (!file.isFile()) {
            InputStream in = new FileInputStream(file);   // a pipe or device: no going back
            try {
                Probe p = Probe.run(in);
                return encoded(new EncodedInput(p), p.info());
            } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
                in.close();
                throw e;
            }
        }
        NativeStream s = openFile(file);
        try {
            return encoded(new EncodedInput(s, file), MpegStreamInfo.of(s, s.format()));
        } catch (IOException | RuntimeException e) {
            s.close();
            throw e;
        }
    }

    /** The file's seekable native stream, when it starts as MPEG audio does; looked at first as a stream. */
    private static NativeStream openFile(File file) throws UnsupportedAudioFileException, IOException {
        // The start alone decides: a file that is not MPEG audio is not searched to its end.
        try (InputStream in = new FileInputStream(file); Probe p = Probe.run(in)) {
            p.info();
        }
        try {
            return NativeStream.file(file.getPath(), NativeStream.S16, 0, NativeStream.GAPLESS);
        } catch (IOException e) {
            if (!file.canRead()) {
                throw e;
            }
            throw new UnsupportedAudioFileException("not an MPEG audio stream: " + e.getMessage());
        }
    }

    /** A FileInputStream over a regular file, which can be read seekably through its channel. */
    private static boolean isRegularFile(InputStream stream) throws IOException {
        if (!(stream instanceof FileInputStream)) {
            return false;
        }
        FileChannel c = ((FileInputStream) stream).getChannel();
        return c.size() > c.position();
    }

    /**
     * The seekable native stream of a FileInputStream from where it stands, when it starts as MPEG
     * audio does; refused, the stream is put back where it was.
     */
    private static NativeStream openChannel(FileInputStream in) throws UnsupportedAudioFileException, IOException {
        FileChannel channel = in.getChannel();
        long start = channel.position();
        try (Probe p = Probe.run(in)) {
            p.info();
        } finally {
            channel.position(start);
        }
        try {
            return NativeStream.source(new NativeStream.Source(channel), NativeStream.S16, 0, NativeStream.GAPLESS);
        } catch (IOException e) {
            channel.position(start);
            throw e;
        }
    }

    private static void resetIfMarked(InputStream stream) throws IOException {
        try {
            stream.reset();
        } catch (IOException e) {
            // Read beyond the mark: the stream cannot be given back as it was.
            throw new IOException("the MPEG audio probe read beyond the stream's mark", e);
        }
    }

    private static void checkNative() throws UnsupportedAudioFileException {
        if (!NativeLoader.isAvailable()) {
            throw new UnsupportedAudioFileException(refusal());
        }
    }

    /**
     * Why MPEG audio is refused when the native library cannot be used. AudioSystem drops what its
     * readers say, so this is also logged, once.
     */
    private static String refusal() {
        String why = "MPEG audio cannot be decoded without the native library: " + NativeLoader.failure();
        if (!refusalLogged) {
            refusalLogged = true;
            System.getLogger(MpegAudioFileReader.class.getName()).log(System.Logger.Level.WARNING, why);
        }
        return why;
    }

    private static AudioInputStream encoded(EncodedInput in, MpegStreamInfo info) {
        return new EncodedStream(in, audioFormat(info));
    }

    private static AudioFileFormat fileFormat(MpegStreamInfo info, long byteLength) {
        AudioFileFormat.Type type = info.getLayer() == 3 ? MP3 : info.getLayer() == 2 ? MP2 : MP1;
        long samples = info.getSampleCount();
        int frames = samples >= 0 && samples <= Integer.MAX_VALUE && (info.isLengthExact() || info.getFrameCount() >= 0)
                ? (int) samples : AudioSystem.NOT_SPECIFIED;
        int bytes = byteLength >= 0 && byteLength <= Integer.MAX_VALUE ? (int) byteLength : AudioSystem.NOT_SPECIFIED;
        return new MpegFileFormat(type, audioFormat(info), frames, bytes, info, byteLength);
    }

    static AudioFormat audioFormat(MpegStreamInfo info) {
        return new AudioFormat(MpegEncoding.of(info.getMpegVersion(), info.getLayer()), info.getSampleRate(),
                AudioSystem.NOT_SPECIFIED, info.getChannels(), AudioSystem.NOT_SPECIFIED, info.getSampleRate(),
                false, MpegProperties.ofFormat(info));
    }

    /** An AudioFileFormat with the byte length, which only a subclass can set beside properties. */
    private static final class MpegFileFormat extends AudioFileFormat {
        private final int byteLength;

        MpegFileFormat(Type type, AudioFormat format, int frames, int byteLength, MpegStreamInfo info, long bytes) {
            super(type, format, frames, MpegProperties.ofFile(info, bytes));
            this.byteLength = byteLength;
        }

        @Override
        public int getByteLength() {
            return byteLength;
        }
    }

    /**
     * The start of a stream fed to a native stream up to its first frame, with the bytes read kept
     * (up to {@link #KEEP}) so that they can be handed on.
     */
    static final class Probe implements AutoCloseable {
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

        private Probe(InputStream in) {
            this.in = in;
        }

        /** Reads in up to its first frame; refuses a stream that is not MPEG audio. */
        static Probe run(InputStream in) throws UnsupportedAudioFileException, IOException {
            Probe p = new Probe(in);
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
                if (stream.noStream() || stream.info()[NativeStream.INFO_BYTES_SKIPPED] > JUNK_LIMIT) {
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
            if (i[NativeStream.INFO_LEADING_JUNK] > JUNK_LIMIT) {
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
                    kept = java.util.Arrays.copyOf(kept, 4);   // the magic check needs only these
                }
                return;
            }
            if (keptLength + n > kept.length) {
                kept = java.util.Arrays.copyOf(kept, Math.max(keptLength + n, 2 * kept.length));
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

    /** The MPEG stream a reader gives: its bytes, or for the converter the native stream begun. */
    static final class EncodedStream extends AudioInputStream {
        private final EncodedInput input;

        EncodedStream(EncodedInput input, AudioFormat format) {
            super(input, format, AudioSystem.NOT_SPECIFIED);
            this.input = input;
        }

        /** The native stream and what feeds it, when no byte was read from this stream; else null. */
        MpegAudioInputStream.Opened take() {
            return input.take();
        }
    }

    /**
     * The bytes of an MPEG stream as it was, read after the reader's look: the bytes the probe kept,
     * then the rest of the stream (or the file from its start). Until a byte is read, the native stream
     * the look began can be taken by the converter instead, which then goes on from where it stands.
     */
    static final class EncodedInput extends InputStream {
        private NativeStream stream;
        private final Probe probe;
        private final File file;
        private InputStream rest;
        private final long channelStart;
        private int keptPos;
        private boolean reading;
        private boolean taken;

        EncodedInput(Probe probe) {
            this.probe = probe;
            this.stream = probe.stream;
            this.rest = probe.in;
            this.file = null;
            this.channelStart = -1;
        }

        EncodedInput(NativeStream stream, File file) {
            this.probe = null;
            this.stream = stream;
            this.file = file;
            this.channelStart = -1;
        }

        /** A file's stream read through its channel from start on. */
        EncodedInput(NativeStream stream, FileInputStream in, long start) {
            this.probe = null;
            this.stream = stream;
            this.file = null;
            this.rest = in;
            this.channelStart = start;
        }

        MpegAudioInputStream.Opened take() {
            if (reading || stream == null) {
                return null;
            }
            NativeStream s = stream;
            stream = null;
            reading = true;
            taken = true;   // this stream's bytes now belong to the decoder
            if (probe != null) {
                probe.stream = null;
                return new MpegAudioInputStream.Opened(s, rest, rest, probe.fed);
            }
            return new MpegAudioInputStream.Opened(s, null, rest, 0);
        }

        private void begin() throws IOException {
            if (taken) {
                throw new IOException("the stream is being decoded");
            }
            if (!reading) {
                reading = true;
                if (stream != null) {
                    stream.close();
                    stream = null;
                }
                if (file != null) {
                    rest = new FileInputStream(file);
                } else if (channelStart >= 0) {
                    ((FileInputStream) rest).getChannel().position(channelStart);
                } else if (!probe.keptAll) {
                    throw new IOException("the start of the stream (" + probe.fed
                            + " bytes of tags and more) was read to find the audio and was not kept;"
                            + " it can be decoded, not read as it was");
                }
            }
        }

        @Override
        public int read() throws IOException {
            byte[] b = new byte[1];
            return read(b, 0, 1) < 0 ? -1 : b[0] & 0xFF;
        }

        @Override
        public int read(byte[] b, int off, int len) throws IOException {
            begin();
            if (probe != null && probe.keptAll && keptPos < probe.keptLength) {
                int k = Math.min(len, probe.keptLength - keptPos);
                System.arraycopy(probe.kept, keptPos, b, off, k);
                keptPos += k;
                return k;
            }
            return rest.read(b, off, len);
        }

        @Override
        public void close() throws IOException {
            if (stream != null) {
                stream.close();
                stream = null;
            }
            if (rest != null) {
                rest.close();
            }
        }
    }
}

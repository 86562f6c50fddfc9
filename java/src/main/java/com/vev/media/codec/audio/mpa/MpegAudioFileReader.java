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
            stream.mark(StreamProbe.KEEP);
        }
        try (StreamProbe p = StreamProbe.run(stream)) {
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
            try (StreamProbe p = StreamProbe.run(in)) {
                return fileFormat(p.info(), u.length());
            }
        }
    }

    /** A regular file is scanned: the length is exact, the tags at its end are read. */
    @Override
    public AudioFileFormat getAudioFileFormat(File file) throws UnsupportedAudioFileException, IOException {
        checkNative();
        if (!file.isFile()) {
            try (InputStream in = new FileInputStream(file); StreamProbe p = StreamProbe.run(in)) {
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
                return encoded(new EncodedStream.Input(s, in, start), MpegStreamInfo.of(s, s.format()));
            } catch (IOException | RuntimeException e) {
                s.close();
                throw e;
            }
        }
        if (stream.markSupported()) {
            stream.mark(StreamProbe.KEEP);
        }
        StreamProbe p;
        try {
            p = StreamProbe.run(stream);
        } catch (UnsupportedAudioFileException e) {
            if (stream.markSupported()) {
                resetIfMarked(stream);
            }
            throw e;
        }
        return encoded(new EncodedStream.Input(p), p.info());
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
            StreamProbe p = StreamProbe.run(u.stream());
            return encoded(new EncodedStream.Input(p), p.info());
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
                StreamProbe p = StreamProbe.run(in);
                return encoded(new EncodedStream.Input(p), p.info());
            } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
                in.close();
                throw e;
            }
        }
        NativeStream s = openFile(file);
        try {
            return encoded(new EncodedStream.Input(s, file), MpegStreamInfo.of(s, s.format()));
        } catch (IOException | RuntimeException e) {
            s.close();
            throw e;
        }
    }

    /** The file's seekable native stream, when it starts as MPEG audio does; looked at first as a stream. */
    private static NativeStream openFile(File file) throws UnsupportedAudioFileException, IOException {
        // The start alone decides: a file that is not MPEG audio is not searched to its end.
        try (InputStream in = new FileInputStream(file); StreamProbe p = StreamProbe.run(in)) {
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
        try (StreamProbe p = StreamProbe.run(in)) {
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

    private static AudioInputStream encoded(EncodedStream.Input in, MpegStreamInfo info) {
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
}

package com.vev.media.codec.audio.mpa;

import java.io.BufferedInputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URL;
import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;
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
 * <p>A stream is taken for MPEG audio when, after optional ID3v2 tags (and zero padding), it starts
 * with two consecutive frame headers of one stream, or holds three in a row within its first
 * {@value #JUNK_LIMIT} bytes; RIFF, AIFF and other containers are left to their own readers.
 *
 * <p>Streams passed in must support mark and reset; they are reset after the look, which reads at most
 * {@value #MARK_LIMIT} bytes: a stream whose ID3v2 tags are longer (large embedded pictures) is refused
 * with an {@link UnsupportedAudioFileException}, for the reader cannot look past them and still give the
 * stream back whole. Holding more for the look would let a length that a file merely declares decide
 * how much memory the look takes. A {@link File} or {@link URL}, which the reader opens itself, is looked
 * at past tags of any length: a file is read again from its start, a URL whose tags are longer than the
 * mark is opened a second time.
 *
 * <p>When the native library cannot be used, MPEG audio streams are refused (and the reason logged
 * once), for they could not be decoded.
 *
 * <p>The {@link AudioFileFormat} carries the property "duration" (Long, microseconds) when an info
 * frame tells it; the {@link AudioFormat} carries "bitrate" (Integer, bit/s) for constant bit rates and
 * "vbr" (Boolean).
 */
public final class MpegAudioFileReader extends AudioFileReader {
    /** File type of MPEG Layer III files. */
    public static final AudioFileFormat.Type MP3 = new AudioFileFormat.Type("MP3", "mp3");
    /** File type of MPEG Layer II files. */
    public static final AudioFileFormat.Type MP2 = new AudioFileFormat.Type("MP2", "mp2");
    /** File type of MPEG Layer I files. */
    public static final AudioFileFormat.Type MP1 = new AudioFileFormat.Type("MP1", "mp1");

    /** Bytes examined after the ID3v2 tags. */
    private static final int PROBE = 16384;
    /** Bytes a stream passed in is marked for: its ID3v2 tags and the probe after them must fit. */
    static final int MARK_LIMIT = 1 << 20;
    /** How far into the stream the first frame may lie when something else comes first. */
    static final int JUNK_LIMIT = 4096;
    // Containers whose data may hold MPEG frames but which are not MPEG audio files.
    private static final String[] FOREIGN = {"RIFF", "RIFX", "RF64", "FORM", ".snd", "MThd", "OggS", "fLaC",
        "caff", "wvpk", "MAC ", "FRM8"};

    private static volatile boolean refusalLogged;

    /** Used by the service loader. */
    public MpegAudioFileReader() {
    }

    @Override
    public AudioFileFormat getAudioFileFormat(InputStream stream)
            throws UnsupportedAudioFileException, IOException {
        return fileFormat(probe(stream));
    }

    @Override
    public AudioFileFormat getAudioFileFormat(URL url) throws UnsupportedAudioFileException, IOException {
        try (InputStream in = new BufferedInputStream(url.openStream())) {
            return fileFormat(lookPastTags(in, Long.MAX_VALUE));
        }
    }

    @Override
    public AudioFileFormat getAudioFileFormat(File file) throws UnsupportedAudioFileException, IOException {
        try (InputStream in = new FileInputStream(file)) {
            return fileFormat(lookPastTags(in, Long.MAX_VALUE));
        }
    }

    @Override
    public AudioInputStream getAudioInputStream(InputStream stream)
            throws UnsupportedAudioFileException, IOException {
        return new AudioInputStream(stream, audioFormat(probe(stream)), AudioSystem.NOT_SPECIFIED);
    }

    /**
     * Looks within the marked bytes like {@link #getAudioInputStream(InputStream)}; when the tags are
     * longer, reads past them on this connection and gives the stream of a second one.
     */
    @Override
    public AudioInputStream getAudioInputStream(URL url) throws UnsupportedAudioFileException, IOException {
        InputStream in = new BufferedInputStream(url.openStream());
        try {
            MpegStreamInfo info = lookAndReset(in);
            if (info == null) {
                info = lookPastTags(in, Long.MAX_VALUE);
                in.close();
                in = new BufferedInputStream(url.openStream());
            }
            return new AudioInputStream(in, audioFormat(info), AudioSystem.NOT_SPECIFIED);
        } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
            in.close();
            throw e;
        }
    }

    /** A regular file is looked at past its tags whatever their length, then read from its start. */
    @Override
    public AudioInputStream getAudioInputStream(File file) throws UnsupportedAudioFileException, IOException {
        FileInputStream in = new FileInputStream(file);
        try {
            MpegStreamInfo info;
            if (file.isFile()) {
                info = lookPastTags(in, Long.MAX_VALUE);
                in.getChannel().position(0);
                return new AudioInputStream(new BufferedInputStream(in), audioFormat(info), AudioSystem.NOT_SPECIFIED);
            }
            InputStream buffered = new BufferedInputStream(in);   // a pipe or device: no going back
            return new AudioInputStream(buffered, audioFormat(probe(buffered)), AudioSystem.NOT_SPECIFIED);
        } catch (UnsupportedAudioFileException | IOException | RuntimeException e) {
            in.close();
            throw e;
        }
    }

    /**
     * Looks at the start of a stream passed in, and resets it; what the stream declares when it is
     * MPEG audio. Tags longer than the mark allows are refused (see the class description).
     */
    static MpegStreamInfo probe(InputStream in) throws UnsupportedAudioFileException, IOException {
        MpegStreamInfo info = lookAndReset(in);
        if (info == null) {
            throw new UnsupportedAudioFileException("ID3v2 tags longer than the " + (MARK_LIMIT - PROBE)
                    + " bytes that this reader looks past in a stream; give it the file or URL instead");
        }
        return info;
    }

    /** Marks the stream, looks past its tags and resets it; null when the tags are longer than the mark allows. */
    private static MpegStreamInfo lookAndReset(InputStream in) throws UnsupportedAudioFileException, IOException {
        if (!in.markSupported()) {
            throw new IOException("the stream does not support mark and reset");
        }
        in.mark(MARK_LIMIT);
        try {
            return lookPastTags(in, MARK_LIMIT);
        } finally {
            in.reset();
        }
    }

    /**
     * Reads past the ID3v2 tags at the start of in and looks at the {@value #PROBE} bytes after them;
     * what the stream declares when it is MPEG audio. Reads at most limit bytes, where they are
     * enough: null when the tags leave too few. The tags' declared lengths only say how far to skip.
     */
    private static MpegStreamInfo lookPastTags(InputStream in, long limit)
            throws UnsupportedAudioFileException, IOException {
        long tags = 0;
        byte[] head;
        for (;;) {
            head = in.readNBytes(Tags.ID3V2_HEADER);
            int tag = Tags.id3v2Length(head, 0, head.length);
            if (tag == 0) {
                break;
            }
            if (tags + tag > limit - PROBE) {
                return null;
            }
            discard(in, tag - head.length);
            tags += tag;
        }
        byte[] d = Arrays.copyOf(head, PROBE);
        int n = head.length + in.readNBytes(d, head.length, PROBE - head.length);
        MpegStreamInfo info = detect(d, n, tags);
        if (info == null) {
            throw new UnsupportedAudioFileException("not an MPEG audio stream");
        }
        if (!NativeLoader.isAvailable()) {
            throw new UnsupportedAudioFileException(refusal());
        }
        return info;
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

    private static void discard(InputStream in, long n) throws IOException {
        while (n > 0) {
            long k = in.skip(n);
            if (k <= 0) {
                if (in.read() < 0) {
                    return;
                }
                k = 1;
            }
            n -= k;
        }
    }

    /** What d[0 .. n) declares when it starts an MPEG audio stream (after id3v2 tag bytes), else null. */
    static MpegStreamInfo detect(byte[] d, int n, long id3v2) {
        int p = 0;
        for (int t; (t = Tags.id3v2Length(d, p, n - p)) > 0 && p + t < n; p += t) {
            id3v2 += t;   // tags one after the other
        }
        if (id3v2 == 0) {
            for (String magic : FOREIGN) {
                if (Tags.matches(d, 0, magic)) {
                    return null;
                }
            }
        }
        while (p < n && d[p] == 0) {
            p++;   // padding after a tag
        }
        if (framesAt(d, p, n, 2)) {
            return MpegStreamInfo.parse(id3v2, d, p, n - p);
        }
        for (int i = p + 1; i < Math.min(n, p + JUNK_LIMIT); i++) {
            if (framesAt(d, i, n, 3)) {
                return MpegStreamInfo.parse(id3v2, d, i, n - i);
            }
        }
        return null;
    }

    /** True when count frame headers of one stream follow each other from d[i]. */
    private static boolean framesAt(byte[] d, int i, int n, int count) {
        FrameHeader first = null;
        for (int k = 0; k < count; k++) {
            if (i + 4 > n || !FrameHeader.isCandidate(d, i)) {
                return false;
            }
            FrameHeader h = FrameHeader.at(d, i, 0);
            if (first == null) {
                first = h;
            } else if (!h.sameStream(first) || (h.bitRateIndex == 0) != (first.bitRateIndex == 0)) {
                return false;
            }
            int length = h.frameBytes;
            if (h.bitRateIndex == 0) {   // free format: the length is the distance to the next header
                FrameHeader f = FrameHeader.find(d, i, n - i);
                if (f == null || f.offset != 0 || !f.confirmed) {
                    return false;
                }
                length = f.frameBytes;
            }
            i += length;
        }
        return true;
    }

    private static AudioFileFormat fileFormat(MpegStreamInfo info) {
        AudioFileFormat.Type type = info.getLayer() == 3 ? MP3 : info.getLayer() == 2 ? MP2 : MP1;
        Map<String, Object> props = new HashMap<>();
        if (info.getDurationMicros() >= 0) {
            props.put("duration", info.getDurationMicros());
        }
        long samples = info.getSampleCount();
        int frames = samples >= 0 && samples <= Integer.MAX_VALUE ? (int) samples : AudioSystem.NOT_SPECIFIED;
        return new AudioFileFormat(type, audioFormat(info), frames, props);
    }

    static AudioFormat audioFormat(MpegStreamInfo info) {
        Map<String, Object> props = new HashMap<>();
        boolean vbr = "Xing".equals(info.getInfoTag()) || "VBRI".equals(info.getInfoTag());
        props.put("vbr", vbr);
        if (!vbr && info.getBitRate() > 0) {
            props.put("bitrate", info.getBitRate() * 1000);
        }
        return new AudioFormat(MpegEncoding.of(info.getMpegVersion(), info.getLayer()), info.getSampleRate(),
                AudioSystem.NOT_SPECIFIED, info.getChannels(), AudioSystem.NOT_SPECIFIED,
                AudioSystem.NOT_SPECIFIED, false, props);
    }
}

package com.vev.media.codec.audio.mpa;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.spi.FormatConversionProvider;

/**
 * Java Sound decoder from the {@link MpegEncoding} encodings to PCM at the stream's sampling rate:
 * PCM_SIGNED 16-bit (rounded to nearest; truncated toward zero when the target format has the property
 * "rounding" = "truncate"), 24-bit and 32-bit, and PCM_FLOAT 32-bit; little- or big-endian; the
 * stream's channels, stereo downmixed to mono or mono duplicated to stereo. Each is decoded at that
 * precision, not converted from 16-bit samples. Registered as a service, so that
 * {@code AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpegStream)} finds it.
 *
 * <p>Decoding is gapless (see {@link MpegAudioInputStream}). The PCM stream's frame length is exact for
 * a file, or as an info frame declares it, and {@code skip} seeks on a file. The stream ends where the
 * sampling rate changes, if it does. When the native library cannot be used, no conversion is
 * offered.
 */
public final class MpegFormatConversionProvider extends FormatConversionProvider {
    private static final AudioFormat.Encoding PCM = AudioFormat.Encoding.PCM_SIGNED;
    private static final AudioFormat.Encoding FLOAT = AudioFormat.Encoding.PCM_FLOAT;
    private static final AudioFormat.Encoding[] NONE = new AudioFormat.Encoding[0];

    /** Used by the service loader. */
    public MpegFormatConversionProvider() {
    }

    @Override
    public AudioFormat.Encoding[] getSourceEncodings() {
        return NativeLoader.isAvailable() ? MpegEncoding.all() : NONE;
    }

    @Override
    public AudioFormat.Encoding[] getTargetEncodings() {
        return NativeLoader.isAvailable() ? new AudioFormat.Encoding[] {PCM, FLOAT} : NONE;
    }

    @Override
    public AudioFormat.Encoding[] getTargetEncodings(AudioFormat sourceFormat) {
        return MpegEncoding.isMpeg(sourceFormat.getEncoding()) ? getTargetEncodings() : NONE;
    }

    @Override
    public AudioFormat[] getTargetFormats(AudioFormat.Encoding targetEncoding, AudioFormat sourceFormat) {
        List<AudioFormat> formats = new ArrayList<>();
        if (MpegEncoding.isMpeg(sourceFormat.getEncoding()) && NativeLoader.isAvailable()) {
            float rate = sourceFormat.getSampleRate();
            int source = sourceFormat.getChannels();
            int[] channels = source == AudioSystem.NOT_SPECIFIED ? new int[] {AudioSystem.NOT_SPECIFIED}
                    : new int[] {source, 3 - source};
            for (MpegAudioInputStream.SampleFormat f : MpegAudioInputStream.SampleFormat.values()) {
                if (!f.getEncoding().equals(targetEncoding)) {
                    continue;
                }
                for (int c : channels) {
                    for (boolean bigEndian : new boolean[] {false, true}) {
                        formats.add(MpegAudioInputStream.pcmFormat(f, rate, c, bigEndian));
                    }
                }
            }
        }
        return formats.toArray(new AudioFormat[0]);
    }

    /** True for the formats of {@link #getTargetFormats}; unspecified rate or channels match any. */
    @Override
    public boolean isConversionSupported(AudioFormat targetFormat, AudioFormat sourceFormat) {
        return sampleFormat(targetFormat, sourceFormat) != null;
    }

    /** The sample format that delivers target from source, or null. */
    private MpegAudioInputStream.SampleFormat sampleFormat(AudioFormat target, AudioFormat source) {
        boolean truncate = MpegProperties.TRUNCATE.equals(target.getProperty(MpegProperties.ROUNDING));
        for (AudioFormat f : getTargetFormats(target.getEncoding(), source)) {
            if (f.matches(target)) {
                for (MpegAudioInputStream.SampleFormat s : MpegAudioInputStream.SampleFormat.values()) {
                    if (s.getEncoding().equals(f.getEncoding()) && s.getBits() == f.getSampleSizeInBits()) {
                        return s == MpegAudioInputStream.SampleFormat.PCM_16 && truncate
                                ? MpegAudioInputStream.SampleFormat.PCM_16_TRUNCATED : s;
                    }
                }
            }
        }
        return null;
    }

    @Override
    public AudioInputStream getAudioInputStream(AudioFormat.Encoding targetEncoding,
                                                AudioInputStream sourceStream) {
        if (!isConversionSupported(targetEncoding, sourceStream.getFormat())) {
            throw new IllegalArgumentException(cannotConvert(sourceStream.getFormat(), targetEncoding));
        }
        MpegAudioInputStream.SampleFormat f = targetEncoding.equals(FLOAT)
                ? MpegAudioInputStream.SampleFormat.FLOAT_32 : MpegAudioInputStream.SampleFormat.PCM_16;
        return decode(sourceStream, new MpegAudioInputStream.Options().sampleFormat(f), null);
    }

    @Override
    public AudioInputStream getAudioInputStream(AudioFormat targetFormat, AudioInputStream sourceStream) {
        MpegAudioInputStream.SampleFormat f = sampleFormat(targetFormat, sourceStream.getFormat());
        if (f == null) {
            throw new IllegalArgumentException(cannotConvert(sourceStream.getFormat(), targetFormat));
        }
        int channels = targetFormat.getChannels();
        MpegAudioInputStream.Options o = new MpegAudioInputStream.Options().sampleFormat(f)
                .bigEndian(targetFormat.isBigEndian())
                .channels(channels == sourceStream.getFormat().getChannels() || channels < 0 ? 0 : channels);
        return decode(sourceStream, o, targetFormat);
    }

    private static String cannotConvert(AudioFormat source, Object target) {
        String why = NativeLoader.failure();
        return "cannot convert " + source + " to " + target + (why != null ? ": " + why : "");
    }

    /**
     * The PCM stream of an MPEG stream: one the reader gave goes on with the native stream its look
     * began; any other is decoded from its bytes.
     */
    private static AudioInputStream decode(AudioInputStream source, MpegAudioInputStream.Options o,
                                           AudioFormat target) {
        MpegAudioInputStream pcm;
        try {
            OpenedStream opened = source instanceof EncodedStream
                    ? ((EncodedStream) source).take() : null;
            pcm = new MpegAudioInputStream(opened != null ? opened : OpenedStream.push(source, o), o);
        } catch (IOException e) {
            throw new IllegalArgumentException("cannot decode the MPEG audio stream: " + e.getMessage(), e);
        }
        AudioFormat format = pcm.getFormat();
        if (target != null && !format.matches(target)) {
            // Only when the stream's first frame differs from what the reader saw.
            try {
                pcm.close();
            } catch (IOException ignored) {
                // nothing more to release
            }
            throw new IllegalArgumentException("the stream decodes to " + format + ", not " + target);
        }
        boolean oneFormat = pcm.getStreamInfo().getFormatChanges() == 0;
        long frames = oneFormat ? pcm.getFrameLength() : -1;
        return new AudioInputStream(pcm, format, frames >= 0 ? frames : AudioSystem.NOT_SPECIFIED);
    }
}

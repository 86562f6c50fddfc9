package com.vev.media.codec.audio.mpa;

import java.io.IOException;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.spi.FormatConversionProvider;

/**
 * Java Sound decoder from the {@link MpegEncoding} encodings to signed 16-bit PCM, little- or
 * big-endian, at the stream's sampling rate and channel count. Registered as a service, so that
 * {@code AudioSystem.getAudioInputStream(AudioFormat.Encoding.PCM_SIGNED, mpegStream)} finds it.
 * Decoding is gapless (see {@link MpegAudioInputStream}); the PCM stream's frame length is not
 * specified. When the native library cannot be used, no conversion is offered.
 */
public final class MpegFormatConversionProvider extends FormatConversionProvider {
    private static final AudioFormat.Encoding PCM = AudioFormat.Encoding.PCM_SIGNED;

    /** Used by the service loader. */
    public MpegFormatConversionProvider() {
    }

    @Override
    public AudioFormat.Encoding[] getSourceEncodings() {
        return NativeLoader.isAvailable() ? MpegEncoding.all() : new AudioFormat.Encoding[0];
    }

    @Override
    public AudioFormat.Encoding[] getTargetEncodings() {
        return NativeLoader.isAvailable() ? new AudioFormat.Encoding[] {PCM} : new AudioFormat.Encoding[0];
    }

    @Override
    public AudioFormat.Encoding[] getTargetEncodings(AudioFormat sourceFormat) {
        return MpegEncoding.isMpeg(sourceFormat.getEncoding()) ? getTargetEncodings()
                : new AudioFormat.Encoding[0];
    }

    @Override
    public AudioFormat[] getTargetFormats(AudioFormat.Encoding targetEncoding, AudioFormat sourceFormat) {
        if (!PCM.equals(targetEncoding) || !MpegEncoding.isMpeg(sourceFormat.getEncoding())
                || !NativeLoader.isAvailable()) {
            return new AudioFormat[0];
        }
        float rate = sourceFormat.getSampleRate();
        int channels = sourceFormat.getChannels();
        return new AudioFormat[] {pcm(rate, channels, false), pcm(rate, channels, true)};
    }

    /** True for PCM_SIGNED 16-bit targets of either byte order; unspecified rate or channels match any. */
    @Override
    public boolean isConversionSupported(AudioFormat targetFormat, AudioFormat sourceFormat) {
        for (AudioFormat f : getTargetFormats(targetFormat.getEncoding(), sourceFormat)) {
            if (f.matches(targetFormat)) {
                return true;
            }
        }
        return false;
    }

    @Override
    public AudioInputStream getAudioInputStream(AudioFormat.Encoding targetEncoding,
                                                AudioInputStream sourceStream) {
        if (!isConversionSupported(targetEncoding, sourceStream.getFormat())) {
            throw new IllegalArgumentException(cannotConvert(sourceStream.getFormat(), targetEncoding));
        }
        return decode(sourceStream, pcm(AudioSystem.NOT_SPECIFIED, AudioSystem.NOT_SPECIFIED, false));
    }

    @Override
    public AudioInputStream getAudioInputStream(AudioFormat targetFormat, AudioInputStream sourceStream) {
        if (!isConversionSupported(targetFormat, sourceStream.getFormat())) {
            throw new IllegalArgumentException(cannotConvert(sourceStream.getFormat(), targetFormat));
        }
        return decode(sourceStream, targetFormat);
    }

    private static String cannotConvert(AudioFormat source, Object target) {
        String why = NativeLoader.failure();
        return "cannot convert " + source + " to " + target + (why != null ? ": " + why : "");
    }

    private static AudioInputStream decode(AudioInputStream source, AudioFormat target) {
        MpegAudioInputStream pcm;
        try {
            pcm = new MpegAudioInputStream(source, true, target.isBigEndian());
        } catch (IOException e) {
            throw new IllegalArgumentException("cannot decode the MPEG audio stream: " + e.getMessage(), e);
        }
        AudioFormat format = pcm(pcm.getSampleRate(), pcm.getChannels(), target.isBigEndian());
        if (!format.matches(target)) {
            // Only when the stream's first frame differs from what the reader saw.
            throw new IllegalArgumentException("the stream decodes to " + format + ", not " + target);
        }
        return new AudioInputStream(pcm, format, AudioSystem.NOT_SPECIFIED);
    }

    private static AudioFormat pcm(float rate, int channels, boolean bigEndian) {
        int frameSize = channels == AudioSystem.NOT_SPECIFIED ? AudioSystem.NOT_SPECIFIED : 2 * channels;
        return new AudioFormat(PCM, rate, 16, channels, frameSize, rate, bigEndian);
    }
}

package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioInputStream;
import javax.sound.sampled.AudioSystem;

/** The MPEG stream a reader gives: its bytes, or for the converter the native stream begun. */
final class EncodedStream extends AudioInputStream {
    private final Input input;

    EncodedStream(Input input, AudioFormat format) {
        super(input, format, AudioSystem.NOT_SPECIFIED);
        this.input = input;
    }

    /** The native stream and what feeds it, when no byte was read from this stream; else null. */
    OpenedStream take() {
        return input.take();
    }

    /**
     * The bytes of an MPEG stream as it was, read after the reader's look: the bytes the probe kept,
     * then the rest of the stream (or the file from its start). Until a byte is read, the native stream
     * the look began can be taken by the converter instead, which then goes on from where it stands.
     */
    static final class Input extends InputStream {
        private NativeStream stream;
        private final StreamProbe probe;
        private final File file;
        private InputStream rest;
        private final long channelStart;
        private int keptPos;
        private boolean reading;
        private boolean taken;

        Input(StreamProbe probe) {
            this.probe = probe;
            this.stream = probe.stream;
            this.rest = probe.in;
            this.file = null;
            this.channelStart = -1;
        }

        Input(NativeStream stream, File file) {
            this.probe = null;
            this.stream = stream;
            this.file = file;
            this.channelStart = -1;
        }

        /** A file's stream read through its channel from start on. */
        Input(NativeStream stream, FileInputStream in, long start) {
            this.probe = null;
            this.stream = stream;
            this.file = null;
            this.rest = in;
            this.channelStart = start;
        }

        OpenedStream take() {
            if (reading || stream == null) {
                return null;
            }
            NativeStream s = stream;
            stream = null;
            reading = true;
            taken = true;   // this stream's bytes now belong to the decoder
            if (probe != null) {
                probe.stream = null;
                return new OpenedStream(s, rest, rest, probe.fed);
            }
            return new OpenedStream(s, null, rest, 0);
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

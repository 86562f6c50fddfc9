package com.vev.media.codec.audio.mpa;

import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;

/** A native stream and where its bytes come from, before the decoding stream takes them. */
final class OpenedStream {
    final NativeStream stream;
    final InputStream in;
    final AutoCloseable owned;
    final long fed;

    OpenedStream(NativeStream stream, InputStream in, AutoCloseable owned, long fed) {
        this.stream = stream;
        this.in = in;
        this.owned = owned;
        this.fed = fed;
    }

    static OpenedStream of(InputStream in, MpegAudioInputStream.Options o) throws IOException {
        if (in instanceof FileInputStream) {
            FileInputStream f = (FileInputStream) in;
            // A regular file read from where the stream stands; a pipe or device is pushed.
            if (f.getChannel().size() > f.getChannel().position()) {
                NativeStream.Source source = new NativeStream.Source(f.getChannel());
                return new OpenedStream(NativeStream.source(source, o.sampleFormat.code, 0, o.flags()), null, in, 0);
            }
        }
        return push(in, o);
    }

    static OpenedStream push(InputStream in, MpegAudioInputStream.Options o) throws IOException {
        return new OpenedStream(NativeStream.push(o.sampleFormat.code, 0, o.flags()), in, in, 0);
    }

    static OpenedStream file(File file, MpegAudioInputStream.Options o) throws IOException {
        if (!file.isFile()) {
            // A pipe or device: pushed as it arrives.
            return push(new FileInputStream(file), o);
        }
        return new OpenedStream(NativeStream.file(file.getPath(), o.sampleFormat.code, 0, o.flags()), null, null, 0);
    }

    static OpenedStream path(Path path, MpegAudioInputStream.Options o) throws IOException {
        if (path.getFileSystem() == FileSystems.getDefault()) {
            return file(path.toFile(), o);
        }
        NativeStream.Source source = new NativeStream.Source(Files.newByteChannel(path));
        try {
            return new OpenedStream(NativeStream.source(source, o.sampleFormat.code, 0, o.flags()), null, source, 0);
        } catch (IOException | RuntimeException e) {
            source.close();
            throw e;
        }
    }
}
